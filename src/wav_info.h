// The records the reader, the driver and the writer share.
#pragma once

#include <cstdint>

#include "wav_buffer.h"
#include "wav_entry.h"
#include "wav_file.h"

// The largest source whose stereo data size plus 36 still fits the RIFF
// size field of the output.
inline constexpr std::uint32_t kMaxSourceSize = 0x7FFFFFFFu - 18u;

// Where the samples of a regular file were left: they are read again, window
// by window, as the result is written.
struct WavSamplesAt {
  const WavEntry *entry = nullptr;  // the name it is read by, or null
  WavFileId id;                     // which file that was when it was read
  std::int64_t start = -1;          // position of the first sample byte, or -1
};

// One PCM stream: its format numbers and its sample bytes, in memory or in
// the file it was read from.
struct WavInfo {
  std::uint32_t sampleRate = 0;     // frames per second
  std::uint16_t bitsPerSample = 0;  // 8 or 16
  std::uint32_t dataSize = 0;       // bytes of sample data
  std::uint16_t channels = 0;
  std::uint32_t bytesPerSec = 0;    // as the file declares it
  WavBuffer data;                   // dataSize bytes in memory, or null
  WavSamplesAt file;                // or where they are in a regular file
};

// One conversion: the stereo result, the mono source and the delay of the
// right channel in seconds. The result is made one window at a time in
// window, from the source's samples wherever they are.
struct StereoJob {
  WavInfo out;
  WavInfo in;
  float delay = 0.0f;
  WavBuffer window;
};
