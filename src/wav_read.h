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
// cut short by the end of the file fails with wavwiden-en's line alone.
int wavFmtRead(std::FILE *file, WavFmt &fmt);

// Reads the file source names into info and prints the report of the file:
// the file the name held when it was looked at, else the run fails as the
// input changed. The samples of its last "data" chunk are left in a regular
// file, where info notes them (info.file), and held in info.data from
// anything else (a pipe). Returns 0 or -1 after printing why.
int wavRead(const WavEntry &source, WavInfo &info);
