// The adaptive code tree: the fresh tree's codes, the exchange rule, the
// rebuild with its halving, placement and trigger, and the invariants and
// exact tables after long runs of updates compared with the plain model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lzh/bit_reader.h"
#include "lzh/code_tree.h"
#include "lzh/lzh_format.h"
#include "support/memory_policies.h"
#include "support/reference_decoder.h"

namespace {

using lzh::LeafBase;
using lzh::NodeCount;
using lzh::RootPosition;
using lzh::SymbolCount;

// Tables of one tree, owned by the test.
struct TreeTables {
  std::array<std::uint16_t, lzh::WeightsSize> weights{};
  std::array<std::uint16_t, NodeCount> children{};
  std::array<std::uint16_t, lzh::ParentsSize> parents{};

  lzh::CodeTree View() { return {weights.data(), children.data(), parents.data()}; }
  unsigned LeafOf(unsigned symbol) const { return parents[LeafBase + symbol]; }
  std::uint16_t WeightOf(unsigned symbol) const { return weights[LeafOf(symbol)]; }
  bool operator==(const TreeTables&) const = default;
};

TreeTables FreshTree() {
  TreeTables t;
  lzh::InitCodeTree(t.View());
  return t;
}

// The symbol's code as '0'/'1' text, root first, read off the tables.
std::string CodeOf(const TreeTables& t, unsigned symbol) {
  std::string code;
  for (unsigned p = t.LeafOf(symbol); p != RootPosition; p = t.parents[p]) {
    const unsigned parent = t.parents[p];
    code.insert(code.begin(), p == t.children[parent] ? '0' : '1');
  }
  return code;
}

std::vector<std::uint8_t> PackBits(const std::string& bits) {
  std::vector<std::uint8_t> bytes((bits.size() + 7) / 8 + 2, 0);
  for (std::size_t k = 0; k < bits.size(); ++k) {
    if (bits[k] == '1') bytes[k / 8] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
  }
  return bytes;
}

unsigned DecodeFromBits(TreeTables& t, const std::string& bits) {
  const std::vector<std::uint8_t> bytes = PackBits(bits);
  test_support::MemorySource source(bytes);
  lzh::BitReader<test_support::MemorySource> reader(source);
  return lzh::DecodeSymbol(t.View(), reader);
}

// Every rule that must hold between operations; returns the first broken.
std::string BrokenInvariant(const TreeTables& t) {
  if (t.weights[NodeCount] != lzh::WeightSentinel) return "sentinel overwritten";
  if (t.parents[RootPosition] != 0) return "root's parent is not 0";
  std::vector<int> seen(SymbolCount, 0);
  for (unsigned p = 0; p < NodeCount; ++p) {
    if (p + 1 < NodeCount && t.weights[p] > t.weights[p + 1]) {
      return "weights decrease at " + std::to_string(p);
    }
    const unsigned c = t.children[p];
    if (c >= LeafBase) {
      if (c - LeafBase >= SymbolCount) return "bad leaf at " + std::to_string(p);
      ++seen[c - LeafBase];
      if (t.parents[c] != p) return "leaf map wrong at " + std::to_string(p);
      if (t.weights[p] == 0) return "zero leaf weight at " + std::to_string(p);
    } else {
      if (c >= p) return "child not below its parent at " + std::to_string(p);
      if (t.parents[c] != p || t.parents[c + 1] != p) {
        return "parents do not mirror children at " + std::to_string(p);
      }
      if (t.weights[p] != t.weights[c] + t.weights[c + 1]) {
        return "weight is not the sum at " + std::to_string(p);
      }
    }
  }
  for (unsigned s = 0; s < SymbolCount; ++s) {
    if (seen[s] != 1)
      return "symbol " + std::to_string(s) + " has " + std::to_string(seen[s]) + " leaves";
  }
  return "";
}

// ---------------------------------------------------------------- fresh tree

struct FreshCode {
  const char* bits;
  unsigned symbol;
};

TEST(CodeTree, FreshTreeDecodesTheKnownCodes) {
  const FreshCode cases[] = {
      {"00000000", 116}, {"10001011", 255}, {"10001100", 256},
      {"11000101", 313}, {"110001100", 0},  {"111111111", 115},
  };
  for (const FreshCode& c : cases) {
    TreeTables t = FreshTree();
    EXPECT_EQ(DecodeFromBits(t, c.bits), c.symbol) << c.bits;
  }
}

TEST(CodeTree, FreshTreeHoldsEveryInvariantAndTheRootWeighsOneEach) {
  const TreeTables t = FreshTree();
  EXPECT_EQ(BrokenInvariant(t), "");
  EXPECT_EQ(t.weights[RootPosition], SymbolCount);
  for (unsigned s = 0; s < SymbolCount; ++s) {
    EXPECT_EQ(CodeOf(t, s).size(), s < 116 ? 9u : 8u) << "symbol " << s;
  }
}

// ------------------------------------------------------------------ exchange

// All leaves weigh 1, so symbol 0's leaf has a run of 313 equal weights
// above it; it must land at the run's top, and the top's symbol comes down.
TEST(CodeTree, UpdateExchangesWithTheLastNodeOfTheRun) {
  TreeTables t = FreshTree();
  lzh::UpdateCodeTree(t.View(), 0);
  EXPECT_EQ(t.LeafOf(0), 313u);
  EXPECT_EQ(t.LeafOf(313), 0u);
  EXPECT_EQ(t.WeightOf(0), 2u);
  EXPECT_EQ(t.children[313], LeafBase + 0);
  EXPECT_EQ(t.weights[RootPosition], SymbolCount + 1);
  EXPECT_EQ(BrokenInvariant(t), "");
}

// Symbol 313's leaf sits at 313 with the first internal node (weight 2)
// above it: after its increment to 2 the order holds and the leaf stays.
TEST(CodeTree, UpdateDoesNotExchangeWhenTheNextWeightIsNotBelow) {
  TreeTables t = FreshTree();
  ASSERT_EQ(t.weights[314], 2u);
  lzh::UpdateCodeTree(t.View(), 313);
  EXPECT_EQ(t.LeafOf(313), 313u);
  EXPECT_EQ(t.WeightOf(313), 2u);
  EXPECT_EQ(t.children[314], 0u) << "the node above was moved";
  EXPECT_EQ(BrokenInvariant(t), "");
}

// ------------------------------------------------------------------- rebuild

// A tree whose leaves stand in symbol order at 0..313 with the given
// (non-decreasing) weights. The rebuild looks only at leaves, so the
// internal positions just have to be marked as not leaves.
TreeTables LeavesOnly(const std::vector<std::uint16_t>& leaf_weights) {
  TreeTables t = FreshTree();
  for (unsigned s = 0; s < SymbolCount; ++s) {
    t.weights[s] = leaf_weights[s];
    t.children[s] = static_cast<std::uint16_t>(LeafBase + s);
  }
  for (unsigned p = SymbolCount; p < NodeCount; ++p) t.children[p] = 0;
  return t;
}

TEST(CodeTree, RebuildHalvesLeafWeightsRoundingUp) {
  std::vector<std::uint16_t> w(SymbolCount, 8);
  w[0] = 1;
  w[1] = 2;
  w[2] = 3;
  w[3] = 4;
  w[SymbolCount - 1] = 0x7FFF;
  TreeTables t = LeavesOnly(w);
  lzh::RebuildCodeTree(t.View());
  EXPECT_EQ(BrokenInvariant(t), "");
  const std::pair<unsigned, unsigned> expected[] = {{0, 1}, {1, 1},   {2, 2},
                                                    {3, 2}, {100, 4}, {SymbolCount - 1, 0x4000}};
  for (const auto& [symbol, weight] : expected) {
    EXPECT_EQ(t.WeightOf(symbol), weight) << "symbol " << symbol;
  }
}

// After halving: 1, 1, 2, 2, then 50s. The node joining the two 1s weighs
// 2 and must go after both leaves of weight 2, at position 4, not at 2.
TEST(CodeTree, RebuildPlacesANewNodeAfterAllEqualWeights) {
  std::vector<std::uint16_t> w(SymbolCount, 100);
  w[0] = w[1] = 1;
  w[2] = w[3] = 4;
  TreeTables t = LeavesOnly(w);
  lzh::RebuildCodeTree(t.View());
  EXPECT_EQ(BrokenInvariant(t), "");
  EXPECT_EQ(t.LeafOf(0), 0u);
  EXPECT_EQ(t.LeafOf(1), 1u);
  EXPECT_EQ(t.LeafOf(2), 2u);
  EXPECT_EQ(t.LeafOf(3), 3u);
  EXPECT_EQ(t.children[4], 0u);
  EXPECT_EQ(t.weights[4], 2u);
  // The next pair is the two leaves of weight 2: weight 4, above the 2s.
  EXPECT_EQ(t.children[5], 2u);
  EXPECT_EQ(t.weights[5], 4u);
  EXPECT_EQ(t.LeafOf(4), 7u) << "the first 50 is pushed up by the three lighter nodes";
  EXPECT_EQ(t.weights[RootPosition], 1 + 1 + 2 + 2 + 50 * (SymbolCount - 4));
}

std::uint16_t SomeSymbol(std::mt19937& random) {
  // Skewed towards a few symbols, so that runs, deep paths and exchanges
  // across long runs all occur.
  const unsigned r = random() % 100;
  if (r < 40) return static_cast<std::uint16_t>(random() % 4);
  if (r < 70) return static_cast<std::uint16_t>(256 + random() % 8);
  return static_cast<std::uint16_t>(random() % SymbolCount);
}

// The root starts at 314 and gains one per update: after 32454 updates it
// is exactly 0x8000 with no rebuild yet. The next update rebuilds first and
// then counts its symbol, which was decoded with the tree from before.
TEST(CodeTree, RootWeightOfExactlyTheLimitRebuildsBeforeTheIncrement) {
  std::mt19937 random(7);
  TreeTables t = FreshTree();
  for (unsigned k = 0; k < lzh::WeightLimit - SymbolCount; ++k) {
    lzh::UpdateCodeTree(t.View(), SomeSymbol(random));
    ASSERT_EQ(t.weights[RootPosition], SymbolCount + k + 1) << "rebuilt early, update " << k;
  }
  ASSERT_EQ(t.weights[RootPosition], lzh::WeightLimit);
  ASSERT_EQ(BrokenInvariant(t), "");

  TreeTables rebuilt = t;
  lzh::RebuildCodeTree(rebuilt.View());
  ASSERT_EQ(BrokenInvariant(rebuilt), "");
  // A symbol whose code the rebuild changes tells the two trees apart.
  unsigned symbol = 0;
  while (symbol < SymbolCount && CodeOf(t, symbol) == CodeOf(rebuilt, symbol)) ++symbol;
  ASSERT_LT(symbol, SymbolCount);

  EXPECT_EQ(DecodeFromBits(t, CodeOf(t, symbol)), symbol);
  lzh::UpdateCodeTree(rebuilt.View(), static_cast<std::uint16_t>(symbol));
  EXPECT_TRUE(t == rebuilt) << "not the rebuilt tree plus one update";
  EXPECT_LT(t.weights[RootPosition], lzh::WeightLimit / 2 + SymbolCount);
}

// -------------------------------------------------------- long random runs

// Each symbol is decoded from its current code, which also updates the
// tree; the plain model is updated with the same symbol. The three tables
// must be identical after every step, through several rebuilds.
TEST(CodeTree, ManyUpdatesKeepTheInvariantsAndMatchThePlainModel) {
  std::mt19937 random(99);
  TreeTables t = FreshTree();
  reference_lzh::InitCodeTree();
  int rebuilds = 0;
  for (int k = 0; k < 80000; ++k) {
    const std::uint16_t symbol = SomeSymbol(random);
    const bool rebuild_due = t.weights[RootPosition] == lzh::WeightLimit;
    ASSERT_EQ(DecodeFromBits(t, CodeOf(t, symbol)), symbol) << "step " << k;
    reference_lzh::UpdateCodeTree(symbol);
    ASSERT_EQ(std::memcmp(t.weights.data(), reference_lzh::Weights, sizeof reference_lzh::Weights),
              0)
        << "weights differ after step " << k;
    ASSERT_EQ(
        std::memcmp(t.children.data(), reference_lzh::Children, sizeof reference_lzh::Children), 0)
        << "children differ after step " << k;
    ASSERT_EQ(std::memcmp(t.parents.data(), reference_lzh::Parents, sizeof reference_lzh::Parents),
              0)
        << "parents differ after step " << k;
    if (rebuild_due || k % 1000 == 0) {
      rebuilds += rebuild_due;
      ASSERT_EQ(BrokenInvariant(t), "") << "after step " << k;
    }
  }
  EXPECT_GE(rebuilds, 3);
}

// The decoder's table walk against the plain one on the same code stream:
// the same symbols, the same tables after each, and the same number of
// bytes pulled from the source by the end of each symbol. The streams shift
// which symbols are heavy, so the nodes near the root trade places and the
// table goes stale again and again, through a rebuild.
TEST(CodeTree, TableWalkDecodesAndPullsAsThePlainWalk) {
  struct Case {
    const char* name;
    std::uint16_t (*symbol)(std::mt19937&, int step);
  };
  const Case cases[] = {
      {"skewed", [](std::mt19937& r, int) { return SomeSymbol(r); }},
      {"uniform",
       [](std::mt19937& r, int) { return static_cast<std::uint16_t>(r() % SymbolCount); }},
      {"heavy symbols change every 500",
       [](std::mt19937& r, int step) {
         const unsigned hot = (step / 500) * 37 % SymbolCount;
         return static_cast<std::uint16_t>(r() % 4 != 0 ? (hot + r() % 3) % SymbolCount
                                                        : r() % SymbolCount);
       }},
  };
  constexpr int Steps = 40000;  // past the first rebuild
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 random(5);
    std::vector<std::uint16_t> symbols;
    std::string code;
    TreeTables encoder = FreshTree();
    for (int k = 0; k < Steps; ++k) {
      symbols.push_back(c.symbol(random, k));
      code += CodeOf(encoder, symbols.back());
      lzh::UpdateCodeTree(encoder.View(), symbols.back());
    }
    const std::vector<std::uint8_t> bytes = PackBits(code);
    test_support::MemorySource plain_source(bytes);
    test_support::MemorySource table_source(bytes);
    lzh::BitReader<test_support::MemorySource> plain_bits(plain_source);
    lzh::BitReader<test_support::MemorySource> table_bits(table_source);
    TreeTables plain = FreshTree();
    TreeTables table = FreshTree();
    lzh::WalkTable walk;
    for (int k = 0; k < Steps; ++k) {
      ASSERT_EQ(lzh::DecodeSymbol(plain.View(), plain_bits), symbols[k]) << "step " << k;
      ASSERT_EQ(walk.Decode(table.View(), table_bits), symbols[k]) << "step " << k;
      ASSERT_EQ(table_source.calls, plain_source.calls) << "step " << k;
      ASSERT_EQ(table_bits.BitCount(), plain_bits.BitCount()) << "step " << k;
      ASSERT_TRUE(table == plain) << "step " << k;
    }
    EXPECT_TRUE(table == encoder);
  }
}

}  // namespace
