#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "lzh/match_finder.h"
#include "lzh/offset_code.h"
#include "lzh/parse.h"

namespace lzh {

namespace {

// Nodes looked at per position in the binary tree. Deeper searches find
// almost nothing more in a window this small.
constexpr unsigned kTreeDepth = 48;
// Positions priced together: the prices are the code lengths at the block's
// start. The tree drifts little within a block; shorter blocks gained
// nothing measurable. Nor did committing fewer positions so that each parse
// starts from the tree as it stands, or trying every other split of each
// pair of written items against a copy of the tree (codes of the following
// items included): on the corpus each gained under 0.02%. On the two
// executables of the corpus the written bits are 0.15% and 0.4% below the
// sum of the prices the parse chose them by.
constexpr unsigned kBlockLength = 4096;
// Only the items starting in the first kCommitLength positions of a block
// are written: near the block's end the parse is cut short, and the
// remaining positions are parsed again as the start of the next block.
constexpr unsigned kCommitLength = kBlockLength - 4 * MaxMatchLength;
static_assert(kCommitLength > 0 && kCommitLength + MaxMatchLength <= kBlockLength);
// A match this long ends the block right behind it: nothing starting inside
// it could do much better, and on long repetitions this saves pricing every
// length at every position.
constexpr unsigned kNiceLength = MaxMatchLength;
// Match lists of positions already written are dropped in batches.
constexpr std::size_t kCompactAfter = 4 * kBlockLength;

using Cost = std::uint32_t;
constexpr Cost kInfinite = std::numeric_limits<Cost>::max();

constexpr std::array<std::uint8_t, RingSize> MakeOffsetPrices() {
  std::array<std::uint8_t, RingSize> prices{};
  for (unsigned o = 0; o < RingSize; ++o) prices[o] = static_cast<std::uint8_t>(OffsetCodeBits(o));
  return prices;
}
constexpr std::array<std::uint8_t, RingSize> kOffsetPrices = MakeOffsetPrices();

// One step of the cheapest path: how it arrived at a position.
struct Step {
  std::uint16_t length;  // 1 for a literal
  std::uint16_t offset;
};

// How much of a parsed block is written.
struct BlockPlan {
  unsigned span;    // the path covers the block's first span bytes
  unsigned commit;  // items starting before this are written
};

class OptimalParser {
 public:
  OptimalParser(std::span<const std::uint8_t> input, ItemWriter& writer)
      : input_(input), writer_(writer), history_(input), finder_(history_, kTreeDepth) {
    cost_.resize(kBlockLength + 1);
    steps_.resize(kBlockLength + 1);
    // The spaces before the data are part of the window.
    for (std::uint32_t v = 0; v < RingStart; ++v) finder_.Skip(v, LeftAt(v));
  }

  void Run(ProgressReporter& progress) {
    const std::size_t n = input_.size();
    std::size_t pos = 0;
    while (pos < n) {
      const std::size_t end = std::min<std::size_t>(n, pos + kBlockLength);
      FindMatchesUpTo(end);
      UpdatePrices();
      const BlockPlan plan = ParseBlock(pos, static_cast<unsigned>(end - pos), end == n);
      pos += WriteItems(pos, plan);
      if (pos - base_ >= kCompactAfter) DropMatchesBefore(pos);
      progress.Update(pos);
    }
  }

 private:
  unsigned LeftAt(std::uint32_t v) const {
    return std::min<std::uint32_t>(MaxMatchLength, history_.End() - v);
  }

  // Match lists are kept for the data positions from base_ to found_.
  void FindMatchesUpTo(std::size_t end) {
    for (; found_ < end; ++found_) {
      const auto v = static_cast<std::uint32_t>(RingStart + found_);
      std::array<Match, MaxMatchLength> found;
      const unsigned count = finder_.Find(v, LeftAt(v), found.data());
      matches_.insert(matches_.end(), found.begin(), found.begin() + count);
      first_.push_back(static_cast<std::uint32_t>(matches_.size()));
    }
  }

  void DropMatchesBefore(std::size_t pos) {
    const std::size_t drop = pos - base_;
    const std::uint32_t dropped = first_[drop];
    matches_.erase(matches_.begin(), matches_.begin() + dropped);
    first_.erase(first_.begin(), first_.begin() + static_cast<std::ptrdiff_t>(drop));
    for (std::uint32_t& f : first_) f -= dropped;
    base_ = pos;
  }

  void UpdatePrices() {
    std::array<std::uint8_t, SymbolCount> lengths;
    writer_.Model().CodeLengths(lengths);
    for (unsigned s = 0; s < LiteralCount; ++s) literal_price_[s] = lengths[s];
    for (unsigned len = MinMatchLength; len <= MaxMatchLength; ++len) {
      length_price_[len] = lengths[len + MatchSymbolBias];
    }
  }

  // Forward over the block: cost_[k] is the cheapest way found to code the
  // block's first k bytes, steps_[k] the item that ends it.
  BlockPlan ParseBlock(std::size_t pos, unsigned span, bool last) {
    cost_[0] = 0;
    unsigned initialised = 0;  // cost_ is set up to here
    const std::uint8_t* const bytes = input_.data() + pos;
    const std::uint32_t* const first = first_.data() + (pos - base_);
    for (unsigned k = 0; k < span; ++k) {
      const unsigned limit = span - k;  // items are cut short at the block's end
      for (const unsigned reach = k + std::min(limit, MaxMatchLength); initialised < reach;) {
        cost_[++initialised] = kInfinite;
      }
      const Cost here = cost_[k];
      // Among equally cheap ways to the block's end, the one with the latest
      // last item wins: the odd piece that the cut forces then lies in the
      // part that is parsed again, not in what is written.
      const auto better = [&](Cost c, unsigned to) {
        return c < cost_[to] || (c == cost_[to] && to == span);
      };
      const Cost literal = here + literal_price_[bytes[k]];
      if (better(literal, k + 1)) {
        cost_[k + 1] = literal;
        steps_[k + 1] = Step{1, 0};
      }
      // The lists grow in length and distance: each length is priced with
      // the nearest match that reaches it, the cheapest offset for it.
      const Match* m = matches_.data() + first[k];
      const Match* const m_end = matches_.data() + first[k + 1];
      if (m == m_end) continue;
      unsigned len = MinMatchLength;
      for (; m != m_end; ++m) {
        const unsigned top = std::min<unsigned>(m->length, limit);
        const Cost base = here + kOffsetPrices[m->offset];
        for (; len <= top; ++len) {
          const Cost c = base + length_price_[len];
          if (better(c, k + len)) {
            cost_[k + len] = c;
            steps_[k + len] = Step{static_cast<std::uint16_t>(len), m->offset};
          }
        }
        if (top == limit) break;
      }
      const unsigned longest = m_end[-1].length;
      if (longest >= kNiceLength && longest <= limit) {
        // Every way to k + longest is known now; the block ends there.
        return BlockPlan{k + longest, k + longest};
      }
    }
    return BlockPlan{span, last ? span : kCommitLength};
  }

  // Writes the cheapest path's items that start before plan.commit; returns
  // the number of bytes they cover.
  unsigned WriteItems(std::size_t pos, const BlockPlan& plan) {
    path_.clear();
    for (unsigned k = plan.span; k > 0; k -= steps_[k].length) path_.push_back(steps_[k]);
    unsigned done = 0;
    for (auto it = path_.rbegin(); it != path_.rend() && done < plan.commit; ++it) {
      if (it->length == 1) {
        writer_.Literal(input_[pos + done]);
      } else {
        writer_.Match(it->length, it->offset);
      }
      done += it->length;
    }
    return done;
  }

  std::span<const std::uint8_t> input_;
  ItemWriter& writer_;
  History history_;
  BinaryTreeFinder finder_;

  std::size_t base_ = 0;   // data position of first_[0]
  std::size_t found_ = 0;  // data positions below this have their matches
  std::vector<Match> matches_;
  std::vector<std::uint32_t> first_{0};  // first_[i]: where the list of base_ + i starts

  std::array<Cost, LiteralCount> literal_price_{};
  std::array<Cost, MaxMatchLength + 1> length_price_{};
  std::vector<Cost> cost_;
  std::vector<Step> steps_;
  std::vector<Step> path_;
};

}  // namespace

void ParseOptimal(std::span<const std::uint8_t> input, ItemWriter& writer,
                  const PackOptions& options) {
  ProgressReporter progress(options, input.size());
  OptimalParser parser(input, writer);
  parser.Run(progress);
}

}  // namespace lzh
