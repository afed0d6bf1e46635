#include "wav_read.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "wav_kept.h"
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
int readBytes(const std::string &bytes, WavInfo &info,
              const WavAccepts &accepts = kWavAcceptsSpecified) {
  const std::string path = testing::TempDir() + "wav_read_test_" + std::to_string(getpid()) + ".wav";
  std::FILE *file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  WavEntry source;
  wavEntryLook(path.c_str(), source);
  int result = wavRead(source, accepts, info);
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

// An extensible format block of the given container and valid bits and a
// SubFormat of the given tag.
std::string extensible(std::uint16_t bits, std::uint16_t valid, std::uint16_t sub,
                       std::uint16_t cbSize = 22) {
  std::string s = fmt(1, bits, 0xFFFE);
  s += std::string{static_cast<char>(cbSize), 0, static_cast<char>(valid), 0, 4, 0, 0, 0};
  s += std::string{static_cast<char>(sub), 0, 0, 0, 0, 0, 0x10, 0};
  s += std::string{static_cast<char>(0x80), 0, 0, static_cast<char>(0xAA), 0, 0x38,
                   static_cast<char>(0x9B), 0x71};
  return s;
}

// The wider reading: the same walk with pad bytes skipped, the other
// chunks kept in order, a cut-short "data" chunk read to the end, the wider
// formats taken.
TEST(WavRead, WideReadingKeepsChunksSkipsPadsAndTakesMoreFormats) {
  const std::string fmt16 = chunk("fmt ", fmt());
  const std::string data4 = chunk("data", "abcd");
  const struct {
    const char *name;
    std::string bytes;
    int result;
    std::uint16_t tag;
    std::uint16_t bits;
    std::string data;
    std::string kept;       // ids of the kept runs' first chunks, in order
    std::size_t beforeData;
  } cases[] = {
      {"plain", wave(fmt16 + data4), 0, 1, 16, "abcd", "", 0},
      {"pad skipped", wave(fmt16 + chunk("odd ", "x") + std::string(1, '\0') + data4), 0, 1, 16,
       "abcd", "odd ", 1},
      {"pad left out", wave(fmt16 + chunk("odd ", "x") + data4), 0, 1, 16, "abcd", "odd ", 1},
      {"chunks one after another, one run", wave(fmt16 + chunk("LIST", "ab") + chunk("odd ", "x") +
       std::string(1, '\0') + chunk("bext", "") + data4), 0, 1, 16, "abcd", "LIST", 1},
      {"a pad left out ends a run", wave(fmt16 + chunk("odd ", "x") + chunk("bext", "") + data4), 0, 1,
       16, "abcd", "odd bext", 2},
      {"odd data padded", wave(fmt16 + chunk("data", "abc") + std::string(1, '\0') + chunk("LIST", "")),
       0, 1, 16, "abc", "LIST", 0},
      {"fact not kept", wave(fmt16 + chunk("fact", "abcd") + data4 + chunk("cue ", "")), 0, 1, 16,
       "abcd", "cue ", 0},
      {"last data counts", wave(chunk("bext", "") + data4 + fmt16 + chunk("iXML", "") + chunk("data", "ef")),
       0, 1, 16, "ef", "bextiXML", 2},
      {"chunk past the end not kept", wave(fmt16 + data4 + chunk("LIST", "") + "smpl" + le32(9) + "abc"),
       0, 1, 16, "abcd", "LIST", 0},
      {"data cut short", wave(fmt16 + "data" + le32(0xFFFFFFFFu) + "abcde"), 0, 1, 16, "abcde", "", 0},
      {"24 bits", wave(chunk("fmt ", fmt(1, 24)) + data4), 0, 1, 24, "abcd", "", 0},
      {"float", wave(chunk("fmt ", fmt(1, 64, 3) + std::string(2, '\0')) + data4), 0, 3, 64, "abcd", "", 0},
      {"µ-law", wave(chunk("fmt ", fmt(1, 8, 7)) + data4), 0, 7, 8, "abcd", "", 0},
      {"extensible float", wave(chunk("fmt ", extensible(32, 32, 3)) + data4), 0, 0xFFFE, 32, "abcd", "", 0},
      {"extensible, cbSize 20", wave(chunk("fmt ", extensible(16, 16, 1, 20)) + data4), -1, 0, 0, "", "", 0},
      {"extensible, 17 valid bits of 16", wave(chunk("fmt ", extensible(16, 17, 1)) + data4), -1, 0, 0, "", "", 0},
      {"extensible, SubFormat A-law", wave(chunk("fmt ", extensible(8, 8, 6)) + data4), -1, 0, 0, "", "", 0},
      {"extensible cut short", wave(data4 + "fmt " + le32(40) + extensible(16, 16, 1).substr(0, 30)), -1,
       0, 0, "", "", 0},
      {"A-law of 16 bits", wave(chunk("fmt ", fmt(1, 16, 6)) + data4), -1, 0, 0, "", "", 0},
      {"RF64", "RF64" + le32(0xFFFFFFFFu) + "WAVE" + fmt16 + data4, -1, 0, 0, "", "", 0},
      {"data header at the end", wave(fmt16 + "data" + le32(4)), -1, 0, 0, "", "", 0},
      {"pad byte ends the file", wave(fmt16 + data4 + chunk("odd ", "x")), 0, 1, 16, "abcd", "odd ", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WavInfo info;
    ASSERT_EQ(readBytes(c.bytes, info, kWavAcceptsWide), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(info.formatTag, c.tag);
    EXPECT_EQ(info.bitsPerSample, c.bits);
    ASSERT_EQ(info.dataSize, c.data.size());
    EXPECT_EQ(std::memcmp(info.data.get(), c.data.data(), c.data.size()), 0);
    std::string ids;
    for (std::size_t i = 0; i < info.kept.count; ++i)
      ids.append(reinterpret_cast<const char *>(info.kept.chunk[i].id), 4);
    EXPECT_EQ(ids, c.kept);
    EXPECT_EQ(info.kept.beforeData, c.beforeData);
    // What wavwiden reads too, it reads into the same samples.
    WavInfo specified;
    if (readBytes(c.bytes, specified) == 0) {
      ASSERT_EQ(specified.dataSize, info.dataSize);
      EXPECT_EQ(std::memcmp(specified.data.get(), info.data.get(), info.dataSize), 0);
    }
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
