// The host services: everything the bootstrapper, the expansion driver and
// the decoder need from the operating system and the application runtime.
// The core calls only what is declared here; host/win32 maps it onto the
// Windows API, host/posix onto POSIX with the same observable contract.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "host/exceptions.h"

namespace host {

// 0 means no file is open; a negative value is a failed open or create.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = 0;

struct ResourceBytes {
  const void* data = nullptr;
  std::uint32_t size = 0;
};

// The primitive services. Every call that touches files, memory, resources
// or processes goes through one object of this interface, so a test can put
// a double in its place that records calls and makes any of them fail.
class Services {
 public:
  virtual ~Services() = default;

  // Memory. Allocate never returns null for a positive size: it raises
  // EOutOfMemory. Release ignores null and raises EInvalidPointer for a
  // block it rejects.
  virtual void* Allocate(std::size_t size) = 0;
  virtual void Release(void* block) = 0;

  // Files, all with exclusive access for the handle's lifetime.
  virtual FileHandle OpenForReading(const std::string& path) = 0;
  // Creates or empties and replaces; a read-only file refuses.
  virtual FileHandle CreateForWriting(const std::string& path) = 0;
  // The count moved, 0 at the end of a file, -1 when the call failed.
  virtual std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) = 0;
  virtual std::int32_t Write(FileHandle file, const void* buffer, std::uint32_t count) = 0;
  virtual void Flush(FileHandle file) = 0;
  virtual void Close(FileHandle file) = 0;
  virtual void Delete(const std::string& path) = 0;
  // The system's text for the error of the last failed call, without
  // trailing blanks, control characters and full stops.
  virtual std::string LastErrorText() = 0;
  virtual std::string FullPath(const std::string& path) = 0;

  // Folders.
  virtual bool IsFolder(const std::string& path) = 0;
  virtual bool CreateFolder(const std::string& path) = 0;

  // Takes the folder that the program stages its files in, once it stands
  // and before anything is written there; names are the files that it will
  // write and start in it. Where the temporary folder is shared with other
  // users, the host refuses a folder that is a symbolic link, is not the
  // running user's own, is open to others for writing, holds a symbolic
  // link under one of the names, or is in use by another run; from then on
  // it reaches the files of that folder only through the folder it checked
  // and never through a symbolic link. A refusal raises EInOutError naming
  // the folder and the reason, before anything is written. A folder that
  // does not stand is no refusal: creating its first file fails as it
  // would have. Where the temporary folder is private to the user, as on
  // Windows, there is nothing to check.
  virtual void ClaimStagingFolder(const std::string& path,
                                  std::span<const std::string_view> names) = 0;

  // Resources of the running executable, matched without regard to case.
  virtual bool FindResource(const std::string& type, const std::string& name,
                            ResourceBytes& bytes) = 0;

  // Starts a file with the system's "open" operation in the given working
  // folder and does not wait. Failure is silent.
  virtual void Launch(const std::string& file, const std::string& working_folder) = 0;
};

// The services in force: the real host's unless a test installed others.
Services& Current();
// Installs replacement services (nullptr restores the real host's) and
// returns the ones that were in force.
Services* Install(Services* services);
Services& RealServices();

// The host's path separator: a backslash on Windows, '/' on POSIX.
extern const char kPathSeparator;

// The user's temporary folder with its trailing separator.
std::string GetTempDir();

// The path followed by one separator unless it is empty or ends in one.
std::string WithBackslash(std::string_view path);

// Creates a folder and every missing parent, outermost first. True when the
// folder stands afterwards; false, silently, when a level could not be made.
// Raises EInOutError for an empty path.
bool ForceDirectories(std::string_view path);

// How a host spells paths, for the parts of the runtime that take them apart.
struct PathRules {
  char separator;
  bool colon_is_delimiter;      // "C:" ends a drive prefix
  std::size_t shortest_folder;  // a shorter rest is a root: 3 for "C:\", 1 for "/"
};
extern const PathRules kHostPathRules;
inline constexpr PathRules kWindowsPathRules{'\\', true, 3};
inline constexpr PathRules kPosixPathRules{'/', false, 1};

// The same algorithm under either host's rules, for the tests of both.
bool ForceDirectories(std::string_view path, const PathRules& rules, Services& services);

// A read-only view of one resource of the running executable.
class ResourceStream {
 public:
  ResourceStream(const std::string& name, const std::string& type);
  const void* Data() const { return bytes_.data; }
  std::uint32_t Size() const { return bytes_.size; }

 private:
  ResourceBytes bytes_;
};

// A newly created file, held for exclusive access until destroyed.
class FileStream {
 public:
  explicit FileStream(const std::string& path);  // EFCreateError
  ~FileStream();
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  // All bytes in one system write; a failed or short write is EWriteError.
  void WriteAll(const void* data, std::uint32_t size);
  // Closes the file now, so that a failure of the close itself leaves the
  // caller; the destructor closes a file still open and lets nothing out,
  // since the exception already passing is the one that counts.
  void Close();

 private:
  FileHandle handle_;
};

// The application object: a title and, on Windows, one hidden window.
class Application {
 public:
  void Initialize();
  void SetTitle(std::string_view title);
  const std::string& Title() const { return title_; }
  // Returns at once: there is no main window and no message loop.
  void Run();

 private:
  std::string title_;
};
Application& TheApplication();

// The report's text exactly as the runtime builds it.
std::string FatalReportText(std::string_view class_name, std::string_view module_name,
                            std::uintptr_t offset, std::string_view message);
inline constexpr const char* kFatalReportTitle = "Anwendungsfehler";

// Shows the fatal-error report for the exception and ends the process with
// exit code 1.
[[noreturn]] void ReportFatalError(const Exception& e);

// Runs the program's body between the runtime's start-up and process end:
// exit code 0 when it returns, the fatal-error report and 1 when it raises.
[[noreturn]] void RunProgram(void (*body)());

}  // namespace host
