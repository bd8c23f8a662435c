#include "support/recording_services.h"

#include <algorithm>
#include <cctype>

namespace test_support {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string_view Name(CallKind kind) {
  switch (kind) {
    case CallKind::kAllocate:
      return "Allocate";
    case CallKind::kRelease:
      return "Release";
    case CallKind::kOpenForReading:
      return "OpenForReading";
    case CallKind::kCreateForWriting:
      return "CreateForWriting";
    case CallKind::kRead:
      return "Read";
    case CallKind::kWrite:
      return "Write";
    case CallKind::kFlush:
      return "Flush";
    case CallKind::kClose:
      return "Close";
    case CallKind::kDelete:
      return "Delete";
    case CallKind::kLastErrorText:
      return "LastErrorText";
    case CallKind::kFullPath:
      return "FullPath";
    case CallKind::kIsFolder:
      return "IsFolder";
    case CallKind::kCreateFolder:
      return "CreateFolder";
    case CallKind::kClaimStagingFolder:
      return "ClaimStagingFolder";
    case CallKind::kFindResource:
      return "FindResource";
    case CallKind::kLaunch:
      return "Launch";
  }
  return "?";
}

RecordingServices::RecordingServices(host::Services& inner) : inner_(inner) {}

RecordingServices::~RecordingServices() {
  for (const auto& [handle, path] : handles_) inner_.Close(handle);
  for (const auto& [block, size] : blocks_) {
    try {
      inner_.Release(const_cast<void*>(block));
    } catch (...) {
    }
  }
}

void RecordingServices::FailCall(CallKind kind, int nth, Fault fault, std::uint32_t short_count) {
  rules_.push_back({kind, nth, false, fault, short_count});
}

void RecordingServices::FailFrom(CallKind kind, int nth, Fault fault, std::uint32_t short_count) {
  rules_.push_back({kind, nth, true, fault, short_count});
}

void RecordingServices::ClearFaults() {
  rules_.clear();
}

std::vector<Call> RecordingServices::CallsOf(CallKind kind) const {
  std::vector<Call> out;
  for (const Call& call : calls_) {
    if (call.kind == kind) out.push_back(call);
  }
  return out;
}

int RecordingServices::CountOf(CallKind kind) const {
  const auto it = counts_.find(kind);
  return it == counts_.end() ? 0 : it->second;
}

std::vector<CallKind> RecordingServices::Kinds() const {
  std::vector<CallKind> out;
  for (const Call& call : calls_) out.push_back(call.kind);
  return out;
}

void RecordingServices::Reset() {
  calls_.clear();
  counts_.clear();
}

void RecordingServices::AddResource(std::string type, std::string name,
                                    std::vector<std::uint8_t> bytes) {
  resources_.push_back({std::move(type), std::move(name), std::move(bytes)});
}

void RecordingServices::SimulateFolders(char separator, std::set<std::string> folders,
                                        std::set<std::string> files) {
  simulate_folders_ = true;
  separator_ = separator;
  folders_ = std::move(folders);
  files_ = std::move(files);
}

const RecordingServices::Rule* RecordingServices::Begin(Call& call) {
  call.nth = ++counts_[call.kind];
  for (const Rule& rule : rules_) {
    if (rule.kind != call.kind) continue;
    if (call.nth == rule.nth || (rule.and_after && call.nth > rule.nth)) {
      call.injected = true;
      if (rule.fault == Fault::kRaise) {
        Record(call);
        host::Raise<InjectedFault>("injected failure of " + std::string(Name(call.kind)) + " #" +
                                   std::to_string(call.nth));
      }
      return &rule;
    }
  }
  return nullptr;
}

void RecordingServices::Record(Call call) {
  calls_.push_back(std::move(call));
  if (observer_) observer_(calls_.back());
}

std::string RecordingServices::PathOf(host::FileHandle file) const {
  const auto it = handles_.find(file);
  return it == handles_.end() ? std::string() : it->second;
}

void* RecordingServices::Allocate(std::size_t size) {
  Call call{CallKind::kAllocate};
  call.requested = size;
  if (Begin(call)) {
    Record(call);
    host::RaiseOutOfMemory();
  }
  void* block;
  try {
    block = inner_.Allocate(size);
  } catch (...) {
    Record(call);
    throw;
  }
  blocks_[block] = size;
  call.block = block;
  call.returned = 1;
  Record(call);
  return block;
}

void RecordingServices::Release(void* block) {
  Call call{CallKind::kRelease};
  call.block = block;
  if (Begin(call)) {
    Record(call);
    host::RaiseInvalidPointer();
  }
  // A block this double did not hand out, or handed out and took back
  // already, is rejected as the memory manager would: a double release
  // shows as EInvalidPointer instead of corrupting the heap.
  if (block && !blocks_.contains(block)) {
    call.returned = -1;
    Record(call);
    host::RaiseInvalidPointer();
  }
  inner_.Release(block);
  blocks_.erase(block);
  Record(call);
}

host::FileHandle RecordingServices::Open(
    CallKind kind, const std::string& path,
    host::FileHandle (host::Services::*open)(const std::string&)) {
  Call call{kind};
  call.path = path;
  if (Begin(call)) {
    last_failure_injected_ = true;
    call.returned = -1;
    Record(call);
    return -1;
  }
  last_failure_injected_ = false;
  const host::FileHandle handle = (inner_.*open)(path);
  if (handle > 0) handles_[handle] = path;
  call.handle = handle;
  call.returned = handle;
  Record(call);
  return handle;
}

host::FileHandle RecordingServices::OpenForReading(const std::string& path) {
  return Open(CallKind::kOpenForReading, path, &host::Services::OpenForReading);
}

host::FileHandle RecordingServices::CreateForWriting(const std::string& path) {
  return Open(CallKind::kCreateForWriting, path, &host::Services::CreateForWriting);
}

template <class Move>
std::int32_t RecordingServices::Transfer(CallKind kind, host::FileHandle file, const void* buffer,
                                         std::uint32_t count, Move move) {
  Call call{kind};
  call.handle = file;
  call.path = PathOf(file);
  call.requested = count;
  std::uint32_t asked = count;
  if (const Rule* rule = Begin(call)) {
    if (rule->fault != Fault::kShort) {
      last_failure_injected_ = true;
      call.returned = -1;
      Record(call);
      return -1;
    }
    asked = std::min(count, rule->short_count);
  }
  last_failure_injected_ = false;
  const std::int32_t moved = move(asked);
  call.returned = moved;
  if (record_data_ && moved > 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    call.data.assign(bytes, bytes + moved);
  }
  Record(std::move(call));
  return moved;
}

std::int32_t RecordingServices::Read(host::FileHandle file, void* buffer, std::uint32_t count) {
  return Transfer(CallKind::kRead, file, buffer, count,
                  [&](std::uint32_t asked) { return inner_.Read(file, buffer, asked); });
}

std::int32_t RecordingServices::Write(host::FileHandle file, const void* buffer,
                                      std::uint32_t count) {
  return Transfer(CallKind::kWrite, file, buffer, count,
                  [&](std::uint32_t given) { return inner_.Write(file, buffer, given); });
}

void RecordingServices::Flush(host::FileHandle file) {
  Call call{CallKind::kFlush};
  call.handle = file;
  call.path = PathOf(file);
  if (!Begin(call)) inner_.Flush(file);
  Record(std::move(call));
}

void RecordingServices::Close(host::FileHandle file) {
  Call call{CallKind::kClose};
  call.handle = file;
  call.path = PathOf(file);
  Begin(call);
  // A handle this double did not hand out is not passed on: closing it
  // could close a descriptor that now belongs to someone else.
  if (file > 0 && !handles_.contains(file)) {
    call.returned = -1;
  } else {
    inner_.Close(file);
    handles_.erase(file);
  }
  Record(std::move(call));
}

void RecordingServices::Delete(const std::string& path) {
  Call call{CallKind::kDelete};
  call.path = path;
  if (!Begin(call)) inner_.Delete(path);
  Record(std::move(call));
}

std::string RecordingServices::LastErrorText() {
  Call call{CallKind::kLastErrorText};
  std::string text;
  if (!Begin(call)) text = last_failure_injected_ ? "Injected failure" : inner_.LastErrorText();
  call.text = text;
  Record(std::move(call));
  return text;
}

std::string RecordingServices::FullPath(const std::string& path) {
  Call call{CallKind::kFullPath};
  call.path = path;
  const std::string full = Begin(call) ? path : inner_.FullPath(path);
  call.text = full;
  Record(std::move(call));
  return full;
}

bool RecordingServices::IsFolder(const std::string& path) {
  Call call{CallKind::kIsFolder};
  call.path = path;
  bool is_folder = false;
  if (!Begin(call)) is_folder = simulate_folders_ ? folders_.contains(path) : inner_.IsFolder(path);
  call.returned = is_folder;
  Record(std::move(call));
  return is_folder;
}

bool RecordingServices::CreateFolder(const std::string& path) {
  Call call{CallKind::kCreateFolder};
  call.path = path;
  bool created = false;
  if (!Begin(call)) {
    if (simulate_folders_) {
      const auto cut = path.rfind(separator_);
      const std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut);
      created = !folders_.contains(path) && !files_.contains(path) &&
                (parent.empty() || folders_.contains(parent));
      if (created) folders_.insert(path);
    } else {
      created = inner_.CreateFolder(path);
    }
  }
  call.returned = created;
  Record(std::move(call));
  return created;
}

void RecordingServices::ClaimStagingFolder(const std::string& path,
                                           std::span<const std::string_view> names) {
  Call call{CallKind::kClaimStagingFolder};
  call.path = path;
  for (const std::string_view name : names) call.text.append(name).push_back('\n');
  if (Begin(call)) {
    Record(call);
    // The refusal as the host words it; 5 is the runtime's "access denied".
    host::Raise<host::EInOutError>(
        host::FormatMessage(host::messages::kFolderRefused, {path, "Injected failure"}), 5);
  }
  try {
    inner_.ClaimStagingFolder(path, names);
  } catch (...) {
    Record(call);
    throw;
  }
  Record(std::move(call));
}

bool RecordingServices::FindResource(const std::string& type, const std::string& name,
                                     host::ResourceBytes& bytes) {
  Call call{CallKind::kFindResource};
  call.path = name;
  call.text = type;
  bool found = false;
  if (!Begin(call)) {
    if (resources_.empty()) {
      found = inner_.FindResource(type, name, bytes);
    } else {
      for (const Resource& r : resources_) {
        if (SameIgnoringCase(r.type, type) && SameIgnoringCase(r.name, name)) {
          bytes.data = r.bytes.data();
          bytes.size = static_cast<std::uint32_t>(r.bytes.size());
          found = true;
          break;
        }
      }
    }
  }
  call.returned = found;
  Record(std::move(call));
  return found;
}

void RecordingServices::Launch(const std::string& file, const std::string& working_folder) {
  Call call{CallKind::kLaunch};
  call.path = file;
  call.text = working_folder;
  if (!Begin(call) && forward_launch_) inner_.Launch(file, working_folder);
  Record(std::move(call));
}

}  // namespace test_support
