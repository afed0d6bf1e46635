#include "wav_buffer.h"

#include <new>

void WavBufferRelease::operator()(std::uint8_t *bytes) const { delete[] bytes; }

WavBuffer wavBufferAlloc(std::size_t size) {
  if (size == 0) return nullptr;
  return WavBuffer(new (std::nothrow) std::uint8_t[size]);
}
