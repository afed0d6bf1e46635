// The format block: what it must say for a program to convert the source,
// and the one the result gets, in the source's own format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav_accepts.h"
#include "wav_info.h"

inline constexpr std::uint16_t kWavPcm = 1;
inline constexpr std::uint16_t kWavFloat = 3;
inline constexpr std::uint16_t kWavALaw = 6;
inline constexpr std::uint16_t kWavMuLaw = 7;
inline constexpr std::uint16_t kWavExtensible = 0xFFFE;

// The format block, the first 16 bytes of a "fmt " chunk body, and the
// extension of the extensible format after it, little-endian:
//
//   0         2          4               8                12           14           16
//   +---------+----------+---------------+----------------+------------+------------+
//   |FormatTag| Channels | SamplesPerSec | AvgBytesPerSec | BlockAlign | BitsPerSmp |
//   +---------+----------+---------------+----------------+------------+------------+
//   16       18          20            24                                           40
//   +--------+-----------+-------------+--------------------------------------------+
//   | cbSize | ValidBits | ChannelMask | SubFormat (a GUID, its first 2 bytes a tag) |
//   +--------+-----------+-------------+--------------------------------------------+
struct WavFmt {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
  std::uint16_t wValidBitsPerSample = 0;
  std::uint8_t subFormat[16] = {};
  std::uint32_t consumed = 16;  // bytes of the chunk body read
};

inline constexpr std::size_t kWavFmtSize = 16;
inline constexpr std::size_t kWavExtensionSize = 24;

// Whether fmt, read from a "fmt " chunk of length bytes, describes a source
// the program converts, as accepts says: else prints why and returns -1.
int wavFormatCheck(const WavFmt &fmt, std::uint32_t length, const WavAccepts &accepts);

// The bytes of one sample of info: its container's.
inline std::size_t wavSampleWidth(const WavInfo &info) { return info.bitsPerSample / 8u; }

// The byte a silent sample of info is made of: 0x80 for 8-bit PCM, which is
// unsigned, 0xD5 for A-law, 0xFF for µ-law, zero otherwise.
std::uint8_t wavSilenceByte(const WavInfo &info);

// The most bytes of the result before its kept chunks: the RIFF header and
// the "fmt " and "fact" chunks.
inline constexpr std::size_t kWavFormatChunksMax = 12 + 8 + 40 + 12;

// The RIFF header (its size riffSize) and the "fmt " and "fact" chunks of the
// stereo result of info, the source, into bytes; returns their size.
std::size_t wavFormatChunksEncode(const WavInfo &info, std::uint32_t riffSize,
                                  std::uint8_t *bytes);
