// The frame loop: stereo frames from mono samples by delayed copy, memory to
// memory. The left sample of a frame is the source's; the right one is the
// source d frames earlier (later for a negative d), or the left sample again
// where that falls outside the source. A sample is 1 to 8 bytes (8-bit to
// 32-bit PCM, float, A-law, µ-law), copied as it is: no sample value is ever
// computed, so the same loop serves every format of one width.
#pragma once

#include <cstddef>
#include <cstdint>

// The delay in frames, rate × delay multiplied exactly and truncated toward
// zero, saturated to the 32-bit range; a NaN delay gives 0.
std::int32_t wavDelayFrames(std::uint32_t sampleRate, float delay);

// Frames i of [begin, end) carry source frame i - d on the right; the others,
// whose i - d falls outside the source, repeat the left sample.
struct WavDelayedRange {
  std::size_t begin;
  std::size_t end;
};

// The delayed range of a source of frames frames delayed by delay frames.
WavDelayedRange wavDelayedRange(std::size_t frames, std::int32_t delay);

// Fill count frames of stereo: left holds their source samples, and right
// the source samples that the frames of delayed, counted from the first of
// them, carry on the right. The frames outside delayed repeat the left sample.
// Nothing outside the count frames of stereo is written, and nothing is read
// outside the samples named.
void wavStereo8(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                std::size_t count, WavDelayedRange delayed);
void wavStereo16(const std::uint16_t *left, const std::uint16_t *right, std::uint16_t *stereo,
                 std::size_t count, WavDelayedRange delayed);
// Whether the 24-bit loop may use SSSE3's byte shuffle where the processor
// has it (asked at run time), as it does unless a test turns it off to hold
// the plain loop to the same bytes.
extern bool wavStereoShuffle;

// The same for samples of any width from 1 to 8 bytes (8-bit to 32-bit PCM,
// 32- and 64-bit float, A-law, µ-law: 1, 2, 3, 4 or 8) at any address, as
// the writer holds them: the loop of that width.
void wavStereo(std::size_t width, const std::uint8_t *left, const std::uint8_t *right,
               std::uint8_t *stereo, std::size_t count, WavDelayedRange delayed);
