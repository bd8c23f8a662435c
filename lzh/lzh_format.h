// The numbers that fix the LZHUF code stream. Encoder and decoder both take
// them from here; the relations between them are checked where they are made.
#pragma once

#include <cstdint>

namespace lzh {

inline constexpr unsigned RingSize = 4096;
inline constexpr unsigned RingMask = RingSize - 1;
inline constexpr unsigned MinMatchLength = 3;
inline constexpr unsigned MaxMatchLength = 60;
// Writing starts this far before the ring's end, so that the first
// MaxMatchLength bytes written never overwrite the initial spaces a stream
// may still copy from.
inline constexpr unsigned RingStart = RingSize - MaxMatchLength;
static_assert(RingStart + MaxMatchLength == RingSize);
static_assert((RingSize & RingMask) == 0, "the ring is masked, so its size is a power of two");

inline constexpr std::uint8_t RingFill = 0x20;  // the initial spaces

inline constexpr unsigned LiteralCount = 256;
inline constexpr unsigned SymbolCount = LiteralCount + MaxMatchLength - MinMatchLength + 1;
static_assert(SymbolCount == 314);
inline constexpr unsigned NodeCount = 2 * SymbolCount - 1;
static_assert(NodeCount == 627);
inline constexpr unsigned RootPosition = NodeCount - 1;
static_assert(RootPosition == 626);
// A Children entry of NodeCount or more is a leaf: NodeCount + its symbol.
inline constexpr unsigned LeafBase = NodeCount;
inline constexpr unsigned ParentsSize = NodeCount + SymbolCount;
static_assert(ParentsSize == 941);
inline constexpr unsigned WeightsSize = NodeCount + 1;  // with the sentinel
inline constexpr std::uint16_t WeightLimit = 0x8000;
inline constexpr std::uint16_t WeightSentinel = 0xFFFF;

// A match symbol carries its length: symbol = length + MatchSymbolBias.
inline constexpr unsigned MatchSymbolBias = LiteralCount - MinMatchLength;
static_assert(MatchSymbolBias == 253);
static_assert(SymbolCount - 1 == MaxMatchLength + MatchSymbolBias);

// Offsets: the upper six bits through a fixed prefix code, the lower six
// bits as they are.
inline constexpr unsigned OffsetLowBits = 6;
inline constexpr unsigned MaxOffset = RingSize - 1;
static_assert((MaxOffset >> OffsetLowBits) == 63);

}  // namespace lzh
