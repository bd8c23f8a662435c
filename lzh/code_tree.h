// The adaptive Huffman code tree shared by the decoder and the encoder.
// Both sides must change the tree identically after every symbol: one step
// done differently changes the code of every later symbol. The operations
// are inline because they run once per symbol in both hot loops.
#pragma once

#include <cstdint>
#include <cstring>

#include "lzh/lzh_format.h"

namespace lzh {

// Views of the three tables; who owns them is the caller's business (the
// decoder takes them from the host's memory manager for each expansion).
struct CodeTree {
  std::uint16_t* weights;   // WeightsSize entries; the last is the sentinel
  std::uint16_t* children;  // NodeCount entries
  std::uint16_t* parents;   // ParentsSize entries
};

inline void InitCodeTree(CodeTree t) {
  for (unsigned s = 0; s < SymbolCount; ++s) {
    t.weights[s] = 1;
    t.children[s] = static_cast<std::uint16_t>(LeafBase + s);
    t.parents[LeafBase + s] = static_cast<std::uint16_t>(s);
  }
  unsigned i = 0;
  for (unsigned p = SymbolCount; p < NodeCount; ++p, i += 2) {
    t.weights[p] = static_cast<std::uint16_t>(t.weights[i] + t.weights[i + 1]);
    t.children[p] = static_cast<std::uint16_t>(i);
    t.parents[i] = t.parents[i + 1] = static_cast<std::uint16_t>(p);
  }
  t.weights[NodeCount] = WeightSentinel;
  t.parents[RootPosition] = 0;
}

// Halves every leaf weight (rounding up, so none becomes 0) and builds the
// internal nodes again. Rare: once per ~16,000 symbols.
inline void RebuildCodeTree(CodeTree t) {
  std::uint16_t* const w = t.weights;
  std::uint16_t* const c = t.children;
  unsigned j = 0;
  for (unsigned p = 0; p < NodeCount; ++p) {
    if (c[p] >= LeafBase) {
      w[j] = static_cast<std::uint16_t>((w[p] + 1u) / 2);
      c[j] = c[p];
      ++j;
    }
  }
  unsigned i = 0;
  for (unsigned p = SymbolCount; p < NodeCount; ++p, i += 2) {
    const std::uint16_t f = static_cast<std::uint16_t>(w[i] + w[i + 1]);
    // Among equal weights the new node goes last: search down past every
    // entry heavier than f, not past those equal to it.
    unsigned k = p - 1;
    while (f < w[k]) --k;
    const unsigned r = k + 1;
    std::memmove(w + r + 1, w + r, (p - r) * sizeof *w);
    std::memmove(c + r + 1, c + r, (p - r) * sizeof *c);
    w[r] = f;
    c[r] = static_cast<std::uint16_t>(i);
  }
  for (unsigned p = 0; p < NodeCount; ++p) {
    const unsigned k = c[p];
    t.parents[k] = static_cast<std::uint16_t>(p);
    if (k < LeafBase) t.parents[k + 1] = static_cast<std::uint16_t>(p);
  }
}

// Counts one more occurrence of the symbol and restores the order of weights.
inline void UpdateCodeTree(CodeTree t, unsigned symbol) {
  std::uint16_t* const w = t.weights;
  std::uint16_t* const c = t.children;
  std::uint16_t* const parent = t.parents;
  // Equality, before this symbol's increments: the root weight rises by one
  // per symbol, so it meets the limit exactly.
  if (w[RootPosition] == WeightLimit) RebuildCodeTree(t);

  unsigned p = parent[LeafBase + symbol];
  do {
    const std::uint16_t nw = static_cast<std::uint16_t>(w[p] + 1);
    w[p] = nw;
    if (w[p + 1] < nw) {
      // The node moves to the top of its run of equal weights (all w - 1),
      // past every node of the run: exchanging with the first one only would
      // leave the run out of order. The sentinel above the root ends the scan.
      unsigned q = p + 1;
      while (w[q + 1] < nw) ++q;
      w[p] = w[q];
      w[q] = nw;
      // Positions keep their parents; the subtrees (or symbols) move.
      const unsigned a = c[p];
      parent[a] = static_cast<std::uint16_t>(q);
      if (a < LeafBase) parent[a + 1] = static_cast<std::uint16_t>(q);
      const unsigned b = c[q];
      c[q] = static_cast<std::uint16_t>(a);
      parent[b] = static_cast<std::uint16_t>(p);
      if (b < LeafBase) parent[b + 1] = static_cast<std::uint16_t>(p);
      c[p] = static_cast<std::uint16_t>(b);
      p = q;
    }
    // Only the root has parent 0, and position 0 is never a parent.
    p = parent[p];
  } while (p != 0);
}

// Walks from the root to a leaf, one bit per level; every bit string ends at
// a leaf, so there is no invalid code.
template <class BitReader>
inline unsigned DecodeSymbol(CodeTree t, BitReader& bits) {
  unsigned v = t.children[RootPosition];
  while (v < LeafBase) v = t.children[v + bits.ReadBit()];
  const unsigned symbol = v - LeafBase;
  UpdateCodeTree(t, symbol);
  return symbol;
}

}  // namespace lzh
