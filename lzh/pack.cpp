#include "lzh/pack.h"

#include <limits>
#include <stdexcept>

#include "lzh/item_writer.h"
#include "lzh/parse.h"

namespace lzh {

std::vector<std::uint8_t> PackStream(std::span<const std::uint8_t> input,
                                     const PackOptions& options) {
  // The decoder counts its output in a signed 32-bit value.
  if (input.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::length_error("lzh::PackStream: input of 2 GiB or more");
  }
  std::vector<std::uint8_t> out;
  out.reserve(input.size() / 2 + 64);
  ItemWriter writer(out);
  if (options.fast) {
    ParseGreedy(input, writer, options);
  } else {
    ParseOptimal(input, writer, options);
  }
  writer.Finish();
  if (options.progress) options.progress(input.size(), input.size());
  return out;
}

}  // namespace lzh
