#include <algorithm>

#include "lzh/match_finder.h"
#include "lzh/parse.h"

namespace lzh {

namespace {

// Candidates looked at per position. On the corpus 16 comes within 1% of
// searching the whole window; the time goes mostly into coding the symbols
// through the adaptive tree, so a shorter chain would save little.
constexpr unsigned kGreedyChainDepth = 16;

}  // namespace

void ParseGreedy(std::span<const std::uint8_t> input, ItemWriter& writer,
                 const PackOptions& options) {
  const History history(input);
  HashChainFinder finder(history, kGreedyChainDepth);
  const std::uint32_t end = history.End();
  // Positions with fewer than MinMatchLength bytes left cannot be hashed and
  // cannot start a match.
  const std::uint32_t last_hashable = end - (MinMatchLength - 1);
  for (std::uint32_t v = 0; v < RingStart && v < last_hashable; ++v) finder.Insert(v);

  ProgressReporter progress(options, input.size());
  std::uint32_t v = RingStart;
  while (v < end) {
    const unsigned left = std::min<std::uint32_t>(MaxMatchLength, end - v);
    const Match match = left >= MinMatchLength ? finder.Find(v, left) : Match{0, 0};
    if (match.length >= MinMatchLength) {
      writer.Match(match.length, match.offset);
      const std::uint32_t stop = v + match.length;
      for (++v; v < stop; ++v) {
        if (v < last_hashable) finder.Insert(v);
      }
    } else {
      writer.Literal(input[v - RingStart]);
      ++v;
    }
    progress.Update(v - RingStart);
  }
}

}  // namespace lzh
