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

// The same source and sink as plain procedures, for the procedure-type
// entries: the state lives in globals since the procedures carry none.
struct CallbackMemory {
  static inline const std::uint8_t* in_pos = nullptr;
  static inline const std::uint8_t* in_end = nullptr;
  static inline std::uint8_t* out_pos = nullptr;
  static inline std::uint8_t* out_end = nullptr;

  static void Reset(std::span<const std::uint8_t> code, std::span<std::uint8_t> buffer) {
    in_pos = code.data();
    in_end = code.data() + code.size();
    out_pos = buffer.data();
    out_end = buffer.data() + buffer.size();
  }
  static void Source(void* buffer, std::uint16_t, std::uint16_t& actual) {
    actual = 0;
    if (in_pos < in_end) {
      *static_cast<std::uint8_t*>(buffer) = *in_pos++;
      actual = 1;
    }
  }
  static void Sink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
    if (out_pos < out_end) *out_pos++ = *static_cast<const std::uint8_t*>(buffer);
    accepted = count;
  }
};

}  // namespace test_support
