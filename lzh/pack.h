// The encoder: writes a code stream that the decoder expands to the input
// exactly, keeping the same adaptive code tree symbol by symbol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace lzh {

struct PackOptions {
  bool fast = false;  // greedy longest-match parsing instead of the cost-based parse
  // Called now and then with the input bytes done so far.
  std::function<void(std::size_t done, std::size_t total)> progress;
};

// The code stream for the input, padded with zero bits to a whole byte.
std::vector<std::uint8_t> PackStream(std::span<const std::uint8_t> input,
                                     const PackOptions& options = {});

}  // namespace lzh
