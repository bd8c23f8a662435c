// The adaptive Huffman code tree shared by the decoder and the encoder.
// Both sides must change the tree identically after every symbol: one step
// done differently changes the code of every later symbol. The operations
// are inline because they run once per symbol in both hot loops.
//
// Positions grow from the leaves towards the root at RootPosition; "up" and
// "above" below mean towards higher positions.
#pragma once

#include <algorithm>
#include <bit>
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
    // Among equal weights the new node goes last: it goes above every entry
    // not heavier than f. Positions 0 to p - 1 are in order (the halved
    // leaves kept theirs, each new node went to its place), so a binary
    // search finds the spot that a search down from p - 1 would; the pair
    // just joined weighs f or less, so the spot is above it.
    const unsigned r = static_cast<unsigned>(std::upper_bound(w + i + 2, w + p, f) - w);
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

// The last position of the run of weights equal to w[first], which the
// caller knows holds that weight. Weights never decrease upward, so the run
// ends at the first different weight, at the latest at the sentinel. Runs
// are mostly short but of any length, and a loop that stops at a different
// count each time is a branch the processor keeps guessing wrong; looking
// at four weights at once ends most scans in one step.
inline unsigned LastOfRun(const std::uint16_t* w, unsigned first) {
  const std::uint64_t run = w[first];
  unsigned q = first;
  if constexpr (std::endian::native == std::endian::little) {
    // Only while four weights fit below the end of the table.
    while (q + 4 < WeightsSize) {
      std::uint64_t next;
      std::memcpy(&next, w + q + 1, sizeof next);
      // Zero lanes are the weights equal to the run's; the lowest nonzero
      // lane is the first weight past it.
      const std::uint64_t differ = next ^ (run * 0x0001000100010001u);
      if (differ != 0) return q + static_cast<unsigned>(std::countr_zero(differ)) / 16;
      q += 4;
    }
  }
  while (w[q + 1] == run) ++q;
  return q;
}

struct NoExchangeWatch {
  void operator()(unsigned, unsigned) const {}
};

// The weight at p and the one above it. Every level of the climb reads
// both; one load serves them where the layout allows.
inline void WeightPair(const std::uint16_t* w, unsigned p, unsigned& self, unsigned& above) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t pair;
    std::memcpy(&pair, w + p, sizeof pair);
    self = pair & 0xFFFFu;
    above = pair >> 16;
  } else {
    self = w[p];
    above = w[p + 1];
  }
}

// Moves what hangs at p, of weight `weight` before its increment, to q, the
// last position of its run of equal weights, and what hung at q to p; the
// increment ends up at q. Positions keep their parents; the subtrees (or
// symbols) move. With q == p only the increment is left, as the stores are
// ordered for that case too.
inline void Exchange(CodeTree t, unsigned p, unsigned q, unsigned weight) {
  std::uint16_t* const c = t.children;
  std::uint16_t* const parent = t.parents;
  t.weights[p] = static_cast<std::uint16_t>(weight);
  t.weights[q] = static_cast<std::uint16_t>(weight + 1u);
  const unsigned a = c[p];
  const unsigned b = c[q];
  c[q] = static_cast<std::uint16_t>(a);
  c[p] = static_cast<std::uint16_t>(b);
  // A node's second child needs the entry too; for a leaf the first store
  // goes to its own entry, which the second rewrites. No branch on which.
  parent[a + (a < LeafBase ? 1u : 0u)] = static_cast<std::uint16_t>(q);
  parent[a] = static_cast<std::uint16_t>(q);
  parent[b + (b < LeafBase ? 1u : 0u)] = static_cast<std::uint16_t>(p);
  parent[b] = static_cast<std::uint16_t>(p);
}

// From position p upward: the increment and the exchange rule at p and at
// every ancestor, up to and including the root. watch(p, q) hears of every
// exchange before it is made (and of the leaf's, with q == p when its
// exchange is with itself).
template <class Watch = NoExchangeWatch>
inline void Climb(CodeTree t, unsigned p, Watch watch = {}) {
  std::uint16_t* const w = t.weights;
  std::uint16_t* const parent = t.parents;
  for (;;) {
    unsigned self, above;
    WeightPair(w, p, self, above);
    const unsigned nw = self + 1u;
    w[p] = static_cast<std::uint16_t>(nw);
    if (above < nw) [[unlikely]] {
      // The node moves to the top of its run of equal weights (all nw - 1),
      // past every node of the run: exchanging with the first one only would
      // leave the run out of order.
      const unsigned q = LastOfRun(w, p + 1);
      watch(p, q);
      Exchange(t, p, q, nw - 1);
      p = q;
    }
    // Only the root has parent 0, and position 0 is never a parent.
    p = parent[p];
    if (p == 0) return;
  }
}

// The leaf's own level, where nearly all exchanges start: on executables the
// leaf trades places with the last entry of its weight for 36 to 52 percent
// of all symbols, and a branch that goes either way that often is guessed
// wrong as often. So the exchange is always made, with the leaf itself when
// none is due (the last of its run is then its own position).
// Returns the position to go on from: the parent of the leaf's new place.
template <class Watch>
inline unsigned UpdateLeafLevel(CodeTree t, unsigned p, Watch watch) {
  const unsigned q = LastOfRun(t.weights, p);
  watch(p, q);
  Exchange(t, p, q, t.weights[p]);
  return t.parents[q];
}

// The update proper, from the position of the symbol's leaf upward. A leaf
// is never the root, so there is always a parent to go on from.
template <class Watch = NoExchangeWatch>
inline void UpdateFrom(CodeTree t, unsigned leaf, Watch watch = {}) {
  Climb(t, UpdateLeafLevel(t, leaf, watch), watch);
}

}  // namespace detail

// Counts one more occurrence of the symbol and restores the order of weights.
inline void UpdateCodeTree(CodeTree t, unsigned symbol) {
  // Equality, before this symbol's increments: the root weight rises by one
  // per symbol, so it meets the limit exactly.
  if (t.weights[RootPosition] == WeightLimit) RebuildCodeTree(t);
  detail::UpdateFrom(t, t.parents[LeafBase + symbol]);
}

namespace detail {

// Walks on from a position, one bit per level, to a leaf and counts the
// symbol found there; every bit string ends at a leaf, so there is no
// invalid code. on_rebuild runs when the count had to rebuild the tree,
// watch sees every exchange.
template <class BitReader, class Watch, class OnRebuild>
inline unsigned WalkAndCount(CodeTree t, BitReader& bits, std::size_t position, Watch watch,
                             OnRebuild on_rebuild) {
  const std::uint16_t* const c = t.children;
  std::size_t v;
  for (;;) {
    v = c[position];
    if (v >= LeafBase) break;
    position = v + bits.NextBit();
  }
  if (t.weights[RootPosition] == WeightLimit) [[unlikely]] {
    // The symbol was decoded with the tree as it stood; the rebuild comes
    // before its increments, and moves its leaf.
    RebuildCodeTree(t);
    on_rebuild();
    position = t.parents[v];
  }
  // The walk ended on the leaf, so the update needs no lookup to find it.
  UpdateFrom(t, static_cast<unsigned>(position), watch);
  return static_cast<unsigned>(v - LeafBase);
}

}  // namespace detail

// Walks from the root to a leaf and counts the symbol.
template <class BitReader>
inline unsigned DecodeSymbol(CodeTree t, BitReader& bits) {
  return detail::WalkAndCount(t, bits, RootPosition, detail::NoExchangeWatch{}, [] {});
}

// The first WalkTableBits levels of the walk in one step: for each value of
// the next WalkTableBits bits, the position the walk reaches and the bits it
// takes (fewer when it meets a leaf earlier). The table holds as long as the
// children of every position it read stay put; an exchange at one of those,
// or a rebuild, makes it stale, and the next walk builds it again. The top
// levels hold the heaviest nodes, which rarely trade places: on executables
// the table is built again about once per 300 to 500 symbols (five bits);
// six or more bits rebuild it often enough to lose what they save.
inline constexpr unsigned WalkTableBits = 5;

class WalkTable {
 public:
  // Walks from the root to a leaf and counts the symbol, as DecodeSymbol does,
  // with the same bits and the same pulls from the source.
  template <class BitReader>
  unsigned Decode(CodeTree t, BitReader& bits) {
    if (!valid_) [[unlikely]] {
      Build(t);
    }
    const unsigned entry = entries_[bits.PeekForWalk(WalkTableBits)];
    bits.SkipWalked(entry >> DepthShift);
    return detail::WalkAndCount(
        t, bits, entry & PositionMask,
        [this](unsigned p, unsigned q) {
          if ((p != q) & (Read(p) | Read(q))) valid_ = false;
        },
        [this] { valid_ = false; });
  }

 private:
  static constexpr unsigned DepthShift = 10;
  static constexpr unsigned PositionMask = (1u << DepthShift) - 1;
  static_assert(NodeCount <= PositionMask + 1);

  // 0 or 1, not bool: the watch combines these without a branch.
  unsigned Read(unsigned p) const { return static_cast<unsigned>(read_[p / 64] >> (p % 64)) & 1u; }

  // Level by level, each entry of the walks still going splitting in two;
  // from the top down, so that entry s is read before 2s and 2s + 1 are
  // written over it.
  void Build(CodeTree t) {
    for (auto& word : read_) word = 0;
    entries_[0] = static_cast<std::uint16_t>(RootPosition);
    for (unsigned depth = 0; depth < WalkTableBits; ++depth) {
      for (unsigned s = 1u << depth; s-- > 0;) {
        const unsigned entry = entries_[s];
        unsigned first = entry;
        unsigned second = entry;
        if (entry >> DepthShift == depth) {
          const unsigned position = entry & PositionMask;
          read_[position / 64] |= std::uint64_t{1} << (position % 64);
          const unsigned v = t.children[position];
          if (v < LeafBase) {
            first = v | (depth + 1) << DepthShift;
            second = first + 1;
          }
        }
        entries_[2 * s] = static_cast<std::uint16_t>(first);
        entries_[2 * s + 1] = static_cast<std::uint16_t>(second);
      }
    }
    valid_ = true;
  }

  std::uint16_t entries_[1u << WalkTableBits] = {};
  std::uint64_t read_[(NodeCount + 63) / 64] = {};
  bool valid_ = false;
};

}  // namespace lzh
