// Inlined byte policies for lzh::UnpackWith and lzh::BitReader over memory:
// the shape of the file driver's buffered path without the files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace test_support {

// Hands out the code bytes, then zero bytes for ever.
struct MemorySource {
  const std::uint8_t* pos;
  const std::uint8_t* end;
  std::size_t calls = 0;

  explicit MemorySource(std::span<const std::uint8_t> code)
      : pos(code.data()), end(code.data() + code.size()) {}
  unsigned NextByte() {
    ++calls;
    return pos < end ? *pos++ : 0u;
  }
};

// Writes into a buffer the caller sized; bytes past its end are counted
// but dropped, so a stream that produces more than expected cannot overrun.
struct BufferSink {
  std::uint8_t* pos;
  std::uint8_t* end;
  std::size_t dropped = 0;

  explicit BufferSink(std::span<std::uint8_t> buffer)
      : pos(buffer.data()), end(buffer.data() + buffer.size()) {}
  void Put(std::uint8_t byte) {
    if (pos < end) {
      *pos++ = byte;
    } else {
      ++dropped;
    }
  }
};

struct VectorSink {
  std::vector<std::uint8_t> bytes;
  void Put(std::uint8_t byte) { bytes.push_back(byte); }
};

}  // namespace test_support
