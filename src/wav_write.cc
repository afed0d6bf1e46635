#include "wav_write.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "wav_bytes.h"
#include "wav_console.h"
#include "wav_file.h"
#include "wav_read.h"
#include "wav_text.h"

namespace {

constexpr std::size_t kHeaderSize = 44;

// Frames i of [0, n) whose right sample comes from source frame i - d; the
// others, with i - d outside the source, repeat the left sample.
struct DelayedRange {
  std::size_t begin;
  std::size_t end;
};

DelayedRange delayedRange(std::size_t frames, std::int32_t delay) {
  const std::int64_t n = static_cast<std::int64_t>(frames);
  std::int64_t begin = delay > 0 ? delay : 0;
  std::int64_t end = delay < 0 ? n + delay : n;
  if (begin > n) begin = n;
  if (end < begin) end = begin;
  return {static_cast<std::size_t>(begin), static_cast<std::size_t>(end)};
}

// Frames i of [begin, end) get left[i] as their left sample and right[i] as
// their right one.
template <typename Sample>
void framesCopy(const Sample *left, const Sample *right, Sample *stereo, std::size_t begin,
                std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    stereo[2 * i] = left[i];
    stereo[2 * i + 1] = right[i];
  }
}

#ifdef __SSE2__
// framesCopy over [begin, end), a whole number of steps of 16 bytes of each
// channel that give 32 bytes of frames. g++ does not vectorize the plain loop
// at -O2, so on x86 it is written out. Streaming stores bypass the caches and
// so skip reading each line before it is written; they need 16-byte aligned
// frames.
template <bool kStream, typename Sample>
void framesInterleaveWide(const Sample *left, const Sample *right, Sample *stereo,
                          std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; i += 16 / sizeof(Sample)) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + i));
    __m128i low;
    __m128i high;
    if constexpr (sizeof(Sample) == 1) {
      low = _mm_unpacklo_epi8(l, r);
      high = _mm_unpackhi_epi8(l, r);
    } else {
      low = _mm_unpacklo_epi16(l, r);
      high = _mm_unpackhi_epi16(l, r);
    }
    auto *out = reinterpret_cast<__m128i *>(stereo + 2 * i);
    if constexpr (kStream) {
      _mm_stream_si128(out, low);
      _mm_stream_si128(out + 1, high);
    } else {
      _mm_storeu_si128(out, low);
      _mm_storeu_si128(out + 1, high);
    }
  }
  if constexpr (kStream) _mm_sfence();
}
#endif

// framesCopy over [0, frames), around the caches when stream is set.
template <typename Sample>
void framesInterleave(const Sample *left, const Sample *right, Sample *stereo, std::size_t frames,
                      bool stream) {
  std::size_t i = 0;
#ifdef __SSE2__
  // The wide stores start on a 16-byte boundary: a store across one costs up
  // to three times as much.
  std::size_t head = (0 - reinterpret_cast<std::uintptr_t>(stereo)) % 16 / (2 * sizeof(Sample));
  if (head > frames) head = frames;
  framesCopy(left, right, stereo, 0, head);
  constexpr std::size_t kStep = 16 / sizeof(Sample);
  i = head + (frames - head) / kStep * kStep;
  if (stream && reinterpret_cast<std::uintptr_t>(stereo + 2 * head) % 16 == 0)
    framesInterleaveWide<true>(left, right, stereo, head, i);
  else
    framesInterleaveWide<false>(left, right, stereo, head, i);
#else
  (void)stream;
#endif
  framesCopy(left, right, stereo, i, frames);
}

// An output this large would not stay in the caches until it is written out
// anyway, so it is written around them.
constexpr std::size_t kStreamBytes = std::size_t{16} << 20;

// count frames of the result into stereo. left holds their source frames,
// right the source frames that the delayed ones among them, delayed counted
// from the first of them, carry on the right. The frames before the delayed
// range and after it repeat the left sample; inside it the right sample is
// the source d frames earlier. Each range is one loop without a branch.
template <typename Sample>
void stereoFill(const Sample *left, const Sample *right, Sample *stereo, std::size_t count,
                DelayedRange delayed, bool stream) {
  framesInterleave(left, left, stereo, delayed.begin, stream);
  framesInterleave(left + delayed.begin, right, stereo + 2 * delayed.begin,
                   delayed.end - delayed.begin, stream);
  framesInterleave(left + delayed.end, left + delayed.end, stereo + 2 * delayed.end,
                   count - delayed.end, stream);
}

// The whole result from the whole source, both in memory.
template <typename Sample>
void stereoWholeFill(const Sample *source, Sample *stereo, std::size_t frames, std::int32_t delay) {
  const DelayedRange delayed = delayedRange(frames, delay);
  const Sample *right = source;
  if (delayed.end > delayed.begin)
    right += static_cast<std::size_t>(static_cast<std::int64_t>(delayed.begin) - delay);
  stereoFill(source, right, stereo, frames, delayed, frames >= kStreamBytes / (2 * sizeof(Sample)));
}

// Writes size bytes; 0, or -1 after printing that they did not get out.
int bytesWrite(std::FILE *file, const void *bytes, std::size_t size) {
  if (size == 0 || std::fwrite(bytes, size, 1, file) == 1) return 0;
  wavErrPrint("%s", kTextWriteFailed.sjis);
  return -1;
}

// Reads source frames [first, last) into samples; 0 or -1 after printing why.
template <typename Sample>
int framesRead(std::FILE *source, const WavInfo &in, std::size_t first, std::size_t last,
               Sample *samples) {
  return wavSamplesRead(source, in, first * sizeof(Sample), (last - first) * sizeof(Sample),
                        reinterpret_cast<std::uint8_t *>(samples));
}

// The result of a source left in its file, a window at a time: the window's
// source frames are read, interleaved and written out. The window's stereo
// frames take the first half of job.window and its source samples the
// second, room for twice its frames: enough for both the frames it starts
// from and the delayed ones when the delay is shorter than a window, which is
// then one read. Stereo windows this small stay in the caches, where plain
// stores beat streaming ones.
template <typename Sample>
int windowsWrite(std::FILE *file, std::FILE *source, StereoJob &job) {
  constexpr std::size_t kFrames = kWavWindowSize / 2 / (2 * sizeof(Sample));
  const std::size_t frames = job.in.dataSize / sizeof(Sample);
  const std::int32_t delay = wavDelayFrames(job.in.sampleRate, job.delay);
  const DelayedRange delayed = delayedRange(frames, delay);
  auto *stereo = reinterpret_cast<Sample *>(job.window.get());
  Sample *samples = stereo + 2 * kFrames;
  for (std::size_t first = 0; first < frames; first += kFrames) {
    const std::size_t last = std::min(first + kFrames, frames);
    const std::size_t begin = std::clamp(delayed.begin, first, last);
    const std::size_t end = std::clamp(delayed.end, first, last);
    // Source frames [from, to) carry the right samples of [begin, end).
    const std::size_t from =
        begin == end ? first : static_cast<std::size_t>(static_cast<std::int64_t>(begin) - delay);
    const std::size_t to = from + (end - begin);
    const std::size_t low = std::min(first, from);
    const std::size_t high = std::max(last, to);
    const Sample *left = samples;
    const Sample *right = samples;
    if (high - low <= 2 * kFrames) {
      if (framesRead(source, job.in, low, high, samples) != 0) return -1;
      left = samples + (first - low);
      right = samples + (from - low);
    } else {
      if (framesRead(source, job.in, first, last, samples) != 0 ||
          framesRead(source, job.in, from, to, samples + kFrames) != 0)
        return -1;
      right = samples + kFrames;
    }
    stereoFill(left, right, stereo, last - first, {begin - first, end - first}, false);
    if (bytesWrite(file, stereo, 2 * (last - first) * sizeof(Sample)) != 0) return -1;
  }
  // A source of odd length leaves its last byte unused; silence follows.
  const std::uint8_t silence[2] = {};
  return bytesWrite(file, silence, job.out.dataSize - 2 * frames * sizeof(Sample));
}

// The stream the result goes to: path created afresh or, converting a file
// into itself, the new file beside it, once path opens for writing as
// writing over it would need.
std::FILE *outputOpen(const char *path, WavReplace &replace) {
  if (!replace.file) return std::fopen(path, "wb");
  std::FILE *probe = std::fopen(path, "r+b");
  if (!probe) return nullptr;
  std::fclose(probe);
  return std::exchange(replace.file, nullptr);
}

}  // namespace

std::int32_t wavDelayFrames(std::uint32_t sampleRate, float delay) {
  if (std::isnan(delay) || sampleRate == 0 || delay == 0.0f) return 0;
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const bool negative = delay < 0;
  if (std::isinf(delay)) return negative ? -kMax - 1 : kMax;

  // delay = significand × 2^shift with a 24-bit integer significand, so the
  // product is rate × significand, exact in 64 bits, scaled by 2^shift.
  int exponent = 0;
  const float fraction = std::frexp(std::fabs(delay), &exponent);
  const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 24));
  const int shift = exponent - 24;
  const std::uint64_t product = std::uint64_t{sampleRate} * significand;
  const std::uint64_t limit = negative ? std::uint64_t{kMax} + 1 : std::uint64_t{kMax};

  std::uint64_t frames;
  if (shift >= 0) {
    if (shift >= 32 || product > (limit >> shift)) return negative ? -kMax - 1 : kMax;
    frames = product << shift;
  } else {
    frames = -shift >= 64 ? 0 : product >> -shift;
    if (frames > limit) frames = limit;
  }
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(frames))
                  : static_cast<std::int32_t>(frames);
}

int wavStereo8(StereoJob &job) {
  const std::int32_t delay = wavDelayFrames(job.in.sampleRate, job.delay);
  stereoWholeFill(job.in.data.get(), job.out.data.get(), job.in.dataSize, delay);
  return 0;
}

// 16-bit samples are copied as whole words, so their little-endian bytes stay
// as they are. The sample buffers are byte arrays from the allocator, aligned
// for any word and free to hold words. A source of odd length leaves its last
// byte unused and the two bytes after the last frame are silence.
int wavStereo16(StereoJob &job) {
  const std::int32_t delay = wavDelayFrames(job.in.sampleRate, job.delay);
  const std::size_t frames = job.in.dataSize / 2;
  stereoWholeFill(reinterpret_cast<const std::uint16_t *>(job.in.data.get()),
                  reinterpret_cast<std::uint16_t *>(job.out.data.get()), frames, delay);
  if (job.in.dataSize % 2 != 0) std::memset(job.out.data.get() + 4 * frames, 0, 2);
  return 0;
}

std::int64_t wavHeaderWrite(std::FILE *file, const WavInfo &info) {
  // The canonical header, little-endian:
  //
  //    0 "RIFF"   4 dataSize + 36   8 "WAVE"   12 "fmt "   16 16
  //   20 1 (PCM) 22 channels       24 sampleRate           28 bytes per second
  //   32 block alignment  34 bitsPerSample  36 "data"      40 dataSize
  //
  // The bytes per second and the block alignment follow from the other
  // fields; what the source declared is not carried over.
  const std::uint32_t bytesPerSample = info.bitsPerSample / 8u;
  std::uint8_t header[kHeaderSize];
  std::memcpy(header, "RIFF", 4);
  wavLe32Encode(header + 4, info.dataSize + 36);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  wavLe32Encode(header + 16, 16);
  wavLe16Encode(header + 20, 1);
  wavLe16Encode(header + 22, info.channels);
  wavLe32Encode(header + 24, info.sampleRate);
  wavLe32Encode(header + 28, bytesPerSample * info.channels * info.sampleRate);
  wavLe16Encode(header + 32, static_cast<std::uint16_t>(bytesPerSample * info.channels));
  wavLe16Encode(header + 34, info.bitsPerSample);
  std::memcpy(header + 36, "data", 4);
  wavLe32Encode(header + 40, info.dataSize);
  // Only the position tells whether the header is in place; a stream without
  // one (a pipe) fails here.
  std::fwrite(header, sizeof header, 1, file);
  return wavFileTell(file);
}

int wavDataWrite(std::FILE *file, std::FILE *source, StereoJob &job) {
  const bool narrow = job.out.bitsPerSample == 8;
  int result;
  if (job.in.data) {
    result = narrow ? wavStereo8(job) : wavStereo16(job);
    if (result == 0) result = bytesWrite(file, job.out.data.get(), job.out.dataSize);
  } else {
    result = narrow ? windowsWrite<std::uint8_t>(file, source, job)
                    : windowsWrite<std::uint16_t>(file, source, job);
  }
  if (result != 0) return -1;
  // The data counts as written only once stdio has handed it to the system:
  // a full disk may otherwise only show at the close.
  if (std::fflush(file) != 0) {
    wavErrPrint("%s", kTextWriteFailed.sjis);
    return -1;
  }
  return 0;
}

int wavOutputWrite(std::FILE *file, const char *path, std::FILE *source, StereoJob &job) {
  if (wavHeaderWrite(file, job.out) != static_cast<std::int64_t>(kHeaderSize)) {
    wavErrPrint(kTextHeaderWriteFailed.sjis, path);
    std::fclose(file);
    return -1;
  }
  if (wavDataWrite(file, source, job) != 0) {
    wavErrPrint("%s", kTextDataWriteError.sjis);
    std::fclose(file);
    return -1;
  }
  if (std::fclose(file) != 0) {
    wavErrPrint("%s", kTextWriteFailed.sjis);
    wavErrPrint("%s", kTextDataWriteError.sjis);
    return -1;
  }
  return 0;
}

// A source left in its file is opened again before anything is created, so
// that a source changed since it was read leaves no output behind.
int wavWrite(const char *path, StereoJob &job) {
  std::FILE *source = nullptr;
  if (!job.in.data && !(source = wavSamplesOpen(job.in))) return -1;
  std::FILE *file = outputOpen(path, job.replace);
  int result = -1;
  if (file)
    result = wavOutputWrite(file, path, source, job);
  else
    wavErrPrint(kTextOutputOpenFailed.sjis, path);
  if (source) std::fclose(source);
  return result;
}
