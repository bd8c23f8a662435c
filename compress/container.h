// The compressed file: "!HZL", the expanded length as a signed 32-bit
// little-endian value, then the code stream up to the end of the file. No
// version, no checksum, no trailer.
#pragma once

#include <cstdint>

namespace compress {

inline constexpr std::uint32_t CompressedFileSignature = 0x4C5A4821;  // "!HZL" read little-endian
inline constexpr unsigned HeaderSize = 8;

inline std::uint32_t LoadLittleEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreLittleEndian32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace compress
