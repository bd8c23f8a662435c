// The two parses of the encoder. Each turns the whole input into items for
// the writer, in order, covering the input exactly: no match runs past its
// end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "lzh/item_writer.h"
#include "lzh/pack.h"

namespace lzh {

// Greedy: at every position the longest match among the nearest candidates
// of a short hash chain, else a literal.
void ParseGreedy(std::span<const std::uint8_t> input, ItemWriter& writer,
                 const PackOptions& options);

// Cost-based: the cheapest sequence of items over blocks of positions,
// priced with the code lengths of the adaptive tree as it stands at the
// start of each block.
void ParseOptimal(std::span<const std::uint8_t> input, ItemWriter& writer,
                  const PackOptions& options);

// Reports progress now and then: at most once per step of input bytes.
class ProgressReporter {
 public:
  ProgressReporter(const PackOptions& options, std::size_t total)
      : progress_(options.progress), total_(total) {}
  void Update(std::size_t done) {
    if (progress_ && done >= next_) {
      progress_(done, total_);
      next_ = done + kStep;
    }
  }

 private:
  static constexpr std::size_t kStep = 1 << 16;
  const std::function<void(std::size_t, std::size_t)>& progress_;
  std::size_t total_;
  std::size_t next_ = 0;
};

}  // namespace lzh
