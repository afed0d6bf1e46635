// Building the stereo samples by delayed copy and writing the stereo file.
#pragma once

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

// Fills job.out.data and writes it as one block. Returns 0, or -1 after
// printing that the block did not reach the file whole.
int wavDataWrite(std::FILE *file, StereoJob &job);

// Creates the file at path and writes the stereo result of job. Returns 0 or
// -1 after printing why.
int wavWrite(const char *path, StereoJob &job);
