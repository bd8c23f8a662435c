// UnpackStream and the buffered entry: every vector to its known hash, the
// ring and match rules on hand-made streams, the edge cases of lengths and
// sources, the table and failure handling, and a differential comparison
// with the plain reference decoder down to the order of source and sink
// calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <ostream>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "host/host.h"
#include "lzh/unpack.h"
#include "lzh/unpack_core.h"
#include "support/memory_policies.h"
#include "support/reference_decoder.h"
#include "support/sha256.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------- recording callbacks

// What the decoder did, in order: a sink call is its byte (0..255), a
// source call is kGotByte or kNoByte. Any count other than 1 is noted.
constexpr std::uint16_t kGotByte = 0x100;
constexpr std::uint16_t kNoByte = 0x200;

class SourceFault : public host::Exception {
 public:
  explicit SourceFault(int serial) : Exception("source failed"), serial(serial) {}
  const char* ClassName() const override { return "SourceFault"; }
  int serial;
};

class SinkFault : public host::Exception {
 public:
  explicit SinkFault(int serial) : Exception("sink failed"), serial(serial) {}
  const char* ClassName() const override { return "SinkFault"; }
  int serial;
};

struct Recorder {
  std::span<const std::uint8_t> code;
  std::size_t pos = 0;
  std::vector<std::uint16_t> events;
  Bytes out;
  std::size_t source_calls = 0;
  std::size_t sink_calls = 0;
  bool bad_count = false;
  // Fault injection: raise on the call with this 0-based index.
  long fail_source_at = -1;
  long fail_sink_at = -1;
  // A source whose actual count is 2 whatever it puts in the buffer.
  bool answer_two = false;

  explicit Recorder(std::span<const std::uint8_t> c = {}) : code(c) {}

  // The shared body of the procedure and the inlined policy.
  unsigned Pull(std::uint8_t& byte, std::uint16_t& actual) {
    if (static_cast<long>(source_calls) == fail_source_at) throw SourceFault(42);
    ++source_calls;
    if (answer_two) {
      byte = 0xFF;
      actual = 2;
      events.push_back(kNoByte);
      return 0;
    }
    if (pos < code.size()) {
      byte = code[pos++];
      actual = 1;
      events.push_back(kGotByte);
      return byte;
    }
    actual = 0;
    events.push_back(kNoByte);
    return 0;
  }
  void Push(std::uint8_t byte) {
    if (static_cast<long>(sink_calls) == fail_sink_at) throw SinkFault(43);
    ++sink_calls;
    out.push_back(byte);
    events.push_back(byte);
  }
};

Recorder* g_recorder = nullptr;

void RecordingSource(void* buffer, std::uint16_t count, std::uint16_t& actual) {
  if (count != 1) g_recorder->bad_count = true;
  g_recorder->Pull(*static_cast<std::uint8_t*>(buffer), actual);
}

void RecordingSink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  if (count != 1) g_recorder->bad_count = true;
  g_recorder->Push(*static_cast<const std::uint8_t*>(buffer));
  accepted = count;
}

// Runs UnpackStream (procedure types) with r behind both procedures.
void RunProduction(Recorder& r, std::int32_t length) {
  g_recorder = &r;
  lzh::UnpackStream(length, RecordingSource, RecordingSink);
  g_recorder = nullptr;
}

void RunReference(Recorder& r, std::int32_t length) {
  g_recorder = &r;
  reference_lzh::ReferenceUnpackStream(length, RecordingSource, RecordingSink);
  g_recorder = nullptr;
}

// The buffered entry, with the recorder inlined as its policies.
struct InlineSource {
  Recorder& r;
  unsigned NextByte() {
    std::uint8_t byte = 0;
    std::uint16_t actual = 0;
    return r.Pull(byte, actual);
  }
};
struct InlineSink {
  Recorder& r;
  void Put(std::uint8_t byte) { r.Push(byte); }
};

void RunBuffered(Recorder& r, std::int32_t length) {
  InlineSource source{r};
  InlineSink sink{r};
  lzh::UnpackWith(length, source, sink);
}

// Index of the first differing event, for a readable failure.
std::string FirstDifference(const std::vector<std::uint16_t>& a,
                            const std::vector<std::uint16_t>& b) {
  const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (ia == a.end() && ib == b.end()) return "";
  const auto at = ia - a.begin();
  auto show = [](const std::vector<std::uint16_t>& v, std::ptrdiff_t k) {
    return k < static_cast<std::ptrdiff_t>(v.size()) ? std::to_string(v[k]) : std::string("end");
  };
  return "event " + std::to_string(at) + " of " + std::to_string(a.size()) + "/" +
         std::to_string(b.size()) + ": " + show(a, at) + " vs " + show(b, at);
}

// ------------------------------------------------------ memory test double

// The real host, except that memory requests are counted, tracked and can
// be made to fail.
class MemoryDouble : public host::Services {
 public:
  int fail_allocate_at = 0;  // 1-based; 0 never
  int fail_release_at = 0;   // 1-based, among releases of real blocks
  int allocations = 0;
  int releases = 0;
  std::vector<std::size_t> sizes;
  std::set<void*> live;

  void* Allocate(std::size_t size) override {
    ++allocations;
    if (allocations == fail_allocate_at) host::RaiseOutOfMemory();
    void* block = real_.Allocate(size);
    sizes.push_back(size);
    live.insert(block);
    return block;
  }
  // A rejected block is still returned to the real host, so that the
  // sanitizers see no leak; the caller sees only the exception.
  void Release(void* block) override {
    if (!block) return;
    ++releases;
    live.erase(block);
    real_.Release(block);
    if (releases == fail_release_at) host::RaiseInvalidPointer();
  }

  host::FileHandle OpenForReading(const std::string& p) override { return real_.OpenForReading(p); }
  host::FileHandle CreateForWriting(const std::string& p) override {
    return real_.CreateForWriting(p);
  }
  std::int32_t Read(host::FileHandle f, void* b, std::uint32_t n) override {
    return real_.Read(f, b, n);
  }
  std::int32_t Write(host::FileHandle f, const void* b, std::uint32_t n) override {
    return real_.Write(f, b, n);
  }
  void Flush(host::FileHandle f) override { real_.Flush(f); }
  void Close(host::FileHandle f) override { real_.Close(f); }
  void Delete(const std::string& p) override { real_.Delete(p); }
  std::string LastErrorText() override { return real_.LastErrorText(); }
  std::string FullPath(const std::string& p) override { return real_.FullPath(p); }
  bool IsFolder(const std::string& p) override { return real_.IsFolder(p); }
  bool CreateFolder(const std::string& p) override { return real_.CreateFolder(p); }
  bool FindResource(const std::string& t, const std::string& n, host::ResourceBytes& b) override {
    return real_.FindResource(t, n, b);
  }
  void Launch(const std::string& f, const std::string& w) override { real_.Launch(f, w); }
  void ClaimStagingFolder(const std::string& p, std::span<const std::string_view> names) override {
    real_.ClaimStagingFolder(p, names);
  }

 private:
  host::Services& real_ = host::RealServices();
};

// Puts a double in place for one scope.
class Installed {
 public:
  explicit Installed(host::Services& s) : previous_(host::Install(&s)) {}
  ~Installed() { host::Install(previous_); }
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;

 private:
  host::Services* previous_;
};

// ------------------------------------------------------- hand-made streams

// An item of a code stream: a literal, or a match of length 3..60 at an
// offset 0..4095.
struct Item {
  unsigned symbol;
  unsigned offset;
};
Item Lit(std::uint8_t byte) {
  return {byte, 0};
}
Item Match(unsigned length, unsigned offset) {
  return {length + 253, offset};
}

// Codes the items with the reference model's tree, independent of lzh/,
// packed most significant bit first and padded with zero bits.
Bytes Encode(const std::vector<Item>& items) {
  reference_lzh::InitCodeTree();
  reference_lzh::MakeOffsetTables();
  Bytes bytes;
  unsigned bit_count = 0;
  auto put = [&](unsigned bits, unsigned n) {
    for (unsigned k = n; k-- > 0;) {
      if (bit_count % 8 == 0) bytes.push_back(0);
      if ((bits >> k) & 1) bytes.back() |= static_cast<std::uint8_t>(0x80 >> (bit_count % 8));
      ++bit_count;
    }
  };
  using reference_lzh::Children;
  using reference_lzh::Parents;
  using reference_lzh::R;
  using reference_lzh::T;
  for (const Item& item : items) {
    std::string path;  // leaf first
    for (unsigned p = Parents[T + item.symbol]; p != R; p = Parents[p]) {
      path += p == Children[Parents[p]] ? '0' : '1';
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) put(*it == '1', 1);
    reference_lzh::UpdateCodeTree(static_cast<std::uint16_t>(item.symbol));
    if (item.symbol >= 256) {
      const unsigned upper = item.offset >> 6;
      unsigned entry = 0;
      while (reference_lzh::OffsetUpperBits[entry] != upper) ++entry;
      const unsigned length = reference_lzh::OffsetCodeLength[entry];
      put(entry >> (8 - length), length);
      put(item.offset & 63, 6);
    }
  }
  return bytes;
}

std::vector<Item> Literals(const Bytes& bytes) {
  std::vector<Item> items;
  for (const std::uint8_t b : bytes) items.push_back(Lit(b));
  return items;
}

std::vector<Item> operator+(std::vector<Item> a, const std::vector<Item>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Repeat(std::uint8_t byte, std::size_t n) {
  return Bytes(n, byte);
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Sequence(std::uint8_t first, std::size_t n) {
  Bytes out;
  for (std::size_t k = 0; k < n; ++k) out.push_back(static_cast<std::uint8_t>(first + k));
  return out;
}

struct HandMade {
  const char* what;
  std::vector<Item> items;
  std::int32_t length;
  Bytes expected;
};

std::vector<HandMade> HandMadeCases() {
  return {
      {"a match at offset 0 repeats the last byte", {Lit('x'), Match(60, 0)}, 61, Repeat('x', 61)},
      {"a match at offset 1 repeats the last two bytes",
       {Lit('a'), Lit('b'), Match(10, 1)},
       12,
       Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'}},
      {"the first match copies the initial spaces", {Match(3, 0)}, 3, Repeat(' ', 3)},
      {"offset 4095 reads the position about to be written: a space before it was",
       Literals(Repeat('a', 100)) + std::vector<Item>{Match(3, 4095), Lit('z')}, 104,
       Repeat('a', 100) + Repeat(' ', 3) + Bytes{'z'}},
      // 58 literals leave the write position at 4094; both matches run
      // across the ring's end, the second also over the bytes it writes.
      {"matches run across the end of the ring",
       Literals(Sequence(0, 58)) + std::vector<Item>{Match(5, 2), Match(6, 4)}, 69,
       Sequence(0, 58) + Bytes{55, 56, 57, 55, 56} + Bytes{55, 56, 57, 55, 56, 55}},
      {"the last match is emitted whole past the length",
       Literals(Sequence('0', 8)) + std::vector<Item>{Match(3, 0)}, 10,
       Sequence('0', 8) + Repeat('7', 3)},
      {"nothing is decoded after the length is reached",
       Literals(Sequence('0', 8)) + std::vector<Item>{Match(3, 0), Lit('!')}, 9,
       Sequence('0', 8) + Repeat('7', 3)},
      {"a length of 0 decodes nothing", {Lit('q')}, 0, Bytes{}},
  };
}

TEST(UnpackStream, HandMadeStreams) {
  for (const HandMade& c : HandMadeCases()) {
    const Bytes code = Encode(c.items);
    Recorder reference(code);
    RunReference(reference, c.length);
    ASSERT_EQ(reference.out, c.expected) << "the test's own encoding is wrong: " << c.what;

    Recorder production(code);
    RunProduction(production, c.length);
    EXPECT_EQ(production.out, c.expected) << c.what;
    EXPECT_EQ(FirstDifference(production.events, reference.events), "") << c.what;
    EXPECT_FALSE(production.bad_count) << c.what;
    EXPECT_LE(production.source_calls, code.size() + 1) << c.what;

    Recorder buffered(code);
    RunBuffered(buffered, c.length);
    EXPECT_EQ(FirstDifference(buffered.events, reference.events), "") << c.what;
  }
}

// --------------------------------------------------------------- lengths

TEST(UnpackStream, NonPositiveLengthMakesNoCallsButObtainsAndReturnsTheTables) {
  const Bytes code = Encode({Lit('a'), Lit('b')});
  for (const std::int32_t length : {0, -1, INT32_MIN}) {
    MemoryDouble memory;
    Installed installed(memory);
    Recorder r(code);
    RunProduction(r, length);
    EXPECT_EQ(r.source_calls + r.sink_calls, 0u) << length;
    EXPECT_EQ(memory.allocations, 4) << length;
    EXPECT_EQ(memory.releases, 4) << length;
    EXPECT_TRUE(memory.live.empty()) << length;
  }
}

TEST(UnpackStream, ObtainsTheRingAndTheThreeTreeTables) {
  MemoryDouble memory;
  Installed installed(memory);
  Recorder r;
  RunProduction(r, 1);
  const std::vector<std::size_t> expected = {4096, 628 * 2, 941 * 2, 627 * 2};
  EXPECT_EQ(memory.sizes, expected);
  EXPECT_TRUE(memory.live.empty());
}

// --------------------------------------------------------------- sources

// With no input the reader takes zero bits: the fresh tree's all-zero code
// is 116. Decoding goes on to the length; a source whose count is anything
// but 1 gives no byte either, whatever it put into the buffer.
TEST(UnpackStream, ASourceWithNoBytesDecodesZeroBits) {
  for (const bool answer_two : {false, true}) {
    Recorder r;
    r.answer_two = answer_two;
    RunProduction(r, 1000);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out[0], 116) << answer_two;
    EXPECT_GE(r.out.size(), 1000u) << answer_two;
    EXPECT_GT(r.source_calls, 2u) << answer_two;
    Recorder reference;
    RunReference(reference, 1000);
    EXPECT_EQ(r.out, reference.out) << answer_two;
  }
}

// ------------------------------------------------------------ failures

TEST(UnpackStream, AFailedRequestForATableRaisesElzhExceptionBeforeAnyCall) {
  for (int failing = 1; failing <= 4; ++failing) {
    MemoryDouble memory;
    memory.fail_allocate_at = failing;
    Installed installed(memory);
    const Bytes code = Encode({Lit('a')});
    Recorder r(code);
    try {
      RunProduction(r, 1);
      ADD_FAILURE() << "no exception, request " << failing;
    } catch (const lzh::ElzhException& e) {
      EXPECT_EQ(e.Message(), "LZH : Cannot get memory for dictionary tables");
      EXPECT_STREQ(e.ClassName(), "ElzhException");
    }
    EXPECT_EQ(r.source_calls + r.sink_calls, 0u) << failing;
    EXPECT_TRUE(memory.live.empty()) << "blocks obtained before request " << failing << " leaked";
  }
}

TEST(UnpackStream, AFailedReleaseRaisesElzhExceptionAfterReturningEveryTable) {
  for (int failing = 1; failing <= 4; ++failing) {
    MemoryDouble memory;
    memory.fail_release_at = failing;
    Installed installed(memory);
    const Bytes code = Encode({Lit('a'), Lit('b')});
    Recorder r(code);
    try {
      RunProduction(r, 2);
      ADD_FAILURE() << "no exception, release " << failing;
    } catch (const lzh::ElzhException& e) {
      EXPECT_EQ(e.Message(), "LZH : Error freeing memory for dictionary tables");
    }
    EXPECT_EQ(r.out, (Bytes{'a', 'b'})) << failing;
    EXPECT_EQ(memory.releases, 4) << failing;
  }
}

TEST(UnpackStream, AFailedReleaseTakesThePlaceOfAPassingException) {
  MemoryDouble memory;
  memory.fail_release_at = 1;
  Installed installed(memory);
  const Bytes code = Encode({Lit('a'), Lit('b')});
  Recorder r(code);
  r.fail_source_at = 1;
  EXPECT_THROW(RunProduction(r, 2), lzh::ElzhException);
  EXPECT_TRUE(memory.live.empty());
}

// A fault in the source or the sink leaves unchanged, after the tables went
// back; the bytes emitted before it stay with the sink.
TEST(UnpackStream, SourceAndSinkExceptionsPassThroughUnchanged) {
  const Bytes code = Encode(Literals(Sequence('a', 20)) + std::vector<Item>{Match(10, 3)});
  Recorder full(code);
  RunReference(full, 30);
  for (const long at : {0L, 1L, 5L, 25L}) {
    for (const bool in_source : {true, false}) {
      MemoryDouble memory;
      Installed installed(memory);
      Recorder r(code);
      (in_source ? r.fail_source_at : r.fail_sink_at) = at;
      bool caught = false;
      try {
        RunProduction(r, 30);
      } catch (const SourceFault& e) {
        caught = in_source && e.serial == 42 && e.Message() == "source failed";
      } catch (const SinkFault& e) {
        caught = !in_source && e.serial == 43 && e.Message() == "sink failed";
      }
      EXPECT_TRUE(caught) << (in_source ? "source" : "sink") << " call " << at;
      EXPECT_TRUE(memory.live.empty()) << at;
      EXPECT_EQ(memory.releases, 4) << at;
      ASSERT_LE(r.out.size(), full.out.size());
      EXPECT_TRUE(std::equal(r.out.begin(), r.out.end(), full.out.begin())) << at;
      if (!in_source) {
        EXPECT_EQ(r.out.size(), static_cast<std::size_t>(at));
      }
    }
  }
}

// --------------------------------------------------------------- vectors

struct VectorCase {
  test_support::ManifestEntry entry;
  std::string Name() const {
    std::string n;
    for (const char c : entry.file) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
  }
};

// ctest shows the parameter: the file's name rather than its bytes.
void PrintTo(const VectorCase& c, std::ostream* os) {
  *os << c.entry.file;
}

std::vector<VectorCase> AllVectors() {
  std::vector<VectorCase> cases;
  for (auto& e : test_support::ReadManifest(MERLAVOX_TEST_DATA "/vectors")) cases.push_back({e});
  return cases;
}

class Vector : public testing::TestWithParam<VectorCase> {
 protected:
  void SetUp() override {
    file_ = test_support::ReadFileBytes(MERLAVOX_TEST_DATA "/vectors/" + GetParam().entry.file);
    container_ = test_support::SplitContainer(file_);
  }
  Bytes file_;
  test_support::Container container_;
};

TEST_P(Vector, ExpandsToTheKnownHashThroughTheProcedureEntry) {
  Recorder r(container_.code);
  RunProduction(r, container_.expanded_length);
  EXPECT_EQ(r.out.size(), GetParam().entry.expanded_bytes);
  EXPECT_EQ(test_support::Sha256Hex(r.out), GetParam().entry.sha256);
  EXPECT_FALSE(r.bad_count);
}

TEST_P(Vector, ExpandsToTheKnownHashThroughTheBufferedEntry) {
  test_support::MemorySource source(container_.code);
  test_support::VectorSink sink;
  lzh::UnpackWith(container_.expanded_length, source, sink);
  EXPECT_EQ(test_support::Sha256Hex(sink.bytes), GetParam().entry.sha256);
}

// Output, and every source and sink call in order, as the reference makes
// them, through both entries.
TEST_P(Vector, MakesTheReferenceDecodersCalls) {
  Recorder reference(container_.code);
  RunReference(reference, container_.expanded_length);
  ASSERT_EQ(test_support::Sha256Hex(reference.out), GetParam().entry.sha256)
      << "the reference decoder itself is wrong";

  Recorder production(container_.code);
  RunProduction(production, container_.expanded_length);
  EXPECT_EQ(FirstDifference(production.events, reference.events), "");

  Recorder buffered(container_.code);
  RunBuffered(buffered, container_.expanded_length);
  EXPECT_EQ(FirstDifference(buffered.events, reference.events), "");
}

// A well-formed stream is read to at most one byte past the end of its
// code; "trailing" carries 1000 bytes after its code that are never read.
TEST(UnpackStream, ReadsAtMostOneByteBeyondAWellFormedStream) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"GPL-3.txt.hzl", 0},   {"tutor-de.txt.hzl", 0}, {"services.txt.hzl", 0},
      {"notepad.exe.hzl", 0}, {"gdiplus.dll.hzl", 0},  {"rle.hzl", 0},
      {"spaces.hzl", 0},      {"overrun.hzl", 0},      {"period4096.hzl", 0},
      {"zeros4M.hzl", 0},     {"random256K.hzl", 0},   {"trailing.hzl", 1000},
  };
  for (const auto& [name, unread] : cases) {
    const Bytes file =
        test_support::ReadFileBytes(MERLAVOX_TEST_DATA "/vectors/" + std::string(name));
    const test_support::Container container = test_support::SplitContainer(file);
    test_support::MemorySource source(container.code);
    test_support::VectorSink sink;
    lzh::UnpackWith(container.expanded_length, source, sink);
    EXPECT_LE(source.calls, container.code.size() - unread + 1) << name;
    EXPECT_GE(source.calls, container.code.size() - unread) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(All, Vector, testing::ValuesIn(AllVectors()),
                         [](const testing::TestParamInfo<VectorCase>& info) {
                           return info.param.Name();
                         });

// ------------------------------------------------------ random code streams

// Every byte string is a valid code stream. Random ones, with random
// lengths, reach trees, offsets and ring positions no real file does; every
// 100th is long enough for the tree to be rebuilt a few times.
TEST(UnpackStream, RandomStreamsMakeTheReferenceDecodersCalls) {
  std::mt19937 random(314159);
  for (int round = 0; round < 300; ++round) {
    const bool long_stream = round % 100 == 99;
    Bytes code(long_stream ? 120000 : random() % 3000);
    for (auto& b : code) b = static_cast<std::uint8_t>(random());
    std::int32_t length = 600000;  // some 90,000 symbols
    if (!long_stream) {
      switch (round % 5) {
        case 0:
          length = static_cast<std::int32_t>(random() % 64);
          break;
        case 1:
          length = -static_cast<std::int32_t>(random() % 3);
          break;
        default:
          length = static_cast<std::int32_t>(random() % 20000);
          break;
      }
    }
    Recorder reference(code);
    RunReference(reference, length);
    Recorder production(code);
    RunProduction(production, length);
    ASSERT_EQ(FirstDifference(production.events, reference.events), "")
        << "round " << round << ", " << code.size() << " code bytes, length " << length;
    Recorder buffered(code);
    RunBuffered(buffered, length);
    ASSERT_EQ(FirstDifference(buffered.events, reference.events), "") << "round " << round;
  }
}

}  // namespace
