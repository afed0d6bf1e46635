#include "wav_write.h"

#include <unistd.h>
#include <utime.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wav_entry.h"
#include "wav_read.h"
#include "wav_stereo.h"
#include "wav_text.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(WavDelayFrames, ExactProductTruncatedTowardZeroAndSaturated) {
  const struct {
    std::uint32_t rate;
    float delay;
    std::int32_t frames;
  } cases[] = {
      // 0.03 is 0.0299999993 as a float: one frame short of 30 ms.
      {8000, 0.03f, 239},
      {44100, 0.03f, 1322},
      {48000, 0.03f, 1439},
      {22050, 0.03f, 661},
      {8000, -0.01f, -79},
      {8000, 0.0f, 0},
      {8000, -0.0f, 0},
      {0, 1.0f, 0},
      {0, kInf, 0},
      {3, 1e-30f, 0},
      {3, -1e-30f, 0},
      // Needs 56 bits: in double the product rounds up to 1077936256.
      {2155872255u, 0x1.000002p-1f, 1077936255},
      {1, 2147483520.0f, 2147483520},
      {1, 2147483648.0f, kMax},
      {1, -2147483648.0f, kMin},
      {1, -2147483904.0f, kMin},
      {0xFFFFFFFFu, 1.0f, kMax},
      {0xFFFFFFFFu, -1.0f, kMin},
      {8000, 3e38f, kMax},
      {8000, kInf, kMax},
      {8000, -kInf, kMin},
      {8000, std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.delay << " s");
    EXPECT_EQ(wavDelayFrames(c.rate, c.delay), c.frames);
  }
}

// The frames that carry a delayed sample lie inside the source whatever the
// delay: none where it is as long as the source or longer, either way.
TEST(WavDelayedRange, ClampedToTheSource) {
  const struct {
    std::size_t frames;
    std::int32_t delay;
    std::size_t begin;
    std::size_t end;
  } cases[] = {
      {10, 0, 0, 10},  {10, 3, 3, 10},  {10, -3, 0, 7},    {10, 9, 9, 10}, {10, 10, 10, 10},
      {10, 11, 10, 10}, {10, kMax, 10, 10}, {10, -10, 0, 0}, {10, -11, 0, 0}, {10, kMin, 0, 0},
      {0, 5, 0, 0},    {0, -5, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames, delay " << c.delay);
    const WavDelayedRange range = wavDelayedRange(c.frames, c.delay);
    EXPECT_EQ(range.begin, c.begin);
    EXPECT_EQ(range.end, c.end);
  }
}

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

std::vector<std::uint8_t> fileBytes(std::FILE *file) {
  std::vector<std::uint8_t> bytes;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
  return bytes;
}

// The stereo samples the window loop writes for job.
std::vector<std::uint8_t> stereoBytes(StereoJob &job) {
  std::FILE *file = std::tmpfile();
  WavSamplesReader samples;
  EXPECT_EQ(wavSamplesOpen(job.in, samples), 0);
  EXPECT_EQ(wavDataWrite(file, samples, job), 0);
  wavSamplesClose(samples);
  std::vector<std::uint8_t> bytes = fileBytes(file);
  std::fclose(file);
  return bytes;
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
    EXPECT_EQ(wavHeaderWrite(file, info), 44);
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
  ASSERT_EQ(wavHeaderWrite(file, job.in), 44);
  std::fwrite(source.data(), 1, source.size(), file);
  std::fclose(file);
  job.in.data.reset();
  wavEntryClose(entry);
  ASSERT_TRUE(wavEntryLook(path.c_str(), entry));
  ASSERT_EQ(wavRead(entry, job.in), 0);
  ASSERT_EQ(job.in.data, nullptr);
}

// Sources of several windows, held in memory or left in their file, against
// a plain loop over every frame: delays around the window's frame count
// (256 Ki at 8 bits, 128 Ki at 16), around the source's length, negative.
TEST(WavDataWrite, WindowsOfALongSourceMatchAPlainLoopForEveryDelay) {
  const std::string path = tempPath(".wav");
  WavEntry entry;
  for (const std::uint16_t bits : {8, 16}) {
    const std::int64_t window = (std::int64_t{1} << 18) / (bits / 8);
    const std::int64_t n = 2 * window + window / 3;
    std::vector<std::uint8_t> source(static_cast<std::size_t>(n * (bits / 8) + bits / 16));
    for (std::size_t i = 0; i < source.size(); ++i)
      source[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const std::int64_t delays[] = {239,     window - 1, window,      window + 1, 2 * window + 5, n - 1,
                                   n,       -1,         -window,     -window - 1, 1 - n,         -n};
    for (const std::int64_t delay : delays) {
      for (const bool inFile : {false, true}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, delay " << delay
                                        << (inFile ? ", in its file" : ", in memory"));
        StereoJob job = monoJob(source, bits, 1, static_cast<float>(delay));
        if (inFile) sourceFileRead(path, source, job, entry);
        std::vector<std::uint8_t> expected;
        const std::size_t width = bits / 8;
        for (std::int64_t i = 0; i < n; ++i) {
          const std::int64_t j = i - delay >= 0 && i - delay < n ? i - delay : i;
          for (const std::int64_t frame : {i, j})
            expected.insert(expected.end(), source.begin() + frame * width,
                            source.begin() + (frame + 1) * width);
        }
        expected.resize(2 * source.size(), 0);
        EXPECT_TRUE(stereoBytes(job) == expected);
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

}  // namespace
