#include "wav_decimal.h"

#include <cmath>
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

}  // namespace
