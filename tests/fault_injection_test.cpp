// Fault injection over every host call that the bootstrap sequence and the
// expansion driver make. A clean run is recorded first; then, for each call
// of that record and each way a call of its kind can fail, the operation
// runs again in a fresh folder with that one call failing, and what it left
// behind (exception, files, launch, handles, blocks) is compared with what
// a failure at that point must leave. The cases come from the record, so a
// host call added to either operation is injected without touching this
// file; one whose failure has no known outcome fails the test by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "Setup_Merlavox/bootstrap.h"
#include "Setup_Merlavox/manifest.h"
#include "compress/compress_file.h"
#include "compress/expand.h"
#include "host/host.h"
#include "support/recording_services.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using setup_merlavox::kPayloadManifest;
using test_support::Bytes;
using test_support::Call;
using test_support::CallKind;
using test_support::Fault;
using test_support::ReadBytes;
using test_support::RecordingServices;
using test_support::ToBytes;
using test_support::WriteBytes;

std::string_view Name(Fault fault) {
  switch (fault) {
    case Fault::kFail:
      return "fails";
    case Fault::kShort:
      return "comes back short";
    case Fault::kRaise:
      return "raises";
  }
  return "?";
}

// Every call can report failure as the host does or raise as the runtime
// may; only reads and writes can also move fewer bytes than asked.
std::vector<Fault> FaultsFor(CallKind kind) {
  if (kind == CallKind::kRead || kind == CallKind::kWrite) {
    return {Fault::kFail, Fault::kShort, Fault::kRaise};
  }
  return {Fault::kFail, Fault::kRaise};
}

struct Injection {
  Call clean;            // the call as the clean run made it
  std::size_t position;  // its place in the clean run's log
  Fault fault;
  std::uint32_t short_count;

  std::string Describe() const {
    std::ostringstream out;
    out << test_support::Name(clean.kind) << " #" << clean.nth << " (" << clean.path << ") "
        << Name(fault);
    if (fault == Fault::kShort) out << " with " << short_count << " of " << clean.requested;
    return out.str();
  }
  void Arm(RecordingServices& services) const {
    services.FailCall(clean.kind, clean.nth, fault, short_count);
  }
};

std::vector<Injection> InjectionsFrom(const std::vector<Call>& clean) {
  std::vector<Injection> out;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    for (const Fault fault : FaultsFor(clean[i].kind)) {
      out.push_back({clean[i], i, fault, static_cast<std::uint32_t>(clean[i].requested / 2)});
    }
  }
  return out;
}

std::size_t LastPositionOf(const std::vector<Call>& calls, CallKind kind) {
  std::size_t last = calls.size();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].kind == kind) last = i;
  }
  return last;
}

std::size_t FirstPositionOf(const std::vector<Call>& calls, CallKind kind) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].kind == kind) return i;
  }
  return calls.size();
}

// The message InjectedFault carries for a call.
std::string InjectedMessage(const Call& call) {
  return "injected failure of " + std::string(test_support::Name(call.kind)) + " #" +
         std::to_string(call.nth);
}

// Checks what every run must leave, whatever failed: exactly the injected
// call failed, and nothing is held but what the failed call itself kept
// (a block whose release failed, a handle whose close raised before it
// closed anything).
void CheckHoldings(const RecordingServices& services, const Injection& injection) {
  std::vector<Call> injected;
  for (const Call& call : services.Calls()) {
    if (call.injected) injected.push_back(call);
  }
  ASSERT_EQ(injected.size(), 1u) << "the run did not reach the call, or failed it twice";
  EXPECT_EQ(injected[0].kind, injection.clean.kind);

  std::set<const void*> live;
  for (const Call& call : services.Calls()) {
    if (call.kind == CallKind::kAllocate && call.block) live.insert(call.block);
    if (call.kind == CallKind::kRelease && !call.injected && call.returned != -1) {
      live.erase(call.block);
    }
  }
  std::set<const void*> expected_live;
  if (injection.clean.kind == CallKind::kRelease) expected_live.insert(injected[0].block);
  EXPECT_EQ(live, expected_live);
  EXPECT_EQ(services.LiveBlocks(), expected_live.size());

  const bool close_kept_its_handle =
      injection.clean.kind == CallKind::kClose && injection.fault == Fault::kRaise;
  EXPECT_EQ(services.OpenHandles(), close_kept_its_handle ? 1u : 0u);
}

// The expanded setup program: compressible text, long enough that the
// driver refills its input and writes its output more than once.
Bytes MakeProgram(std::size_t size) {
  Bytes program(size);
  std::uint32_t state = 12345;
  for (auto& byte : program) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>('a' + (state >> 16) % 16);
  }
  return program;
}

// TMPDIR for the scope of one run.
class TempDirScope {
 public:
  explicit TempDirScope(const std::string& dir) {
    if (const char* tmp = std::getenv("TMPDIR")) saved_ = tmp;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TempDirScope() {
    if (saved_) {
      setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  TempDirScope(const TempDirScope&) = delete;
  TempDirScope& operator=(const TempDirScope&) = delete;

 private:
  std::optional<std::string> saved_;
};

void PrintTally(std::string_view title, const std::map<std::string, int>& tally) {
  int total = 0;
  std::ostringstream out;
  for (const auto& [what, count] : tally) {
    out << "  " << what << ": " << count << "\n";
    total += count;
  }
  std::cout << title << ": " << total << " faults injected\n" << out.str();
  ::testing::Test::RecordProperty(std::string(title), total);
}

// --- the bootstrap sequence ---

class BootstrapFaults : public ::testing::Test {
 protected:
  BootstrapFaults() {
    for (std::size_t i = 0; i < kPayloadManifest.size(); ++i) {
      payload.push_back(ToBytes("payload entry " + std::to_string(i + 1) + " as stored"));
    }
    payload[8] = compress::CompressToContainer(program);
  }

  // What a run left, in the terms of the outcome tables.
  struct Outcome {
    std::optional<std::string> class_name;  // the exception that left the sequence
    std::string message;
    std::vector<std::optional<Bytes>> entries;  // each payload file; none: absent
    std::optional<Bytes> setup_exe;
    std::vector<Call> launches;
  };

  struct Run {
    test_support::TempFolder folder;
    std::string staging;
    Outcome outcome;
  };

  // One run of the sequence in a fresh temporary folder that does not stand
  // yet, so that the sequence makes it and the staging folder.
  void RunOnce(RecordingServices& services, Run& run) {
    const std::string temp = run.folder / "temp";
    run.staging = temp + "/Inst-Setup_Merlavox";
    TempDirScope tmpdir(temp + "/");
    for (std::size_t i = 0; i < kPayloadManifest.size(); ++i) {
      services.AddResource("FILE", "TEST" + std::to_string(i + 1), payload[i]);
    }
    {
      test_support::InstallScope installed(services);
      try {
        setup_merlavox::RunBootstrap();
      } catch (const host::Exception& e) {
        run.outcome.class_name = e.ClassName();
        run.outcome.message = e.Message();
      }
    }
    for (const auto& entry : kPayloadManifest) {
      const std::string path = run.staging + "/" + std::string(entry.file_name);
      run.outcome.entries.push_back(fs::exists(path) ? std::optional(ReadBytes(path))
                                                     : std::nullopt);
    }
    const std::string setup_exe = run.staging + "/Setup.exe";
    if (fs::exists(setup_exe)) run.outcome.setup_exe = ReadBytes(setup_exe);
    run.outcome.launches = services.CallsOf(CallKind::kLaunch);
  }

  const Bytes program = MakeProgram(70000);
  std::vector<Bytes> payload;
};

TEST_F(BootstrapFaults, EveryHostCallOfTheSequenceFailsOnce) {
  RecordingServices clean_services;
  clean_services.RecordData(false);
  Run clean;
  RunOnce(clean_services, clean);
  ASSERT_FALSE(clean.outcome.class_name) << clean.outcome.message;
  ASSERT_EQ(clean.outcome.setup_exe, program);
  const std::vector<Call> log = clean_services.Calls();
  ASSERT_GE(clean_services.CountOf(CallKind::kRead), 4) << "the input is refilled";
  ASSERT_GE(clean_services.CountOf(CallKind::kWrite), 12) << "the output is written in parts";

  // Where the phases of the sequence lie in the clean record.
  const std::size_t extraction_start = FirstPositionOf(log, CallKind::kFindResource);
  const std::size_t launch = FirstPositionOf(log, CallKind::kLaunch);
  const std::size_t last_write = LastPositionOf(log, CallKind::kWrite);
  std::size_t extraction_end = extraction_start;  // the close of the last entry
  {
    int closes = 0;
    for (std::size_t i = extraction_start; i < log.size(); ++i) {
      if (log[i].kind == CallKind::kClose && ++closes == int(kPayloadManifest.size())) {
        extraction_end = i;
        break;
      }
    }
  }
  ASSERT_LT(extraction_end, launch);
  ASSERT_EQ(launch + 1, log.size()) << "the launch is the last host call";

  std::map<std::string, int> tally;
  for (const Injection& injection : InjectionsFrom(log)) {
    SCOPED_TRACE(injection.Describe());
    const Call& clean_call = injection.clean;
    const CallKind kind = clean_call.kind;
    const std::size_t at = injection.position;
    ++tally[std::string(test_support::Name(kind)) + " " + std::string(Name(injection.fault))];

    RecordingServices services;
    services.RecordData(false);
    injection.Arm(services);
    Run run;
    RunOnce(services, run);
    const Outcome& got = run.outcome;

    // The expected outcome, from where the call lies and how it failed.
    std::optional<std::string> class_name;
    std::string message;
    int complete_entries = 10;                // entries 1..n written in full
    std::optional<Bytes> failing_entry_file;  // entry n+1 when the sequence ended in it
    bool setup_exe_complete = true;
    bool launched = true;
    const bool raised = injection.fault == Fault::kRaise;
    if (raised) {
      class_name = "InjectedFault";
      message = InjectedMessage(clean_call);
    }
    auto ends_in_entry = [&](int k) {
      complete_entries = k - 1;
      setup_exe_complete = false;
      launched = false;
    };
    const std::string entry1 = run.staging + "/" + std::string(kPayloadManifest[0].file_name);

    if (at < extraction_start) {
      // Making and claiming the staging folder.
      if (raised) {
        ends_in_entry(1);
      } else if (kind == CallKind::kClaimStagingFolder) {
        ends_in_entry(1);
        class_name = "EInOutError";
        message =
            host::FormatMessage(host::messages::kFolderRefused, {run.staging, "Injected failure"});
      } else if ((kind == CallKind::kIsFolder || kind == CallKind::kCreateFolder) &&
                 clean_call.returned == 1) {
        // A folder that stands is taken for missing, or one is not made:
        // the staging folder does not come about, and its first file
        // cannot be created.
        ends_in_entry(1);
        class_name = "EFCreateError";
        message = host::FormatMessage(host::messages::kFCreateError,
                                      {entry1, "No such file or directory"});
      } else if (kind != CallKind::kIsFolder && kind != CallKind::kCreateFolder) {
        ADD_FAILURE() << "no known outcome for this call while the folder is made";
        continue;
      }
      // A folder taken for missing that is missing changes nothing.
    } else if (at <= extraction_end) {
      int k = 0;  // the entry being written
      for (std::size_t i = extraction_start; i <= at; ++i) {
        if (log[i].kind == CallKind::kFindResource) ++k;
      }
      const auto& entry = kPayloadManifest[k - 1];
      const std::string path = run.staging + "/" + std::string(entry.file_name);
      switch (kind) {
        case CallKind::kFindResource:
          ends_in_entry(k);
          if (!raised) {
            class_name = "EResNotFound";
            message = host::FormatMessage(host::messages::kResNotFound, {entry.resource_name});
          }
          break;
        case CallKind::kCreateForWriting:
          ends_in_entry(k);
          if (!raised) {
            class_name = "EFCreateError";
            message =
                host::FormatMessage(host::messages::kFCreateError, {path, "Injected failure"});
          }
          break;
        case CallKind::kWrite:
          ends_in_entry(k);
          // The file stays, closed, with what the system wrote of it.
          failing_entry_file = Bytes{};
          if (injection.fault == Fault::kShort) {
            failing_entry_file =
                Bytes(payload[k - 1].begin(), payload[k - 1].begin() + injection.short_count);
          }
          if (!raised) {
            class_name = "EWriteError";
            message = host::messages::kWriteError;
          }
          break;
        case CallKind::kClose:
          // A failed close goes unnoticed; a raising one leaves the sequence
          // with the entry complete.
          if (raised) {
            ends_in_entry(k + 1);
          }
          break;
        default:
          ADD_FAILURE() << "no known outcome for this call while entry " << k << " is written";
          continue;
      }
    } else if (at < launch) {
      // Inside the expansion every failure is absorbed, and the launch is
      // made all the same. The output stands complete only when the call
      // came after its last write or its failure is one that the driver
      // ignores; otherwise it was never created (the staging folder is
      // new) or was deleted.
      class_name.reset();
      message.clear();
      const bool ignored = (!raised && (kind == CallKind::kFlush || kind == CallKind::kClose)) ||
                           (injection.fault == Fault::kShort && kind == CallKind::kRead &&
                            clean_call.requested == compress::IoChunkSize);
      setup_exe_complete = ignored || at > last_write;
    } else {
      // The launch: failure is silent, a raise leaves with everything done.
      ASSERT_EQ(kind, CallKind::kLaunch);
    }

    EXPECT_EQ(got.class_name, class_name) << got.message;
    if (class_name) {
      EXPECT_EQ(got.message, message);
    }
    for (int k = 1; k <= 10; ++k) {
      SCOPED_TRACE("entry " + std::to_string(k));
      if (k <= complete_entries) {
        EXPECT_EQ(got.entries[k - 1], payload[k - 1]);
      } else if (k == complete_entries + 1) {
        EXPECT_EQ(got.entries[k - 1], failing_entry_file);
      } else {
        EXPECT_EQ(got.entries[k - 1], std::nullopt);
      }
    }
    EXPECT_EQ(got.setup_exe, setup_exe_complete ? std::optional(program) : std::nullopt);
    if (launched) {
      ASSERT_EQ(got.launches.size(), 1u);
      EXPECT_EQ(got.launches[0].path, run.staging + "/Setup.exe");
      EXPECT_EQ(got.launches[0].text, run.staging);
    } else {
      EXPECT_TRUE(got.launches.empty());
    }
    CheckHoldings(services, injection);
    if (HasFailure()) break;  // one failing case tells; the rest would repeat it
  }
  PrintTally("bootstrap sequence", tally);
}

// --- the expansion driver alone ---

TEST(DriverFaults, EveryHostCallOfTheExpansionFailsOnce) {
  const Bytes program = MakeProgram(70000);  // more than two output buffers
  const Bytes compressed = compress::CompressToContainer(program);
  const Bytes earlier = ToBytes("an output file from an earlier run");

  struct Result {
    std::int32_t result;
    Bytes input;
    std::optional<Bytes> output;
  };
  auto run_once = [&](RecordingServices& services) {
    test_support::TempFolder folder;
    compress::InFileName = folder / "Setup.ex_";
    compress::OutFileName = folder / "Setup.exe";
    WriteBytes(compress::InFileName, compressed);
    WriteBytes(compress::OutFileName, earlier);
    Result r;
    {
      test_support::InstallScope installed(services);
      r.result = compress::ExpandFile();
    }
    r.input = ReadBytes(compress::InFileName);
    if (fs::exists(compress::OutFileName)) r.output = ReadBytes(compress::OutFileName);
    return r;
  };

  RecordingServices clean_services;
  clean_services.RecordData(false);
  const Result clean = run_once(clean_services);
  ASSERT_EQ(clean.result, 1);
  ASSERT_EQ(clean.output, program);
  const std::vector<Call> log = clean_services.Calls();
  ASSERT_GE(clean_services.CountOf(CallKind::kRead), 4) << "the input is refilled";
  ASSERT_GE(clean_services.CountOf(CallKind::kWrite), 3) << "the output is written in parts";
  const std::size_t create = FirstPositionOf(log, CallKind::kCreateForWriting);
  const std::size_t last_write = LastPositionOf(log, CallKind::kWrite);

  std::map<std::string, int> tally;
  for (const Injection& injection : InjectionsFrom(log)) {
    SCOPED_TRACE(injection.Describe());
    const CallKind kind = injection.clean.kind;
    const bool raised = injection.fault == Fault::kRaise;
    ++tally[std::string(test_support::Name(kind)) + " " + std::string(Name(injection.fault))];

    RecordingServices services;
    services.RecordData(false);
    injection.Arm(services);
    const Result got = run_once(services);

    // A failed flush or close is not examined, and a short refill is only
    // followed by the next one; everything else ends the expansion.
    const bool ignored = (!raised && (kind == CallKind::kFlush || kind == CallKind::kClose)) ||
                         (injection.fault == Fault::kShort && kind == CallKind::kRead &&
                          injection.clean.requested == compress::IoChunkSize);
    EXPECT_EQ(got.result, ignored ? 1 : -1);
    EXPECT_EQ(got.input, compressed);
    if (ignored || injection.position > last_write) {
      EXPECT_EQ(got.output, program) << "complete";
    } else if (injection.position <= create) {
      EXPECT_EQ(got.output, earlier) << "not created";
    } else {
      EXPECT_EQ(got.output, std::nullopt) << "deleted";
    }
    CheckHoldings(services, injection);
    if (HasFailure()) break;
  }
  PrintTally("expansion driver", tally);
}

}  // namespace
