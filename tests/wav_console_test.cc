#include "wav_console.h"

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

}  // namespace
