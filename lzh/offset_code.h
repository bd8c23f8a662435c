// The fixed prefix code for the upper six bits of a match offset. The two
// tables are indexed by the first eight bits of an offset code; both come
// from one rule: value v has a code of OffsetCodeLengthOf(v) bits, and the
// values in increasing order take consecutive, canonically assigned codes.
#pragma once

#include <array>
#include <cstdint>

#include "lzh/lzh_format.h"

namespace lzh {

constexpr unsigned OffsetCodeLengthOf(unsigned upper) {
  return upper < 1 ? 3 : upper < 4 ? 4 : upper < 12 ? 5 : upper < 24 ? 6 : upper < 48 ? 7 : 8;
}

struct OffsetTables {
  std::array<std::uint8_t, 256> upper_bits{};
  std::array<std::uint8_t, 256> code_length{};
  // For the encoder: the code of each value, right-aligned, and its length.
  std::array<std::uint8_t, 64> code{};
};

constexpr OffsetTables MakeOffsetTables() {
  OffsetTables t;
  unsigned entry = 0;
  for (unsigned v = 0; v < 64; ++v) {
    const unsigned len = OffsetCodeLengthOf(v);
    t.code[v] = static_cast<std::uint8_t>(entry >> (8 - len));
    for (unsigned k = 0; k < (1u << (8 - len)); ++k, ++entry) {
      t.upper_bits[entry] = static_cast<std::uint8_t>(v);
      t.code_length[entry] = static_cast<std::uint8_t>(len);
    }
  }
  return entry == 256 ? t : throw "offset code does not fill 256 entries";
}

inline constexpr OffsetTables kOffsetTables = MakeOffsetTables();
inline constexpr const std::array<std::uint8_t, 256>& OffsetUpperBits = kOffsetTables.upper_bits;
inline constexpr const std::array<std::uint8_t, 256>& OffsetCodeLength = kOffsetTables.code_length;

static_assert(OffsetUpperBits[0] == 0 && OffsetCodeLength[31] == 3);
static_assert(OffsetUpperBits[32] == 1 && OffsetCodeLength[32] == 4);
static_assert(OffsetUpperBits[80] == 4 && OffsetCodeLength[80] == 5);
static_assert(OffsetUpperBits[255] == 63 && OffsetCodeLength[255] == 8);
static_assert(kOffsetTables.code[1] == 0b0010 && kOffsetTables.code[4] == 0b01010);
static_assert(kOffsetTables.code[63] == 0xFF);

// Bits that an offset costs in the stream: its prefix code and the six low bits.
constexpr unsigned OffsetCodeBits(unsigned offset) {
  return OffsetCodeLengthOf(offset >> OffsetLowBits) + OffsetLowBits;
}

}  // namespace lzh
