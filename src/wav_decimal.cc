#include "wav_decimal.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Rounds to the nearest float; a double beyond the float range would be
// undefined to convert, so the overflow is rounded here by hand.
float toFloat(double value) {
  // Halfway between the largest float and 2^128: from here on the float is
  // infinite (the tie goes to the even neighbour, 2^128).
  constexpr double kOverflow = 0x1.ffffffp127;
  constexpr float kMax = std::numeric_limits<float>::max();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (std::fabs(value) >= kOverflow) return value > 0 ? kInfinity : -kInfinity;
  if (value > kMax) return kMax;
  if (value < -kMax) return -kMax;
  return static_cast<float>(value);
}

// The number of digits with an optional '.' and an optional exponent at p,
// after its sign, times 10^shift, rounded correctly to a double and that to
// a float; 0 where p holds no digits.
float decimalRead(const char *p, bool negative, std::int64_t shift) {
  // The digits, without the point, and the power of ten that scales them.
  std::string digits;
  std::int64_t scale = shift;
  while (isDigit(*p)) digits += *p++;
  if (*p == '.') {
    ++p;
    while (isDigit(*p)) {
      digits += *p++;
      --scale;
    }
  }
  if (digits.empty()) return 0.0f;

  if (*p == 'e' || *p == 'E') {
    const char *q = p + 1;
    bool expNegative = false;
    if (*q == '+' || *q == '-') expNegative = *q++ == '-';
    if (isDigit(*q)) {
      // Any exponent beyond this bound already overflows or underflows.
      constexpr std::int64_t kBound = 100000000;
      std::int64_t exponent = 0;
      for (; isDigit(*q); ++q)
        if (exponent < kBound) exponent = exponent * 10 + (*q - '0');
      scale += expNegative ? -exponent : exponent;
    }
  }

  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return negative ? -0.0f : 0.0f;
  digits.erase(0, first);

  const std::string normal = digits + "e" + std::to_string(scale);
  double value = 0.0;
  const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range: the magnitude's decimal exponent tells overflow from underflow.
    const std::int64_t magnitude = scale + static_cast<std::int64_t>(digits.size());
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return toFloat(negative ? -value : value);
}

// Where the plain decimal number that text starts with ends: an optional
// sign, digits with an optional '.', an optional exponent; null where text
// starts with none.
const char *plainEnd(const char *text) {
  const char *p = text;
  if (*p == '+' || *p == '-') ++p;
  bool digits = false;
  for (; isDigit(*p); ++p) digits = true;
  if (*p == '.')
    for (++p; isDigit(*p); ++p) digits = true;
  if (!digits) return nullptr;
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!isDigit(*p)) return nullptr;
    while (isDigit(*p)) ++p;
  }
  return p;
}

}  // namespace

float wavDecimalParse(const char *text) {
  const char *p = text;
  while (isSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
    if (std::strncmp(p, "INF", 3) == 0) return toFloat(negative ? -HUGE_VAL : HUGE_VAL);
    if (std::strncmp(p, "NAN", 3) == 0) return std::numeric_limits<float>::quiet_NaN();
  }
  return decimalRead(p, negative, 0);
}

// Milliseconds are the same digits three places further down: the text
// 30ms is read as 30e-3, and so rounds as 0.03 does.
bool wavDelayParse(const char *text, float &seconds) {
  const char *end = plainEnd(text);
  if (!end || (*end != '\0' && std::strcmp(end, "s") != 0 && std::strcmp(end, "ms") != 0))
    return false;
  const bool negative = *text == '-';
  const char *digits = *text == '+' || negative ? text + 1 : text;
  seconds = decimalRead(digits, negative, *end == 'm' ? -3 : 0);
  return true;
}
