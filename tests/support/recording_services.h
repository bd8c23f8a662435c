// A host::Services double for tests: it forwards every call to other
// services (the real POSIX host by default, so files are real files in a
// temporary folder), records each call with its arguments and outcome, and
// can make any chosen call fail.
//
// Typical use:
//
//   test_support::RecordingServices services;        // forwards to the host
//   test_support::InstallScope installed(services);  // host::Current() is it
//   services.FailCall(CallKind::kWrite, 2, Fault::kShort, 100);
//   ... run the code under test ...
//   EXPECT_EQ(services.OpenHandles(), 0u);
//   EXPECT_EQ(services.LiveBlocks(), 0u);
//   for (const Call& call : services.CallsOf(CallKind::kWrite)) ...
//
// Fault injection over a whole operation: run it once cleanly, take
// CountOf(kind) for every kind in kAllCallKinds, then run it again once for
// each (kind, n) with FailCall(kind, n) and check what must hold after a
// failure (no handle open, no block live, the files as they must be).
//
// What a failed call does, per kind (Fault::kFail):
//   Allocate        raises EOutOfMemory through the host's own raise; nothing
//                   is allocated
//   Release         raises EInvalidPointer; the block stays live (the double
//                   returns it when it is destroyed)
//   OpenForReading, CreateForWriting
//                   returns -1; the file is not touched
//   Read, Write     returns -1; nothing is moved
//   Flush           does nothing
//   Close           closes all the same (a handle is gone after CloseHandle
//                   whatever it answers) and is marked as failed
//   Delete          leaves the file where it is
//   LastErrorText   returns ""
//   FullPath        returns the path unchanged
//   IsFolder        returns false
//   CreateFolder    returns false and creates nothing
//   ClaimStagingFolder
//                   raises EInOutError as a refusing host does; nothing
//                   is claimed
//   FindResource    returns false
//   Launch          starts nothing
// Without a fault, a Release of a block the double did not hand out (or
// took back already) raises EInvalidPointer instead of reaching the heap,
// and a Close of a handle it did not hand out is not passed on (returned
// is -1): double releases and closes show in the log, not as corruption.
// Fault::kShort makes a Read or Write move only `short_count` bytes (at most
// the count asked for) and return that count; for other kinds it is kFail.
// Fault::kRaise makes any call raise InjectedFault before it does anything,
// for the failures of the runtime that no return value reports.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace test_support {

enum class CallKind {
  kAllocate,
  kRelease,
  kOpenForReading,
  kCreateForWriting,
  kRead,
  kWrite,
  kFlush,
  kClose,
  kDelete,
  kLastErrorText,
  kFullPath,
  kIsFolder,
  kCreateFolder,
  kClaimStagingFolder,
  kFindResource,
  kLaunch,
};

inline constexpr std::array kAllCallKinds{
    CallKind::kAllocate,       CallKind::kRelease,
    CallKind::kOpenForReading, CallKind::kCreateForWriting,
    CallKind::kRead,           CallKind::kWrite,
    CallKind::kFlush,          CallKind::kClose,
    CallKind::kDelete,         CallKind::kLastErrorText,
    CallKind::kFullPath,       CallKind::kIsFolder,
    CallKind::kCreateFolder,   CallKind::kClaimStagingFolder,
    CallKind::kFindResource,   CallKind::kLaunch,
};

std::string_view Name(CallKind kind);

enum class Fault { kFail, kShort, kRaise };

// The exception of Fault::kRaise.
class InjectedFault : public host::Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "InjectedFault"; }
};

struct Call {
  explicit Call(CallKind of) : kind(of) {}

  CallKind kind;
  int nth = 0;                     // 1-based among the calls of its kind
  std::string path;                // the path given, or the file of the handle given
  host::FileHandle handle = 0;     // the handle given, or the one an open returned
  std::uint64_t requested = 0;     // Read, Write: count; Allocate: size
  std::int64_t returned = 0;       // Read, Write: count moved; open: handle;
                                   // IsFolder, CreateFolder, FindResource: 1 or 0
  std::vector<std::uint8_t> data;  // bytes read or written, when recorded
  std::string text;                // Launch: working folder; FindResource: type;
                                   // LastErrorText, FullPath: the answer;
                                   // ClaimStagingFolder: the names, one a line
  const void* block = nullptr;     // Allocate: block returned; Release: block given
  bool injected = false;           // this call was made to fail
};

class RecordingServices final : public host::Services {
 public:
  explicit RecordingServices(host::Services& inner = host::RealServices());
  // Closes the handles and returns the blocks still held through the inner
  // services, so a test that found a leak does not leak itself.
  ~RecordingServices() override;
  RecordingServices(const RecordingServices&) = delete;
  RecordingServices& operator=(const RecordingServices&) = delete;

  // Faults. `nth` counts calls of that kind from 1, failed ones included,
  // since the double was made or Reset().
  void FailCall(CallKind kind, int nth, Fault fault = Fault::kFail, std::uint32_t short_count = 0);
  // The nth call of that kind and every later one.
  void FailFrom(CallKind kind, int nth, Fault fault = Fault::kFail, std::uint32_t short_count = 0);
  void ClearFaults();

  // The log.
  const std::vector<Call>& Calls() const { return calls_; }
  std::vector<Call> CallsOf(CallKind kind) const;
  int CountOf(CallKind kind) const;
  std::vector<CallKind> Kinds() const;  // the kinds of all calls, in order
  // Forgets the log and the per-kind counters (not the faults, the handles
  // or the blocks).
  void Reset();
  // Bytes of Read and Write calls are kept unless switched off.
  void RecordData(bool on) { record_data_ = on; }
  // Called after each call was recorded (before a fault is raised).
  void OnCall(std::function<void(const Call&)> observer) { observer_ = std::move(observer); }

  // What is held right now through this double.
  std::size_t OpenHandles() const { return handles_.size(); }
  std::size_t LiveBlocks() const { return blocks_.size(); }

  // Resources: once one is added, FindResource answers from this table
  // alone (names and types without regard to case), not from the program.
  void AddResource(std::string type, std::string name, std::vector<std::uint8_t> bytes);

  // Launch starts nothing unless forwarding is switched on.
  void ForwardLaunch(bool on) { forward_launch_ = on; }

  // Folders: IsFolder and CreateFolder work on this table instead of the
  // file system, for paths of another host's spelling. CreateFolder
  // succeeds when nothing of that name stands and the parent (the text
  // before the last separator) is in the table or is empty.
  void SimulateFolders(char separator, std::set<std::string> folders,
                       std::set<std::string> files = {});
  const std::set<std::string>& SimulatedFolders() const { return folders_; }

  // host::Services
  void* Allocate(std::size_t size) override;
  void Release(void* block) override;
  host::FileHandle OpenForReading(const std::string& path) override;
  host::FileHandle CreateForWriting(const std::string& path) override;
  std::int32_t Read(host::FileHandle file, void* buffer, std::uint32_t count) override;
  std::int32_t Write(host::FileHandle file, const void* buffer, std::uint32_t count) override;
  void Flush(host::FileHandle file) override;
  void Close(host::FileHandle file) override;
  void Delete(const std::string& path) override;
  std::string LastErrorText() override;
  std::string FullPath(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool FindResource(const std::string& type, const std::string& name,
                    host::ResourceBytes& bytes) override;
  void Launch(const std::string& file, const std::string& working_folder) override;
  void ClaimStagingFolder(const std::string& path,
                          std::span<const std::string_view> names) override;

 private:
  struct Rule {
    CallKind kind;
    int nth;
    bool and_after;
    Fault fault;
    std::uint32_t short_count;
  };
  struct Resource {
    std::string type, name;
    std::vector<std::uint8_t> bytes;
  };

  // Counts the call and answers the fault that applies to it, if any; a
  // Fault::kRaise is recorded and raised right here.
  const Rule* Begin(Call& call);
  void Record(Call call);
  std::string PathOf(host::FileHandle file) const;
  // OpenForReading and CreateForWriting alike: the fault, the inner call,
  // the handle's path kept for the calls that use it.
  host::FileHandle Open(CallKind kind, const std::string& path,
                        host::FileHandle (host::Services::*open)(const std::string&));
  // Read and Write alike: the fault, the inner call, the bytes that moved.
  template <class Move>
  std::int32_t Transfer(CallKind kind, host::FileHandle file, const void* buffer,
                        std::uint32_t count, Move move);

  host::Services& inner_;
  std::vector<Rule> rules_;
  std::vector<Call> calls_;
  std::map<CallKind, int> counts_;
  std::map<host::FileHandle, std::string> handles_;
  std::map<const void*, std::size_t> blocks_;
  std::vector<Resource> resources_;
  std::function<void(const Call&)> observer_;
  bool record_data_ = true;
  bool forward_launch_ = false;
  bool last_failure_injected_ = false;
  bool simulate_folders_ = false;
  char separator_ = '/';
  std::set<std::string> folders_, files_;
};

// Puts the services in force for the scope and restores the previous ones.
class InstallScope {
 public:
  explicit InstallScope(host::Services& services) : previous_(host::Install(&services)) {}
  ~InstallScope() { host::Install(previous_); }
  InstallScope(const InstallScope&) = delete;
  InstallScope& operator=(const InstallScope&) = delete;

 private:
  host::Services* previous_;
};

}  // namespace test_support
