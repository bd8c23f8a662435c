// Codes the items of a parse: literals and matches, each symbol through the
// adaptive code tree exactly as the decoder will walk it, then the tree is
// updated with the same operation the decoder uses, so both trees stay equal.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "lzh/bit_writer.h"
#include "lzh/code_tree.h"
#include "lzh/lzh_format.h"
#include "lzh/offset_code.h"

namespace lzh {

class ItemWriter {
 public:
  explicit ItemWriter(std::vector<std::uint8_t>& out) : bits_(out) { InitCodeTree(Tree()); }

  void Literal(std::uint8_t byte) { Symbol(byte); }

  // length from MinMatchLength to MaxMatchLength; offset o copies from o + 1
  // bytes back.
  void Match(unsigned length, unsigned offset) {
    Symbol(length + MatchSymbolBias);
    const unsigned upper = offset >> OffsetLowBits;
    const unsigned low = offset & ((1u << OffsetLowBits) - 1);
    bits_.Put(static_cast<std::uint32_t>(kOffsetTables.code[upper]) << OffsetLowBits | low,
              OffsetCodeBits(offset));
  }

  void Finish() { bits_.Finish(); }

  // The length of every symbol's code in the tree as it stands: the depth of
  // its leaf. A parent always stands above its children, so one pass down
  // from the root sets every depth.
  void CodeLengths(std::array<std::uint8_t, SymbolCount>& lengths) const {
    std::array<std::uint8_t, NodeCount> depth;
    depth[RootPosition] = 0;
    for (unsigned p = RootPosition; p-- > 0;) {
      depth[p] = static_cast<std::uint8_t>(depth[parents_[p]] + 1);
    }
    for (unsigned s = 0; s < SymbolCount; ++s) lengths[s] = depth[parents_[LeafBase + s]];
  }

 private:
  CodeTree Tree() { return CodeTree{weights_.data(), children_.data(), parents_.data()}; }

  void Symbol(unsigned symbol) {
    // The code is the path from the root to the leaf: collected leaf first,
    // so each step up sets the next higher bit. A Huffman tree whose root
    // weight stays at or below WeightLimit is no deeper than about 22 levels,
    // but nothing here depends on that beyond the 64-bit path.
    std::uint64_t code = 0;
    unsigned length = 0;
    for (unsigned p = parents_[LeafBase + symbol]; p != RootPosition;) {
      const unsigned up = parents_[p];
      code |= static_cast<std::uint64_t>(p != children_[up]) << length;
      ++length;
      p = up;
    }
    if (length > 32) {
      bits_.Put(static_cast<std::uint32_t>(code >> 32), length - 32);
      length = 32;
    }
    bits_.Put(static_cast<std::uint32_t>(code & 0xFFFFFFFFu), length);
    UpdateCodeTree(Tree(), symbol);
  }

  BitWriter bits_;
  std::array<std::uint16_t, WeightsSize> weights_;
  std::array<std::uint16_t, NodeCount> children_;
  std::array<std::uint16_t, ParentsSize> parents_;
};

}  // namespace lzh
