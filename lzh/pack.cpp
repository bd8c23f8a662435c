#include "lzh/pack.h"

#include <array>

#include "lzh/code_tree.h"

namespace lzh {

namespace {

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void Put(std::uint32_t bits, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
      acc_ = static_cast<std::uint8_t>(acc_ << 1 | ((bits >> i) & 1));
      if (++n_ == 8) {
        out_.push_back(acc_);
        n_ = 0;
      }
    }
  }
  void Finish() {
    if (n_) out_.push_back(static_cast<std::uint8_t>(acc_ << (8 - n_)));
    n_ = 0;
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint8_t acc_ = 0;
  unsigned n_ = 0;
};

}  // namespace

std::vector<std::uint8_t> PackStream(std::span<const std::uint8_t> input, const PackOptions&) {
  std::array<std::uint16_t, WeightsSize> weights;
  std::array<std::uint16_t, NodeCount> children;
  std::array<std::uint16_t, ParentsSize> parents;
  const CodeTree tree{weights.data(), children.data(), parents.data()};
  InitCodeTree(tree);
  std::vector<std::uint8_t> out;
  BitWriter bits(out);
  for (std::uint8_t byte : input) {
    // The code is the path from the root: collect it upward, leaf first.
    std::uint64_t code = 0;
    unsigned length = 0;
    for (unsigned p = parents[LeafBase + byte]; p != RootPosition; p = parents[p]) {
      code |= static_cast<std::uint64_t>(p != children[parents[p]]) << length++;
    }
    bits.Put(static_cast<std::uint32_t>(code), length);
    UpdateCodeTree(tree, byte);
  }
  bits.Finish();
  return out;
}

}  // namespace lzh
