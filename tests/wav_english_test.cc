#include "wav_english.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

// What wavEnglishFormat writes into a buffer of size bytes, and the length
// it gives back after a space: "text 8"; the bytes past size must stay as
// they were.
std::string formatted(std::size_t size, const char *format, ...) {
  char out[256];
  std::memset(out, '#', sizeof out);
  std::va_list args;
  va_start(args, format);
  const int length = wavEnglishFormat(size == 0 ? nullptr : out, size, format, args);
  va_end(args);
  for (std::size_t i = size; i < sizeof out; ++i)
    if (out[i] != '#') return "written past the buffer";
  const std::string text = size == 0 ? "" : std::string(out, strnlen(out, size));
  return text + " " + std::to_string(length);
}

std::string english(const char *format, const char *name) {
  const std::string both = formatted(256, format, name);
  return both.substr(0, both.rfind(' '));
}

// A name that could drive a terminal is shown by its bytes' codes; text a
// terminal only shows, UTF-8 of any length included, is shown as it is.
TEST(WavEnglish, ShowsNamesAsTextThatCannotDriveATerminal) {
  const struct {
    const char *name;
    const char *shown;
  } cases[] = {
      {"ep1.wav", "ep1.wav"},
      {"ep\x1b]0;owned\x07\x1b[31m.wav", "ep\\x1b]0;owned\\x07\\x1b[31m.wav"},
      {"a\nb\tc\rd\x01\x1f\x7f", "a\\x0ab\\x09c\\x0dd\\x01\\x1f\\x7f"},
      {" !~ back\\slash \"quoted\" 100% %s", " !~ back\\slash \"quoted\" 100% %s"},
      // C1 controls by their code points, the characters around them as they are.
      {"\xc2\x9b" "31m", "\\x9b31m"},
      {"\xc2\x80\xc2\x9f\xc2\xa0\xc2\x7f", "\\x80\\x9f\xc2\xa0\\xc2\\x7f"},
      {"\xc3\xa9t\xc3\xa9 \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88", "\xc3\xa9t\xc3\xa9 \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"},
      {"\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbd", "\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbd"},
      {"\xf0\x90\x80\x80\xf0\x9f\x8e\xb5\xf4\x8f\xbf\xbf", "\xf0\x90\x80\x80\xf0\x9f\x8e\xb5\xf4\x8f\xbf\xbf"},
      // Bytes of no valid sequence, each by its code: stray, overlong,
      // surrogates, beyond U+10FFFF, no lead at all.
      {"\xff\xfe\x80x\xbf", "\\xff\\xfe\\x80x\\xbf"},
      {"\xc0\xaf\xc1\xbf\xe0\x9f\xbf", "\\xc0\\xaf\\xc1\\xbf\\xe0\\x9f\\xbf"},
      {"\xf0\x8f\xbf\xbf", "\\xf0\\x8f\\xbf\\xbf"},
      {"\xed\xa0\x80\xed\xbf\xbf", "\\xed\\xa0\\x80\\xed\\xbf\\xbf"},
      {"\xf4\x90\x80\x80\xf5\x80\x80\x80\xf8", "\\xf4\\x90\\x80\\x80\\xf5\\x80\\x80\\x80\\xf8"},
      // Cut short by the end, by a byte that cannot continue, by a new lead.
      {"\xf0\x9f\x8e", "\\xf0\\x9f\\x8e"},
      {"\xe3\x83x", "\\xe3\\x83x"},
      {"\xc2\xc3\xa9\xe3\xe3\x83\x86", "\\xc2\xc3\xa9\\xe3\xe3\x83\x86"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(english("[%s]", c.name), std::string("[") + c.shown + "]");
  }
}

// Numbers as printf gives them; strings and characters shown safe; the text
// cut short where it does not fit, as snprintf cuts it, its whole length
// given all the same; a conversion it does not take fails the whole text.
TEST(WavEnglish, FormatsEachConversionByItsType) {
  const struct {
    std::string got;
    const char *expected;
  } cases[] = {
      {formatted(64, "%ld %lu %u %d %i", -5L, 4294967295UL, 65535u, -1, 7), "-5 4294967295 65535 -1 7 24"},
      {formatted(64, "%04X %x %o %.3f %g %g", 0xAu, 255u, 8u, 2.5, 0.03, 1e-7), "000A ff 10 2.500 0.03 1e-07 27"},
      {formatted(64, "100%%"), "100% 4"},
      {formatted(64, "%c%c%c%c", 'A', 0, 0x1b, 0xe9), "A\\x00\\x1b\\xe9 13"},
      {formatted(64, "%s: %lu bytes", "a\x1b", 7UL), "a\\x1b: 7 bytes 14"},
      {formatted(64, "%-5d|%+d|% d|%#x", 3, 3, 3, 255u), "3    |+3| 3|0xff 16"},
      {formatted(5, "abcdefgh"), "abcd 8"},
      {formatted(4, "%s", "\x1b"), "\\x1 4"},
      {formatted(4, "%d", 123456), "123 6"},
      {formatted(3, "a%sb", "\xff"), "a\\ 6"},
      {formatted(0, "%s", "\x07"), " 4"},
      {formatted(64, "%5s", "x"), " -1"},
      {formatted(64, "%lf", 1.0), " -1"},
      {formatted(64, "%p", "x"), " -1"},
      {formatted(64, "%s %", "x"), " -1"},
      {formatted(64, "%0000000000000000d", 1), " -1"},
  };
  for (const auto &c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
