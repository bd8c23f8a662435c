// A plain, deliberately literal LZHUF decoder that the tests hold the
// production decoder (and the encoder's output) against. It is written for
// obviousness, not speed: a 16-bit bit buffer with an 8-bit count, tables in
// module-level variables, one source call per input byte and one sink call
// per output byte, every step in the order the format prescribes. It shares
// no code with lzh/, so a fault there cannot hide by being copied here.
//
// Besides the procedure-type entry (ReferenceUnpackStream) it offers
// ReferenceExpand(code, length) for tests that only want the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace reference_lzh {

// The same shapes as the production procedure types.
using ByteSource = void (*)(void* buffer, std::uint16_t count, std::uint16_t& actual);
using ByteSink = void (*)(const void* buffer, std::uint16_t count, std::uint16_t& accepted);

inline constexpr std::uint16_t N_CHAR = 314;
inline constexpr std::uint16_t T = 2 * N_CHAR - 1;  // 627 tree positions
inline constexpr std::uint16_t R = T - 1;           // the root
inline constexpr std::uint16_t MAX_FREQ = 0x8000;
inline constexpr std::uint16_t N = 4096;
inline constexpr std::uint16_t F = 60;

// Module-level state, as one expansion sees it.
inline std::uint16_t BitBuffer = 0;
inline std::uint8_t BitCount = 0;
inline std::uint16_t Weights[T + 1];
inline std::uint16_t Children[T];
inline std::uint16_t Parents[T + N_CHAR];
inline std::uint8_t Ring[N];
inline std::uint8_t OffsetUpperBits[256];
inline std::uint8_t OffsetCodeLength[256];

inline void MakeOffsetTables() {
  // Code length of the upper six bits, by value ranges.
  std::uint8_t e = 0;
  for (unsigned v = 0; v < 64; ++v) {
    unsigned len;
    if (v < 1)
      len = 3;
    else if (v < 4)
      len = 4;
    else if (v < 12)
      len = 5;
    else if (v < 24)
      len = 6;
    else if (v < 48)
      len = 7;
    else
      len = 8;
    for (unsigned k = 0; k < (1u << (8 - len)); ++k) {
      OffsetUpperBits[e] = static_cast<std::uint8_t>(v);
      OffsetCodeLength[e] = static_cast<std::uint8_t>(len);
      ++e;  // wraps to 0 after the last entry
    }
  }
}

inline void Refill(ByteSource source) {
  while (BitCount <= 8) {
    std::uint8_t byte = 0;
    std::uint16_t actual = 0;
    source(&byte, 1, actual);
    if (actual != 1) byte = 0;
    BitBuffer = static_cast<std::uint16_t>(BitBuffer | (byte << (8 - BitCount)));
    BitCount = static_cast<std::uint8_t>(BitCount + 8);
  }
}

inline int ReadBit(ByteSource source) {
  Refill(source);
  const int bit = (BitBuffer >> 15) & 1;
  BitBuffer = static_cast<std::uint16_t>(BitBuffer << 1);
  BitCount = static_cast<std::uint8_t>(BitCount - 1);
  return bit;
}

inline int ReadEightBits(ByteSource source) {
  Refill(source);
  const int bits = (BitBuffer >> 8) & 0xFF;
  BitBuffer = static_cast<std::uint16_t>(BitBuffer << 8);
  BitCount = static_cast<std::uint8_t>(BitCount - 8);
  return bits;
}

inline void InitCodeTree() {
  for (std::uint16_t s = 0; s < N_CHAR; ++s) {
    Weights[s] = 1;
    Children[s] = static_cast<std::uint16_t>(T + s);
    Parents[T + s] = s;
  }
  std::uint16_t i = 0;
  for (std::uint16_t p = N_CHAR; p < T; ++p) {
    Weights[p] = static_cast<std::uint16_t>(Weights[i] + Weights[i + 1]);
    Children[p] = i;
    Parents[i] = p;
    Parents[i + 1] = p;
    i = static_cast<std::uint16_t>(i + 2);
  }
  Weights[T] = 0xFFFF;
  Parents[R] = 0;
}

inline void RebuildCodeTree() {
  std::uint16_t j = 0;
  for (std::uint16_t p = 0; p < T; ++p) {
    if (Children[p] >= T) {
      Weights[j] = static_cast<std::uint16_t>((Weights[p] + 1) / 2);
      Children[j] = Children[p];
      ++j;
    }
  }
  std::uint16_t i = 0;
  for (std::uint16_t p = N_CHAR; p < T; ++p) {
    const std::uint16_t f = static_cast<std::uint16_t>(Weights[i] + Weights[i + 1]);
    std::uint16_t k = static_cast<std::uint16_t>(p - 1);
    while (f < Weights[k]) --k;
    const std::uint16_t r = static_cast<std::uint16_t>(k + 1);
    for (std::uint16_t m = p; m > r; --m) {  // the block move, from the top down
      Weights[m] = Weights[m - 1];
      Children[m] = Children[m - 1];
    }
    Weights[r] = f;
    Children[r] = i;
    i = static_cast<std::uint16_t>(i + 2);
  }
  for (std::uint16_t p = 0; p < T; ++p) {
    const std::uint16_t k = Children[p];
    Parents[k] = p;
    if (k < T) Parents[k + 1] = p;
  }
}

inline void UpdateCodeTree(std::uint16_t symbol) {
  if (Weights[R] == MAX_FREQ) RebuildCodeTree();
  std::uint16_t p = Parents[T + symbol];
  do {
    Weights[p] = static_cast<std::uint16_t>(Weights[p] + 1);
    const std::uint16_t w = Weights[p];
    if (Weights[p + 1] < w) {
      std::uint16_t q = static_cast<std::uint16_t>(p + 1);
      while (Weights[q + 1] < w) ++q;
      Weights[p] = Weights[q];
      Weights[q] = w;
      const std::uint16_t a = Children[p];
      Parents[a] = q;
      if (a < T) Parents[a + 1] = q;
      const std::uint16_t b = Children[q];
      Children[q] = a;
      Parents[b] = p;
      if (b < T) Parents[b + 1] = p;
      Children[p] = b;
      p = q;
    }
    p = Parents[p];
  } while (p != 0);
}

inline std::uint16_t DecodeSymbol(ByteSource source) {
  std::uint16_t v = Children[R];
  while (v < T) v = Children[v + ReadBit(source)];
  const std::uint16_t symbol = static_cast<std::uint16_t>(v - T);
  UpdateCodeTree(symbol);
  return symbol;
}

inline std::uint16_t DecodeOffset(ByteSource source) {
  std::uint16_t b = static_cast<std::uint16_t>(ReadEightBits(source));
  const std::uint16_t upper = OffsetUpperBits[b];
  const int m = OffsetCodeLength[b] - 2;
  for (int k = 0; k < m; ++k) b = static_cast<std::uint16_t>(b * 2 + ReadBit(source));
  return static_cast<std::uint16_t>(upper * 64 + (b % 64));
}

inline void Emit(std::uint8_t byte, ByteSink sink, std::uint16_t& ring_pos,
                 std::int32_t& out_count) {
  std::uint8_t buffer = byte;
  std::uint16_t accepted = 0;
  sink(&buffer, 1, accepted);
  Ring[ring_pos] = byte;
  ring_pos = static_cast<std::uint16_t>((ring_pos + 1) % N);
  // Wraps like the 32-bit counter it models rather than overflowing.
  out_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(out_count) + 1);
}

inline void ReferenceUnpackStream(std::int32_t ExpandedLength, ByteSource source, ByteSink sink) {
  BitBuffer = 0;
  BitCount = 0;
  MakeOffsetTables();
  InitCodeTree();
  // Positions N - F and up are defined as well, as production does.
  for (unsigned k = 0; k < N; ++k) Ring[k] = 0x20;
  std::uint16_t ring_pos = N - F;
  std::int32_t out_count = 0;
  while (out_count < ExpandedLength) {
    const std::uint16_t s = DecodeSymbol(source);
    if (s < 256) {
      Emit(static_cast<std::uint8_t>(s), sink, ring_pos, out_count);
    } else {
      const std::uint16_t o = DecodeOffset(source);
      const std::uint16_t start = static_cast<std::uint16_t>((ring_pos - o - 1) % N + N) % N;
      const std::uint16_t n = static_cast<std::uint16_t>(s - 253);
      for (std::uint16_t k = 0; k < n; ++k) Emit(Ring[(start + k) % N], sink, ring_pos, out_count);
    }
  }
}

// The memory source and sink behind ReferenceExpand.
inline std::span<const std::uint8_t> MemoryCode;
inline std::size_t MemoryCodePos = 0;
inline std::vector<std::uint8_t>* MemoryOut = nullptr;
inline std::size_t MemorySourceCalls = 0;

inline void MemorySource(void* buffer, std::uint16_t, std::uint16_t& actual) {
  ++MemorySourceCalls;
  if (MemoryCodePos < MemoryCode.size()) {
    *static_cast<std::uint8_t*>(buffer) = MemoryCode[MemoryCodePos++];
    actual = 1;
  } else {
    actual = 0;
  }
}

inline void MemorySink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  MemoryOut->insert(MemoryOut->end(), bytes, bytes + count);
  accepted = count;
}

// The expansion of a code stream (without the container header). A length
// of 0 or less gives nothing; a last match may add bytes past the length.
// source_calls, when given, receives the number of source calls made.
inline std::vector<std::uint8_t> ReferenceExpand(std::span<const std::uint8_t> code,
                                                 std::int32_t length,
                                                 std::size_t* source_calls = nullptr) {
  std::vector<std::uint8_t> out;
  MemoryCode = code;
  MemoryCodePos = 0;
  MemorySourceCalls = 0;
  MemoryOut = &out;
  ReferenceUnpackStream(length, MemorySource, MemorySink);
  if (source_calls) *source_calls = MemorySourceCalls;
  MemoryOut = nullptr;
  MemoryCode = {};
  return out;
}

}  // namespace reference_lzh
