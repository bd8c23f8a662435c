// Reads the code stream most significant bit first. The reader pulls one
// byte from its source whenever 8 bits or fewer are left, so it holds at
// most two bytes beyond what it has handed out; a source that has no byte
// left gives zero bits. The byte source is a policy with NextByte():
// inlined for buffered callers, a procedure call for the plain entry.
#pragma once

#include <cstdint>

namespace lzh {

template <class Source>
class BitReader {
 public:
  explicit BitReader(Source& source) : source_(source) {}

  unsigned ReadBit() {
    Need(1);
    const unsigned bit = buffer_ >> 31;
    buffer_ <<= 1;
    count_ -= 1;
    return bit;
  }

  // Like ReadBit, this refills only to 9 bits before taking its 8.
  unsigned ReadEightBits() {
    Need(1);
    const unsigned byte = buffer_ >> 24;
    buffer_ <<= 8;
    count_ -= 8;
    return byte;
  }

  // n from 1 to 8: the same bits, and the same source calls at the same
  // points, as n single ReadBit calls.
  unsigned ReadBits(unsigned n) {
    Need(n);
    const unsigned bits = buffer_ >> (32 - n);
    buffer_ <<= n;
    count_ -= n;
    return bits;
  }

  unsigned BitCount() const { return count_; }

 private:
  // Reading one bit at a time, the reader pulls a byte before each bit that
  // would find 8 bits or fewer. Taking n bits at once therefore has to leave
  // at least 8 bits behind; pulling one byte at a time, as late as that,
  // makes the same calls. The buffer is 32 bits wide so that the up to 23
  // bits this holds fit.
  void Need(unsigned n) {
    while (count_ < n + 8) {
      buffer_ |= static_cast<std::uint32_t>(source_.NextByte()) << (24 - count_);
      count_ += 8;
    }
  }

  Source& source_;
  std::uint32_t buffer_ = 0;  // left-aligned: the next bit is bit 31
  unsigned count_ = 0;
};

}  // namespace lzh
