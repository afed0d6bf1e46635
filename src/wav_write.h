// Writing the stereo file: its header, then its samples made window by
// window from the source's, wherever those are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "wav_entry.h"
#include "wav_info.h"
#include "wav_samples.h"

// The header of a PCM result: RIFF, a 16-byte "fmt " chunk, "data".
inline constexpr std::int64_t kWavHeaderSize = 44;

// The bytes of the stereo result of source, read as the mono source with its
// kept chunks: its header, the kept chunks and twice the source's samples.
std::uint64_t wavResultSize(const WavInfo &source);

// The largest result: its RIFF size, 8 bytes less, fits 32 bits.
inline constexpr std::uint64_t kWavResultMax = std::uint64_t{0xFFFFFFFFu} + 8;

// Writes the header for info, the stereo result, at the file's position: the
// RIFF header, whose size field is riffSize, the "fmt " chunk and, in the
// formats that have one, "fact", then, where withData, the header of the
// "data" chunk, as one block. Returns the position after it, which the caller
// expects to be its size (44 for PCM).
std::int64_t wavHeaderWrite(std::FILE *file, const WavInfo &info, std::uint32_t riffSize,
                            bool withData);

// The room the writer needs in job.window: one window of stereo frames and
// the source samples they are made of.
inline constexpr std::size_t kWavWindowSize = std::size_t{1} << 20;

// Writes the stereo samples of job, a window at a time: each window's source
// frames are read from samples (job.in's, open), interleaved by delayed copy
// in job.window and written to file. Returns 0, or -1 after printing that
// the data did not reach the file whole, or that the source changed or could
// not be read. path names the output in the messages.
int wavDataWrite(std::FILE *file, WavSamplesReader &samples, StereoJob &job,
                 const char *path = "");

// Writes the header, the kept chunks of job.in before the data, the data and
// those after it, of job's result into file, already open, and closes it;
// path names the output in the messages. The header must leave the file at
// its own size (44 for PCM), unless it is written in one pass, header first,
// into whatever the file is (a pipe, a device, standard output where it
// stands). Returns 0 or -1 after printing why.
int wavOutputWrite(std::FILE *file, const char *path, WavSamplesReader &samples, StereoJob &job,
                   bool onePass = false);

// Writes the stereo result of job into into, the new file made for
// converting a file into itself, or, where into is null, into the file the
// output's name held when it was looked at, or a new one where it held none.
// into is closed in every case; onePass as for wavOutputWrite. Returns 0 or
// -1 after printing why.
int wavWrite(const WavEntry &output, StereoJob &job, std::FILE *into, bool onePass = false);
