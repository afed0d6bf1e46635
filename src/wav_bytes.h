// Little-endian fields of the RIFF format, decoded from and encoded into
// bytes so that no record's memory layout ever meets the file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

inline std::uint16_t wavLe16Decode(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t wavLe32Decode(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void wavLe16Encode(std::uint8_t *p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void wavLe32Encode(std::uint8_t *p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void wavTagEncode(std::uint8_t *p, const char (&tag)[5]) { std::copy_n(tag, 4, p); }

inline bool wavTagEquals(const std::uint8_t *p, const char (&tag)[5]) {
  return std::memcmp(p, tag, 4) == 0;
}
