// Writes the code stream most significant bit first, the way the bit reader
// takes it apart. The last byte is padded with zero bits; the decoder stops
// at the expanded length and never looks at them.
#pragma once

#include <cstdint>
#include <vector>

namespace lzh {

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  // The low count bits of bits, the highest first; count from 0 to 32.
  void Put(std::uint32_t bits, unsigned count) {
    // Fewer than 8 bits wait in the accumulator between calls, so up to 39
    // fit in its 64 bits.
    acc_ = (acc_ << count) | bits;
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      out_.push_back(static_cast<std::uint8_t>(acc_ >> pending_));
    }
  }

  void Finish() {
    if (pending_ > 0) out_.push_back(static_cast<std::uint8_t>(acc_ << (8 - pending_)));
    pending_ = 0;
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t acc_ = 0;
  unsigned pending_ = 0;
};

}  // namespace lzh
