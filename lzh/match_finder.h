// Match finding over the decoder's window. The decoder's ring starts with
// RingStart spaces and writes the data behind them, so the encoder sees the
// history as RingStart virtual spaces followed by the input: data index i is
// virtual index RingStart + i. A match at virtual index v may copy from any
// virtual index from v - RingSize up, but never from below 0: that would be
// a ring position from RingStart on which the decoder has not written yet.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "lzh/lzh_format.h"

namespace lzh {

struct Match {
  std::uint16_t length;
  std::uint16_t offset;  // distance - 1, as coded
};

// The bytes at virtual indices. The virtual spaces and the first RingSize
// data bytes are copied into a small head buffer; from there on every index
// a match can reach lies in the input itself, so the input is not copied.
class History {
 public:
  explicit History(std::span<const std::uint8_t> input);

  // The virtual index just past the last data byte.
  std::uint32_t End() const { return end_; }

  // Every index from v - RingSize to v + MaxMatchLength - 1 (within 0 and
  // End()) is reachable from this pointer, all in the same buffer.
  const std::uint8_t* At(std::uint32_t v) const {
    return v < split_ ? head_.data() + v : input_.data() + (v - RingStart);
  }

 private:
  std::span<const std::uint8_t> input_;
  std::vector<std::uint8_t> head_;
  std::uint32_t end_;
  std::uint32_t split_;  // first index served from the input
};

// Common to both finders: positions are virtual indices; a slot array of
// twice the window keeps a node of distance RingSize apart from the one
// being inserted.
inline constexpr unsigned kFinderHashBits = 15;
inline constexpr unsigned kFinderSlots = 2 * RingSize;
inline constexpr std::uint32_t kNoPosition = 0xFFFFFFFF;

// Hash chains, for greedy parsing: the longest match among the nearest few
// candidates.
class HashChainFinder {
 public:
  HashChainFinder(const History& history, unsigned max_depth);

  // Inserts v and returns its longest match (length 0 when none of at least
  // MinMatchLength was found), the nearest among equally long ones.
  // max_length is at most what is left of the input.
  Match Find(std::uint32_t v, unsigned max_length);

  // Inserts v without searching; v must have MinMatchLength bytes left.
  void Insert(std::uint32_t v);

 private:
  const History& history_;
  unsigned max_depth_;
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> prev_;
};

// A binary tree per hash bucket, for the cost-based parse: every position
// becomes the root of its bucket's tree as it is inserted, so a search meets
// the nodes from the nearest on. For each length, the first node that
// matches that far is the nearest such match in the window, which is also
// the cheapest one, since an offset's code never gets shorter with distance.
class BinaryTreeFinder {
 public:
  BinaryTreeFinder(const History& history, unsigned max_depth);

  // Inserts v and writes its matches in increasing length, each the nearest
  // one at least that long; returns how many. out has room for
  // MaxMatchLength entries. max_length is at most what is left of the input.
  unsigned Find(std::uint32_t v, unsigned max_length, Match* out) {
    return Advance<true>(v, max_length, out);
  }

  // Inserts v without reporting matches.
  void Skip(std::uint32_t v, unsigned max_length) { Advance<false>(v, max_length, nullptr); }

 private:
  template <bool kReport>
  unsigned Advance(std::uint32_t v, unsigned max_length, Match* out);

  const History& history_;
  unsigned max_depth_;
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> children_;  // two per slot: lesser, greater
};

}  // namespace lzh
