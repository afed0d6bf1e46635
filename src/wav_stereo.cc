#include "wav_stereo.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace {

// Frames i of [begin, end) get left sample i as their left sample and right
// sample i as their right one, Width bytes each.
template <std::size_t Width>
void framesCopy(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    std::memcpy(stereo + 2 * Width * i, left + Width * i, Width);
    std::memcpy(stereo + 2 * Width * i + Width, right + Width * i, Width);
  }
}

#ifdef __SSE2__
// framesCopy over [begin, end), a whole number of steps of 16 bytes of each
// channel that give 32 bytes of frames: one unpack of the width's lanes
// interleaves them. g++ does not vectorize the plain loop at -O2, so on x86
// it is written out.
template <std::size_t Width>
void framesInterleaveWide(const std::uint8_t *left, const std::uint8_t *right,
                          std::uint8_t *stereo, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; i += 16 / Width) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + Width * i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + Width * i));
    __m128i low;
    __m128i high;
    if constexpr (Width == 1) {
      low = _mm_unpacklo_epi8(l, r);
      high = _mm_unpackhi_epi8(l, r);
    } else if constexpr (Width == 2) {
      low = _mm_unpacklo_epi16(l, r);
      high = _mm_unpackhi_epi16(l, r);
    } else if constexpr (Width == 4) {
      low = _mm_unpacklo_epi32(l, r);
      high = _mm_unpackhi_epi32(l, r);
    } else {
      low = _mm_unpacklo_epi64(l, r);
      high = _mm_unpackhi_epi64(l, r);
    }
    auto *out = reinterpret_cast<__m128i *>(stereo + 2 * Width * i);
    _mm_storeu_si128(out, low);
    _mm_storeu_si128(out + 1, high);
  }
}
#endif

// One 24-bit frame as one 8-byte store: the 3 bytes of the left sample and
// the right one's above them, in a little-endian word read at each sample.
// Its top 2 bytes, the next frame's place, are written again by that frame.
inline void frame24(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo) {
  std::uint64_t l;
  std::uint64_t r;
  std::memcpy(&l, left, 8);
  std::memcpy(&r, right, 8);
  const std::uint64_t frame = (l & 0xFFFFFFu) | r << 24;
  std::memcpy(stereo, &frame, 8);
}

#ifdef __SSE2__
// frame24 in an SSE2 register.
inline void frame24Sse2(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                        __m128i low3) {
  const __m128i l = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(left));
  const __m128i r = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(right));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(stereo),
                   _mm_or_si128(_mm_and_si128(l, low3), _mm_slli_epi64(r, 24)));
}

// Two frames, one made in the general registers and one in the SSE2 ones:
// by turns both sets of units work, and the stores bound the loop.
inline void frames24Pair(const std::uint8_t *left, const std::uint8_t *right,
                         std::uint8_t *stereo, __m128i low3) {
  frame24(left, right, stereo);
  frame24Sse2(left + 3, right + 3, stereo + 6, low3);
}
#endif

#ifdef __SSE2__
// Four 24-bit frames a step with SSSE3's byte shuffle: the 12 bytes of four
// left samples and of four right ones, each read as 16 bytes, are placed
// into the 24 bytes of their frames by two shuffles each. Returns how many
// frames it made: all but the last two to five, where a 16-byte read would
// reach past the samples.
__attribute__((target("ssse3"))) std::size_t frames24Shuffle(const std::uint8_t *left,
                                                              const std::uint8_t *right,
                                                              std::uint8_t *stereo,
                                                              std::size_t frames) {
  const __m128i lowLeft = _mm_setr_epi8(0, 1, 2, -1, -1, -1, 3, 4, 5, -1, -1, -1, 6, 7, 8, -1);
  const __m128i lowRight = _mm_setr_epi8(-1, -1, -1, 0, 1, 2, -1, -1, -1, 3, 4, 5, -1, -1, -1, 6);
  const __m128i highLeft =
      _mm_setr_epi8(-1, -1, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i highRight =
      _mm_setr_epi8(7, 8, -1, -1, -1, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
  std::size_t i = 0;
  for (; i + 6 <= frames; i += 4) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + 3 * i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + 3 * i));
    auto *out = reinterpret_cast<__m128i *>(stereo + 6 * i);
    _mm_storeu_si128(out, _mm_or_si128(_mm_shuffle_epi8(l, lowLeft), _mm_shuffle_epi8(r, lowRight)));
    _mm_storel_epi64(out + 1,
                     _mm_or_si128(_mm_shuffle_epi8(l, highLeft), _mm_shuffle_epi8(r, highRight)));
  }
  return i;
}

// Whether the processor has SSSE3, asked once.
bool ssse3Present() {
  static const bool present = __builtin_cpu_supports("ssse3");
  return present;
}
#endif

// Makes the 24-bit frames from the first on, but the last two or more, and
// returns how many it made: the 8 bytes read at sample i reach into sample
// i + 2, and those written at frame i into frame i + 1, so the last frames
// are left to the plain copy. A big-endian machine's words hold the bytes
// the other way round: it leaves them all to the copy.
std::size_t frames24(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                     std::size_t frames) {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
#ifdef __SSE2__
    if (wavStereoShuffle && ssse3Present()) i = frames24Shuffle(left, right, stereo, frames);
    const __m128i low3 = _mm_cvtsi32_si128(0xFFFFFF);
    // Eight frames a step, as long as the last one's reads stay inside.
    for (; i + 10 <= frames; i += 8) {
      frames24Pair(left + 3 * i, right + 3 * i, stereo + 6 * i, low3);
      frames24Pair(left + 3 * i + 6, right + 3 * i + 6, stereo + 6 * i + 12, low3);
      frames24Pair(left + 3 * i + 12, right + 3 * i + 12, stereo + 6 * i + 24, low3);
      frames24Pair(left + 3 * i + 18, right + 3 * i + 18, stereo + 6 * i + 36, low3);
    }
#endif
    for (; i + 3 <= frames; ++i) frame24(left + 3 * i, right + 3 * i, stereo + 6 * i);
  }
  return i;
}

// framesCopy over [0, frames), the width's wide loop first where it has one.
template <std::size_t Width>
void framesInterleave(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                      std::size_t frames) {
  std::size_t i = 0;
  if constexpr (Width == 3) {
    i = frames24(left, right, stereo, frames);
  }
#ifdef __SSE2__
  if constexpr (Width == 1 || Width == 2 || Width == 4 || Width == 8) {
    // The wide stores start on a 16-byte boundary where the frames allow it:
    // a store across one costs up to three times as much.
    std::size_t head = (0 - reinterpret_cast<std::uintptr_t>(stereo)) % 16 / (2 * Width);
    if (head > frames) head = frames;
    framesCopy<Width>(left, right, stereo, 0, head);
    constexpr std::size_t kStep = 16 / Width;
    i = head + (frames - head) / kStep * kStep;
    framesInterleaveWide<Width>(left, right, stereo, head, i);
  }
#endif
  framesCopy<Width>(left, right, stereo, i, frames);
}

// The frames before the delayed range and after it repeat the left sample;
// inside it the right sample is the delayed one. Each range is one loop
// without a branch.
template <std::size_t Width>
void stereoFill(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *stereo,
                std::size_t count, WavDelayedRange delayed) {
  const std::size_t begin = delayed.begin;
  const std::size_t end = delayed.end;
  framesInterleave<Width>(left, left, stereo, begin);
  framesInterleave<Width>(left + Width * begin, right, stereo + 2 * Width * begin, end - begin);
  framesInterleave<Width>(left + Width * end, left + Width * end, stereo + 2 * Width * end,
                          count - end);
}

}  // namespace

bool wavStereoShuffle = true;

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
  stereoFill<1>(left, right, stereo, count, delayed);
}

void wavStereo16(const std::uint16_t *left, const std::uint16_t *right, std::uint16_t *stereo,
                 std::size_t count, WavDelayedRange delayed) {
  stereoFill<2>(reinterpret_cast<const std::uint8_t *>(left),
                reinterpret_cast<const std::uint8_t *>(right),
                reinterpret_cast<std::uint8_t *>(stereo), count, delayed);
}

// Samples of 16 bits and more are copied as whole words or their bytes in
// order, so their little-endian bytes stay as they are.
void wavStereo(std::size_t width, const std::uint8_t *left, const std::uint8_t *right,
               std::uint8_t *stereo, std::size_t count, WavDelayedRange delayed) {
  switch (width) {
    case 1: return stereoFill<1>(left, right, stereo, count, delayed);
    case 2: return stereoFill<2>(left, right, stereo, count, delayed);
    case 3: return stereoFill<3>(left, right, stereo, count, delayed);
    case 4: return stereoFill<4>(left, right, stereo, count, delayed);
    case 5: return stereoFill<5>(left, right, stereo, count, delayed);
    case 6: return stereoFill<6>(left, right, stereo, count, delayed);
    case 7: return stereoFill<7>(left, right, stereo, count, delayed);
    default: return stereoFill<8>(left, right, stereo, count, delayed);
  }
}
