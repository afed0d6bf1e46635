// Heap buffers for sample data. Allocation never throws and never prints: a
// null buffer means the request could not be met, and a request for 0 bytes
// is never met. Every buffer is aligned for any sample word.
//
// On Linux a buffer is a private anonymous mapping of its own, and one of 2 MiB
// or more starts on a 2 MiB boundary and asks for transparent huge pages: a
// first touch then costs one fault per 2 MiB instead of one per 4 KiB, which
// is most of the run time for large files on a virtual machine. Elsewhere, and
// under AddressSanitizer, a buffer comes from the C++ heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct WavBufferRelease {
  void operator()(std::uint8_t *bytes) const;
};

using WavBuffer = std::unique_ptr<std::uint8_t[], WavBufferRelease>;

WavBuffer wavBufferAlloc(std::size_t size);

// A buffer of size bytes in place of buffer, which is taken over. Where the
// platform can, the pages that buffer already holds become the start of the
// new one instead of being given back and asked for afresh, so no more memory
// is held at any moment than the new size. Whatever the contents were, they
// are to be overwritten. Null, with buffer released, where wavBufferAlloc
// would give null.
WavBuffer wavBufferGrow(WavBuffer buffer, std::size_t size);
