// Decoder throughput, side by side in one run: the production decoder
// through its buffered entry (the file driver's shape: inlined byte
// policies) and through UnpackStream with procedure callbacks, the plain
// reference decoder the tests compare against, and gzip -d on the same
// files compressed with gzip -6, once as the gzip program (a process per
// run, so its start-up is included) and once as zlib inflating in-process.
// Every figure is output bytes per second. The ratios use CPU time (for the
// gzip program, the child's user and system time), which a machine shared
// with other work disturbs far less than wall-clock time; the wall-clock
// figures are printed as well.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#if MERLAVOX_HAVE_ZLIB
#include <zlib.h>
#endif

#include "lzh/unpack.h"
#include "lzh/unpack_core.h"
#include "support/memory_policies.h"
#include "support/reference_decoder.h"
#include "support/test_files.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kFiles[] = {"notepad.exe", "gdiplus.dll"};

struct Sample {
  Bytes original;
  Bytes hzl;
  test_support::Container container;
  std::string gz_path;  // the original compressed with gzip -6
  Bytes gz;
};

std::map<std::string, Sample>& Samples() {
  static std::map<std::string, Sample> samples;
  return samples;
}

// Runs a program to its end; its exit code, and its CPU seconds in *cpu.
int Spawn(const std::vector<std::string>& args, const char* stdin_path, const char* stdout_path,
          double* cpu = nullptr) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdin_path) posix_spawn_file_actions_addopen(&actions, 0, stdin_path, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  if (cpu) {
    *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void LoadSamples(const std::string& temp_dir) {
  for (const char* name : kFiles) {
    Sample s;
    s.original = test_support::ReadFileBytes(MERLAVOX_TEST_DATA "/corpus/" + std::string(name));
    s.hzl =
        test_support::ReadFileBytes(MERLAVOX_TEST_DATA "/vectors/" + std::string(name) + ".hzl");
    s.container = test_support::SplitContainer(s.hzl);
    s.gz_path = temp_dir + "/" + name + ".gz";
    const std::string original_path = MERLAVOX_TEST_DATA "/corpus/" + std::string(name);
    if (Spawn({MERLAVOX_GZIP, "-6", "-c"}, original_path.c_str(), s.gz_path.c_str()) != 0) {
      throw std::runtime_error("gzip -6 failed for " + original_path);
    }
    s.gz = test_support::ReadFileBytes(s.gz_path);
    Samples()[name] = std::move(s);
  }
}

// ------------------------------------------------------------- the decoders

void CheckOutput(benchmark::State& state, const Sample& s, const Bytes& out) {
  if (!std::equal(s.original.begin(), s.original.end(), out.begin())) {
    state.SkipWithError("wrong output");
  }
}

void Buffered(benchmark::State& state, const Sample* s) {
  Bytes out(s->original.size() + lzh::MaxMatchLength);
  for (auto _ : state) {
    test_support::MemorySource source(s->container.code);
    test_support::BufferSink sink(out);
    lzh::UnpackWith(s->container.expanded_length, source, sink);
    benchmark::DoNotOptimize(out.data());
  }
  CheckOutput(state, *s, out);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s->original.size()));
}

template <void (*Unpack)(std::int32_t, lzh::ByteSource, lzh::ByteSink)>
void Callbacks(benchmark::State& state, const Sample* s) {
  Bytes out(s->original.size() + lzh::MaxMatchLength);
  for (auto _ : state) {
    test_support::CallbackMemory::Reset(s->container.code, out);
    Unpack(s->container.expanded_length, test_support::CallbackMemory::Source,
           test_support::CallbackMemory::Sink);
    benchmark::DoNotOptimize(out.data());
  }
  CheckOutput(state, *s, out);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s->original.size()));
}

void GzipProgram(benchmark::State& state, const Sample* s) {
  double child_cpu = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    double cpu = 0;
    const int rc = Spawn({MERLAVOX_GZIP, "-d", "-c", s->gz_path}, nullptr, "/dev/null", &cpu);
    const auto stop = std::chrono::steady_clock::now();
    if (rc != 0) state.SkipWithError("gzip -d failed");
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    child_cpu += cpu;
  }
  // The work happens in the child, so its CPU time stands in for ours.
  state.counters["child_cpu_s"] = benchmark::Counter(child_cpu, benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s->original.size()));
}

#if MERLAVOX_HAVE_ZLIB
void Zlib(benchmark::State& state, const Sample* s) {
  Bytes out(s->original.size());
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);  // gzip wrapper
    z.next_in = const_cast<Bytef*>(s->gz.data());
    z.avail_in = static_cast<uInt>(s->gz.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (rc != Z_STREAM_END) state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(out.data());
  }
  CheckOutput(state, *s, out);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s->original.size()));
}
#endif

// ------------------------------------------------------------- the summary

struct Times {
  double cpu = 0;   // seconds per iteration
  double wall = 0;  // seconds per iteration (the manual time where a run sets it)
};

// Keeps every run's times per iteration for the summary.
class Collecting : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      // A single run, or with --benchmark_repetitions the fastest
      // repetition: other work on the machine only ever adds time.
      const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
      const bool fastest = r.run_type == Run::RT_Aggregate && r.aggregate_name == "min";
      if (!(single || fastest) || r.error_occurred || r.iterations == 0) continue;
      Times t;
      const double n = static_cast<double>(r.iterations);
      t.wall = r.real_accumulated_time / n;
      t.cpu = r.cpu_accumulated_time / n;
      if (const auto child = r.counters.find("child_cpu_s"); child != r.counters.end()) {
        t.cpu = child->second.value;
      }
      times[r.run_name.function_name] = t;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Times> times;
};

}  // namespace

int main(int argc, char** argv) {
  char temp_template[] = "/tmp/decoder_bench.XXXXXX";
  if (!mkdtemp(temp_template)) return 1;
  const std::string temp_dir = temp_template;
  LoadSamples(temp_dir);

  const std::vector<std::pair<std::string, std::string>> kinds = {
    {"buffered", "production, buffered entry (inlined policies)"},
    {"callbacks", "production, UnpackStream with procedure callbacks"},
    {"literal", "plain reference decoder, procedure callbacks"},
    {"gzip_program", "gzip -d program, a process per run (start-up included)"},
#if MERLAVOX_HAVE_ZLIB
    {"zlib", "zlib inflate in-process (same .gz)"},
#endif
  };
  for (const char* name : kFiles) {
    const Sample* s = &Samples()[name];
    const std::string n = name;
    // In-process runs are timed by the wall clock and the CPU both; the
    // gzip program's wall time is taken around the process.
    const auto setup = [](benchmark::internal::Benchmark* b, bool manual) {
      if (manual) {
        b->UseManualTime();
      } else {
        b->UseRealTime();
      }
      b->Unit(benchmark::kMillisecond)->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
      });
    };
    setup(benchmark::RegisterBenchmark(("buffered/" + n).c_str(), Buffered, s), false);
    setup(benchmark::RegisterBenchmark(("callbacks/" + n).c_str(), Callbacks<lzh::UnpackStream>, s),
          false);
    setup(benchmark::RegisterBenchmark(("literal/" + n).c_str(),
                                       Callbacks<reference_lzh::ReferenceUnpackStream>, s),
          false);
    setup(benchmark::RegisterBenchmark(("gzip_program/" + n).c_str(), GzipProgram, s), true);
#if MERLAVOX_HAVE_ZLIB
    setup(benchmark::RegisterBenchmark(("zlib/" + n).c_str(), Zlib, s), false);
#endif
  }

  benchmark::Initialize(&argc, argv);
  Collecting reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto find = [&](const std::string& key) {
    const auto it = reporter.times.find(key);
    return it == reporter.times.end() ? Times{} : it->second;
  };
  std::printf("\n");
  for (const auto& [kind, what] : kinds) std::printf("  %-13s %s\n", kind.c_str(), what.c_str());
  const auto table = [&](const char* title, double Times::*field) {
    std::printf("\nMB/s of output (1 MB = 10^6 bytes), %s:\n%-13s", title, "");
    for (const char* name : kFiles) std::printf("%14s", name);
    std::printf("\n");
    for (const auto& [kind, what] : kinds) {
      std::printf("%-13s", kind.c_str());
      for (const char* name : kFiles) {
        const double sec = find(kind + "/" + name).*field;
        const double mb = static_cast<double>(Samples()[name].original.size()) / 1e6;
        if (sec > 0) {
          std::printf("%14.1f", mb / sec);
        } else {
          std::printf("%14s", "-");
        }
      }
      std::printf("\n");
    }
  };
  table("CPU time", &Times::cpu);
  table("wall-clock time", &Times::wall);
  std::printf(
      "\nSpeed ratios from CPU time (the other's time over the first's; > 1: the first is "
      "faster):\n");
  const std::vector<std::pair<std::string, std::string>> ratios = {
      {"buffered", "literal"},       {"callbacks", "literal"}, {"buffered", "gzip_program"},
      {"callbacks", "gzip_program"}, {"buffered", "zlib"},
  };
  for (const auto& [a, b] : ratios) {
    std::printf("  %-9s vs %-13s", a.c_str(), b.c_str());
    for (const char* name : kFiles) {
      const double ta = find(a + "/" + name).cpu, tb = find(b + "/" + name).cpu;
      if (ta > 0 && tb > 0) {
        std::printf("%14.2fx", tb / ta);
      } else {
        std::printf("%15s", "-");
      }
    }
    std::printf("\n");
  }
  for (const char* name : kFiles) std::remove(Samples()[name].gz_path.c_str());
  std::remove(temp_dir.c_str());
  return 0;
}
