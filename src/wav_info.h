// The two records the reader, the driver and the writer share.
#pragma once

#include <cstdint>

#include "wav_buffer.h"

// One PCM stream: its format numbers and, once read or allocated, its
// sample bytes.
struct WavInfo {
  std::uint32_t sampleRate = 0;     // frames per second
  std::uint16_t bitsPerSample = 0;  // 8 or 16
  std::uint32_t dataSize = 0;       // bytes of sample data
  std::uint16_t channels = 0;
  std::uint32_t bytesPerSec = 0;    // as the file declares it
  WavBuffer data;                   // dataSize bytes, or null
};

// One conversion: the stereo result, the mono source and the delay of the
// right channel in seconds.
struct StereoJob {
  WavInfo out;
  WavInfo in;
  float delay = 0.0f;
};
