#include "wav_stereo.h"

#include <cmath>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Frames i of [begin, end) get left[i] as their left sample and right[i] as
// their right one.
template <typename Sample>
void framesCopy(const Sample *left, const Sample *right, Sample *stereo, std::size_t begin,
                std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    stereo[2 * i] = left[i];
    stereo[2 * i + 1] = right[i];
  }
}

#ifdef __SSE2__
// framesCopy over [begin, end), a whole number of steps of 16 bytes of each
// channel that give 32 bytes of frames. g++ does not vectorize the plain loop
// at -O2, so on x86 it is written out.
template <typename Sample>
void framesInterleaveWide(const Sample *left, const Sample *right, Sample *stereo,
                          std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; i += 16 / sizeof(Sample)) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + i));
    __m128i low;
    __m128i high;
    if constexpr (sizeof(Sample) == 1) {
      low = _mm_unpacklo_epi8(l, r);
      high = _mm_unpackhi_epi8(l, r);
    } else {
      low = _mm_unpacklo_epi16(l, r);
      high = _mm_unpackhi_epi16(l, r);
    }
    auto *out = reinterpret_cast<__m128i *>(stereo + 2 * i);
    _mm_storeu_si128(out, low);
    _mm_storeu_si128(out + 1, high);
  }
}
#endif

// framesCopy over [0, frames).
template <typename Sample>
void framesInterleave(const Sample *left, const Sample *right, Sample *stereo, std::size_t frames) {
  std::size_t i = 0;
#ifdef __SSE2__
  // The wide stores start on a 16-byte boundary: a store across one costs up
  // to three times as much.
  std::size_t head = (0 - reinterpret_cast<std::uintptr_t>(stereo)) % 16 / (2 * sizeof(Sample));
  if (head > frames) head = frames;
  framesCopy(left, right, stereo, 0, head);
  constexpr std::size_t kStep = 16 / sizeof(Sample);
  i = head + (frames - head) / kStep * kStep;
  framesInterleaveWide(left, right, stereo, head, i);
#endif
  framesCopy(left, right, stereo, i, frames);
}

// The frames before the delayed range and after it repeat the left sample;
// inside it the right sample is the delayed one. Each range is one loop
// without a branch.
template <typename Sample>
void stereoFill(const Sample *left, const Sample *right, Sample *stereo, std::size_t count,
                WavDelayedRange delayed) {
  framesInterleave(left, left, stereo, delayed.begin);
  framesInterleave(left + delayed.begin, right, stereo + 2 * delayed.begin,
                   delayed.end - delayed.begin);
  framesInterleave(left + delayed.end, left + delayed.end, stereo + 2 * delayed.end,
                   count - delayed.end);
}

}  // namespace

std::int32_t wavDelayFrames(std::uint32_t sampleRate, float delay) {
  if (std::isnan(delay) || sampleRate == 0 || delay == 0.0f) return 0;
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const bool negative = delay < 0;
  if (std::isinf(delay)) return negative ? -kMax - 1 : kMax;

  // delay = significand × 2^shift with a 24-bit integer significand, so the
  // product is rate × significand, exact in 64 bits, scaled by 2^shift.
  int exponent = 0;
  const float fraction = std::frexp(std::fabs(delay), &exponent);
  const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 24));
  const int shift = exponent - 24;
  const std::uint64_t product = std::uint64_t{sampleRate} * significand;
  const std::uint64_t limit = negative ? std::uint64_t{kMax} + 1 : std::uint64_t{kMax};

  std::uint64_t frames;
  if (shift >= 0) {
    if (shift >= 32 || product > (limit >> shift)) return negative ? -kMax - 1 : kMax;
    frames = product << shift;
  } else {
    frames = -shift >= 64 ? 0 : product >> -shift;
    if (frames > limit) frames = limit;
  }
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(frames))
                  : static_cast<std::int32_t>(frames);
}

WavDelayedRange wavDelayedRange(std::size_t frames, std::int32_t delay) {
  const std::int64_t n = static_cast<std::int64_t>(frames);
  std::int64_t begin = delay > 0 ? delay : 0;
  std::int64_t end = delay < 0 ? n + delay : n;
  if (begin > n) begin = n;
  if (end < begin) end = begin;
  return {static_cast<std::size_t>(begin), static_cast<std::size_t>(end)};
}

void wavStereo8(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                std::size_t count, WavDelayedRange delayed) {
  stereoFill(left, right, stereo, count, delayed);
}

// 16-bit samples are copied as whole words, so their little-endian bytes stay
// as they are.
void wavStereo16(const std::uint16_t *left, const std::uint16_t *right, std::uint16_t *stereo,
                 std::size_t count, WavDelayedRange delayed) {
  stereoFill(left, right, stereo, count, delayed);
}
