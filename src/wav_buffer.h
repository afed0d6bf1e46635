// Heap buffers for sample data. Allocation never throws: a null buffer means
// the request could not be met, and a request for 0 bytes is never met.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct WavBufferRelease {
  void operator()(std::uint8_t *bytes) const;
};

using WavBuffer = std::unique_ptr<std::uint8_t[], WavBufferRelease>;

WavBuffer wavBufferAlloc(std::size_t size);
