// The encoder: every stream it writes must expand, through the production
// decoder, to exactly its input, in both modes. A small checking decoder
// beside it follows each item to see what the stream relies on: that no
// match reads a ring position the decoder has not written yet (their
// content is undefined), and that the tempting inputs below really make the
// encoder use what they tempt it with.
#include "lzh/pack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "compress/compress_file.h"
#include "compress/container.h"
#include "lzh/item_writer.h"
#include "lzh/unpack.h"
#include "lzh/unpack_core.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const fs::path kData = MERLAVOX_TEST_DATA;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct SpanSource {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
  unsigned NextByte() { return pos < data.size() ? data[pos++] : 0; }
};

struct VectorSink {
  Bytes out;
  void Put(std::uint8_t byte) { out.push_back(byte); }
};

// Everything the production decoder emits, the bytes past the length too.
Bytes Unpack(std::span<const std::uint8_t> stream, std::size_t length) {
  SpanSource source{stream};
  VectorSink sink;
  lzh::UnpackWith(static_cast<std::int32_t>(length), source, sink);
  return sink.out;
}

Bytes Pack(std::span<const std::uint8_t> input, bool fast) {
  lzh::PackOptions options;
  options.fast = fast;
  return lzh::PackStream(input, options);
}

// What the checking decoder saw.
struct Trace {
  Bytes out;
  std::size_t unwritten_reads = 0;  // reads of positions RingStart.. before their first write
  std::size_t matches = 0;
  unsigned longest_offset = 0;
  bool copied_initial_spaces = false;
  bool overlapped_own_output = false;  // offset + 1 < length
  bool crossed_ring_end = false;       // source or destination ran over position 4095
};

// Decodes like the production decoder, with the tree and offset code it
// shares, but keeps the state of every ring position.
Trace CheckedUnpack(std::span<const std::uint8_t> stream, std::size_t length) {
  enum State : std::uint8_t { kUnwritten, kInitialSpace, kData };
  std::array<std::uint16_t, lzh::WeightsSize> weights;
  std::array<std::uint16_t, lzh::NodeCount> children;
  std::array<std::uint16_t, lzh::ParentsSize> parents;
  const lzh::CodeTree tree{weights.data(), children.data(), parents.data()};
  lzh::InitCodeTree(tree);
  std::array<std::uint8_t, lzh::RingSize> ring;
  std::array<State, lzh::RingSize> state;
  ring.fill(lzh::RingFill);
  std::fill(state.begin(), state.begin() + lzh::RingStart, kInitialSpace);
  std::fill(state.begin() + lzh::RingStart, state.end(), kUnwritten);

  Trace trace;
  SpanSource source{stream};
  lzh::BitReader<SpanSource> bits(source);
  unsigned pos = lzh::RingStart;
  const auto emit = [&](std::uint8_t byte) {
    trace.out.push_back(byte);
    ring[pos] = byte;
    state[pos] = kData;
    pos = (pos + 1) & lzh::RingMask;
  };
  while (trace.out.size() < length) {
    const unsigned symbol = lzh::DecodeSymbol(tree, bits);
    if (symbol < lzh::LiteralCount) {
      emit(static_cast<std::uint8_t>(symbol));
      continue;
    }
    const unsigned offset = lzh::DecodeOffset(bits);
    const unsigned n = symbol - lzh::MatchSymbolBias;
    const unsigned from = (pos - offset - 1) & lzh::RingMask;
    ++trace.matches;
    trace.longest_offset = std::max(trace.longest_offset, offset);
    trace.overlapped_own_output |= offset + 1 < n;
    trace.crossed_ring_end |= from + n > lzh::RingSize || pos + n > lzh::RingSize;
    for (unsigned k = 0; k < n; ++k) {
      const unsigned p = (from + k) & lzh::RingMask;
      trace.unwritten_reads += state[p] == kUnwritten;
      trace.copied_initial_spaces |= state[p] == kInitialSpace;
      emit(ring[p]);
    }
  }
  return trace;
}

// The check itself: a stream whose first item copies from position 4036
// on, never written, must be seen. The production decoder cannot show this,
// since what it finds there is its own choice.
TEST(PackChecker, SeesReadsOfPositionsNotYetWritten) {
  struct Items {
    const char* what;
    std::function<void(lzh::ItemWriter&)> write;
    std::size_t length;
    std::size_t unwritten_reads;
  };
  const Items cases[] = {
      {"offset 4095 first", [](lzh::ItemWriter& w) { w.Match(3, lzh::MaxOffset); }, 3, 3},
      {"offset 4095 after 58 literals",
       [](lzh::ItemWriter& w) {
         for (int i = 0; i < 58; ++i) w.Literal('a');
         w.Match(5, lzh::MaxOffset);
       },
       63, 2},
      {"offset 4035 first: the last initial space", [](lzh::ItemWriter& w) { w.Match(3, 4035); }, 3,
       0},
  };
  for (const Items& c : cases) {
    Bytes stream;
    lzh::ItemWriter writer(stream);
    c.write(writer);
    writer.Finish();
    EXPECT_EQ(CheckedUnpack(stream, c.length).unwritten_reads, c.unwritten_reads) << c.what;
  }
}

Bytes RandomBytes(std::size_t n, std::uint32_t seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() % alphabet);
  return out;
}

Bytes Repeat(const Bytes& unit, std::size_t times) {
  Bytes out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct InputCase {
  const char* name;
  std::function<Bytes()> make;
};

const InputCase kInputs[] = {
    {"empty", [] { return Bytes{}; }},
    {"one_byte", [] { return Bytes{0x41}; }},
    {"two_bytes",
     [] {
       return Bytes{0x00, 0xFF};
     }},
    {"three_bytes",
     [] {
       return Bytes{7, 7, 7};
     }},
    {"three_spaces", [] { return Text("   "); }},
    {"four_spaces_then_end", [] { return Text("    x"); }},
    // The initial spaces match whatever the data starts with.
    {"starts_with_spaces",
     [] {
       return Concat({Bytes(200, ' '), Text("text after spaces")});
     }},
    {"spaces_longer_than_window", [] { return Bytes(10000, ' '); }},
    // A match across position 60 of the data crosses the ring's end.
    {"period_10_across_wrap", [] { return Repeat(Text("abcdefghij"), 40); }},
    {"run_after_literal", [] { return Bytes(61, 'x'); }},
    {"long_run_many_rebuilds", [] { return Bytes(3 << 20, 0); }},
    {"random_many_rebuilds", [] { return RandomBytes(300000, 1); }},
    {"small_alphabet", [] { return RandomBytes(100000, 2, 4); }},
    // Only the byte 4096 back repeats: every match has offset 4095.
    {"period_4096", [] { return Repeat(RandomBytes(4096, 3), 3); }},
    {"period_4097", [] { return Repeat(RandomBytes(4097, 4), 3); }},
    // Data equal to what the unwritten positions would hold if they were
    // spaces: only a wrong encoder would copy from there.
    {"spaces_then_period_4096",
     [] {
       return Concat({Bytes(60, ' '), Repeat(RandomBytes(4096, 5), 2)});
     }},
    {"text_and_binary",
     [] {
       return Concat({Repeat(Text("Merlavox Setup\r\n"), 300), RandomBytes(5000, 6)});
     }},
};

struct ModeCase {
  const char* name;
  bool fast;
};
constexpr ModeCase kModes[] = {{"default", false}, {"fast", true}};

class PackRoundTrip : public testing::TestWithParam<std::tuple<const InputCase*, const ModeCase*>> {
};

TEST_P(PackRoundTrip, ExpandsToTheInputAndReadsOnlyWrittenPositions) {
  const auto& [input_case, mode] = GetParam();
  const Bytes input = input_case->make();
  const Bytes stream = Pack(input, mode->fast);
  EXPECT_EQ(Unpack(stream, input.size()), input);
  const Trace trace = CheckedUnpack(stream, input.size());
  EXPECT_EQ(trace.out, input);
  EXPECT_EQ(trace.unwritten_reads, 0u);
}

std::vector<std::tuple<const InputCase*, const ModeCase*>> AllInputsAndModes() {
  std::vector<std::tuple<const InputCase*, const ModeCase*>> all;
  for (const auto& input : kInputs) {
    for (const auto& mode : kModes) all.emplace_back(&input, &mode);
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Inputs, PackRoundTrip, testing::ValuesIn(AllInputsAndModes()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)->name) + "_" +
                                  std::get<1>(info.param)->name;
                         });

// The inputs above that tempt the encoder must really lead it there, or the
// round trips prove less than they seem to.
struct UseCase {
  const char* input;
  std::function<bool(const Trace&)> used;
  const char* what;
};

const UseCase kUses[] = {
    {"starts_with_spaces", [](const Trace& t) { return t.copied_initial_spaces; },
     "a match copying the initial spaces"},
    {"three_spaces", [](const Trace& t) { return t.copied_initial_spaces && t.matches == 1; },
     "one match from the initial spaces"},
    {"period_10_across_wrap", [](const Trace& t) { return t.crossed_ring_end; },
     "a match across the ring's end"},
    {"run_after_literal", [](const Trace& t) { return t.overlapped_own_output && t.matches == 1; },
     "one match overlapping its own output"},
    {"period_4096", [](const Trace& t) { return t.longest_offset == lzh::MaxOffset; },
     "offset 4095"},
    {"spaces_then_period_4096", [](const Trace& t) { return t.longest_offset == lzh::MaxOffset; },
     "offset 4095"},
};

TEST(PackUses, TemptingInputsUseWhatTheyTempt) {
  for (const UseCase& use : kUses) {
    const auto input_case =
        std::find_if(std::begin(kInputs), std::end(kInputs),
                     [&](const InputCase& c) { return c.name == std::string(use.input); });
    ASSERT_NE(input_case, std::end(kInputs)) << use.input;
    const Bytes input = input_case->make();
    for (const ModeCase& mode : kModes) {
      const Trace trace = CheckedUnpack(Pack(input, mode.fast), input.size());
      EXPECT_TRUE(use.used(trace)) << use.input << " (" << mode.name << "): expected " << use.what;
    }
  }
}

std::vector<std::string> CorpusFiles() {
  return {"GPL-3.txt", "tutor-de.txt", "services.txt", "notepad.exe", "gdiplus.dll"};
}

TEST(PackCorpus, BothModesRoundTripAndReadOnlyWrittenPositions) {
  for (const std::string& name : CorpusFiles()) {
    const Bytes input = ReadFile(kData / "corpus" / name);
    for (const ModeCase& mode : kModes) {
      const Bytes stream = Pack(input, mode.fast);
      EXPECT_EQ(Unpack(stream, input.size()), input) << name << " " << mode.name;
      const Trace trace = CheckedUnpack(stream, input.size());
      EXPECT_TRUE(trace.out == input) << name << " " << mode.name;
      EXPECT_EQ(trace.unwritten_reads, 0u) << name << " " << mode.name;
    }
  }
}

// The cost-based parse must earn its time: smaller than greedy parsing and
// than the independent encoder that made the vectors, file by file.
TEST(PackCorpus, DefaultModeIsSmallerThanFastAndThanTheVectors) {
  for (const std::string& name : CorpusFiles()) {
    const Bytes input = ReadFile(kData / "corpus" / name);
    const std::size_t best = Pack(input, false).size() + compress::HeaderSize;
    const std::size_t fast = Pack(input, true).size() + compress::HeaderSize;
    const std::size_t vector = fs::file_size(kData / "vectors" / (name + ".hzl"));
    EXPECT_LT(best, fast) << name;
    EXPECT_LT(best, vector) << name;
  }
}

// The expansions of all vectors, malformed ones included: whatever bytes
// they decode to must survive a round trip of their own.
TEST(PackVectors, ExpansionsRoundTrip) {
  std::vector<fs::path> vectors;
  for (const auto& entry : fs::directory_iterator(kData / "vectors")) {
    if (entry.path().extension() == ".hzl") vectors.push_back(entry.path());
  }
  std::sort(vectors.begin(), vectors.end());
  ASSERT_GE(vectors.size(), 10u);
  for (const fs::path& path : vectors) {
    const Bytes file = ReadFile(path);
    ASSERT_GE(file.size(), compress::HeaderSize) << path;
    const auto declared = static_cast<std::int32_t>(compress::LoadLittleEndian32(file.data() + 4));
    const Bytes plain =
        Unpack(std::span(file).subspan(compress::HeaderSize), declared > 0 ? declared : 0);
    for (const ModeCase& mode : kModes) {
      const Bytes stream = Pack(plain, mode.fast);
      EXPECT_TRUE(Unpack(stream, plain.size()) == plain) << path.filename() << " " << mode.name;
      EXPECT_EQ(CheckedUnpack(stream, plain.size()).unwritten_reads, 0u) << path.filename();
    }
  }
}

// Where only one coding is sensible, both modes must write the very bytes
// that the independent encoder wrote: the tree, the bit order, the offset
// code and the padding all have to agree for that.
TEST(PackVectors, SimpleInputsGiveTheIndependentEncodersBytes) {
  for (const char* name : {"spaces.hzl", "rle.hzl", "period4096.hzl", "zeros4M.hzl"}) {
    const Bytes file = ReadFile(kData / "vectors" / name);
    const auto declared = compress::LoadLittleEndian32(file.data() + 4);
    const Bytes plain = Unpack(std::span(file).subspan(compress::HeaderSize), declared);
    ASSERT_EQ(plain.size(), declared) << name;
    for (const ModeCase& mode : kModes) {
      lzh::PackOptions options;
      options.fast = mode.fast;
      EXPECT_TRUE(compress::CompressToContainer(plain, options) == file)
          << name << " " << mode.name;
    }
  }
}

// Codes from a fresh tree: symbols 0 to 115 take 9 bits from 110001100 on,
// 116 to 313 take 8 bits from 00000000 on; the last byte is padded with 0.
TEST(PackStream, FirstSymbolsUseTheFreshTreesCodes) {
  struct Known {
    Bytes input;
    Bytes stream;
  };
  const Known known[] = {
      {{}, {}},
      {{0}, {0b11000110, 0b00000000}},    // 110001100
      {{65}, {0b11100110, 0b10000000}},   // 110001100 + 65 = 111001101
      {{115}, {0b11111111, 0b10000000}},  // 111111111
      {{116}, {0b00000000}},              // 00000000
      {{255}, {0b10001011}},              // 10001011
      {Text("   "), {0b10001100, 0, 0}},  // symbol 256 (length 3), offset 0: 000 000000
  };
  for (const Known& k : known) {
    for (const ModeCase& mode : kModes) {
      EXPECT_EQ(Pack(k.input, mode.fast), k.stream)
          << mode.name << " input size " << k.input.size();
    }
  }
}

TEST(PackStream, SameInputSameBytes) {
  const Bytes input = ReadFile(kData / "corpus" / "notepad.exe");
  for (const ModeCase& mode : kModes) {
    EXPECT_TRUE(Pack(input, mode.fast) == Pack(input, mode.fast)) << mode.name;
  }
}

TEST(PackStream, ReportsProgressUpToTheWholeInput) {
  const Bytes input = RandomBytes(500000, 7, 16);
  for (const ModeCase& mode : kModes) {
    std::vector<std::size_t> seen;
    lzh::PackOptions options;
    options.fast = mode.fast;
    options.progress = [&](std::size_t done, std::size_t total) {
      EXPECT_EQ(total, input.size());
      seen.push_back(done);
    };
    lzh::PackStream(input, options);
    ASSERT_GE(seen.size(), 2u) << mode.name;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << mode.name;
    EXPECT_EQ(seen.back(), input.size()) << mode.name;
  }
}

// The plain entry with its procedure callbacks decodes the container's code
// stream as well; the length comes from the header.
namespace callback {
std::span<const std::uint8_t> in;
std::size_t in_pos = 0;
Bytes out;
void Source(void* buffer, std::uint16_t count, std::uint16_t& actual) {
  actual = 0;
  if (count >= 1 && in_pos < in.size()) {
    *static_cast<std::uint8_t*>(buffer) = in[in_pos++];
    actual = 1;
  }
}
void Sink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  out.insert(out.end(), bytes, bytes + count);
  accepted = count;
}
}  // namespace callback

TEST(PackContainer, ExpandsThroughTheCallbackEntry) {
  const Bytes input = ReadFile(kData / "corpus" / "services.txt");
  const Bytes file = compress::CompressToContainer(input);
  ASSERT_GE(file.size(), compress::HeaderSize);
  EXPECT_EQ(compress::LoadLittleEndian32(file.data()), compress::CompressedFileSignature);
  EXPECT_EQ(compress::LoadLittleEndian32(file.data() + 4), input.size());
  callback::in = std::span(file).subspan(compress::HeaderSize);
  callback::in_pos = 0;
  callback::out.clear();
  lzh::UnpackStream(static_cast<std::int32_t>(input.size()), callback::Source, callback::Sink);
  EXPECT_TRUE(callback::out == input);
}

}  // namespace
