// Reading a RIFF WAVE file into a WavInfo, with the report of the file that
// the program prints as it reads.
#pragma once

#include <cstdint>
#include <cstdio>

#include "wav_info.h"

// The format block, the first 16 bytes of a "fmt " chunk body, little-endian:
//
//   0         2          4               8                12           14           16
//   +---------+----------+---------------+----------------+------------+------------+
//   |FormatTag| Channels | SamplesPerSec | AvgBytesPerSec | BlockAlign | BitsPerSmp |
//   +---------+----------+---------------+----------------+------------+------------+
struct WavFmt {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
};

// Reads the format block at the file's position, prints its six report lines
// and accepts only PCM with 8 or 16 bits per sample. Returns 0 or -1; a block
// cut short by the end of the file fails without a message.
int wavFmtRead(std::FILE *file, WavFmt &fmt);

// Reads the file at path into info and prints the report of the file.
// From a regular file info notes where the samples are (info.file); from
// anything else (a pipe) it holds them (info.data). Returns 0 or -1 after
// printing why.
int wavRead(const char *path, WavInfo &info);

// Opens the file whose samples info noted again, if it is still the same
// file of the same size; else prints that the input changed and gives null.
std::FILE *wavSamplesOpen(const WavInfo &info);

// Reads size bytes of info's samples from offset on, from file as opened by
// wavSamplesOpen. Returns 0, or -1 after printing that the input changed
// (it ends sooner) or could not be read.
int wavSamplesRead(std::FILE *file, const WavInfo &info, std::size_t offset, std::size_t size,
                   std::uint8_t *bytes);

// Reads the samples info noted into info.data. Returns 0 or -1 after
// printing why.
int wavSamplesLoad(WavInfo &info);
