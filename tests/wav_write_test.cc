#include "wav_write.h"

#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wav_entry.h"
#include "wav_read.h"
#include "wav_stereo.h"
#include "wav_text.h"

namespace {

// A job over the given mono samples, held in memory.
StereoJob monoJob(const std::vector<std::uint8_t> &source, std::uint16_t bits, std::uint32_t rate,
                  float delay) {
  StereoJob job;
  job.delay = delay;
  job.in.sampleRate = job.out.sampleRate = rate;
  job.in.bitsPerSample = job.out.bitsPerSample = bits;
  job.in.channels = 1;
  job.out.channels = 2;
  job.in.dataSize = static_cast<std::uint32_t>(source.size());
  job.out.dataSize = job.in.dataSize * 2;
  job.in.data = wavBufferAlloc(job.in.dataSize);
  job.window = wavBufferAlloc(kWavWindowSize);
  std::memcpy(job.in.data.get(), source.data(), source.size());
  return job;
}

// The stereo samples the window loop writes for job, into written, which has
// room for job.out's and a byte more; returns how many it wrote.
std::size_t stereoWrite(StereoJob &job, std::vector<std::uint8_t> &written) {
  written.resize(job.out.dataSize + std::size_t{1});
  std::FILE *file = fmemopen(written.data(), written.size(), "wb");
  WavSamplesReader samples;
  EXPECT_EQ(wavSamplesOpen(job.in, samples), 0);
  EXPECT_EQ(wavDataWrite(file, samples, job), 0);
  wavSamplesClose(samples);
  const long size = std::ftell(file);
  std::fclose(file);
  return static_cast<std::size_t>(size);
}

std::vector<std::uint8_t> stereoBytes(StereoJob &job) {
  std::vector<std::uint8_t> written;
  written.resize(stereoWrite(job, written));
  return written;
}

// 8-bit bytes 10..50, and 16-bit samples 0x0100, 0x8000 (-32768), 0xFFFF (-1)
// followed by one stray byte; at 1 Hz a delay in seconds is one in frames.
TEST(WavDataWrite, RightChannelIsTheSourceDelayedAndTheOddTailSilent) {
  const std::vector<std::uint8_t> bytes8 = {10, 20, 30, 40, 50};
  const std::vector<std::uint8_t> words16 = {0x00, 0x01, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
  const struct {
    std::uint16_t bits;
    float delay;
    std::vector<std::uint8_t> stereo;
  } cases[] = {
      {8, 2.0f, {10, 10, 20, 20, 30, 10, 40, 20, 50, 30}},
      {8, 0.0f, {10, 10, 20, 20, 30, 30, 40, 40, 50, 50}},
      {8, 5.0f, {10, 10, 20, 20, 30, 30, 40, 40, 50, 50}},
      {8, 1e9f, {10, 10, 20, 20, 30, 30, 40, 40, 50, 50}},
      {8, -2.0f, {10, 30, 20, 40, 30, 50, 40, 40, 50, 50}},
      {8, -5.0f, {10, 10, 20, 20, 30, 30, 40, 40, 50, 50}},
      {8, -1e9f, {10, 10, 20, 20, 30, 30, 40, 40, 50, 50}},
      {8, 2.9f, {10, 10, 20, 20, 30, 10, 40, 20, 50, 30}},
      {16, 1.0f, {0x00, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0x80, 0, 0}},
      {16, -1.0f, {0x00, 0x01, 0x00, 0x80, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
      {16, 0.0f, {0x00, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
      {16, 4.0f, {0x00, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.delay << " s");
    StereoJob job = monoJob(c.bits == 8 ? bytes8 : words16, c.bits, 1, c.delay);
    EXPECT_EQ(stereoBytes(job), c.stereo);
  }
}

TEST(WavDataWrite, DefaultDelayAt8kHzStartsTheRightChannelAtFrame239) {
  std::vector<std::uint8_t> source(1000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7);
  StereoJob job = monoJob(source, 8, 8000, 0.03f);
  const std::vector<std::uint8_t> stereo = stereoBytes(job);
  ASSERT_EQ(stereo.size(), 2 * source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    ASSERT_EQ(stereo[2 * i], source[i]) << i;
    ASSERT_EQ(stereo[2 * i + 1], source[i < 239 ? i : i - 239]) << i;
  }
}

TEST(WavHeaderWrite, WritesTheCanonicalHeaderFromTheStereoFields) {
  const struct {
    std::uint16_t bits;
    std::uint8_t bytesPerSec[4];  // of 44100 Hz stereo
    std::uint8_t blockAlign;
  } cases[] = {{8, {0x88, 0x58, 0x01, 0x00}, 2}, {16, {0x10, 0xB1, 0x02, 0x00}, 4}};
  for (const auto &c : cases) {
    WavInfo info;
    info.sampleRate = 44100;
    info.bitsPerSample = c.bits;
    info.channels = 2;
    info.dataSize = 0xFFFFFFDAu;  // the largest stereo size there can be
    info.bytesPerSec = 12345;     // as declared by the source: not carried over
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(wavHeaderWrite(file, info, info.dataSize + 36, true), 44);
    std::uint8_t header[45] = {};
    std::rewind(file);
    EXPECT_EQ(std::fread(header, 1, sizeof header, file), 44u);
    std::fclose(file);
    const std::uint8_t expected[44] = {
        'R', 'I', 'F', 'F', 0xFE, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, c.bytesPerSec[0], c.bytesPerSec[1],
        c.bytesPerSec[2], c.bytesPerSec[3], c.blockAlign, 0, static_cast<std::uint8_t>(c.bits), 0,
        'd', 'a', 't', 'a', 0xDA, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(header, expected, 44), 0) << c.bits << " bits";
  }
}

std::vector<std::uint8_t> fileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string tempPath(const char *name) {
  return testing::TempDir() + "wav_write_test_" + std::to_string(getpid()) + name;
}

// A mono file of source's samples, read back into job.in as the program
// reads it, by the name entry looks at: its samples left in the file.
void sourceFileRead(const std::string &path, const std::vector<std::uint8_t> &source,
                    StereoJob &job, WavEntry &entry) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_EQ(wavHeaderWrite(file, job.in, job.in.dataSize + 36, true), 44);
  std::fwrite(source.data(), 1, source.size(), file);
  std::fclose(file);
  job.in.data.reset();
  wavEntryClose(entry);
  ASSERT_TRUE(wavEntryLook(path.c_str(), entry));
  ASSERT_EQ(wavRead(entry, kWavAcceptsSpecified, job.in), 0);
  ASSERT_EQ(job.in.data, nullptr);
}

// A mono source of source's samples left in a file of their own after a
// header's room, noted in job.in as the reader notes a regular file's: by
// the name entry looks at, which file that is and where the samples start.
void sourceFileLeave(const std::string &path, const std::vector<std::uint8_t> &source,
                     StereoJob &job, WavEntry &entry) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  const std::uint8_t header[kWavHeaderSize] = {};
  std::fwrite(header, 1, sizeof header, file);
  std::fwrite(source.data(), 1, source.size(), file);
  std::fclose(file);
  job.in.data.reset();
  wavEntryClose(entry);
  ASSERT_TRUE(wavEntryLook(path.c_str(), entry));
  file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(wavFileIdGet(file, job.in.file.id), 0);
  std::fclose(file);
  job.in.file.entry = &entry;
  job.in.file.start = kWavHeaderSize;
}

// Sources of several windows of every width, held in memory or left in their
// file, against the frame rule written out byte by byte: frame i holds
// sample i, then sample i - d where that is a sample of the source, else
// sample i again; the source's bytes that make no whole sample (none, one, a
// sample's but one) become two zero bytes each. Delays of 0, the default
// 0.03 s at 8 kHz (239 frames), around the window's frame count (512 KiB of
// frames: 256 Ki frames at 8 bits, 128 Ki at 16, 87381 at 24, 64 Ki at 32,
// 32 Ki at 64), around the source's length, negative.
TEST(WavDataWrite, WindowsOfALongSourceOfEveryWidthFollowTheFrameRule) {
  const std::string path = tempPath(".wav");
  WavEntry entry;
  for (const std::size_t width : {1, 2, 3, 4, 8}) {
    const auto window = static_cast<std::int64_t>((std::size_t{1} << 18) / width);
    const std::int64_t n = 2 * window + window / 3;
    const struct {
      std::uint32_t rate;
      float seconds;
      std::int64_t frames;
    } delays[] = {
        {1, 0.0f, 0},
        {8000, 0.03f, 239},
        {1, static_cast<float>(window - 1), window - 1},
        {1, static_cast<float>(window), window},
        {1, static_cast<float>(window + 1), window + 1},
        {1, static_cast<float>(2 * window + 5), 2 * window + 5},
        {1, static_cast<float>(n - 1), n - 1},
        {1, static_cast<float>(n), n},
        {1, -1.0f, -1},
        {1, static_cast<float>(-window), -window},
        {1, static_cast<float>(-window - 1), -window - 1},
        {1, static_cast<float>(1 - n), 1 - n},
        {1, static_cast<float>(-n), -n},
    };
    std::vector<std::size_t> overs = {0};
    if (width > 1) overs.push_back(1);
    if (width > 2) overs.push_back(width - 1);
    for (const std::size_t over : overs) {
      std::vector<std::uint8_t> source(static_cast<std::size_t>(n) * width + over);
      for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint8_t>(i * 7 + i / 251 + 1);
      StereoJob job = monoJob(source, static_cast<std::uint16_t>(8 * width), 1, 0.0f);
      std::vector<std::uint8_t> expected(2 * source.size(), 0);
      std::vector<std::uint8_t> written;
      for (const bool inFile : {false, true}) {
        if (inFile) sourceFileLeave(path, source, job, entry);
        for (const auto &d : delays) {
          SCOPED_TRACE(testing::Message() << width << " bytes, " << over << " over, delay " << d.frames
                                          << (inFile ? ", in its file" : ", in memory"));
          for (std::int64_t i = 0; i < n; ++i) {
            const std::int64_t j = i - d.frames >= 0 && i - d.frames < n ? i - d.frames : i;
            for (std::size_t b = 0; b < width; ++b) {
              expected[2 * width * i + b] = source[width * i + b];
              expected[2 * width * i + width + b] = source[width * j + b];
            }
          }
          job.in.sampleRate = job.out.sampleRate = d.rate;
          job.delay = d.seconds;
          ASSERT_EQ(stereoWrite(job, written), expected.size());
          EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin()));
        }
      }
    }
  }
  wavEntryClose(entry);
  std::remove(path.c_str());
}

// A source left in its file that changes once it has been read: cut short
// before the writer opens it again, nothing is created; cut short while the
// result is written, the output holds the header and the one window
// converted before; rewritten at the same size (its modification time moved)
// while written, the whole result is written but the run fails. An output
// name that held nothing when it was looked at and has come to hold the
// source, through a link, is left alone.
TEST(WavWrite, SourceChangedAfterItWasReadFailsWithOnlyWhatWasConverted) {
  const std::string inPath = tempPath(".wav");
  const std::string outPath = tempPath("-out.wav");
  std::vector<std::uint8_t> source(600 << 10);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::vector<std::uint8_t> whole(2 * source.size());  // R 239 frames behind
  for (std::size_t i = 0; i < source.size(); ++i) {
    whole[2 * i] = source[i];
    whole[2 * i + 1] = source[i < 239 ? i : i - 239];
  }
  const std::string changed = kTextInputChanged.sjis;
  const std::string failed = changed + kTextDataWriteError.sjis;
  const std::string refused = outPath + std::string(kTextOutputOpenFailed.sjis).substr(2);
  enum Change { kCutBefore, kCutWhileWritten, kRewrittenWhileWritten, kOutputIsSource };
  const struct {
    Change change;
    std::string messages;
    std::size_t written;  // stereo bytes in the output
  } cases[] = {
      {kCutBefore, changed, 0},
      {kCutWhileWritten, failed, 2 << 18},  // one window: 256 Ki frames
      {kRewrittenWhileWritten, failed, whole.size()},
      {kOutputIsSource, refused, 0},
  };
  WavEntry entry;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.change);
    StereoJob job = monoJob(source, 8, 8000, 0.03f);
    sourceFileRead(inPath, source, job, entry);
    const std::vector<std::uint8_t> sourceFile = fileBytes(inPath);
    std::remove(outPath.c_str());
    WavEntry output;
    ASSERT_TRUE(wavEntryLook(outPath.c_str(), output));
    if (c.change == kOutputIsSource) {
      ASSERT_EQ(symlink(inPath.c_str(), outPath.c_str()), 0);
    }

    WavSamplesReader samples;
    if (c.change == kCutWhileWritten || c.change == kRewrittenWhileWritten) {
      ASSERT_EQ(wavSamplesOpen(job.in, samples), 0);
    }
    if (c.change == kCutBefore || c.change == kCutWhileWritten) {
      ASSERT_EQ(truncate(inPath.c_str(), 44 + (300 << 10)), 0);
    } else if (c.change == kRewrittenWhileWritten) {
      const utimbuf moved = {1000000000, 1000000000};
      ASSERT_EQ(utime(inPath.c_str(), &moved), 0);
    }
    testing::internal::CaptureStderr();
    if (samples.info) {
      EXPECT_EQ(wavOutputWrite(std::fopen(outPath.c_str(), "wb"), "out.wav", samples, job), -1);
      wavSamplesClose(samples);
    } else {
      EXPECT_EQ(wavWrite(output, job, nullptr), -1);
    }
    wavEntryClose(output);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages);
    if (c.change == kOutputIsSource) std::remove(outPath.c_str());
    const std::vector<std::uint8_t> written = fileBytes(outPath);
    ASSERT_EQ(written.size(), c.written == 0 ? 0 : 44 + c.written);
    if (c.written > 0) {
      EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + c.written, written.begin() + 44));
    }
    EXPECT_TRUE(fileBytes(inPath) == sourceFile || c.change != kOutputIsSource);
  }
  wavEntryClose(entry);
  std::remove(inPath.c_str());
  std::remove(outPath.c_str());
}

// A stream that takes every byte but fails to close, as a network disk may
// when it finally writes: the data counts as lost. The position is what the
// header check asks for.
TEST(WavOutputWrite, CloseThatFailsAfterTheFlushIsAFailedDataWrite) {
  cookie_io_functions_t io = {};
  io.write = [](void *sink, const char *bytes, std::size_t size) -> ssize_t {
    static_cast<std::string *>(sink)->append(bytes, size);
    return static_cast<ssize_t>(size);
  };
  io.seek = [](void *sink, off64_t *offset, int whence) {
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<off64_t>(static_cast<std::string *>(sink)->size());
    return 0;
  };
  io.close = [](void *) { return -1; };
  std::string sink;
  StereoJob job = monoJob({1, 2, 3}, 8, 8000, 0.0f);
  WavSamplesReader samples;
  ASSERT_EQ(wavSamplesOpen(job.in, samples), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(wavOutputWrite(fopencookie(&sink, "wb", io), "out.wav", samples, job), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string(kTextWriteFailed.sjis) + kTextDataWriteError.sjis);
  EXPECT_EQ(sink.size(), 44u + 6u);
}

// Kept chunks, held as a pipe's are, before and after the data: the result
// holds each, padded where odd, in its place; a write that fails anywhere,
// in the header, a kept chunk, the data's header, the data or a pad byte,
// is a failed data write (the header's own fails the header check).
TEST(WavOutputWrite, KeptChunksInTheirPlacesAndWritesFailingAnywhere) {
  struct Sink {
    std::string bytes;
    std::size_t room;
  };
  cookie_io_functions_t io = {};
  io.write = [](void *cookie, const char *bytes, std::size_t size) -> ssize_t {
    auto *sink = static_cast<Sink *>(cookie);
    // Nothing written: glibc takes -1 from a cookie for a count.
    if (sink->bytes.size() + size > sink->room) return 0;
    sink->bytes.append(bytes, size);
    return static_cast<ssize_t>(size);
  };
  io.seek = [](void *cookie, off64_t *offset, int whence) {
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<off64_t>(static_cast<Sink *>(cookie)->bytes.size());
    return 0;
  };
  StereoJob job = monoJob({1, 2, 3}, 8, 8000, 0.0f);
  const struct {
    const char *id;
    std::string body;
  } chunks[] = {{"LIST", "INFO"}, {"bext", "odd"}, {"cue ", "x"}};
  for (const auto &c : chunks) {
    WavKept &chunk = job.in.kept.chunk[job.in.kept.count++];
    std::memcpy(chunk.id, c.id, 4);
    chunk.length = static_cast<std::uint32_t>(c.body.size());
    chunk.padded = (chunk.length & 1u) != 0;
    chunk.held = wavBufferAlloc(chunk.length);
    std::memcpy(chunk.held.get(), c.body.data(), chunk.length);
  }
  job.in.kept.beforeData = 2;
  auto le32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); };
  const std::string body = "LIST" + le32(4) + "INFO" + "bext" + le32(3) + "odd" + '\0' + "data" +
                           le32(6) + std::string("\1\1\2\2\3\3", 6) + "cue " + le32(1) + "x" + '\0';
  const std::string header = std::string("RIFF") + le32(36 + static_cast<std::uint32_t>(body.size()) - 8) + "WAVE";
  for (std::size_t room = 0; room <= 36 + body.size(); ++room) {
    SCOPED_TRACE(room);
    Sink sink{"", room};
    std::FILE *file = fopencookie(&sink, "wb", io);
    std::setvbuf(file, nullptr, _IONBF, 0);
    WavSamplesReader samples;
    ASSERT_EQ(wavSamplesOpen(job.in, samples), 0);
    testing::internal::CaptureStderr();
    const int result = wavOutputWrite(file, "out.wav", samples, job);
    const std::string messages = testing::internal::GetCapturedStderr();
    wavSamplesClose(samples);
    if (room == 36 + body.size()) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(sink.bytes.substr(0, 12), header);
      EXPECT_EQ(sink.bytes.substr(36), body);
      continue;
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(messages, room < 36 ? std::string(kTextHeaderWriteFailed.sjis).replace(
                                        std::string(kTextHeaderWriteFailed.sjis).find("%s"), 2,
                                        "out.wav")
                                  : std::string(kTextWriteFailed.sjis) + kTextDataWriteError.sjis);
  }
}

}  // namespace
