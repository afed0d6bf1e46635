#include "wav_samples.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A stream holding size bytes that differ from their neighbours.
std::FILE *streamOf(std::size_t size, std::vector<std::uint8_t> &bytes) {
  bytes.resize(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::FILE *file = std::tmpfile();
  if (size > 0) std::fwrite(bytes.data(), 1, size, file);
  std::rewind(file);
  return file;
}

// Bytes held as they arrive: all the chunk declares, or what the stream has
// before its end, across the held buffer's growth; more than the limit
// refused as soon as it has come.
TEST(WavBytesHold, HoldsWhatArrivesUpToTheLimit) {
  constexpr std::uint32_t kMiB = 1u << 20;
  const struct {
    const char *name;
    std::size_t streamSize;
    std::uint32_t length;
    std::uint32_t limit;
    int result;
    std::uint32_t got;
  } cases[] = {
      {"all declared", 100, 60, 1000, 0, 60},
      {"stream ends first", 100, 0xFFFFFFFFu, 0xFFFFFFFEu, 0, 100},
      {"growing past the first room", 3 * kMiB + 5, 0xFFFFFFFFu, 0xFFFFFFFEu, 0, 3 * kMiB + 5},
      {"declared, across growth", 3 * kMiB + 5, 2 * kMiB + 1, 0xFFFFFFFEu, 0, 2 * kMiB + 1},
      {"exactly the limit", 100, 0xFFFFFFFFu, 100, 0, 100},
      {"one past the limit", 101, 0xFFFFFFFFu, 100, -1, 101},
      {"far past the limit", 3 * kMiB, 0xFFFFFFFFu, kMiB, -1, kMiB + 1},
      {"empty stream", 0, 10, 100, 0, 0},
  };
  for (const auto &c : cases) {
    for (const bool atItsWord : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (atItsWord ? ", at its word" : ", grown"));
      std::vector<std::uint8_t> bytes;
      std::FILE *file = streamOf(c.streamSize, bytes);
      WavBuffer held;
      std::uint32_t got = 0;
      EXPECT_EQ(wavBytesHold(file, c.length, c.limit, atItsWord, held, got), c.result);
      std::fclose(file);
      EXPECT_EQ(got, c.got);
      if (c.result != 0) {
        EXPECT_EQ(held, nullptr);
      } else if (got > 0) {
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(std::memcmp(held.get(), bytes.data(), got), 0);
      }
    }
  }
}

}  // namespace
