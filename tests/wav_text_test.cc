// Every text the program prints must be the code page 932 encoding of its
// readable form; glibc's iconv is the reference encoder.
#include <iconv.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "wav_text.h"

namespace {

std::string toCp932(const char *utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no CP932 converter>";
  std::string in(utf8);
  std::string out(in.size() * 2 + 16, '\0');
  char *inPtr = in.data();
  char *outPtr = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  const std::size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (converted == static_cast<std::size_t>(-1)) return "<not convertible>";
  out.resize(out.size() - outLeft);
  return out;
}

TEST(WavText, EveryTextIsItsReadableFormInCp932) {
  for (const WavText *text : kAllTexts) {
    SCOPED_TRACE(text->readable);
    EXPECT_EQ(toCp932(text->readable), std::string(text->sjis));
  }
}

TEST(WavText, FormatLabelsLineUpTheirColons) {
  for (const WavText *text : {&kTextFormatTag, &kTextChannels, &kTextSampleRate,
                              &kTextBytesPerSec, &kTextBlockAlign, &kTextBitsPerSample}) {
    SCOPED_TRACE(text->readable);
    EXPECT_EQ(std::strchr(text->sjis, ':') - text->sjis, 23);
  }
}

// The conversions of a printf format, flags, widths and precisions left
// out: "%04X %.3f %ld" gives "X f ld ".
std::string conversions(const char *format) {
  std::string found;
  for (const char *p = std::strchr(format, '%'); p; p = std::strchr(p, '%')) {
    ++p;
    while (*p != '\0' && std::strchr("-+ #0123456789.", *p)) ++p;
    if (*p == 'l') found += *p++;
    found += *p++;
    found += ' ';
  }
  return found;
}

// wavwiden-en's words take the arguments wavwiden's do, in the same order;
// the chunk length lines, printed by wavSayChunk, take a name and a length.
TEST(WavText, EnglishTakesTheArgumentsOfTheJapanese) {
  for (const WavText *text : kAllTexts) {
    SCOPED_TRACE(text->english);
    const bool chunk =
        text == &kTextChunkLength || text == &kTextFmtLength || text == &kTextDataLength;
    if (chunk) {
      EXPECT_EQ(conversions(text->english), "s lu ");
    } else if (*text->sjis != '\0' && *text->english != '\0') {
      EXPECT_EQ(conversions(text->english), conversions(text->sjis));
    }
  }
}

}  // namespace
