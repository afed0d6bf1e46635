#include "wav_read.h"

#include "wav_bytes.h"
#include "wav_console.h"
#include "wav_entry.h"
#include "wav_file.h"
#include "wav_samples.h"
#include "wav_text.h"

namespace {

constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kFmtSize = 16;

// Moves past the rest of a chunk body. A chunk length is taken as unsigned so
// that every chunk moves the reader forward. Where the stream has no position
// (a pipe) it cannot seek, so the rest of the body is read and dropped.
void chunkSkip(std::FILE *file, std::int64_t bodyStart, std::uint32_t length,
               std::uint32_t consumed) {
  if (bodyStart >= 0) {
    wavFileSeek(file, bodyStart + length);
    return;
  }
  char dropped[4096];
  for (std::uint32_t left = length > consumed ? length - consumed : 0; left > 0;) {
    const std::size_t size = left < sizeof dropped ? left : sizeof dropped;
    if (std::fread(dropped, 1, size, file) != size) return;
    left -= static_cast<std::uint32_t>(size);
  }
}

// Walks the chunks after the RIFF header. Returns 0 at the end of the file,
// -1 after a failure that has been reported.
int chunksRead(std::FILE *file, WavInfo &info, bool &fmtSeen, bool &dataSeen) {
  std::uint8_t header[kChunkHeaderSize];
  while (std::fread(header, sizeof header, 1, file) == 1) {
    const std::uint32_t length = wavLe32Decode(header + 4);
    if (wavTagEquals(header, "fmt ")) {
      wavSayChunk(kTextFmtLength, header, length);
      const std::int64_t bodyStart = wavFileTell(file);
      WavFmt fmt;
      if (wavFmtRead(file, fmt) != 0) return -1;
      info.sampleRate = fmt.nSamplesPerSec;
      info.bitsPerSample = fmt.wBitsPerSample;
      info.channels = fmt.nChannels;
      info.bytesPerSec = fmt.nAvgBytesPerSec;
      fmtSeen = true;
      chunkSkip(file, bodyStart, length, kFmtSize);
    } else if (wavTagEquals(header, "data")) {
      wavSayChunk(kTextDataLength, header, length);
      if (wavSamplesTake(file, length, info) != 0) return -1;
      dataSeen = true;
    } else {
      wavSayChunk(kTextChunkLength, header, length);
      chunkSkip(file, wavFileTell(file), length, 0);
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

int wavFmtRead(std::FILE *file, WavFmt &fmt) {
  std::uint8_t block[kFmtSize];
  if (std::fread(block, sizeof block, 1, file) != 1) {
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

  if (fmt.wFormatTag != 1) {
    wavSay(kTextNotPcm);
    wavSay(kTextFormatTagIs, unsigned{fmt.wFormatTag});
    return -1;
  }
  if (fmt.wBitsPerSample != 8 && fmt.wBitsPerSample != 16) {
    wavSay(kTextNot8Or16Bits);
    wavSay(kTextBitsIs, int{fmt.wBitsPerSample});
    return -1;
  }
  return 0;
}

int wavRead(const WavEntry &source, WavInfo &info) {
  info.data.reset();
  info.file = {};
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
    wavSay(kTextNoRiff);
    result = -1;
  } else {
    result = chunksRead(file, info, fmtSeen, dataSeen);
  }
  std::fclose(file);
  if (result != 0) return -1;

  if (!fmtSeen || !dataSeen) {
    wavSay(fmtSeen ? kTextNoDataChunk : kTextNoFmtChunk);
    info.data.reset();
    return -1;
  }
  wavSay(kTextPlayTime, playTime(info));
  return 0;
}
