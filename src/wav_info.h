// The records the reader, the driver and the writer share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav_buffer.h"
#include "wav_entry.h"
#include "wav_file.h"

// The largest source whose stereo data size plus 36 still fits the RIFF
// size field of the output.
inline constexpr std::uint32_t kMaxSourceSize = 0x7FFFFFFFu - 18u;

// Where the samples of a regular file were left: they are read again, window
// by window, as the result is written.
struct WavSamplesAt {
  const WavEntry *entry = nullptr;  // the name it is read by, or null
  WavFileId id;                     // which file that was when it was read
  std::int64_t start = -1;          // position of the first sample byte, or -1
};

// Chunks of the source that the result keeps as they are. From a regular
// file, a run of chunks that stand one after the other there, read again
// from the file (or held, for a source to be overwritten): the bytes from
// the first one's header to the last one's body, pad bytes between them
// included. From a pipe, one chunk: its id, its length and its body, held.
// Either is followed in the result by a zero pad byte where its last body
// has an odd length.
struct WavKept {
  std::uint8_t id[4] = {};
  std::uint32_t length = 0;  // a held chunk's
  std::int64_t start = -1;   // a run's position in the source's file
  std::uint64_t size = 0;    // a run's bytes
  bool padded = false;       // its last body has an odd length
  WavBuffer held;            // the chunk's body, or the run's bytes, where held
};

// The most runs or chunks kept of one source: a source with more is refused.
inline constexpr std::size_t kWavKeptMax = 256;

// The source's kept chunks in its order; those that stood before its "data"
// chunk come first.
struct WavKeptChunks {
  WavKept chunk[kWavKeptMax];
  std::size_t count = 0;
  std::size_t beforeData = 0;
};

// One stream: its format numbers and its sample bytes, in memory or in the
// file it was read from, and the source's chunks the result keeps.
struct WavInfo {
  std::uint32_t sampleRate = 0;     // frames per second
  std::uint16_t bitsPerSample = 0;  // of a sample's container: 8 to 64
  std::uint32_t dataSize = 0;       // bytes of sample data
  std::uint32_t dataDeclared = 0;   // as the "data" chunk declares them
  std::uint16_t channels = 0;
  std::uint32_t bytesPerSec = 0;    // as the file declares it
  std::uint16_t formatTag = 1;      // 1 PCM, 3 float, 6 A-law, 7 µ-law, 0xFFFE
  std::uint16_t validBits = 0;      // of the extensible format
  std::uint8_t subFormat[16] = {};  // of the extensible format
  WavBuffer data;                   // dataSize bytes in memory, or null
  WavSamplesAt file;                // or where they are in a regular file
  WavKeptChunks kept;
};

// One conversion: the stereo result, the mono source and the delay of the
// right channel in seconds. The result is made one window at a time in
// window, from the source's samples wherever they are.
struct StereoJob {
  WavInfo out;
  WavInfo in;
  float delay = 0.0f;
  WavBuffer window;
};
