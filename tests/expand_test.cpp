// The expansion driver over real files, watched through the recording host:
// which system calls it makes, what every failure leaves on disk, and that
// every handle and buffer goes back on every way out.
#include "compress/expand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>

#include "compress/compress_file.h"
#include "compress/container.h"
#include "lzh/unpack.h"
#include "support/recording_services.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using test_support::Call;
using test_support::CallKind;
using test_support::Fault;
using test_support::ReadBytes;
using test_support::ToBytes;
using test_support::WriteBytes;

constexpr std::size_t kChunk = compress::IoChunkSize;
const fs::path kData = MERLAVOX_TEST_DATA;

Bytes TextOfSize(std::size_t size) {
  const Bytes text = ReadBytes(kData / "corpus" / "GPL-3.txt");
  Bytes out;
  while (out.size() < size) out.insert(out.end(), text.begin(), text.end());
  out.resize(size);
  return out;
}

Bytes RandomOfSize(std::size_t size) {
  std::mt19937 random(12345);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(random());
  return out;
}

Bytes Container(const Bytes& plain) {
  return compress::CompressToContainer(plain);
}

// The decoder's own view of a container's code stream, through the plain
// procedure types and an in-memory source: what it produces, how many code
// bytes it takes and how often it asks past the end. The driver must show
// the same through its files.
struct Decoding {
  Bytes output;
  std::size_t consumed = 0;
  int requests_past_end = 0;
};

struct MemoryStream {
  static inline const Bytes* input = nullptr;
  static inline std::size_t position = 0;
  static inline Decoding* decoding = nullptr;

  static void Source(void* buffer, std::uint16_t count, std::uint16_t& actual) {
    actual = 0;
    if (position >= input->size()) {
      ++decoding->requests_past_end;
      return;
    }
    const std::size_t n = std::min<std::size_t>(count, input->size() - position);
    std::copy_n(input->begin() + static_cast<std::ptrdiff_t>(position), n,
                static_cast<std::uint8_t*>(buffer));
    position += n;
    decoding->consumed = position;
    actual = static_cast<std::uint16_t>(n);
  }
  static void Sink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    decoding->output.insert(decoding->output.end(), bytes, bytes + count);
    accepted = count;
  }
};

Decoding DecodeInMemory(const Bytes& container) {
  // The decoder takes its tables from the host: from the real one here, so
  // that the log of the double holds only what the driver did.
  test_support::InstallScope real(host::RealServices());
  const Bytes code(container.begin() + compress::HeaderSize, container.end());
  Decoding decoding;
  MemoryStream::input = &code;
  MemoryStream::position = 0;
  MemoryStream::decoding = &decoding;
  const auto length = static_cast<std::int32_t>(compress::LoadLittleEndian32(container.data() + 4));
  lzh::UnpackStream(length, MemoryStream::Source, MemoryStream::Sink);
  return decoding;
}

// The sizes of the writes for an output of this size: 32768 bytes each
// time the 32769th byte arrives, the rest (0 to 32768) at the final flush.
std::vector<std::uint64_t> ExpectedWrites(std::size_t size) {
  std::vector<std::uint64_t> writes;
  const std::size_t full = size == 0 ? 0 : (size - 1) / kChunk;
  writes.assign(full, kChunk);
  writes.push_back(size - full * kChunk);
  return writes;
}

std::vector<std::uint64_t> RequestedCounts(const std::vector<Call>& calls) {
  std::vector<std::uint64_t> counts;
  for (const Call& call : calls) counts.push_back(call.requested);
  return counts;
}

class ExpandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    compress::InFileName = in;
    compress::OutFileName = out;
  }

  host::FileHandle HandleOf(CallKind kind) const {
    const auto calls = services.CallsOf(kind);
    return calls.empty() ? 0 : calls.front().handle;
  }

  // The reads: 4 and 4 for the header, then 32768-byte refills, one for
  // each stretch of the code that the decoder took, then one read that
  // yields 0 for every request it made past the end.
  void ExpectReadPattern(const Bytes& file, const Decoding& decoding) {
    const auto reads = services.CallsOf(CallKind::kRead);
    const host::FileHandle input = HandleOf(CallKind::kOpenForReading);
    ASSERT_GE(reads.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(reads[i].requested, 4u);
      EXPECT_EQ(reads[i].returned, 4);
    }
    const std::size_t body = file.size() - compress::HeaderSize;
    const std::size_t chunks = (decoding.consumed + kChunk - 1) / kChunk;
    ASSERT_EQ(reads.size(), 2 + chunks + decoding.requests_past_end);
    for (std::size_t i = 2; i < reads.size(); ++i) {
      const Call& read = reads[i];
      EXPECT_EQ(read.handle, input);
      EXPECT_EQ(read.requested, kChunk) << "read " << i;
      const std::size_t offset = (i - 2) * kChunk;
      const std::size_t expected = i < 2 + chunks ? std::min(kChunk, body - offset) : 0;
      ASSERT_EQ(read.returned, static_cast<std::int64_t>(expected)) << "read " << i;
      EXPECT_TRUE(std::equal(read.data.begin(), read.data.end(),
                             file.begin() + static_cast<std::ptrdiff_t>(8 + offset)));
    }
  }

  // The writes as above, the last of them followed by the close of the
  // input and the flush and close of the output, then both buffers go.
  void ExpectWritePattern(std::size_t output_size) {
    const auto writes = services.CallsOf(CallKind::kWrite);
    EXPECT_EQ(RequestedCounts(writes), ExpectedWrites(output_size));
    for (const Call& write : writes) {
      EXPECT_EQ(write.handle, HandleOf(CallKind::kCreateForWriting));
      EXPECT_EQ(write.returned, static_cast<std::int64_t>(write.requested));
    }
    const auto& calls = services.Calls();
    ASSERT_GE(calls.size(), 6u);
    const std::vector<Call> tail(calls.end() - 6, calls.end());
    const std::vector<CallKind> kinds = {CallKind::kWrite, CallKind::kClose,   CallKind::kFlush,
                                         CallKind::kClose, CallKind::kRelease, CallKind::kRelease};
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      EXPECT_EQ(tail[i].kind, kinds[i]) << "call " << i << " of the last six";
    }
    EXPECT_EQ(tail[1].handle, HandleOf(CallKind::kOpenForReading));
    EXPECT_EQ(tail[2].handle, HandleOf(CallKind::kCreateForWriting));
    EXPECT_EQ(tail[3].handle, HandleOf(CallKind::kCreateForWriting));
  }

  void ExpectAllReleased() {
    EXPECT_EQ(services.OpenHandles(), 0u);
    EXPECT_EQ(services.LiveBlocks(), 0u);
  }

  test_support::TempFolder folder;
  test_support::RecordingServices services;
  test_support::InstallScope installed{services};
  const std::string in = folder / "Setup.ex_";
  const std::string out = folder / "Setup.exe";
};

TEST_F(ExpandTest, ReadsAndWritesInWholeBuffers) {
  struct Case {
    const char* name;
    Bytes plain;
  };
  const Case cases[] = {
      {"length 0: the only write is the final flush of 0 bytes", {}},
      {"one byte", TextOfSize(1)},
      {"exactly one buffer: one write, made by the final flush", TextOfSize(kChunk)},
      {"one byte more: 32768 when it arrives, then 1", TextOfSize(kChunk + 1)},
      {"two full buffers", TextOfSize(2 * kChunk)},
      {"random bytes: the code itself spans four refills", RandomOfSize(100000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    services.Reset();
    const Bytes file = Container(c.plain);
    WriteBytes(in, file);

    EXPECT_EQ(compress::ExpandFile(), 1);

    EXPECT_EQ(ReadBytes(out), c.plain);
    EXPECT_EQ(ReadBytes(in), file);
    ExpectReadPattern(file, DecodeInMemory(file));
    ExpectWritePattern(c.plain.size());
    ExpectAllReleased();
  }
}

// Every reference file: the driver's output is the decoder's, a stream cut
// short included (every request past the end is answered with 0) and one
// followed by bytes that are never read.
TEST_F(ExpandTest, ExpandsEveryReferenceFile) {
  std::ifstream manifest(kData / "vectors" / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // the heading
  int files = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string name, expanded, digest, what;
    std::getline(fields, name, '\t');
    std::getline(fields, expanded, '\t');
    std::getline(fields, digest, '\t');
    std::getline(fields, what);
    SCOPED_TRACE(name + ": " + what);
    ++files;
    services.Reset();
    const Bytes file = ReadBytes(kData / "vectors" / name);
    WriteBytes(in, file);

    ASSERT_EQ(compress::ExpandFile(), 1);

    const Bytes output = ReadBytes(out);
    const Decoding decoding = DecodeInMemory(file);
    EXPECT_EQ(output.size(), std::stoul(expanded));
    EXPECT_EQ(output, decoding.output);
    const std::string corpus_prefix = "real file from corpus/";
    if (what.starts_with(corpus_prefix) || name == "trailing.hzl") {
      const std::string source =
          name == "trailing.hzl" ? "GPL-3.txt" : what.substr(corpus_prefix.size());
      EXPECT_EQ(output, ReadBytes(kData / "corpus" / source));
    }
    if (name == "truncated.hzl") {
      EXPECT_GT(decoding.requests_past_end, 0);
    }
    if (name == "trailing.hzl") {
      EXPECT_LT(decoding.consumed, file.size() - 8);
    }
    ExpectReadPattern(file, decoding);
    ExpectWritePattern(output.size());
    ExpectAllReleased();
  }
  EXPECT_GT(files, 0) << "no reference file was read";
}

TEST_F(ExpandTest, ReplacesAnExistingOutput) {
  WriteBytes(out, RandomOfSize(100000));
  const Bytes plain = TextOfSize(1000);
  WriteBytes(in, Container(plain));

  EXPECT_EQ(compress::ExpandFile(), 1);

  EXPECT_EQ(ReadBytes(out), plain);
  const auto flushes = services.CallsOf(CallKind::kFlush);
  ASSERT_EQ(flushes.size(), 1u);
  EXPECT_EQ(flushes[0].path, out);
  ExpectAllReleased();
}

// What stands at a path after a failed expansion.
enum class Left {
  kNothing,   // no file
  kAsBefore,  // what stood there before, unchanged
  kPartial,   // the bytes written before the failure
};

TEST_F(ExpandTest, EveryFailureIsReportedAndCleanedUp) {
  const Bytes small = TextOfSize(1000);
  const Bytes large = RandomOfSize(100000);
  Bytes lower_case = Container(small);
  std::copy_n("!hzl", 4, lower_case.begin());
  const std::string full_disk = folder / "full";
  const bool have_dev_full = fs::is_character_file("/dev/full");

  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* class_name;
    std::string message;  // {in} and {out} stand for the two paths
    bool output_created;
    Left output_left;
    Bytes partial = {};
  };
  auto input = [&](const Bytes& bytes) { return [&, bytes] { WriteBytes(in, bytes); }; };
  auto with = [](std::function<void()> first, std::function<void()> then) {
    return [first, then] {
      first();
      then();
    };
  };
  auto fail = [&](CallKind kind, int nth, Fault fault = Fault::kFail, std::uint32_t count = 0) {
    return [&, kind, nth, fault, count] { services.FailCall(kind, nth, fault, count); };
  };
  auto old_output = [&] { WriteBytes(out, ToBytes("an earlier Setup.exe")); };

  const std::string no_memory = "Lzrw1 : no memory for I/O Buffers !!";
  const std::string not_found = "Lzrw1 : Inputfile {in} not found !";
  const std::string not_created = "Lzrw1 : Outputfile {out} can not be opened !";
  const std::string read_error = "Lzrw1 : ERROR READING FROM {in} !";
  const std::string not_compressed = "Lzrw1 : {in} : NOT A COMPRESSED FILE !";
  const std::string refill_error = "Lzrw1/LZH : READ ERROR ON {in} !";
  const std::string write_error = "Lzrw1 : ERROR WRITING TO {out} !";
  const char* lzrw1 = "ELzrw1Exception";

  std::vector<Case> cases = {
      {"the input buffer cannot be allocated", with(input(small), fail(CallKind::kAllocate, 1)),
       lzrw1, no_memory, false, Left::kNothing},
      {"the output buffer cannot be allocated", with(input(small), fail(CallKind::kAllocate, 2)),
       lzrw1, no_memory, false, Left::kNothing},
      {"the input is missing", [] {}, lzrw1, not_found, false, Left::kNothing},
      {"the input cannot be opened", with(input(small), fail(CallKind::kOpenForReading, 1)), lzrw1,
       not_found, false, Left::kNothing},
      {"the output is read-only",
       with(input(small),
            [&] {
              old_output();
              chmod(out.c_str(), 0444);
            }),
       lzrw1, not_created, false, Left::kAsBefore},
      {"the output's folder is missing",
       with(input(small), [&] { compress::OutFileName = folder / "missing/Setup.exe"; }), lzrw1,
       not_created, false, Left::kNothing},
      {"input and output name the same file",
       with(input(Container(small)), [&] { compress::OutFileName = in; }), lzrw1, not_created,
       false, Left::kAsBefore},
      {"an empty input", input({}), lzrw1, read_error, true, Left::kNothing},
      {"an input of 3 bytes", input(ToBytes("!HZ")), lzrw1, read_error, true, Left::kNothing},
      {"an input of 4 bytes: the signature alone", input(ToBytes("!HZL")), lzrw1, read_error, true,
       Left::kNothing},
      {"an input of 7 bytes", input(ToBytes("!HZL\x01\x02\x03")), lzrw1, read_error, true,
       Left::kNothing},
      {"the signature in lower case", input(lower_case), lzrw1, not_compressed, true,
       Left::kNothing},
      {"a text file", input(ReadBytes(kData / "corpus" / "GPL-3.txt")), lzrw1, not_compressed, true,
       Left::kNothing},
      {"the read of the signature fails", with(input(Container(small)), fail(CallKind::kRead, 1)),
       lzrw1, read_error, true, Left::kNothing},
      {"the read of the length comes back short",
       with(input(Container(small)), fail(CallKind::kRead, 2, Fault::kShort, 3)), lzrw1, read_error,
       true, Left::kNothing},
      {"the first refill fails", with(input(Container(small)), fail(CallKind::kRead, 3)), lzrw1,
       refill_error, true, Left::kNothing},
      {"a later refill fails after a write",
       with(input(Container(large)), fail(CallKind::kRead, 5)), lzrw1, refill_error, true,
       Left::kNothing},
      {"the first write fails", with(input(Container(large)), fail(CallKind::kWrite, 1)), lzrw1,
       write_error, true, Left::kNothing},
      {"a write comes back short",
       with(input(Container(large)), fail(CallKind::kWrite, 2, Fault::kShort, 1000)), lzrw1,
       write_error, true, Left::kNothing},
      {"the final flush fails", with(input(Container(small)), fail(CallKind::kWrite, 1)), lzrw1,
       write_error, true, Left::kNothing},
      {"the final flush comes back short",
       with(input(Container(small)), fail(CallKind::kWrite, 1, Fault::kShort, 10)), lzrw1,
       write_error, true, Left::kNothing},
      {"the decoder's tables cannot be allocated",
       with(input(Container(small)), fail(CallKind::kAllocate, 3)), "ElzhException",
       lzh::kNoMemoryMessage, true, Left::kNothing},
      {"the runtime fails inside a refill",
       with(input(Container(small)), fail(CallKind::kRead, 3, Fault::kRaise)), "InjectedFault",
       "injected failure of Read #3", true, Left::kNothing},
      {"an earlier output is replaced, then deleted", with(input(lower_case), old_output), lzrw1,
       not_compressed, true, Left::kNothing},
      {"the deletion of the partial output fails",
       with(input(Container(large)), with(fail(CallKind::kWrite, 2), fail(CallKind::kDelete, 1))),
       lzrw1, write_error, true, Left::kPartial, Bytes(large.begin(), large.begin() + kChunk)},
  };
  if (have_dev_full) {
    // The output is a link to a device that is always full. The driver
    // deletes its output after the failure: the link goes, never the device.
    cases.push_back({"a full disk",
                     with(input(Container(large)),
                          [&] {
                            fs::create_symlink("/dev/full", full_disk);
                            compress::OutFileName = full_disk;
                          }),
                     lzrw1, write_error, true, Left::kNothing});
  }

  auto substitute = [](std::string text) {
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"{in}", compress::InFileName},
          {"{out}", compress::OutFileName}}) {
      for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) {
        text.replace(at, key.size(), value);
      }
    }
    return text;
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Once for the result and once for the exception that ExpandFile drops.
    for (const bool through_expand_file : {true, false}) {
      SCOPED_TRACE(through_expand_file ? "ExpandFile" : "RunExpansion");
      for (const auto& entry : fs::directory_iterator(folder.Path())) fs::remove_all(entry);
      services.ClearFaults();
      services.Reset();
      compress::InFileName = in;
      compress::OutFileName = out;
      c.arrange();
      const bool input_existed = fs::exists(compress::InFileName);
      const Bytes input_before = ReadBytes(compress::InFileName);
      // Never read through the link to the full device: it has no end.
      const Bytes output_before =
          fs::is_regular_file(compress::OutFileName) ? ReadBytes(compress::OutFileName) : Bytes{};

      if (through_expand_file) {
        EXPECT_EQ(compress::ExpandFile(), -1);
      } else {
        try {
          compress::RunExpansion();
          ADD_FAILURE() << "no exception";
        } catch (const host::Exception& e) {
          EXPECT_STREQ(e.ClassName(), c.class_name);
          EXPECT_EQ(e.Message(), substitute(c.message));
        }
      }

      ExpectAllReleased();
      EXPECT_EQ(fs::exists(compress::InFileName), input_existed);
      EXPECT_EQ(ReadBytes(compress::InFileName), input_before) << "the input changed";
      const auto creates = services.CallsOf(CallKind::kCreateForWriting);
      const bool created = !creates.empty() && creates[0].returned > 0;
      EXPECT_EQ(created, c.output_created);
      if (created) {
        // Closed without a flush, then deleted.
        EXPECT_EQ(services.CountOf(CallKind::kFlush), 0);
        const auto deletes = services.CallsOf(CallKind::kDelete);
        ASSERT_EQ(deletes.size(), 1u);
        EXPECT_EQ(deletes[0].path, compress::OutFileName);
      } else {
        EXPECT_EQ(services.CountOf(CallKind::kDelete), 0);
      }
      switch (c.output_left) {
        case Left::kNothing:
          EXPECT_FALSE(test_support::Exists(compress::OutFileName)) << "an output remains";
          break;
        case Left::kAsBefore:
          EXPECT_EQ(ReadBytes(compress::OutFileName), output_before);
          break;
        case Left::kPartial:
          EXPECT_EQ(ReadBytes(compress::OutFileName), c.partial);
          break;
      }
    }
  }
  if (have_dev_full) {
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

// A code stream cut short is not the driver's failure: the decoder
// completes the output from the zero bits it is given past the end.
TEST_F(ExpandTest, ExpandsAStreamCutShort) {
  const Bytes whole = Container(TextOfSize(50000));
  const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
  WriteBytes(in, cut);

  EXPECT_EQ(compress::ExpandFile(), 1);

  const Bytes output = ReadBytes(out);
  EXPECT_GE(output.size(), 50000u);
  const Decoding decoding = DecodeInMemory(cut);
  EXPECT_EQ(output, decoding.output);
  EXPECT_GT(decoding.requests_past_end, 1);
  ExpectReadPattern(cut, decoding);
  ExpectAllReleased();
}

#ifdef MERLAVOX_HZL_PATH

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(HzlTool, TestChecksEachFileAndWritesNothing) {
  test_support::TempFolder folder;
  const std::string good = folder / "good.hzl", text = folder / "text.txt",
                    missing = folder / "missing.hzl", signature = folder / "signature.hzl";
  WriteBytes(good, ReadBytes(kData / "vectors" / "GPL-3.txt.hzl"));
  WriteBytes(text, ReadBytes(kData / "corpus" / "GPL-3.txt"));
  WriteBytes(signature, ToBytes("!HZL"));
  const auto before = Listing(folder.Path());

  struct Case {
    std::vector<std::string> files;
    int exit_code;
    std::string out;
  };
  const Case cases[] = {
      {{good, good}, 0, good + ": ok\n" + good + ": ok\n"},
      {{good, text, missing, signature},
       1,
       good + ": ok\n" + text + ": Lzrw1 : " + text + " : NOT A COMPRESSED FILE !\n" + missing +
           ": Lzrw1 : Inputfile " + missing + " not found !\n" + signature +
           ": Lzrw1 : ERROR READING FROM " + signature + " !\n"},
      {{text, good},
       1,
       text + ": Lzrw1 : " + text + " : NOT A COMPRESSED FILE !\n" + good + ": ok\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {MERLAVOX_HZL_PATH, "t"};
    argv.insert(argv.end(), c.files.begin(), c.files.end());
    const auto result = test_support::RunProcess(argv);
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(Listing(folder.Path()), before);
  }
}

TEST(HzlTool, ExpandGoesThroughTheDriver) {
  test_support::TempFolder folder;
  const std::string good = folder / "good.hzl", text = folder / "text.txt", out = folder / "out",
                    full = folder / "full";
  WriteBytes(good, ReadBytes(kData / "vectors" / "GPL-3.txt.hzl"));
  WriteBytes(text, ReadBytes(kData / "corpus" / "GPL-3.txt"));
  const bool have_dev_full = fs::is_character_file("/dev/full");

  const Bytes earlier = ToBytes("an earlier output");
  const Bytes expanded = ReadBytes(kData / "corpus" / "GPL-3.txt");
  struct Case {
    const char* name;
    std::string in, out;
    int exit_code;
    std::string err;
    std::optional<Bytes> left;  // what stands at the output afterwards; none: no file
  };
  std::vector<Case> cases = {
      {"a good file", good, out, 0, "", expanded},
      {"a text file: the output is deleted", text, out, 1,
       "hzl: Lzrw1 : " + text + " : NOT A COMPRESSED FILE !\n", std::nullopt},
      {"a missing file: the output is not touched", folder / "missing", out, 1,
       "hzl: Lzrw1 : Inputfile " + (folder / "missing") + " not found !\n", earlier},
  };
  if (have_dev_full) {
    fs::create_symlink("/dev/full", full);
    cases.push_back({"a full disk: the link goes, the device stays", good, full, 1,
                     "hzl: Lzrw1 : ERROR WRITING TO " + full + " !\n", std::nullopt});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(out, earlier);
    const auto result = test_support::RunProcess({MERLAVOX_HZL_PATH, "x", c.in, c.out});
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(result.err, c.err);
    if (c.left) {
      EXPECT_EQ(ReadBytes(c.out), *c.left);
    } else {
      EXPECT_FALSE(test_support::Exists(c.out));
    }
  }
  if (have_dev_full) {
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

#endif

}  // namespace
