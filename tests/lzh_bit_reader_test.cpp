// The bit reader: bit order, the zero bits after the input, and exactly the
// source calls of a reader that refills one byte at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "lzh/bit_reader.h"
#include "support/memory_policies.h"
#include "support/reference_decoder.h"

namespace {

using test_support::MemorySource;

TEST(BitReader, TakesEachByteMostSignificantBitFirst) {
  const std::vector<std::uint8_t> input = {0xA5, 0x0F};
  MemorySource source(input);
  lzh::BitReader<MemorySource> bits(source);
  EXPECT_EQ(bits.ReadBit(), 1u);
  EXPECT_EQ(source.calls, 2u) << "the first read fills up to two bytes";
  EXPECT_EQ(bits.ReadBit(), 0u);
  EXPECT_EQ(bits.ReadEightBits(), 0x94u);
  EXPECT_EQ(bits.BitCount(), 6u);
  EXPECT_EQ(source.calls, 2u);
}

TEST(BitReader, ReadsZeroBitsOnceTheSourceHasNoMore) {
  const std::vector<std::uint8_t> input = {0xFF};
  MemorySource source(input);
  lzh::BitReader<MemorySource> bits(source);
  EXPECT_EQ(bits.ReadEightBits(), 0xFFu);
  for (int k = 0; k < 40; ++k) EXPECT_EQ(bits.ReadBit(), 0u) << "bit " << k;
  EXPECT_EQ(bits.ReadEightBits(), 0u);
  // Every byte came through its own call, the missing ones too, and the
  // reader always keeps at least 8 bits in hand after a read.
  EXPECT_EQ(source.calls, (8 + 40 + 8 + 8) / 8u);
}

// The reference reader, fed from a fixed array, counting its source calls.
std::vector<std::uint8_t> g_reference_input;
std::size_t g_reference_pos = 0;
std::size_t g_reference_calls = 0;

void ReferenceSource(void* buffer, std::uint16_t, std::uint16_t& actual) {
  ++g_reference_calls;
  if (g_reference_pos < g_reference_input.size()) {
    *static_cast<std::uint8_t*>(buffer) = g_reference_input[g_reference_pos++];
    actual = 1;
  } else {
    actual = 0;
  }
}

// Reads of every width in random order: the same bits and, after every
// read, the same number of source calls as the plain 16-bit reader making
// one-bit and eight-bit reads. Catches a reader that pulls early or late.
TEST(BitReader, MatchesTheByteAtATimeReaderInBitsAndSourceCalls) {
  std::mt19937 random(20240611);
  g_reference_input.resize(2000);
  for (auto& b : g_reference_input) b = static_cast<std::uint8_t>(random());
  g_reference_pos = 0;
  g_reference_calls = 0;
  reference_lzh::BitBuffer = 0;
  reference_lzh::BitCount = 0;

  MemorySource source(g_reference_input);
  lzh::BitReader<MemorySource> bits(source);
  for (int op = 0; op < 6000; ++op) {
    const unsigned kind = random() % 10;  // 0: eight bits, 1: one bit, else ReadBits(1..8)
    unsigned expected = 0, got = 0;
    if (kind == 0) {
      expected = static_cast<unsigned>(reference_lzh::ReadEightBits(ReferenceSource));
      got = bits.ReadEightBits();
    } else if (kind == 1) {
      expected = static_cast<unsigned>(reference_lzh::ReadBit(ReferenceSource));
      got = bits.ReadBit();
    } else {
      const unsigned n = 1 + random() % 8;
      for (unsigned k = 0; k < n; ++k) {
        expected = expected * 2 + static_cast<unsigned>(reference_lzh::ReadBit(ReferenceSource));
      }
      got = bits.ReadBits(n);
    }
    ASSERT_EQ(got, expected) << "read " << op;
    ASSERT_EQ(source.calls, g_reference_calls) << "read " << op;
    ASSERT_EQ(bits.BitCount(), reference_lzh::BitCount) << "read " << op;
  }
  EXPECT_GT(g_reference_calls, g_reference_input.size()) << "the reads ran past the input";
}

}  // namespace
