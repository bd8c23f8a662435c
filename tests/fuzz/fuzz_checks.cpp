#include "fuzz/fuzz_checks.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "compress/container.h"
#include "compress/expand.h"
#include "lzh/pack.h"
#include "lzh/unpack.h"
#include "lzh/unpack_core.h"
#include "support/reference_decoder.h"

namespace merlavox::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A match is emitted whole, so the output may pass the expanded length by
// at most the longest match less one byte.
constexpr std::size_t kLongestOverrun = 59;

// The state behind the plain procedures that UnpackStream is given: they
// cannot carry a pointer of their own, so it lives here.
struct ProcedureRun {
  std::span<const std::uint8_t> input;
  std::size_t next = 0;
  std::size_t source_calls = 0;
  std::size_t bad_counts = 0;
  Bytes output;
} procedure_run;

void ProcedureSource(void* buffer, std::uint16_t count, std::uint16_t& actual) {
  ProcedureRun& run = procedure_run;
  ++run.source_calls;
  if (count != 1) ++run.bad_counts;
  actual = 0;
  if (run.next < run.input.size()) {
    *static_cast<std::uint8_t*>(buffer) = run.input[run.next++];
    actual = 1;
  }
}

void ProcedureSink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  ProcedureRun& run = procedure_run;
  if (count != 1) ++run.bad_counts;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  run.output.insert(run.output.end(), bytes, bytes + count);
  accepted = count;
}

struct SpanSource {
  std::span<const std::uint8_t> input;
  std::size_t next = 0;
  std::size_t calls = 0;
  std::size_t past_end = 0;
  unsigned NextByte() {
    ++calls;
    if (next < input.size()) return input[next++];
    ++past_end;
    return 0;
  }
};

struct VectorSink {
  Bytes output;
  void Put(std::uint8_t byte) { output.push_back(byte); }
};

// For the reference decoder, which wants -1 for "no byte".
std::string Describe(const char* what, long long got, long long want) {
  return std::string(what) + ": " + std::to_string(got) + ", expected " + std::to_string(want);
}

// The first position where two outputs differ, for a readable report.
std::string CompareOutputs(const char* what, const Bytes& a, const Bytes& b) {
  if (a == b) return {};
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return std::string(what) + ": first difference at byte " + std::to_string(i) + " of " +
         std::to_string(a.size()) + " and " + std::to_string(b.size());
}

std::string CheckLength(const Bytes& output, std::int32_t length) {
  const std::size_t want = length > 0 ? static_cast<std::size_t>(length) : 0;
  if (output.size() < want || output.size() > (want == 0 ? 0 : want + kLongestOverrun)) {
    return Describe("output length outside [length, length + 59]", output.size(), want);
  }
  return {};
}

std::uint32_t RawLength(std::span<const std::uint8_t> bytes) {
  std::uint8_t field[4] = {};
  for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) field[i] = bytes[i];
  return compress::LoadLittleEndian32(field);
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The lowest free descriptor: a leaked descriptor moves it up.
int LowestFreeDescriptor() {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return fd;
}

// One folder per process for the driver's two files, gone at exit.
class ScratchFolder {
 public:
  // In memory where the system offers it: the driver flushes its output,
  // and a flush to disk would cost more than the expansion.
  ScratchFolder()
      : path_((std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                         : std::filesystem::temp_directory_path()) /
              ("merlavox-fuzz-" + std::to_string(static_cast<long>(getpid())))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

std::int32_t FoldLength(std::uint32_t raw) {
  const auto length = static_cast<std::int32_t>(raw);
  if (length > kLongestExpansion) return static_cast<std::int32_t>(raw % 16385u);
  return length;  // negative lengths stay: they must expand to nothing
}

std::string CheckUnpack(std::span<const std::uint8_t> data) {
  const std::int32_t length = FoldLength(RawLength(data));
  const auto stream = data.size() > 4 ? data.subspan(4) : std::span<const std::uint8_t>();

  procedure_run = ProcedureRun{};
  procedure_run.input = stream;
  lzh::UnpackStream(length, ProcedureSource, ProcedureSink);
  const ProcedureRun by_procedure = std::move(procedure_run);
  procedure_run = ProcedureRun{};
  if (by_procedure.bad_counts != 0) return "UnpackStream passed a count other than 1";
  if (auto fault = CheckLength(by_procedure.output, length); !fault.empty()) return fault;
  if (length <= 0 && by_procedure.source_calls != 0) {
    return "a length of 0 or less still called the source";
  }

  SpanSource source{stream};
  VectorSink sink;
  lzh::UnpackWith(length, source, sink);
  if (auto fault = CompareOutputs("UnpackStream and UnpackWith", by_procedure.output, sink.output);
      !fault.empty()) {
    return fault;
  }
  if (source.calls != by_procedure.source_calls) {
    return Describe("UnpackStream and UnpackWith made different source calls",
                    by_procedure.source_calls, source.calls);
  }

  std::size_t reference_calls = 0;
  const Bytes reference = reference_lzh::ReferenceExpand(stream, length, &reference_calls);
  if (auto fault = CompareOutputs("decoder and reference decoder", by_procedure.output, reference);
      !fault.empty()) {
    return fault;
  }
  if (reference_calls != by_procedure.source_calls) {
    return Describe("decoder and reference decoder made different source calls",
                    by_procedure.source_calls, static_cast<long long>(reference_calls));
  }
  return {};
}

std::string CheckExpandFile(std::span<const std::uint8_t> data) {
  Bytes content(data.begin(), data.end());
  const bool has_signature = content.size() >= 4 && compress::LoadLittleEndian32(content.data()) ==
                                                        compress::CompressedFileSignature;
  const bool expands = has_signature && content.size() >= compress::HeaderSize;
  std::int32_t length = 0;
  if (expands) {
    length = FoldLength(compress::LoadLittleEndian32(content.data() + 4));
    compress::StoreLittleEndian32(content.data() + 4, static_cast<std::uint32_t>(length));
  }

  static const ScratchFolder scratch;
  const auto& folder = scratch.Path();
  const auto in_path = folder / "in.hzl";
  const auto out_path = folder / "out.bin";
  WriteFile(in_path, content);
  // A file from an earlier run stands at the output: it must be replaced on
  // success and gone after a failure.
  const std::uint8_t stale[] = {'s', 't', 'a', 'l', 'e'};
  WriteFile(out_path, stale);
  compress::InFileName = in_path.string();
  compress::OutFileName = out_path.string();

  const int free_before = LowestFreeDescriptor();
  const std::int32_t expanded = compress::ExpandFile();
  const std::int32_t want = expands ? 1 : -1;
  if (expanded != want) return Describe("ExpandFile's result", expanded, want);

  Bytes want_output;
  if (expands) {
    want_output = reference_lzh::ReferenceExpand(
        std::span<const std::uint8_t>(content).subspan(compress::HeaderSize), length);
    if (!std::filesystem::exists(out_path)) return "ExpandFile succeeded without an output file";
    if (auto fault =
            CompareOutputs("ExpandFile and reference decoder", ReadFile(out_path), want_output);
        !fault.empty()) {
      return fault;
    }
  } else if (std::filesystem::exists(out_path)) {
    return "a failed ExpandFile left a file at the output path";
  }

  // TestExpansion raises what ExpandFile absorbs: the header's faults must
  // come out as the driver's own messages.
  std::string message;
  try {
    compress::TestExpansion();
  } catch (const compress::ELzrw1Exception& e) {
    message = e.Message();
  }
  const std::string& in_name = compress::InFileName;
  const std::string want_message = expands         ? ""
                                   : has_signature ? "Lzrw1 : ERROR READING FROM " + in_name + " !"
                                   : content.size() < 4
                                       ? "Lzrw1 : ERROR READING FROM " + in_name + " !"
                                       : "Lzrw1 : " + in_name + " : NOT A COMPRESSED FILE !";
  if (message != want_message) {
    return "TestExpansion raised \"" + message + "\", expected \"" + want_message + "\"";
  }
  if (expands && ReadFile(out_path) != want_output) return "TestExpansion changed the output file";
  if (!expands && std::filesystem::exists(out_path)) return "TestExpansion created an output file";

  if (ReadFile(in_path) != content) return "the input file changed";
  if (LowestFreeDescriptor() != free_before) return "a file descriptor was left open";
  return {};
}

std::string CheckRoundTrip(std::span<const std::uint8_t> data) {
  const std::uint8_t control = data.empty() ? 0 : data[0];
  const auto payload = data.empty() ? data : data.subspan(1);
  lzh::PackOptions options;
  options.fast = (control & 0x40) != 0;

  Bytes input(payload.begin(), payload.end());
  if ((control & 0x80) != 0) {
    // Stretch: the payload repeated up to 48 KiB, each repetition shifted by
    // one when asked, so that long inputs mix matches and literals.
    const std::size_t size = ((control & 0x1Fu) + 1u) * 1536u;
    const bool drift = (control & 0x20) != 0;
    const Bytes pattern = input.empty() ? Bytes{0} : input;
    input.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
      const std::size_t round = i / pattern.size();
      input[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()] + (drift ? round : 0));
    }
  }

  const Bytes packed = lzh::PackStream(input, options);
  const auto length = static_cast<std::int32_t>(input.size());
  SpanSource source{packed};
  VectorSink sink;
  lzh::UnpackWith(length, source, sink);
  if (auto fault = CompareOutputs("round trip", sink.output, input); !fault.empty()) return fault;
  // The reader may look one byte past a stream that ends on a byte
  // boundary, never more.
  if (source.past_end > 1) {
    return Describe("the decoder read more than one byte past the stream", source.past_end, 1);
  }

  const Bytes reference = reference_lzh::ReferenceExpand(packed, length);
  return CompareOutputs("round trip through the reference decoder", reference, input);
}

}  // namespace merlavox::fuzz
