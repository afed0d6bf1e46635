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

Mapping mappingOf(std::uint8_t *data) {
  std::uint8_t *base = data - pageSize();
  return {base, *reinterpret_cast<std::size_t *>(base)};
}

// A mapping of length bytes; null on failure.
std::uint8_t *rangeMapPlain(std::size_t length) {
  void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return base == MAP_FAILED ? nullptr : static_cast<std::uint8_t *>(base);
}

// The same, with the data on a huge-page boundary when length calls for it
// and the address space allows the 2 MiB it takes to find one.
std::uint8_t *rangeMap(std::size_t length) {
  if (length - pageSize() < kHugePage) return rangeMapPlain(length);
  const std::size_t wider = length + kHugePage;
  std::uint8_t *reserved = rangeMapPlain(wider);
  if (!reserved) return rangeMapPlain(length);
  // The data's first byte is the first huge-page boundary a page past the
  // start; the record page goes before it.
  const auto start = reinterpret_cast<std::uintptr_t>(reserved);
  const std::size_t head = (kHugePage - (start + pageSize()) % kHugePage) % kHugePage;
  std::uint8_t *base = reserved + head;
  if (head > 0) munmap(reserved, head);
  if (wider - head > length) munmap(base + length, wider - head - length);
  return base;
}

// Records the length in the mapping's first page and asks for huge pages; a
// kernel without them keeps the small pages.
std::uint8_t *mappingOpen(const Mapping &mapping) {
  *reinterpret_cast<std::size_t *>(mapping.base) = mapping.length;
  if (mapping.length - pageSize() >= kHugePage) madvise(mapping.base, mapping.length, MADV_HUGEPAGE);
  return mapping.base + pageSize();
}

}  // namespace

void WavBufferRelease::operator()(std::uint8_t *bytes) const {
  const Mapping mapping = mappingOf(bytes);
  munmap(mapping.base, mapping.length);
}

WavBuffer wavBufferAlloc(std::size_t size) {
  const std::size_t length = mappingLength(size);
  if (length == 0) return nullptr;
  std::uint8_t *base = rangeMap(length);
  if (!base) return nullptr;
  return WavBuffer(mappingOpen({base, length}));
}

#else

#include <new>

void WavBufferRelease::operator()(std::uint8_t *bytes) const { delete[] bytes; }

WavBuffer wavBufferAlloc(std::size_t size) {
  if (size == 0) return nullptr;
  return WavBuffer(new (std::nothrow) std::uint8_t[size]);
}

#endif
