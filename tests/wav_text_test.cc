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

}  // namespace
