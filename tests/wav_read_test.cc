#include "wav_read.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "wav_samples.h"

namespace {

std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string chunk(const std::string &tag, const std::string &body) {
  return tag + le32(static_cast<std::uint32_t>(body.size())) + body;
}

// A format block: tag 1, the given channels, 8000 Hz, 16000 bytes/s, bits.
std::string fmt(std::uint16_t channels = 1, std::uint16_t bits = 16, std::uint16_t tag = 1) {
  std::string s = {static_cast<char>(tag), static_cast<char>(tag >> 8),
                   static_cast<char>(channels), 0};
  s += le32(8000) + le32(16000);
  s += std::string{2, 0, static_cast<char>(bits), static_cast<char>(bits >> 8)};
  return s;
}

std::string wave(const std::string &chunks) { return "RIFF" + le32(4 + chunks.size()) + "WAVE" + chunks; }

// Reads bytes as a file through wavRead, from a file of this process's own
// that is gone again afterwards. A regular file keeps its samples: they are
// loaded from where the reader noted them, as the writer reads them.
int readBytes(const std::string &bytes, WavInfo &info) {
  const std::string path = testing::TempDir() + "wav_read_test_" + std::to_string(getpid()) + ".wav";
  std::FILE *file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  WavEntry source;
  wavEntryLook(path.c_str(), source);
  int result = wavRead(source, kWavAcceptsSpecified, info);
  if (result == 0) {
    EXPECT_EQ(info.data, nullptr);
    result = wavSamplesLoad(info, wavBufferAlloc(info.dataSize));
  }
  wavEntryClose(source);
  std::remove(path.c_str());
  return result;
}

TEST(WavRead, WalksTheChunksOfValidAndOddFiles) {
  const std::string fmt16 = chunk("fmt ", fmt());
  const std::string data4 = chunk("data", "abcd");
  const struct {
    const char *name;
    std::string bytes;
    int result;
    std::uint16_t channels;
    std::uint16_t bits;
    std::string data;
  } cases[] = {
      {"plain", wave(fmt16 + data4), 0, 1, 16, "abcd"},
      {"other chunk skipped", wave(fmt16 + chunk("LIST", "xyzw!") + data4), 0, 1, 16, "abcd"},
      {"18-byte fmt", wave(chunk("fmt ", fmt() + "\0\0") + data4), 0, 1, 16, "abcd"},
      {"data before fmt", wave(data4 + fmt16), 0, 1, 16, "abcd"},
      {"last fmt and data count", wave(data4 + fmt16 + chunk("fmt ", fmt(2, 8)) + chunk("data", "ef")),
       0, 2, 8, "ef"},
      {"trailing bytes", wave(fmt16 + data4 + "junk"), 0, 1, 16, "abcd"},
      {"length with top bit set", wave(fmt16 + data4 + "junk" + le32(0xFFFFFFF8u)), 0, 1, 16, "abcd"},
      {"fmt longer than the file", wave(data4 + "fmt " + le32(1000) + fmt()), 0, 1, 16, "abcd"},
      {"pad byte read as an id", wave(fmt16 + chunk("odd ", "x") + std::string(1, '\0') + data4), -1, 0, 0, ""},
      {"short fmt", wave(chunk("fmt ", fmt().substr(0, 14)) + data4), -1, 0, 0, ""},
      {"not PCM", wave(chunk("fmt ", fmt(1, 16, 3)) + data4), -1, 0, 0, ""},
      {"24 bits", wave(chunk("fmt ", fmt(1, 24)) + data4), -1, 0, 0, ""},
      {"data longer than the file", wave(fmt16 + "data" + le32(5) + "abcd"), -1, 0, 0, ""},
      {"data claims 4 GiB", wave(fmt16 + "data" + le32(0xFFFFFFFFu) + "abcd"), -1, 0, 0, ""},
      {"empty data", wave(fmt16 + chunk("data", "")), -1, 0, 0, ""},
      {"no fmt", wave(data4), -1, 0, 0, ""},
      {"no data", wave(fmt16), -1, 0, 0, ""},
      {"not WAVE", "RIFF" + le32(4) + "AVI " + fmt16, -1, 0, 0, ""},
      {"not RIFF", "RIFX" + le32(4) + "WAVE" + fmt16 + data4, -1, 0, 0, ""},
      {"short header", "RIFF", -1, 0, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WavInfo info;
    ASSERT_EQ(readBytes(c.bytes, info), c.result);
    if (c.result != 0) {
      EXPECT_EQ(info.data, nullptr);
      continue;
    }
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_EQ(info.bitsPerSample, c.bits);
    EXPECT_EQ(info.sampleRate, 8000u);
    EXPECT_EQ(info.bytesPerSec, 16000u);
    ASSERT_EQ(info.dataSize, c.data.size());
    EXPECT_EQ(std::memcmp(info.data.get(), c.data.data(), c.data.size()), 0);
  }
}

// Cut short at any length, a file reads whole or fails with no data held.
TEST(WavRead, FileCutAtEveryLengthFailsCleanlyUntilItsDataIsWhole) {
  const std::string whole =
      wave(chunk("LIST", "info") + chunk("fmt ", fmt()) + chunk("data", "0123456789") + chunk("tail", "...."));
  const std::size_t dataEnd = whole.size() - 12;
  for (std::size_t size = 0; size < whole.size(); ++size) {
    SCOPED_TRACE(size);
    WavInfo info;
    const int result = readBytes(whole.substr(0, size), info);
    EXPECT_EQ(result, size >= dataEnd ? 0 : -1);
    EXPECT_EQ(info.data == nullptr, result != 0);
  }
}

}  // namespace
