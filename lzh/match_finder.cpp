#include "lzh/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace lzh {

namespace {

static_assert(kFinderSlots >= RingSize + 1, "a node RingSize back must keep its slot");
static_assert(MaxMatchLength <= 0xFFFF && MaxOffset <= 0xFFFF, "Match fields are 16 bits");

inline std::uint32_t Hash3(const std::uint8_t* p) {
  const std::uint32_t x = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16;
  return (x * 0x9E3779B1u) >> (32 - kFinderHashBits);
}

// The distance minus 1 if candidate lies in the window before v, else a
// value of RingSize or more. The test for candidate < v matters: without
// it, kNoPosition would pass for a position just before index 0 while v is
// below RingSize, and that is the ring's unwritten end.
inline std::uint32_t OffsetOf(std::uint32_t v, std::uint32_t candidate) {
  return candidate < v ? v - candidate - 1 : kNoPosition;
}

// How far a and b agree from start on, up to limit; the bytes before start
// are known to agree.
inline unsigned MatchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned start,
                            unsigned limit) {
  unsigned len = start;
  if constexpr (std::endian::native == std::endian::little) {
    while (len + 8 <= limit) {
      std::uint64_t x, y;
      std::memcpy(&x, a + len, 8);
      std::memcpy(&y, b + len, 8);
      if (x != y) return len + static_cast<unsigned>(std::countr_zero(x ^ y)) / 8;
      len += 8;
    }
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

}  // namespace

History::History(std::span<const std::uint8_t> input)
    : input_(input),
      end_(static_cast<std::uint32_t>(RingStart + input.size())),
      split_(RingStart + RingSize) {
  // Up to split_ the window may reach into the spaces; a position before
  // split_ also reads up to MaxMatchLength - 1 bytes ahead.
  const std::size_t head_data = std::min<std::size_t>(input.size(), RingSize + MaxMatchLength);
  head_.assign(RingStart, RingFill);
  head_.insert(head_.end(), input.begin(), input.begin() + static_cast<std::ptrdiff_t>(head_data));
}

HashChainFinder::HashChainFinder(const History& history, unsigned max_depth)
    : history_(history),
      max_depth_(max_depth),
      head_(std::size_t{1} << kFinderHashBits, kNoPosition),
      prev_(kFinderSlots, kNoPosition) {}

void HashChainFinder::Insert(std::uint32_t v) {
  const std::uint32_t h = Hash3(history_.At(v));
  prev_[v % kFinderSlots] = head_[h];
  head_[h] = v;
}

Match HashChainFinder::Find(std::uint32_t v, unsigned max_length) {
  const std::uint8_t* const cur = history_.At(v);
  const std::uint32_t h = Hash3(cur);
  std::uint32_t candidate = head_[h];
  prev_[v % kFinderSlots] = candidate;
  head_[h] = v;

  Match best{0, 0};
  unsigned best_length = MinMatchLength - 1;
  // Chain links are only followed inside the window, where their slots have
  // not been reused, so a stale link is never taken.
  for (unsigned depth = max_depth_; depth > 0; --depth) {
    const std::uint32_t offset = OffsetOf(v, candidate);
    if (offset >= RingSize) break;
    const std::uint8_t* const m = cur - offset - 1;
    // A candidate that cannot beat the best so far usually fails on the byte
    // just past the best length; test that one first.
    if (m[best_length] == cur[best_length]) {
      const unsigned length = MatchLength(m, cur, 0, max_length);
      if (length > best_length) {
        best_length = length;
        best = Match{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(offset)};
        if (length >= max_length) break;
      }
    }
    candidate = prev_[candidate % kFinderSlots];
  }
  return best;
}

BinaryTreeFinder::BinaryTreeFinder(const History& history, unsigned max_depth)
    : history_(history),
      max_depth_(max_depth),
      head_(std::size_t{1} << kFinderHashBits, kNoPosition),
      children_(2 * kFinderSlots, kNoPosition) {}

template <bool kReport>
unsigned BinaryTreeFinder::Advance(std::uint32_t v, unsigned max_length, Match* out) {
  // Too close to the end to hash; no later position can match here either.
  if (max_length < MinMatchLength) return 0;
  const std::uint8_t* const cur = history_.At(v);
  const std::uint32_t h = Hash3(cur);
  std::uint32_t candidate = head_[h];
  head_[h] = v;

  // The new node takes the root; the old tree is split beneath it into the
  // strings less than and greater than the new one. pending_* are the links
  // still to be filled on either side.
  std::uint32_t* pending_less = &children_[2 * (v % kFinderSlots)];
  std::uint32_t* pending_greater = pending_less + 1;
  // Every node left on the less side agrees with cur on less_length bytes,
  // and the same for the greater side; the nodes between them agree on at
  // least the smaller of the two, so comparison starts there.
  unsigned less_length = 0, greater_length = 0, length = 0;
  unsigned best_length = MinMatchLength - 1, count = 0;
  for (unsigned depth = max_depth_;; --depth) {
    const std::uint32_t offset = OffsetOf(v, candidate);
    if (offset >= RingSize || depth == 0) {
      *pending_less = *pending_greater = kNoPosition;
      return count;
    }
    const std::uint8_t* const m = cur - offset - 1;
    std::uint32_t* const node = &children_[2 * (candidate % kFinderSlots)];
    if (m[length] == cur[length]) {
      length = MatchLength(m, cur, length + 1, max_length);
      if (kReport && length > best_length) {
        best_length = length;
        out[count++] =
            Match{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(offset)};
      }
      if (length >= max_length) {
        // Equal as far as matches go: the new node replaces this one and
        // takes over its subtrees.
        *pending_less = node[0];
        *pending_greater = node[1];
        return count;
      }
    }
    if (m[length] < cur[length]) {
      *pending_less = candidate;
      pending_less = &node[1];
      candidate = node[1];
      less_length = length;
    } else {
      *pending_greater = candidate;
      pending_greater = &node[0];
      candidate = node[0];
      greater_length = length;
    }
    length = std::min(less_length, greater_length);
  }
}

template unsigned BinaryTreeFinder::Advance<true>(std::uint32_t, unsigned, Match*);
template unsigned BinaryTreeFinder::Advance<false>(std::uint32_t, unsigned, Match*);

}  // namespace lzh
