#include "wav_buffer.h"

// Under AddressSanitizer the buffers come from the heap, where it sees a
// touch past their end; in a mapping it would not.
#if defined(__SANITIZE_ADDRESS__)
#define WAV_BUFFER_FROM_HEAP
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WAV_BUFFER_FROM_HEAP
#endif
#endif

#if defined(__linux__) && !defined(WAV_BUFFER_FROM_HEAP)

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// A mapping is one page that records the mapping's length, then the data. The
// data starts on a page boundary, on a huge-page boundary when it is large.
struct Mapping {
  std::uint8_t *base;
  std::size_t length;
};

std::size_t pageSize() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// The mapping length for size bytes of data, or 0 when it does not fit.
std::size_t mappingLength(std::size_t size) {
  const std::size_t page = pageSize();
  if (size == 0 || size > SIZE_MAX - 2 * page - kHugePage) return 0;
  return page + (size + page - 1) / page * page;
}

std::uint8_t *dataOf(const Mapping &mapping) { return mapping.base + pageSize(); }

Mapping mappingOf(std::uint8_t *data) {
  std::uint8_t *base = data - pageSize();
  return {base, *reinterpret_cast<std::size_t *>(base)};
}

// An address range of length bytes, reserved without access; null on failure.
std::uint8_t *rangeReservePlain(std::size_t length) {
  void *base = mmap(nullptr, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : static_cast<std::uint8_t *>(base);
}

// The same, with the data on a huge-page boundary when length calls for it
// and the address space allows the 2 MiB it takes to find one.
std::uint8_t *rangeReserve(std::size_t length) {
  if (length - pageSize() < kHugePage) return rangeReservePlain(length);
  const std::size_t wider = length + kHugePage;
  std::uint8_t *reserved = rangeReservePlain(wider);
  if (!reserved) return rangeReservePlain(length);
  const auto start = reinterpret_cast<std::uintptr_t>(reserved);
  const std::uintptr_t data = (start + pageSize() + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  auto *base = reinterpret_cast<std::uint8_t *>(data - pageSize());
  const std::size_t head = static_cast<std::size_t>(base - reserved);
  if (head > 0) munmap(reserved, head);
  if (wider - head > length) munmap(base + length, wider - head - length);
  return base;
}

// Records the length in the mapping's first page and asks for huge pages; a
// kernel without them keeps the small pages. The advice covers the whole
// mapping, so that it stays one region that can be moved and grown as one.
std::uint8_t *mappingOpen(const Mapping &mapping) {
  *reinterpret_cast<std::size_t *>(mapping.base) = mapping.length;
  if (mapping.length - pageSize() >= kHugePage) madvise(mapping.base, mapping.length, MADV_HUGEPAGE);
  return dataOf(mapping);
}

}  // namespace

void WavBufferRelease::operator()(std::uint8_t *bytes) const {
  const Mapping mapping = mappingOf(bytes);
  munmap(mapping.base, mapping.length);
}

WavBuffer wavBufferAlloc(std::size_t size) {
  const std::size_t length = mappingLength(size);
  if (length == 0) return nullptr;
  std::uint8_t *base = rangeReserve(length);
  if (!base) return nullptr;
  if (mmap(base, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
      MAP_FAILED) {
    munmap(base, length);
    return nullptr;
  }
  return WavBuffer(mappingOpen({base, length}));
}

// The pages move with their page tables, whole huge pages at a time when
// both ends of the move start on a huge-page boundary, so nothing is copied
// and nothing is touched afresh.
WavBuffer wavBufferGrow(WavBuffer buffer, std::size_t size) {
  if (!buffer) return wavBufferAlloc(size);
  const Mapping old = mappingOf(buffer.get());
  const std::size_t length = mappingLength(size);
  if (length == 0) return nullptr;
  if (length <= old.length) return buffer;
  if (mremap(old.base, old.length, length, 0) != MAP_FAILED) {
    buffer.release();
    return WavBuffer(mappingOpen({old.base, length}));
  }
  std::uint8_t *base = rangeReserve(length);
  if (base && mremap(old.base, old.length, length, MREMAP_MAYMOVE | MREMAP_FIXED, base) != MAP_FAILED) {
    buffer.release();
    return WavBuffer(mappingOpen({base, length}));
  }
  if (base) munmap(base, length);
  buffer.reset();
  return wavBufferAlloc(size);
}

#else

#include <new>

void WavBufferRelease::operator()(std::uint8_t *bytes) const { delete[] bytes; }

WavBuffer wavBufferAlloc(std::size_t size) {
  if (size == 0) return nullptr;
  return WavBuffer(new (std::nothrow) std::uint8_t[size]);
}

// The old block goes back before the new one is asked for, so the two are
// never held at once.
WavBuffer wavBufferGrow(WavBuffer buffer, std::size_t size) {
  buffer.reset();
  return wavBufferAlloc(size);
}

#endif
