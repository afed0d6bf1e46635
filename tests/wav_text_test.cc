// Every text the program prints must be the code page 932 encoding of its
// readable form; glibc's iconv is the reference encoder.
#include <iconv.h>

#include <cstring>
#include <regex>
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

// The conversions of a printf format, flags and widths left out: "%04X %ld"
// gives "X ld".
std::string conversions(const char *format) {
  static const std::regex kConversion("%[-+ #0]*[0-9]*(?:\\.[0-9]+)?(l?[a-zA-Z])");
  std::string found;
  const std::string text(format);
  for (std::sregex_iterator it(text.begin(), text.end(), kConversion), end; it != end; ++it)
    found += (*it)[1].str() + " ";
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
