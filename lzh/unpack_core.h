// The decoder's one loop, a template over how it gets a byte and how it
// puts one. UnpackStream instantiates it with the procedure types; buffered
// callers instantiate it with inlined reads and writes. Both see the same
// calls in the same order, because only the policies differ.
//
// Source policy: unsigned NextByte(), the next input byte or 0 when none came.
// Sink policy: void Put(std::uint8_t byte).
#pragma once

#include <cstdint>
#include <cstring>

#include "lzh/bit_reader.h"
#include "lzh/code_tree.h"
#include "lzh/lzh_format.h"
#include "lzh/offset_code.h"
#include "lzh/unpack.h"

namespace lzh {

// The ring and the tree tables of one expansion, about 8.5 KiB in all.
struct DecoderTables {
  std::uint8_t* ring = nullptr;  // RingSize bytes
  CodeTree tree{};
};

// Takes the tables from the host's memory manager; a failure is raised as
// ElzhException after the tables already obtained went back.
DecoderTables AllocTables();
// Returns the tables; a failure is raised as ElzhException.
void FreeTables(DecoderTables& tables);

template <class Source>
inline unsigned DecodeOffset(BitReader<Source>& bits) {
  const unsigned first = bits.ReadEightBits();
  const unsigned upper = OffsetUpperBits[first];
  // The prefix code took OffsetCodeLength bits of the eight; the rest of the
  // eight and these m bits are the offset's low six bits.
  const unsigned m = OffsetCodeLength[first] - 2u;
  const unsigned low = ((first << m) | bits.ReadBits(m)) & ((1u << OffsetLowBits) - 1);
  return (upper << OffsetLowBits) | low;
}

template <class Source, class Sink>
void UnpackLoop(std::int32_t expanded_length, DecoderTables& tables, Source& source, Sink& sink) {
  const CodeTree tree = tables.tree;
  std::uint8_t* const ring = tables.ring;
  InitCodeTree(tree);
  // Positions RingStart and up are written before a well-formed stream reads
  // them; a malformed one finds spaces there too, never undefined memory.
  std::memset(ring, RingFill, RingSize);
  unsigned ring_pos = RingStart;
  std::int32_t out_count = 0;
  BitReader<Source> bits(source);
  WalkTable walk;
  // Every output byte: to the sink, then into the ring.
  const auto emit = [&](std::uint8_t byte) {
    sink.Put(byte);
    ring[ring_pos] = byte;
    ring_pos = (ring_pos + 1) & RingMask;
  };

  while (out_count < expanded_length) {
    const unsigned symbol = walk.Decode(tree, bits);
    if (symbol < LiteralCount) {
      emit(static_cast<std::uint8_t>(symbol));
      ++out_count;
      continue;
    }
    const unsigned offset = DecodeOffset(bits);
    const unsigned length = symbol - MatchSymbolBias;
    unsigned from = (ring_pos - offset - 1) & RingMask;
    // Byte by byte, each stored before the next is read: a match closer than
    // its length repeats the bytes it is producing.
    for (unsigned k = 0; k < length; ++k) {
      emit(ring[from]);
      from = (from + 1) & RingMask;
    }
    // A match is emitted whole, even past the expanded length. Near the top
    // of the 32-bit range the count wraps, as the plain 32-bit counter does,
    // rather than overflowing.
    out_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(out_count) + length);
  }
}

// The whole expansion around the loop: tables obtained, used, returned.
template <class Source, class Sink>
void UnpackWith(std::int32_t expanded_length, Source& source, Sink& sink) {
  DecoderTables tables = AllocTables();
  try {
    UnpackLoop(expanded_length, tables, source, sink);
  } catch (...) {
    // A failure to free replaces the exception that is passing.
    FreeTables(tables);
    throw;
  }
  FreeTables(tables);
}

}  // namespace lzh
