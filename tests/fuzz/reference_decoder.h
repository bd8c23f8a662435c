// A second LZHUF decoder, written for clarity and nothing else: the 16-bit
// bit reader, the three tree tables and the ring exactly as the format
// describes them, one source call per byte, no shared code with lzh/. The
// fuzz targets run it beside the real decoder, whose 32-bit bit buffer, bit
// groups and inlined policies are optimisations that must never change a
// single output byte or source call.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace merlavox::fuzz {

class ReferenceDecoder {
 public:
  // NextByte: int(), the next input byte, or -1 when none came.
  template <class NextByte>
  std::vector<std::uint8_t> Expand(std::int32_t expanded_length, NextByte& next_byte) {
    std::vector<std::uint8_t> out;
    bit_buffer_ = 0;
    bit_count_ = 0;
    if (expanded_length <= 0) return out;
    InitTree();
    ring_.fill(0x20);  // 4036..4095 too: the real decoder's choice as well
    unsigned ring_pos = kRingSize - kMaxMatch;
    std::int32_t out_count = 0;
    auto emit = [&](std::uint8_t byte) {
      out.push_back(byte);
      ring_[ring_pos] = byte;
      ring_pos = (ring_pos + 1) % kRingSize;
      ++out_count;
    };
    while (out_count < expanded_length) {
      const unsigned symbol = DecodeSymbol(next_byte);
      if (symbol < 256) {
        emit(static_cast<std::uint8_t>(symbol));
        continue;
      }
      const unsigned offset = DecodeOffset(next_byte);
      const unsigned start = (ring_pos + kRingSize - offset - 1) % kRingSize;
      for (unsigned k = 0; k < symbol - 253; ++k) emit(ring_[(start + k) % kRingSize]);
    }
    return out;
  }

 private:
  static constexpr unsigned kSymbols = 314;
  static constexpr unsigned kNodes = 2 * kSymbols - 1;
  static constexpr unsigned kRoot = kNodes - 1;
  static constexpr unsigned kRingSize = 4096;
  static constexpr unsigned kMaxMatch = 60;

  template <class NextByte>
  void Refill(NextByte& next_byte) {
    while (bit_count_ <= 8) {
      const int got = next_byte();
      const unsigned byte = got >= 0 ? static_cast<unsigned>(got) : 0u;
      bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ | (byte << (8 - bit_count_)));
      bit_count_ = static_cast<std::uint8_t>(bit_count_ + 8);
    }
  }

  template <class NextByte>
  unsigned ReadBit(NextByte& next_byte) {
    Refill(next_byte);
    const unsigned bit = bit_buffer_ >> 15;
    bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ << 1);
    bit_count_ = static_cast<std::uint8_t>(bit_count_ - 1);
    return bit;
  }

  template <class NextByte>
  unsigned ReadEightBits(NextByte& next_byte) {
    Refill(next_byte);
    const unsigned bits = bit_buffer_ >> 8;
    bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ << 8);
    bit_count_ = static_cast<std::uint8_t>(bit_count_ - 8);
    return bits;
  }

  // The upper six bits of an offset: value v has a prefix code of
  // CodeLength(v) bits, and the values take consecutive codes in order.
  static unsigned CodeLength(unsigned v) {
    if (v == 0) return 3;
    if (v < 4) return 4;
    if (v < 12) return 5;
    if (v < 24) return 6;
    if (v < 48) return 7;
    return 8;
  }

  template <class NextByte>
  unsigned DecodeOffset(NextByte& next_byte) {
    unsigned b = ReadEightBits(next_byte);
    // Walk the values to the one whose run of table entries holds b.
    unsigned upper = 0;
    unsigned first_entry = 0;
    for (;; ++upper) {
      const unsigned entries = 1u << (8 - CodeLength(upper));
      if (b < first_entry + entries) break;
      first_entry += entries;
    }
    const unsigned m = CodeLength(upper) - 2;
    for (unsigned i = 0; i < m; ++i) b = (b * 2 + ReadBit(next_byte)) & 0xFFFF;
    return upper * 64 + (b % 64);
  }

  void InitTree() {
    for (unsigned s = 0; s < kSymbols; ++s) {
      weights_[s] = 1;
      children_[s] = static_cast<std::uint16_t>(kNodes + s);
      parents_[kNodes + s] = static_cast<std::uint16_t>(s);
    }
    unsigned i = 0;
    for (unsigned p = kSymbols; p < kNodes; ++p, i += 2) {
      weights_[p] = static_cast<std::uint16_t>(weights_[i] + weights_[i + 1]);
      children_[p] = static_cast<std::uint16_t>(i);
      parents_[i] = parents_[i + 1] = static_cast<std::uint16_t>(p);
    }
    weights_[kNodes] = 0xFFFF;
    parents_[kRoot] = 0;
  }

  template <class NextByte>
  unsigned DecodeSymbol(NextByte& next_byte) {
    unsigned v = children_[kRoot];
    while (v < kNodes) v = children_[v + ReadBit(next_byte)];
    const unsigned symbol = v - kNodes;
    Update(symbol);
    return symbol;
  }

  void Update(unsigned symbol) {
    if (weights_[kRoot] == 0x8000) Rebuild();
    unsigned p = parents_[kNodes + symbol];
    do {
      ++weights_[p];
      const std::uint16_t w = weights_[p];
      if (weights_[p + 1] < w) {
        unsigned q = p + 1;
        while (weights_[q + 1] < w) ++q;
        weights_[p] = weights_[q];
        weights_[q] = w;
        const unsigned a = children_[p];
        parents_[a] = static_cast<std::uint16_t>(q);
        if (a < kNodes) parents_[a + 1] = static_cast<std::uint16_t>(q);
        const unsigned b = children_[q];
        children_[q] = static_cast<std::uint16_t>(a);
        parents_[b] = static_cast<std::uint16_t>(p);
        if (b < kNodes) parents_[b + 1] = static_cast<std::uint16_t>(p);
        children_[p] = static_cast<std::uint16_t>(b);
        p = q;
      }
      p = parents_[p];
    } while (p != 0);
  }

  void Rebuild() {
    unsigned j = 0;
    for (unsigned p = 0; p < kNodes; ++p) {
      if (children_[p] >= kNodes) {
        weights_[j] = static_cast<std::uint16_t>((weights_[p] + 1) / 2);
        children_[j] = children_[p];
        ++j;
      }
    }
    unsigned i = 0;
    for (unsigned p = kSymbols; p < kNodes; ++p, i += 2) {
      const unsigned f = weights_[i] + weights_[i + 1];
      unsigned k = p - 1;
      while (f < weights_[k]) --k;
      const unsigned r = k + 1;
      for (unsigned m = p; m > r; --m) {
        weights_[m] = weights_[m - 1];
        children_[m] = children_[m - 1];
      }
      weights_[r] = static_cast<std::uint16_t>(f);
      children_[r] = static_cast<std::uint16_t>(i);
    }
    for (unsigned p = 0; p < kNodes; ++p) {
      const unsigned k = children_[p];
      parents_[k] = static_cast<std::uint16_t>(p);
      if (k < kNodes) parents_[k + 1] = static_cast<std::uint16_t>(p);
    }
  }

  std::uint16_t bit_buffer_ = 0;
  std::uint8_t bit_count_ = 0;
  std::array<std::uint16_t, kNodes + 1> weights_{};
  std::array<std::uint16_t, kNodes> children_{};
  std::array<std::uint16_t, kNodes + kSymbols> parents_{};
  std::array<std::uint8_t, kRingSize> ring_{};
};

}  // namespace merlavox::fuzz
