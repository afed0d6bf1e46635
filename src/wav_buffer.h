// Heap buffers for sample data. Allocation never throws and never prints: a
// null buffer means the request could not be met, and a request for 0 bytes
// is never met. Every buffer is aligned for any sample word.
//
// On Linux a buffer is a private anonymous mapping of its own, and one of 2 MiB
// or more starts on a 2 MiB boundary and asks for transparent huge pages: a
// first touch then costs one fault per 2 MiB instead of one per 4 KiB, which
// is most of the run time for a large source read from a pipe on a virtual
// machine. Elsewhere, and under AddressSanitizer, a buffer comes from the C++
// heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct WavBufferRelease {
  void operator()(std::uint8_t *bytes) const;
};

using WavBuffer = std::unique_ptr<std::uint8_t[], WavBufferRelease>;

WavBuffer wavBufferAlloc(std::size_t size);
