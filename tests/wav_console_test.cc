#include "wav_console.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string sinkContents(std::FILE *sink) {
  std::string bytes;
  std::rewind(sink);
  for (int c; (c = std::fgetc(sink)) != EOF;) bytes += static_cast<char>(c);
  std::fseek(sink, 0, SEEK_END);
  return bytes;
}

// Each output enters in 80-byte pieces; a piece that would take the buffer
// past 512 bytes first writes out all that is collected.
TEST(WavConsole, CollectsOutputsInPiecesAndWritesOutWhenTheNextWouldNotFit) {
  const struct {
    std::size_t size;
    long written;  // bytes that reached the stream after this output
  } steps[] = {
      {300, 0},    // 80 + 80 + 80 + 60
      {212, 0},    // 80 + 80 + 52: exactly 512 collected still waits
      {1, 512},    // one more byte does not fit
      {600, 993},  // 1 + 6 × 80 collected, then the 7th piece writes them out
      {0, 993},
  };
  std::FILE *sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  std::setvbuf(sink, nullptr, _IONBF, 0);
  ConsoleBuffer buffer;
  std::string all;
  char next = 'a';
  for (const auto &step : steps) {
    const std::string text(step.size, next++);
    all += text;
    wavConsoleCollect(buffer, sink, text.data(), text.size());
    EXPECT_EQ(std::ftell(sink), step.written) << "after " << step.size << " bytes";
  }
  wavConsoleFlush(buffer, sink);
  EXPECT_EQ(sinkContents(sink), all);
  std::fclose(sink);
}

// The system's reasons in English, as the C library words them; a code
// of no kind the platform has is named by its number.
TEST(WavConsole, GivesTheSystemsReasonInEnglish) {
  const struct {
    WavError error;
    const char *reason;
  } cases[] = {
      {{WavErrorKind::kErrno, ENOENT}, "No such file or directory"},
      {{WavErrorKind::kErrno, EACCES}, "Permission denied"},
      {{WavErrorKind::kErrno, EISDIR}, "Is a directory"},
      {{WavErrorKind::kErrno, ENOSPC}, "No space left on device"},
      {{WavErrorKind::kWin32, 3}, "error 3"},
  };
  for (const auto &c : cases) {
    char reason[kWavReasonSize];
    wavErrorReason(c.error, reason);
    EXPECT_STREQ(reason, c.reason);
  }
  errno = EBADF;
  const WavError taken = wavErrnoGet();
  EXPECT_EQ(taken.kind, WavErrorKind::kErrno);
  EXPECT_EQ(taken.code, std::uint32_t{EBADF});
}

// What the program prints, standard output and standard error together,
// where print runs as the first print of a process speaking in voice.
// Returns 0 where that is expected; in a child process of its own, since a
// process speaks in one voice, chosen once.
[[noreturn]] void printedIs(WavVoice voice, void (*print)(), const std::string &expected) {
  // What the test runner has printed in this process stays out.
  std::FILE *nowhere = std::fopen("/dev/null", "w");
  if (!nowhere || dup2(fileno(nowhere), 1) < 0) std::_Exit(2);
  std::fflush(stdout);
  std::FILE *capture = std::tmpfile();
  const int original = dup(2);
  if (!capture || original < 0 || dup2(fileno(capture), 1) < 0 || dup2(fileno(capture), 2) < 0)
    std::_Exit(2);
  wavConsoleStart(voice);
  print();
  wavOutFlush();
  std::string printed;
  std::rewind(capture);
  for (int c; (c = std::fgetc(capture)) != EOF;) printed += static_cast<char>(c);
  dup2(original, 2);
  if (printed == expected) std::_Exit(0);
  std::fprintf(stderr, "printed \"%s\"", printed.c_str());
  std::_Exit(1);
}

std::string japanese(const char *format, ...) {
  char text[256];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// wavwiden-en names the file and gives the reason, shows every name safe
// and chunk ids in lowercase hex; wavwiden prints its bytes as they were,
// the file and the reason of a failure left out.
TEST(WavConsole, FailuresCarryTheFileAndTheReasonInEnglishOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    WavVoice voice;
    void (*print)();
    std::string expected;
  } cases[] = {
      {WavVoice::kEnglish,
       [] { wavSayFailure(kTextOutputOpenFailure, "nodir/x.wav", {WavErrorKind::kErrno, ENOENT}); },
       "error: cannot open the output nodir/x.wav: No such file or directory\n"},
      {WavVoice::kEnglish,
       [] { wavSayFailure(kTextWriteFailure, "o\x1b[2J.wav", {WavErrorKind::kErrno, ENOSPC}); },
       "error: cannot write the output o\\x1b[2J.wav: No space left on device\n"},
      {WavVoice::kEnglish,
       [] { wavSayFailure(kTextInputChanged, "in.wav", {WavErrorKind::kErrno, EIO}); },
       kTextInputChanged.english},
      {WavVoice::kEnglish,
       [] {
         const std::uint8_t id[4] = {0x01, 'a', '"', '\\'};
         wavSayChunk(kTextChunkLength, id, 5);
       },
       "  chunk \"\\x01a\\x22\\x5c\": 5 bytes\n"},
      {WavVoice::kJapanese,
       [] { wavSayFailure(kTextWriteFailure, "out.wav", {WavErrorKind::kErrno, ENOSPC}); },
       kTextWriteFailed.sjis},
      {WavVoice::kJapanese,
       [] { wavSayFailure(kTextHeaderReadFailure, "in.wav", {WavErrorKind::kErrno, EIO}, 7L); },
       japanese(kTextHeaderReadFailed.sjis, 7L)},
      {WavVoice::kJapanese, [] { wavSay(kTextConverted, "a\x1b", "b\xff"); },
       japanese(kTextConverted.sjis, "a\x1b", "b\xff")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EXIT(printedIs(c.voice, c.print, c.expected), testing::ExitedWithCode(0), "");
  }
}

}  // namespace
