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

// The adaptive code tree with its own tables. A copy follows its own course,
// which lets a parser try out what coding some items would do to the codes.
class SymbolModel {
 public:
  SymbolModel() { InitCodeTree(Tree()); }
  SymbolModel(const SymbolModel& other) { *this = other; }
  SymbolModel& operator=(const SymbolModel& other) {
    weights_ = other.weights_;
    children_ = other.children_;
    parents_ = other.parents_;
    return *this;
  }

  // The symbol's code, right-aligned, and its length: the path from the
  // root to the leaf, collected leaf first so that each step up sets the
  // next higher bit. A Huffman tree whose root weight stays at or below
  // WeightLimit is no deeper than about 22 levels; the 64 bits are ample.
  std::uint64_t Code(unsigned symbol, unsigned& length) const {
    std::uint64_t code = 0;
    length = 0;
    for (unsigned p = parents_[LeafBase + symbol]; p != RootPosition;) {
      const unsigned up = parents_[p];
      code |= static_cast<std::uint64_t>(p != children_[up]) << length;
      ++length;
      p = up;
    }
    return code;
  }

  void Update(unsigned symbol) { UpdateCodeTree(Tree(), symbol); }

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

  unsigned LeafWeight(unsigned s) const { return weights_[parents_[LeafBase + s]]; }
  unsigned RootWeight() const { return weights_[RootPosition]; }

 private:
  CodeTree Tree() { return CodeTree{weights_.data(), children_.data(), parents_.data()}; }

  std::array<std::uint16_t, WeightsSize> weights_;
  std::array<std::uint16_t, NodeCount> children_;
  std::array<std::uint16_t, ParentsSize> parents_;
};

class ItemWriter {
 public:
  explicit ItemWriter(std::vector<std::uint8_t>& out) : bits_(out) {}

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

  const SymbolModel& Model() const { return model_; }

 private:
  void Symbol(unsigned symbol) {
    unsigned length;
    const std::uint64_t code = model_.Code(symbol, length);
    if (length > 32) {
      bits_.Put(static_cast<std::uint32_t>(code >> 32), length - 32);
      length = 32;
    }
    bits_.Put(static_cast<std::uint32_t>(code & 0xFFFFFFFFu), length);
    model_.Update(symbol);
  }

  BitWriter bits_;
  SymbolModel model_;
};

}  // namespace lzh
