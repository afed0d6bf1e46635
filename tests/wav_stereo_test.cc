#include "wav_stereo.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(WavDelayFrames, ExactProductTruncatedTowardZeroAndSaturated) {
  const struct {
    std::uint32_t rate;
    float delay;
    std::int32_t frames;
  } cases[] = {
      // 0.03 is 0.0299999993 as a float: one frame short of 30 ms.
      {8000, 0.03f, 239},
      {44100, 0.03f, 1322},
      {48000, 0.03f, 1439},
      {22050, 0.03f, 661},
      {8000, -0.01f, -79},
      {8000, 0.0f, 0},
      {8000, -0.0f, 0},
      {0, 1.0f, 0},
      {0, kInf, 0},
      {3, 1e-30f, 0},
      {3, -1e-30f, 0},
      // Needs 56 bits: in double the product rounds up to 1077936256.
      {2155872255u, 0x1.000002p-1f, 1077936255},
      {1, 2147483520.0f, 2147483520},
      {1, 2147483648.0f, kMax},
      {1, -2147483648.0f, kMin},
      {1, -2147483904.0f, kMin},
      {0xFFFFFFFFu, 1.0f, kMax},
      {0xFFFFFFFFu, -1.0f, kMin},
      {8000, 3e38f, kMax},
      {8000, kInf, kMax},
      {8000, -kInf, kMin},
      {8000, std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.delay << " s");
    EXPECT_EQ(wavDelayFrames(c.rate, c.delay), c.frames);
  }
}

// The frames that carry a delayed sample lie inside the source whatever the
// delay: none where it is as long as the source or longer, either way.
TEST(WavDelayedRange, ClampedToTheSource) {
  const struct {
    std::size_t frames;
    std::int32_t delay;
    std::size_t begin;
    std::size_t end;
  } cases[] = {
      {10, 0, 0, 10},  {10, 3, 3, 10},  {10, -3, 0, 7},    {10, 9, 9, 10}, {10, 10, 10, 10},
      {10, 11, 10, 10}, {10, kMax, 10, 10}, {10, -10, 0, 0}, {10, -11, 0, 0}, {10, kMin, 0, 0},
      {0, 5, 0, 0},    {0, -5, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames, delay " << c.delay);
    const WavDelayedRange range = wavDelayedRange(c.frames, c.delay);
    EXPECT_EQ(range.begin, c.begin);
    EXPECT_EQ(range.end, c.end);
  }
}

// The loops of 8 and 16 bits under their own names, over samples aligned for
// their word; any width through the entry that takes it.
void stereoOf(std::size_t width, bool named, const std::uint8_t *left, const std::uint8_t *right,
              std::uint8_t *stereo, std::size_t count, WavDelayedRange delayed) {
  if (named && width == 1) return wavStereo8(left, right, stereo, count, delayed);
  if (named && width == 2)
    return wavStereo16(reinterpret_cast<const std::uint16_t *>(left),
                       reinterpret_cast<const std::uint16_t *>(right),
                       reinterpret_cast<std::uint16_t *>(stereo), count, delayed);
  wavStereo(width, left, right, stereo, count, delayed);
}

// Every width over memory against the rule, byte by byte: frame i holds
// sample i, then sample i - d where that is a sample of the source, else
// sample i again. Counts around each loop's steps (16 bytes of a channel,
// eight 24-bit frames and the two left to the plain copy) and longer than a
// default delay; the delays 0, the default 0.03 s at 8 kHz (239 frames), a
// negative one, and ones as long as the source and longer. The source and the
// frames lie at every offset from a 16-byte boundary (the 8- and 16-bit loops
// by name at their word's too); 24-bit frames with SSSE3's shuffle where the
// processor has it and without; the source ends its block, so that AddressSanitizer sees
// any read past it, and guard bytes around the frames show any write outside.
TEST(WavStereo, EveryWidthCountAndDelayAtAnyAddressFollowsTheFrameRule) {
  constexpr std::uint8_t kGuard = 0xA5;
  const std::size_t counts[] = {0, 1, 2, 3, 5, 6, 7, 9, 10, 11, 12, 17, 18, 33, 1000};
  for (const bool shuffle : {true, false})
  for (std::size_t width = shuffle ? 1 : 3; width <= (shuffle ? 8 : 3); ++width) {
    wavStereoShuffle = shuffle;
    for (const std::size_t n : counts) {
      const auto frames = static_cast<std::int64_t>(n);
      const std::int64_t delays[] = {0, 1, 239, -79, -1, frames - 1, frames, frames + 1,
                                     -frames, -frames - 1, kMax, kMin};
      for (const std::int64_t d : delays) {
        for (std::size_t offset = 0; offset < 16; ++offset) {
          const bool named = width <= 2 && offset % width == 0;
          SCOPED_TRACE(testing::Message() << width << " bytes, " << n << " frames, delay " << d
                                          << ", offset " << offset << (named ? ", named" : "")
                                          << (shuffle ? "" : ", no shuffle"));
          std::vector<std::uint8_t> source(offset + n * width);
          for (std::size_t k = 0; k < source.size(); ++k)
            source[k] = static_cast<std::uint8_t>(k * 37 + k / 251 + 1);
          const std::uint8_t *samples = source.data() + offset;
          std::vector<std::uint8_t> stereo(offset + 2 * n * width + 16, kGuard);
          std::uint8_t *frames0 = stereo.data() + offset;

          std::vector<std::uint8_t> expected(2 * n * width);
          for (std::int64_t i = 0; i < frames; ++i) {
            const std::int64_t j = i - d >= 0 && i - d < frames ? i - d : i;
            for (std::size_t b = 0; b < width; ++b) {
              expected[2 * width * i + b] = samples[width * i + b];
              expected[2 * width * i + width + b] = samples[width * j + b];
            }
          }

          const auto delay = static_cast<std::int32_t>(d);
          const WavDelayedRange range = wavDelayedRange(n, delay);
          const std::uint8_t *right =
              range.begin == range.end
                  ? samples
                  : samples + (static_cast<std::int64_t>(range.begin) - delay) *
                                  static_cast<std::int64_t>(width);
          stereoOf(width, named, samples, right, frames0, n, range);
          EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frames0));
          for (std::size_t k = 0; k < offset; ++k) ASSERT_EQ(stereo[k], kGuard) << k;
          for (std::size_t k = offset + expected.size(); k < stereo.size(); ++k)
            ASSERT_EQ(stereo[k], kGuard) << k;
        }
      }
    }
  }
  wavStereoShuffle = true;
}

}  // namespace
