// Every text the program prints must be the code page 932 encoding of its
// readable form; glibc's iconv is the reference encoder.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
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

struct WiderRow {
  const WavText *text;
  const WavText *japanese;
  const char *conversions;
};

// The wider reading's texts and the conversions their English takes from
// the caller, which wavwiden's Japanese beside them may not.
constexpr WiderRow kWiderRows[] = {
    {&kTextChannelCount, &kTextNotMono, "u "},    {&kTextRf64, &kTextNoRiff, ""},
    {&kTextDataEmpty, &kTextNoMemory, ""},        {&kTextFormatRefused, nullptr, "X s "},
    {&kTextBitsRefused, nullptr, "s u "},         {&kTextExtensionShort, nullptr, "lu u "},
    {&kTextSubFormatRefused, nullptr, "s "},      {&kTextValidBitsRefused, nullptr, "u u "},
    {&kTextDataCutShort, nullptr, "lu lu "},      {&kTextTooManyChunks, nullptr, "d "},
    {&kTextResultTooLarge, &kTextTooLarge, ""},
};

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
// the chunk length lines, printed by wavSayChunk, take a name and a length;
// a failure text, printed by wavSayFailure, the file's name and the reason.
// Each text of wavwiden-en's alone takes the arguments its callers give.
TEST(WavText, EnglishTakesTheArgumentsOfTheJapanese) {
  const struct {
    const WavText *text;
    const char *conversions;
  } englishOnly[] = {
      {&kTextFmtCutShort, ""},
      {&kTextDelayLong, "g "},          {&kTextDelayCoversSource, "ld "},
      {&kTextDelayNoFrames, "g lu "},   {&kTextHelp, ""},
      {&kTextVersion, ""},              {&kTextUnknownOption, "s "},
      {&kTextTooManyOperands, "d "},    {&kTextDelayNotNumber, "s "},
      {&kTextOutputTerminal, "s "},     {&kTextOutputIsSource, "s "},
  };
  for (const WavText *text : kAllTexts) {
    SCOPED_TRACE(text->english);
    if (std::any_of(std::begin(kWiderRows), std::end(kWiderRows),
                    [text](const WiderRow &row) { return row.text == text; }))
      continue;  // held by the test of the wider reading's texts
    const bool chunk =
        text == &kTextChunkLength || text == &kTextFmtLength || text == &kTextDataLength;
    const char *expected = nullptr;
    for (const auto &row : englishOnly)
      if (row.text == text) expected = row.conversions;
    if (chunk) {
      EXPECT_EQ(conversions(text->english), "s lu ");
    } else if (text->failure) {
      EXPECT_EQ(conversions(text->english), "s s ");
    } else if (*text->sjis == '\0') {
      ASSERT_NE(expected, nullptr) << "a text of wavwiden-en's alone, not in the table";
      EXPECT_EQ(conversions(text->english), expected);
    } else if (*text->english != '\0') {
      EXPECT_EQ(conversions(text->english), conversions(text->sjis));
    }
  }
}

// The wider reading's texts: those in wavwiden's place print its Japanese,
// the others none, and each English takes what its caller gives, in
// conversions the formatter takes.
TEST(WavText, FormatTextsTakeTheirCallersArguments) {
  for (const auto &row : kWiderRows) {
    SCOPED_TRACE(row.text->english);
    EXPECT_NE(std::find(std::begin(kAllTexts), std::end(kAllTexts), row.text), std::end(kAllTexts));
    EXPECT_STREQ(row.text->sjis, row.japanese ? row.japanese->sjis : "");
    EXPECT_EQ(toCp932(row.text->readable), std::string(row.text->sjis));
    EXPECT_EQ(conversions(row.text->english), row.conversions);
    const char *kind = row.text == &kTextDataCutShort ? "warning: " : "error: ";
    EXPECT_EQ(std::string(row.text->english).rfind(kind, 0), 0u);
    EXPECT_EQ(row.text->stream, WavStream::kErr);
  }
}

// wavEnglishFormat takes a string or a character bare and a number with
// flags, width and precision; the table holds no other conversion.
TEST(WavText, EnglishUsesOnlyConversionsItsFormatterTakes) {
  for (const WavText *text : kAllTexts) {
    SCOPED_TRACE(text->english);
    for (const char *p = std::strchr(text->english, '%'); p; p = std::strchr(p, '%')) {
      const std::size_t flags = std::strspn(p + 1, "-+ #0123456789.");
      const std::string conversion(p + 1 + flags, p[1 + flags] == 'l' ? 2 : 1);
      EXPECT_NE(std::string(" s c d u ld lu X f g ").find(" " + conversion + " "),
                std::string::npos)
          << conversion;
      if (conversion == "s" || conversion == "c") {
        EXPECT_EQ(flags, 0u);
      }
      p += 1 + flags + conversion.size();
    }
  }
}

// Wherever wavwiden-en gives its usage line, it is the help's first; the
// version text gives the version, the copyright and the license.
TEST(WavText, OneUsageLineAndAVersion) {
  const std::string help = kTextHelp.english;
  const std::string usage = help.substr(0, help.find('\n') + 1);
  EXPECT_EQ(usage.rfind("Usage: wavwiden-en ", 0), 0u);
  for (const WavText *text : kAllTexts) {
    const char *given = std::strstr(text->english, "Usage: ");
    if (given) {
      EXPECT_EQ(std::string(given, usage.size()), usage) << text->english;
    }
  }
  const std::string version = kTextVersion.english;
  unsigned major = 0, minor = 0, patch = 0;
  char after = '\0';
  EXPECT_EQ(std::sscanf(version.c_str(), "wavwiden-en %u.%u.%u%c", &major, &minor, &patch, &after), 4);
  EXPECT_EQ(after, '\n');
  EXPECT_EQ(version.find("\nCopyright "), version.find('\n'));
  EXPECT_NE(version.find("\nLicense: MIT"), std::string::npos);
}

}  // namespace
