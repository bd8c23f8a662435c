// Reads the code stream most significant bit first. The reader pulls one
// byte from its source whenever 8 bits or fewer are left before a read, so
// it holds at most two bytes beyond what it has handed out; a source that
// has no byte left gives zero bits. The byte source is a policy with
// NextByte(): inlined for buffered callers, a procedure call for the plain
// entry.
//
// The pulls are observable (the plain entry's source is the caller's
// procedure, the file driver's reads its file in chunks), so a wider buffer
// is no licence to read ahead: the reader pulls a byte at exactly the
// point where a reader with a 16-bit buffer, refilling before each bit,
// would pull it.
#pragma once

#include <cstdint>

namespace lzh {

template <class Source>
class BitReader {
 public:
  explicit BitReader(Source& source) : source_(source) {}

  unsigned ReadBit() {
    Need(1);
    return Take(1);
  }

  // Like ReadBit, this refills only to 9 bits before taking its 8: the 16-bit
  // reader refills before a read, not for its width.
  unsigned ReadEightBits() {
    Need(1);
    return Take(8);
  }

  // n from 1 to 8: the same bits, and the same source calls at the same
  // points, as n single ReadBit calls.
  unsigned ReadBits(unsigned n) {
    Need(n);
    return Take(n);
  }

  unsigned BitCount() const { return count_; }

  // For the symbol decoder's walk, which takes one bit per tree level and is
  // the hottest loop of all: NextBit() is ReadBit() with the refill test
  // kept small and the refill itself out of the way.
  unsigned NextBit() {
    if (count_ <= 8) [[unlikely]] {
      Refill();
    }
    return Take(1);
  }

  // For a walk that looks up its first n bits (n up to 8) at once: the
  // refill NextBit would make before the first bit, then the next n bits,
  // left in place.
  unsigned PeekForWalk(unsigned n) {
    if (count_ <= 8) [[unlikely]] {
      Refill();
    }
    return buffer_ >> (32 - n);
  }

  // Takes n bits of those (1 to 8) and pulls as n NextBit calls would have:
  // after the refill above at most one pull falls among them, and since
  // nothing else is called in between, pulling after the take is the same.
  void SkipWalked(unsigned n) {
    Take(n);
    if (count_ < 8) Pull();
  }

 private:
  // Reading one bit at a time, the reader pulls a byte before each bit that
  // would find 8 bits or fewer. Taking n bits at once therefore has to leave
  // at least 8 bits behind; pulling one byte at a time, as late as that,
  // makes the same calls. The buffer is 32 bits wide so that the up to 23
  // bits this holds fit.
  void Need(unsigned n) {
    while (count_ < n + 8) Pull();
  }

  // One refill of the 16-bit reader: up to two bytes, to 9 bits or more.
  void Refill() {
    do {
      Pull();
    } while (count_ <= 8);
  }

  void Pull() {
    buffer_ |= static_cast<std::uint32_t>(source_.NextByte()) << (24 - count_);
    count_ += 8;
  }

  unsigned Take(unsigned n) {
    const unsigned bits = buffer_ >> (32 - n);
    buffer_ <<= n;
    count_ -= n;
    return bits;
  }

  Source& source_;
  std::uint32_t buffer_ = 0;  // left-aligned: the next bit is bit 31
  unsigned count_ = 0;
};

}  // namespace lzh
