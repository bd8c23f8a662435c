// Sizes and speeds of both encoder modes, one line per input file:
//   file  bytes  default_size  default_MBps  default_cpu_MBps  fast_size  fast_MBps  fast_cpu_MBps
// Sizes include the 8-byte container header, as a compressed file has it.
// Speeds are MB/s of input (10^6 bytes per second), the best of several
// runs: once by the wall clock, once by the process's CPU time, which other
// work on a shared machine disturbs less. Every output is expanded again with the
// production decoder and compared, so a figure never comes from a broken
// stream.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compress/container.h"
#include "lzh/pack.h"
#include "lzh/unpack_core.h"

namespace {

struct SpanSource {
  const std::vector<std::uint8_t>& data;
  std::size_t pos = 0;
  unsigned NextByte() { return pos < data.size() ? data[pos++] : 0; }
};

struct VectorSink {
  std::vector<std::uint8_t> out;
  void Put(std::uint8_t byte) { out.push_back(byte); }
};

bool RoundTrips(const std::vector<std::uint8_t>& input, const std::vector<std::uint8_t>& stream) {
  SpanSource source{stream};
  VectorSink sink;
  lzh::UnpackWith(static_cast<std::int32_t>(input.size()), source, sink);
  return sink.out == input;
}

struct Result {
  std::size_t size = 0;
  double mbps = 0;
  double cpu_mbps = 0;
  bool ok = false;
};

Result Measure(const std::vector<std::uint8_t>& input, bool fast, int runs) {
  lzh::PackOptions options;
  options.fast = fast;
  Result r;
  double best = 1e30, best_cpu = 1e30;
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < runs; ++i) {
    const std::clock_t cpu_start = std::clock();
    const auto start = std::chrono::steady_clock::now();
    stream = lzh::PackStream(input, options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    best = std::min(best, seconds);
    best_cpu = std::min(best_cpu, cpu_seconds);
  }
  r.size = stream.size() + compress::HeaderSize;
  r.mbps = static_cast<double>(input.size()) / 1e6 / best;
  // clock() ticks coarsely on some systems; a zero reading says only "fast".
  r.cpu_mbps = best_cpu > 0 ? static_cast<double>(input.size()) / 1e6 / best_cpu : 0;
  r.ok = RoundTrips(input, stream);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: encoder_bench [--runs N] FILE...\n");
    return 2;
  }
  int runs = 5;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
      continue;
    }
    std::ifstream in(arg, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "encoder_bench: cannot read %s\n", arg.c_str());
      return 1;
    }
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    const Result slow = Measure(data, false, runs);
    const Result fast = Measure(data, true, runs);
    if (!slow.ok || !fast.ok) {
      std::fprintf(stderr, "encoder_bench: %s does not round-trip\n", arg.c_str());
      status = 1;
    }
    const auto slash = arg.rfind('/');
    std::printf("%s\t%zu\t%zu\t%.1f\t%.1f\t%zu\t%.1f\t%.1f\n",
                arg.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), data.size(),
                slow.size, slow.mbps, slow.cpu_mbps, fast.size, fast.mbps, fast.cpu_mbps);
    std::fflush(stdout);
  }
  return status;
}
