#include "wav_buffer.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

bool alignedTo(const WavBuffer &buffer, std::uintptr_t alignment) {
  return reinterpret_cast<std::uintptr_t>(buffer.get()) % alignment == 0;
}

TEST(WavBuffer, ZeroBytesIsNoBuffer) {
  EXPECT_EQ(wavBufferAlloc(0), nullptr);
}

TEST(WavBuffer, ImpossibleRequestsGiveNullWithoutThrowing) {
  EXPECT_EQ(wavBufferAlloc(SIZE_MAX), nullptr);
}

// Every size is whole and usable to its last byte and aligned for sample
// words; large ones start on a huge-page boundary where there are huge pages.
TEST(WavBuffer, BuffersAreAlignedAndUsableToTheirLastByte) {
  for (std::size_t size : {std::size_t{1}, std::size_t{4095}, std::size_t{3} << 20}) {
    SCOPED_TRACE(size);
    WavBuffer buffer = wavBufferAlloc(size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_TRUE(alignedTo(buffer, 16));
    std::memset(buffer.get(), 0x5A, size);
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
    if (size >= (std::size_t{2} << 20)) {
      EXPECT_TRUE(alignedTo(buffer, std::size_t{2} << 20));
    }
#endif
  }
}

}  // namespace
