#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "lzh/match_finder.h"
#include "lzh/offset_code.h"
#include "lzh/parse.h"

namespace lzh {

namespace {

// Nodes looked at per position in the binary tree.
constexpr unsigned kTreeDepth = 48;
// Positions priced together: the prices are the code lengths at the block's
// start, so a shorter block follows the adapting tree more closely.
constexpr unsigned kBlockLength = 4096;
// Only the items starting in the first kCommitLength positions of a block
// are written: near the block's end the parse is cut short, and the
// remaining positions are parsed again as the start of the next block.
constexpr unsigned kCommitLength = kBlockLength - 4 * MaxMatchLength;
static_assert(kCommitLength > 0 && kCommitLength + MaxMatchLength <= kBlockLength);

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
      const auto span = static_cast<unsigned>(end - pos);
      ParseBlock(pos, span);
      const unsigned commit = end == n ? span : kCommitLength;
      pos += WriteItems(pos, span, commit);
      DropMatchesBefore(pos);
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
    writer_.CodeLengths(lengths);
    for (unsigned s = 0; s < LiteralCount; ++s) literal_price_[s] = lengths[s];
    for (unsigned len = MinMatchLength; len <= MaxMatchLength; ++len) {
      length_price_[len] = lengths[len + MatchSymbolBias];
    }
  }

  // Forward over the block: cost_[k] is the cheapest way found to code the
  // block's first k bytes, steps_[k] the item that ends it.
  void ParseBlock(std::size_t pos, unsigned span) {
    std::fill(cost_.begin(), cost_.begin() + span + 1, kInfinite);
    cost_[0] = 0;
    const std::uint8_t* const bytes = input_.data() + pos;
    const std::size_t list_base = pos - base_;
    for (unsigned k = 0; k < span; ++k) {
      const Cost here = cost_[k];
      const Cost literal = here + literal_price_[bytes[k]];
      if (literal < cost_[k + 1]) {
        cost_[k + 1] = literal;
        steps_[k + 1] = Step{1, 0};
      }
      // The lists grow in length and distance: each length is priced with
      // the nearest match that reaches it, cut short at the block's end.
      const unsigned limit = span - k;
      const Match* m = matches_.data() + first_[list_base + k];
      const Match* const m_end = matches_.data() + first_[list_base + k + 1];
      unsigned len = MinMatchLength;
      for (; m != m_end; ++m) {
        const unsigned top = std::min<unsigned>(m->length, limit);
        const Cost base = here + kOffsetPrices[m->offset];
        for (; len <= top; ++len) {
          const Cost c = base + length_price_[len];
          if (c < cost_[k + len]) {
            cost_[k + len] = c;
            steps_[k + len] = Step{static_cast<std::uint16_t>(len), m->offset};
          }
        }
        if (top == limit) break;
      }
    }
  }

  // Writes the cheapest path's items that start before commit; returns the
  // number of bytes they cover.
  unsigned WriteItems(std::size_t pos, unsigned span, unsigned commit) {
    path_.clear();
    for (unsigned k = span; k > 0; k -= steps_[k].length) path_.push_back(steps_[k]);
    unsigned done = 0;
    for (auto it = path_.rbegin(); it != path_.rend() && done < commit; ++it) {
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
  std::vector<std::uint32_t> first_{0};  // first_[k]: where the list of base_ + k starts

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
