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

namespace detail {

// From position p, whose weight has just been raised to its new value:
// the exchange rule there, then the increment and the rule for every
// ancestor, up to and including the root.
inline void Climb(CodeTree t, unsigned p) {
  std::uint16_t* const w = t.weights;
  std::uint16_t* const c = t.children;
  std::uint16_t* const parent = t.parents;
  for (;;) {
    const unsigned nw = w[p];
    if (w[p + 1] < nw) {
      // The node moves to the top of its run of equal weights (all nw - 1),
      // past every node of the run: exchanging with the first one only would
      // leave the run out of order. The sentinel above the root ends the scan.
      unsigned q = p + 1;
      while (w[q + 1] < nw) ++q;
      w[p] = w[q];
      w[q] = static_cast<std::uint16_t>(nw);
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
    if (p == 0) return;
    ++w[p];
  }
}

// The update proper, from the position of the symbol's leaf upward.
inline void UpdateFrom(CodeTree t, unsigned leaf) {
  ++t.weights[leaf];
  Climb(t, leaf);
}

// How deep a walk can go. Going up from a leaf, each node weighs at least
// its child on the path plus that child's sibling, and the sibling weighs
// at least as much as the node below the child (it stands at a higher
// position, and weights never decrease upward). So the weights along a path
// grow at least like Fibonacci numbers from 1, 2, and the root, never
// heavier than WeightLimit, bounds the number of levels.
constexpr unsigned MaxPathNodes() {
  unsigned nodes = 2;  // a leaf of weight 1 and its parent, 2 or more
  unsigned below = 1, here = 2;
  while (here + below <= WeightLimit) {
    const unsigned above = here + below;
    below = here;
    here = above;
    ++nodes;
  }
  return nodes;
}
inline constexpr unsigned PathSize = 32;
static_assert(MaxPathNodes() <= PathSize, "a walk's path fits in its record");

}  // namespace detail

// Counts one more occurrence of the symbol and restores the order of weights.
inline void UpdateCodeTree(CodeTree t, unsigned symbol) {
  // Equality, before this symbol's increments: the root weight rises by one
  // per symbol, so it meets the limit exactly.
  if (t.weights[RootPosition] == WeightLimit) RebuildCodeTree(t);
  detail::UpdateFrom(t, t.parents[LeafBase + symbol]);
}

// Walks from the root to a leaf, one bit per level, and counts the symbol;
// every bit string ends at a leaf, so there is no invalid code.
//
// The update climbs back along the path the walk came down, unless a node
// on it has to be exchanged. Done as a second pass, every level waits for
// the parent lookup of the level below. Instead the walk raises the weights
// as it passes, where the loads overlap with its own, and notes the deepest
// node whose upper neighbour weighs the same as it did: that is where the
// climb from the leaf would make its first exchange (the neighbour, above
// the node, is not touched by the levels below it, and an ancestor standing
// there weighs more). With no such node the update is complete. Otherwise
// the increments above that node are taken back and the climb goes on from
// it by the rules, exchange first.
template <class BitReader>
inline unsigned DecodeSymbol(CodeTree t, BitReader& bits) {
  std::uint16_t* const w = t.weights;
  const std::uint16_t* const c = t.children;
  if (w[RootPosition] == WeightLimit) [[unlikely]] {
    // The symbol is decoded with the tree as it stands, then the rebuild
    // comes before its increments.
    unsigned v = c[RootPosition];
    while (v < LeafBase) v = c[v + bits.NextBit()];
    RebuildCodeTree(t);
    detail::UpdateFrom(t, t.parents[v]);
    return v - LeafBase;
  }

  std::uint16_t path[detail::PathSize];
  unsigned depth = 0;
  unsigned exchange_depth = detail::PathSize;  // none
  unsigned p = RootPosition;
  unsigned v;
  for (;;) {
    const unsigned old = w[p];
    // Weights never decrease upward, so "the next weight is below the new
    // one" means "the next weight equals the old one".
    if (w[p + 1] == old) exchange_depth = depth;
    w[p] = static_cast<std::uint16_t>(old + 1);
    path[depth % detail::PathSize] = static_cast<std::uint16_t>(p);
    ++depth;
    v = c[p];
    if (v >= LeafBase) break;
    p = v + bits.NextBit();
  }
  if (exchange_depth != detail::PathSize) {
    for (unsigned k = 0; k < exchange_depth; ++k) --w[path[k]];
    detail::Climb(t, path[exchange_depth]);
  }
  return v - LeafBase;
}

}  // namespace lzh
