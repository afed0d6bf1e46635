#include "wav_read.h"

#include <cstring>

#include "wav_bytes.h"
#include "wav_console.h"
#include "wav_entry.h"
#include "wav_file.h"
#include "wav_kept.h"
#include "wav_samples.h"
#include "wav_text.h"

namespace {

constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;

// Moves past the rest of a chunk body, and tells whether the source held it
// whole. A chunk length is taken as unsigned so that every chunk moves the
// reader forward. Where the stream has no position (a pipe) it cannot seek,
// so the rest of the body is read and dropped.
bool chunkSkip(std::FILE *file, std::int64_t bodyStart, std::uint32_t length,
               std::uint32_t consumed, std::int64_t fileSize) {
  if (bodyStart >= 0) {
    wavFileSeek(file, bodyStart + length);
    return fileSize < 0 || length <= fileSize - bodyStart;
  }
  char dropped[4096];
  for (std::uint32_t left = length > consumed ? length - consumed : 0; left > 0;) {
    const std::size_t size = left < sizeof dropped ? left : sizeof dropped;
    if (std::fread(dropped, 1, size, file) != size) return false;
    left -= static_cast<std::uint32_t>(size);
  }
  return true;
}

// Reads the next chunk header; carried, where not -1, is its first byte,
// read already.
bool headerRead(std::FILE *file, int carried, std::uint8_t (&header)[kChunkHeaderSize]) {
  if (carried < 0) return std::fread(header, sizeof header, 1, file) == 1;
  header[0] = static_cast<std::uint8_t>(carried);
  return std::fread(header + 1, sizeof header - 1, 1, file) == 1;
}

void fmtTake(const WavFmt &fmt, WavInfo &info) {
  info.sampleRate = fmt.nSamplesPerSec;
  info.bitsPerSample = fmt.wBitsPerSample;
  info.channels = fmt.nChannels;
  info.bytesPerSec = fmt.nAvgBytesPerSec;
  info.formatTag = fmt.wFormatTag;
  info.validBits = fmt.wValidBitsPerSample;
  std::memcpy(info.subFormat, fmt.subFormat, sizeof info.subFormat);
}

// One chunk whose header has been read. Returns 1 to go on, 0 where the
// chunk ran past the end of the source, which ends the walk, -1 after a
// failure that has been reported.
int chunkRead(std::FILE *file, const std::uint8_t *header, const WavAccepts &accepts,
              WavInfo &info, bool &fmtSeen, bool &dataSeen) {
  const std::uint32_t length = wavLe32Decode(header + 4);
  const std::int64_t fileSize = info.file.id.size;
  if (wavTagEquals(header, "fmt ")) {
    wavSayChunk(kTextFmtLength, header, length);
    const std::int64_t bodyStart = wavFileTell(file);
    WavFmt fmt;
    if (wavFmtRead(file, length, accepts, fmt) != 0) return -1;
    fmtTake(fmt, info);
    fmtSeen = true;
    return chunkSkip(file, bodyStart, length, fmt.consumed, fileSize) ? 1 : 0;
  }
  if (wavTagEquals(header, "data")) {
    wavSayChunk(kTextDataLength, header, length);
    if (wavSamplesTake(file, length, accepts, info) != 0) return -1;
    dataSeen = true;
    info.kept.beforeData = info.kept.count;
    return info.dataSize == length ? 1 : 0;
  }
  wavSayChunk(kTextChunkLength, header, length);
  if (accepts.chunksKept && !wavTagEquals(header, "fact")) return wavKeptTake(file, header, info);
  return chunkSkip(file, wavFileTell(file), length, 0, fileSize) ? 1 : 0;
}

// Walks the chunks after the RIFF header. A body of odd length is followed
// by a pad byte where accepts says so: a zero byte there is skipped, any
// other is the next chunk's first (a writer that left the pad out). Returns
// 0 at the end of the file, -1 after a failure that has been reported.
int chunksRead(std::FILE *file, const WavAccepts &accepts, WavInfo &info, bool &fmtSeen,
               bool &dataSeen) {
  std::uint8_t header[kChunkHeaderSize];
  int carried = -1;
  while (headerRead(file, carried, header)) {
    carried = -1;
    const int result = chunkRead(file, header, accepts, info, fmtSeen, dataSeen);
    if (result <= 0) return result;
    if (accepts.padSkipped && (wavLe32Decode(header + 4) & 1u) != 0) {
      const int pad = std::fgetc(file);
      if (pad == EOF) return 0;
      if (pad != 0) carried = pad;
    }
  }
  return 0;
}

// Seconds of sound. A file that declares 0 bytes per second is timed by its
// other format numbers instead; with those 0 too, the time is 0.
double playTime(const WavInfo &info) {
  std::uint64_t perSecond = info.bytesPerSec;
  if (perSecond == 0)
    perSecond = std::uint64_t{info.sampleRate} * info.channels * (info.bitsPerSample / 8u);
  if (perSecond == 0) return 0.0;
  return static_cast<double>(info.dataSize) / static_cast<double>(perSecond);
}

}  // namespace

int wavFmtRead(std::FILE *file, std::uint32_t length, const WavAccepts &accepts, WavFmt &fmt) {
  std::uint8_t block[kWavFmtSize + kWavExtensionSize];
  if (std::fread(block, kWavFmtSize, 1, file) != 1) {
    wavSay(kTextFmtCutShort);
    return -1;
  }
  fmt.wFormatTag = wavLe16Decode(block);
  fmt.nChannels = wavLe16Decode(block + 2);
  fmt.nSamplesPerSec = wavLe32Decode(block + 4);
  fmt.nAvgBytesPerSec = wavLe32Decode(block + 8);
  fmt.nBlockAlign = wavLe16Decode(block + 12);
  fmt.wBitsPerSample = wavLe16Decode(block + 14);

  wavSay(kTextFormatTag, unsigned{fmt.wFormatTag});
  wavSay(kTextChannels, unsigned{fmt.nChannels});
  wavSay(kTextSampleRate, static_cast<unsigned long>(fmt.nSamplesPerSec));
  wavSay(kTextBytesPerSec, static_cast<unsigned long>(fmt.nAvgBytesPerSec));
  wavSay(kTextBlockAlign, unsigned{fmt.nBlockAlign});
  wavSay(kTextBitsPerSample, unsigned{fmt.wBitsPerSample});

  if (accepts.wideFormats && fmt.wFormatTag == kWavExtensible &&
      length >= kWavFmtSize + kWavExtensionSize) {
    if (std::fread(block + kWavFmtSize, kWavExtensionSize, 1, file) != 1) {
      wavSay(kTextFmtCutShort);
      return -1;
    }
    fmt.cbSize = wavLe16Decode(block + 16);
    fmt.wValidBitsPerSample = wavLe16Decode(block + 18);
    std::memcpy(fmt.subFormat, block + 24, sizeof fmt.subFormat);
    fmt.consumed += kWavExtensionSize;
  }
  return wavFormatCheck(fmt, length, accepts);
}

int wavRead(const WavEntry &source, const WavAccepts &accepts, WavInfo &info) {
  info.data.reset();
  info.file = {};
  wavKeptClear(info.kept);
  bool other = false;
  std::FILE *file = wavEntryReadOpen(source, other);
  if (!file) {
    if (other)
      wavSay(kTextInputChanged);
    else
      wavSayFailure(kTextInputOpenFailure, source.path, wavEntryOpenError(), source.path);
    return -1;
  }
  if (wavFileIdGet(file, info.file.id) == 0) info.file.entry = &source;
  wavSay(kTextFileName, source.path);

  std::uint8_t riff[kRiffHeaderSize];
  if (std::fread(riff, sizeof riff, 1, file) != 1) {
    // A file that ends early has no reason to give; a failed read has.
    const WavError error = wavErrnoGet();
    const long at = static_cast<std::int32_t>(wavFileTell(file));
    if (std::ferror(file))
      wavSayFailure(kTextHeaderReadFailure, source.path, error, at);
    else
      wavSay(kTextHeaderReadFailed, at);
    std::fclose(file);
    return -1;
  }
  int result = 0;
  bool fmtSeen = false;
  bool dataSeen = false;
  if (!wavTagEquals(riff + 8, "WAVE")) {
    wavSay(kTextNoWave);
    result = -1;
  } else if (!wavTagEquals(riff, "RIFF")) {
    wavSay(wavTagEquals(riff, "RF64") ? kTextRf64 : kTextNoRiff);
    result = -1;
  } else {
    result = chunksRead(file, accepts, info, fmtSeen, dataSeen);
  }
  std::fclose(file);
  if (result != 0) return -1;

  if (!fmtSeen || !dataSeen) {
    wavSay(fmtSeen ? kTextNoDataChunk : kTextNoFmtChunk);
    info.data.reset();
    wavKeptClear(info.kept);
    return -1;
  }
  wavSay(kTextPlayTime, playTime(info));
  return 0;
}
