#include "wav_decimal.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

struct Case {
  const char *text;
  float value;
};

TEST(WavDecimal, ReadsOnlyPlainDecimalText) {
  const Case cases[] = {
      {"0.03", 0.03f},         {"  \t0.05", 0.05f},    {"+0.5", 0.5f},
      {"-0.01", -0.01f},       {".5", 0.5f},           {"5.", 5.0f},
      {"5.e1", 50.0f},         {"1e-3", 0.001f},       {"2.5E+2", 250.0f},
      {"1e", 1.0f},            {"1e+", 1.0f},          {"1e-x", 1.0f},
      {"3abc", 3.0f},          {"0x10", 0.0f},         {"1,5", 1.0f},
      {"", 0.0f},              {".", 0.0f},            {"e5", 0.0f},
      {"-", 0.0f},             {"abc", 0.0f},          {"inf", 0.0f},
      {"nan", 0.0f},           {"INF", 0.0f},          {"+inf", 0.0f},
      {"+INF", kInf},          {"-INF", -kInf},        {"+INFINITY", kInf},
      {"1e39", kInf},          {"-1e39", -kInf},       {"1e99999999999999999999", kInf},
      {"1e-99999999999999999999", 0.0f},               {"0e99999999999", 0.0f},
      {"3.4028235e38", std::numeric_limits<float>::max()},
      {"3.40282356e38", std::numeric_limits<float>::max()},
      // Just below the float overflow threshold, but its double is the
      // threshold itself, a tie that goes to infinity.
      {"3.4028235677973366e38", kInf},
      {"0.000000000000000000000000000000000000000000001401298464324817", 1.4e-45f},
      {"00000000000000000000000000000000000000.1", 0.1f},
      // Double first, then float: a value just above a float halfway point
      // that rounds down to the halfway double rounds to even in the float.
      {"1.000000059604644775390625000000000000001", 1.0f},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    const float got = wavDecimalParse(c.text);
    EXPECT_EQ(std::memcmp(&got, &c.value, sizeof got), 0) << got << " != " << c.value;
  }
}

TEST(WavDecimal, SignedNanWordsGiveNan) {
  EXPECT_TRUE(std::isnan(wavDecimalParse("+NAN")));
  EXPECT_TRUE(std::isnan(wavDecimalParse("-NAN")));
  EXPECT_FALSE(std::isnan(wavDecimalParse("+NaN")));
}

TEST(WavDecimal, NegativeZeroKeepsItsSign) {
  EXPECT_TRUE(std::signbit(wavDecimalParse("-0")));
}

std::uint32_t bitsOf(float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// wavwiden-en's delay: a plain number in full, in seconds or milliseconds,
// read as wavwiden reads the same value in seconds. The bits of the trickier
// ones are those of the exact decimal value rounded to the nearest double
// and that to the nearest float; the last "ms" texts are ones that a double
// divided by 1000 gets wrong.
TEST(WavDecimal, DelayTakesPlainNumbersInSecondsOrMilliseconds) {
  const struct {
    const char *text;
    std::uint32_t bits;
    const char *seconds;  // the same value as wavwiden takes it
  } accepted[] = {
      {"0.03", 0x3cf5c28f, "0.03"},
      {"30ms", 0x3cf5c28f, "0.03"},
      {"0.03s", 0x3cf5c28f, "0.03"},
      {"+30e0ms", 0x3cf5c28f, "0.03"},
      {".5", 0x3f000000, ".5"},
      {"5.", 0x40a00000, "5"},
      {"+.5e1", 0x40a00000, "5"},
      {"5000ms", 0x40a00000, "5"},
      {"-0.01", 0xbc23d70a, "-0.01"},
      {"-10ms", 0xbc23d70a, "-0.01"},
      {"1e-3ms", 0x358637bd, "0.000001"},
      {"2.5E+2", 0x437a0000, "250"},
      {"007", 0x40e00000, "7"},
      {"-0", 0x80000000, "-0"},
      {"-0ms", 0x80000000, "-0"},
      {"3.4028235e41ms", 0x7f7fffff, "3.4028235e38"},
      {"1e99999999999999999999", 0x7f800000, "1e39"},
      {"-1e99999999999999999999ms", 0xff800000, "-1e39"},
      {"1e-99999999999999999999s", 0x00000000, "0"},
      {"-1e-46", 0x80000000, "-0"},
      {"10.530969593673945354ms", 0x3c2c8a17, "0.010530969593673945354"},
      {"82.305621355772011481ms", 0x3da88fd9, "0.082305621355772011481"},
  };
  for (const auto &c : accepted) {
    SCOPED_TRACE(c.text);
    float seconds = 1.0f;
    ASSERT_TRUE(wavDelayParse(c.text, seconds));
    EXPECT_EQ(bitsOf(seconds), c.bits);
    EXPECT_EQ(bitsOf(wavDecimalParse(c.seconds)), c.bits);
  }

  const char *refused[] = {
      "ep3.wav", "0,02", "abc", "0x10", "0x", "inf", "+INF", "-INF", "+NAN", "nan", "",
      " 0.02", "0.02 ", "\t1", "1\n", "1e", "1e+", "1E-", "e5", ".e5", ".", "-", "+",
      "-.", "+-1", "--1", "1.2.3", "1e5.5", "5ms0", "ms", "s", "-ms", ".s", "1 s", "1S",
      "1MS", "1Ms", "1m", "1us", "1sec", "1mss", "1sms", "1ms ", "1e3e3", "\xef\xbc\x91",
  };
  for (const char *text : refused) {
    SCOPED_TRACE(text);
    float seconds = 1.0f;
    EXPECT_FALSE(wavDelayParse(text, seconds));
    EXPECT_EQ(seconds, 1.0f);
  }
}

}  // namespace
