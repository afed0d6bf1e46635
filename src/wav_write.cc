#include "wav_write.h"

#include <algorithm>
#include <cstring>

#include "wav_bytes.h"
#include "wav_console.h"
#include "wav_entry.h"
#include "wav_file.h"
#include "wav_format.h"
#include "wav_kept.h"
#include "wav_stereo.h"
#include "wav_text.h"

namespace {

// Writes size bytes to path's file; 0, or -1 after printing that they did
// not get out, and why.
int bytesWrite(std::FILE *file, const char *path, const void *bytes, std::size_t size) {
  if (size == 0 || std::fwrite(bytes, size, 1, file) == 1) return 0;
  wavSayFailure(kTextWriteFailure, path, wavErrnoGet());
  return -1;
}

// The data counts as written only once stdio has handed it to the system:
// a full disk may otherwise only show at the close. 0, or -1 after printing
// that it did not get out, and why.
int flushed(std::FILE *file, const char *path) {
  if (std::fflush(file) == 0) return 0;
  wavSayFailure(kTextWriteFailure, path, wavErrnoGet());
  return -1;
}

// The samples as the window loop takes them: width bytes each (1 to 8), and
// the byte that silence is made of, for the bytes of a source that make no
// whole sample.
struct SampleShape {
  std::size_t width;
  std::uint8_t silence;
};

// The one place they follow from the job's format.
SampleShape sampleShape(const StereoJob &job) {
  return {wavSampleWidth(job.in), wavSilenceByte(job.in)};
}

// The result a window at a time. The window's stereo frames take the first
// half of job.window and its source samples, where they must be read, the
// second: room for twice its frames, enough for both the frames it starts
// from and the delayed ones when the delay is shorter than a window, which is
// then one read. Stereo windows this small stay in the caches until they are
// written out.
int windowsWrite(std::FILE *file, const char *path, WavSamplesReader &samples,
                 const StereoJob &job, SampleShape shape) {
  const std::size_t width = shape.width;
  const std::size_t windowFrames = kWavWindowSize / 2 / (2 * width);
  const std::size_t frames = job.in.dataSize / width;
  const std::int32_t delay = wavDelayFrames(job.in.sampleRate, job.delay);
  const WavDelayedRange delayed = wavDelayedRange(frames, delay);
  std::uint8_t *stereo = job.window.get();
  std::uint8_t *scratch = stereo + kWavWindowSize / 2;
  // Source frames [from, to): bytes points at them where they are held, else
  // they are read into room. 0 or -1 after printing why.
  auto framesRead = [&](std::size_t from, std::size_t to, std::uint8_t *room,
                        const std::uint8_t *&bytes) {
    return wavSamplesRead(samples, from * width, (to - from) * width, room, bytes);
  };
  for (std::size_t first = 0; first < frames; first += windowFrames) {
    const std::size_t last = std::min(first + windowFrames, frames);
    const std::size_t begin = std::clamp(delayed.begin, first, last);
    const std::size_t end = std::clamp(delayed.end, first, last);
    // Source frames [from, to) carry the right samples of [begin, end).
    const std::size_t from =
        begin == end ? first : static_cast<std::size_t>(static_cast<std::int64_t>(begin) - delay);
    const std::size_t to = from + (end - begin);
    const std::size_t low = std::min(first, from);
    const std::size_t high = std::max(last, to);
    const std::uint8_t *left = nullptr;
    const std::uint8_t *right = nullptr;
    if (high - low <= 2 * windowFrames) {
      const std::uint8_t *both = nullptr;
      if (framesRead(low, high, scratch, both) != 0) return -1;
      left = both + (first - low) * width;
      right = both + (from - low) * width;
    } else if (framesRead(first, last, scratch, left) != 0 ||
               framesRead(from, to, scratch + windowFrames * width, right) != 0) {
      return -1;
    }
    const WavDelayedRange window = {begin - first, end - first};
    wavStereo(width, left, right, stereo, last - first, window);
    if (bytesWrite(file, path, stereo, 2 * (last - first) * width) != 0) return -1;
  }
  // The source's last bytes that make no whole sample become two bytes of
  // silence each after the last frame, as a 16-bit source of odd length has
  // its last byte made two zero bytes.
  std::uint8_t silence[2 * 7];
  std::memset(silence, shape.silence, sizeof silence);
  return bytesWrite(file, path, silence, 2 * (job.in.dataSize - frames * width));
}

// The file the result goes to: the one the output's name held when the run
// started, or a new one where it held none. It is opened without truncation;
// a regular file is then truncated through the stream, a device, a pipe or
// standard output (written where it stands, as a shell's >> asks) is left as
// it is.
std::FILE *outputOpen(const WavEntry &output) {
  std::FILE *file = wavEntryWriteOpen(output);
  WavFileId id;
  if (file && (output.stream >= 0 || wavFileIdGet(file, id) != 0 || wavFileTruncate(file) == 0))
    return file;
  const WavError error = file ? wavErrnoGet() : wavEntryOpenError();
  wavSayFailure(kTextOutputOpenFailure, output.path, error, output.path);
  if (file) std::fclose(file);
  return nullptr;
}

}  // namespace

std::uint64_t wavResultSize(const WavInfo &source) {
  std::uint8_t chunks[kWavFormatChunksMax];
  return wavFormatChunksEncode(source, 0, chunks) + 8 + 2 * std::uint64_t{source.dataSize} +
         wavKeptSize(source.kept, 0, source.kept.count);
}

std::int64_t wavHeaderWrite(std::FILE *file, const WavInfo &info, std::uint32_t riffSize,
                            bool withData) {
  // For PCM the canonical header, little-endian:
  //
  //    0 "RIFF"   4 riffSize       8 "WAVE"   12 "fmt "   16 16
  //   20 1 (PCM) 22 channels       24 sampleRate           28 bytes per second
  //   32 block alignment  34 bitsPerSample  36 "data"      40 dataSize
  //
  // The bytes per second and the block alignment follow from the other
  // fields; what the source declared is not carried over.
  std::uint8_t header[kWavFormatChunksMax + 8];
  std::size_t size = wavFormatChunksEncode(info, riffSize, header);
  if (withData) {
    wavTagEncode(header + size, "data");
    wavLe32Encode(header + size + 4, info.dataSize);
    size += 8;
  }
  // Only the position tells whether the header is in place; a stream without
  // one (a pipe) fails here.
  std::fwrite(header, size, 1, file);
  return wavFileTell(file);
}

int wavDataWrite(std::FILE *file, WavSamplesReader &samples, StereoJob &job, const char *path) {
  const int result = windowsWrite(file, path, samples, job, sampleShape(job));
  if (result != 0 || wavSamplesCheck(samples) != 0) return -1;
  return flushed(file, path);
}

// The header is one block where no kept chunk comes before the data, as
// the canonical header is.
int wavOutputWrite(std::FILE *file, const char *path, WavSamplesReader &samples, StereoJob &job,
                   bool onePass) {
  const WavKeptChunks &kept = job.in.kept;
  const bool withData = kept.beforeData == 0;
  std::uint8_t chunks[kWavFormatChunksMax];
  const std::int64_t headerSize =
      static_cast<std::int64_t>(wavFormatChunksEncode(job.out, 0, chunks)) + (withData ? 8 : 0);
  const auto riffSize = static_cast<std::uint32_t>(wavResultSize(job.in) - 8);
  const std::int64_t end = wavHeaderWrite(file, job.out, riffSize, withData);
  const WavError error = wavErrnoGet();
  if (onePass ? std::ferror(file) != 0 : end != headerSize) {
    wavSayFailure(kTextHeaderWriteFailure, path, error, path);
    std::fclose(file);
    return -1;
  }
  std::uint8_t dataHeader[8];
  wavTagEncode(dataHeader, "data");
  wavLe32Encode(dataHeader + 4, job.out.dataSize);
  if ((!withData && (wavKeptWrite(file, path, samples, 0, kept.beforeData, job.window.get(),
                                  kWavWindowSize) != 0 ||
                     bytesWrite(file, path, dataHeader, sizeof dataHeader) != 0)) ||
      wavDataWrite(file, samples, job, path) != 0 ||
      (kept.count > kept.beforeData &&
       (wavKeptWrite(file, path, samples, kept.beforeData, kept.count, job.window.get(),
                     kWavWindowSize) != 0 ||
        flushed(file, path) != 0))) {
    wavSay(kTextDataWriteError);
    std::fclose(file);
    return -1;
  }
  if (std::fclose(file) != 0) {
    wavSayFailure(kTextWriteFailure, path, wavErrnoGet());
    wavSay(kTextDataWriteError);
    return -1;
  }
  return 0;
}

// The source's samples are opened first, so that a source changed since it
// was read leaves no output behind.
int wavWrite(const WavEntry &output, StereoJob &job, std::FILE *into, bool onePass) {
  WavSamplesReader samples;
  std::FILE *file = nullptr;
  int result = -1;
  if (wavSamplesOpen(job.in, samples) == 0 && (file = into ? into : outputOpen(output)))
    result = wavOutputWrite(file, output.path, samples, job, onePass);
  else if (into)
    std::fclose(into);
  wavSamplesClose(samples);
  return result;
}
