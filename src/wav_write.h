// Building the stereo samples by delayed copy and writing the stereo file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "wav_info.h"

// The delay in frames, rate × delay multiplied exactly and truncated toward
// zero, saturated to the 32-bit range; a NaN delay gives 0.
std::int32_t wavDelayFrames(std::uint32_t sampleRate, float delay);

// Fill job.out.data from job.in.data: the left channel is the source, the
// right channel the source job.delay seconds later (earlier for a negative
// delay); where that falls outside the source the right sample equals the
// left. They write only inside job.out.data and return 0.
int wavStereo8(StereoJob &job);
int wavStereo16(StereoJob &job);

// Writes the 44-byte header for info at the file's position and returns the
// position after it, which the caller expects to be 44.
std::int64_t wavHeaderWrite(std::FILE *file, const WavInfo &info);

// The room the writer needs for the result of a source left in its file:
// one window of stereo frames and the source samples they are made of.
inline constexpr std::size_t kWavWindowSize = std::size_t{1} << 20;

// Writes the stereo samples of job: made whole in job.out.data from the
// samples in job.in.data and written as one block, or, with job.in's samples
// left in their file, opened again as source, a window at a time through
// job.window. Returns 0, or -1 after printing that the data did not reach the
// file whole, or that the source changed or could not be read.
int wavDataWrite(std::FILE *file, std::FILE *source, StereoJob &job);

// Writes the header and the data of job's result into file, already open,
// and closes it; source as for wavDataWrite, path names the output in the
// messages. Returns 0 or -1 after printing why.
int wavOutputWrite(std::FILE *file, const char *path, std::FILE *source, StereoJob &job);

// Creates the file at path, or the new file of job.replace in its place, and
// writes the stereo result of job. Returns 0 or -1 after printing why.
int wavWrite(const char *path, StereoJob &job);
