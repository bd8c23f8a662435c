#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/platform.h"
#include "host/posix/embedded_resources.h"
#include "host/posix/staging_folder.h"

namespace host {

const char kPathSeparator = '/';
const PathRules kHostPathRules = kPosixPathRules;
const char* const messages::kInvalidPointer = "Ung\xC3\xBCltige Zeigeroperation";

namespace {

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Handle 0 means "no file", so descriptor 0 (a closed stdin) is moved away.
int AvoidZero(int fd) {
  if (fd != 0) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

class PosixServices final : public Services {
 public:
  void* Allocate(std::size_t size) override {
    void* block = std::malloc(size ? size : 1);
    if (!block) RaiseOutOfMemory();
    return block;
  }

  void Release(void* block) override { std::free(block); }

  FileHandle OpenForReading(const std::string& path) override {
    const int fd = AvoidZero(staging_.Open(path, O_RDONLY | O_CLOEXEC));
    if (fd < 0) return Fail();
    if (!LockExclusive(fd)) return Fail(fd);
    return fd;
  }

  FileHandle CreateForWriting(const std::string& path) override {
    bool created = true;
    int fd = staging_.Open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = staging_.Open(path, O_RDWR | O_CLOEXEC);
    }
    fd = AvoidZero(fd);
    if (fd < 0) return Fail();
    struct stat st;
    if (fstat(fd, &st) != 0) return Fail(fd);
    // A file without write permission is read-only, even for root, as a
    // read-only file is on Windows.
    if ((st.st_mode & 0222) == 0) {
      errno = EACCES;
      return Fail(fd);
    }
    if (!LockExclusive(fd)) {
      const int lock_error = errno;
      if (created) staging_.Unlink(path);
      errno = lock_error;
      return Fail(fd);
    }
    // Only now that nobody else holds the file may its old content go. A
    // device (/dev/null, /dev/full) is opened as it is, as CREATE_ALWAYS
    // opens one on Windows: it has no content to empty.
    if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) return Fail(fd);
    return fd;
  }

  std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) override {
    auto* p = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t n = ::read(static_cast<int>(file), p + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail(), -1;
      if (n == 0) break;
      done += static_cast<std::uint32_t>(n);
    }
    return static_cast<std::int32_t>(done);
  }

  std::int32_t Write(FileHandle file, const void* buffer, std::uint32_t count) override {
    auto* p = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(static_cast<int>(file), p + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        Fail();
        // A write that failed before it moved anything counts as failed;
        // one that stopped part of the way is short.
        return done == 0 ? -1 : static_cast<std::int32_t>(done);
      }
      done += static_cast<std::uint32_t>(n);
    }
    return static_cast<std::int32_t>(done);
  }

  void Flush(FileHandle file) override { fdatasync(static_cast<int>(file)); }

  void Close(FileHandle file) override {
    if (file > 0) close(static_cast<int>(file));
  }

  // Deletes files only, as DeleteFileA does: a symbolic link goes, not its
  // target, and a device node or folder is refused. The driver deletes its
  // output after a failed write, and that output may name a device.
  void Delete(const std::string& path) override {
    struct stat st;
    if (staging_.Lstat(path, st) != 0) {
      last_error_ = errno;
      return;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      last_error_ = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
      return;
    }
    if (staging_.Unlink(path) != 0) last_error_ = errno;
  }

  std::string LastErrorText() override {
    std::string text = last_error_ == kSharingViolation
                           ? "The process cannot access the file because it is being used by "
                             "another process"
                           : std::strerror(last_error_);
    while (!text.empty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
      text.pop_back();
    }
    return text;
  }

  std::string FullPath(const std::string& path) override {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return WithBackslash(cwd) + path;
  }

  bool IsFolder(const std::string& path) override {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  // Private to the user: the staging folder is made here, and so is any
  // missing temporary folder above it.
  bool CreateFolder(const std::string& path) override { return mkdir(path.c_str(), 0700) == 0; }

  void ClaimStagingFolder(const std::string& path,
                          std::span<const std::string_view> names) override {
    staging_.Claim(path, names);
  }

  bool FindResource(const std::string& type, const std::string& name,
                    ResourceBytes& bytes) override {
    if (&host_embedded_resource_count == nullptr) return false;
    for (std::uint32_t i = 0; i < host_embedded_resource_count; ++i) {
      const auto& r = host_embedded_resources[i];
      if (strcasecmp(r.type, type.c_str()) == 0 && strcasecmp(r.name, name.c_str()) == 0) {
        bytes.data = r.data;
        bytes.size = *r.size;
        return true;
      }
    }
    return false;
  }

  void Launch(const std::string& file, const std::string& working_folder) override;

 private:
  static constexpr int kSharingViolation = -1;

  FileHandle Fail(int fd = -1) {
    last_error_ = errno;
    if (fd >= 0) close(fd);
    return -1;
  }

  bool LockExclusive(int fd) {
    // Only files are held. A device or pipe is one object for the whole
    // system: holding /dev/null would shut out every other process using it.
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) return true;
    // flock locks belong to the open file description, so a second open of
    // the same file conflicts even within this process, as share mode 0 does.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    errno = errno == EWOULDBLOCK ? kSharingViolation : errno;
    return false;
  }

  int last_error_ = 0;
  posix::StagingFolder staging_;
};

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs(path);
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start);
    candidate = (candidate.empty() ? std::string(".") : candidate) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

void PosixServices::Launch(const std::string& file, const std::string& working_folder) {
  // The file is opened once, and what is checked through that descriptor is
  // what is started; inside the staging folder it is reached through the
  // claimed folder and never through a symbolic link.
  const int fd = AvoidZero(staging_.Open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd < 0) return;  // nothing to start: silent
  // Readers and writers: whoever writes the file holds it for exclusive
  // access until it is complete (the expansion its output, the extraction
  // its payload file), and a start shares it. A file that a writer holds is
  // not started: it could be half a program.
  struct stat st;
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return;
  }
  fchmod(fd, st.st_mode | S_IXUSR);
  char magic[2] = {};
  const bool through_wine =
      pread(fd, magic, 2, 0) == 2 && magic[0] == 'M' && magic[1] == 'Z' && OnPath("wine");

  // In the claimed folder the program is started from that folder itself,
  // whatever its path names by now.
  const bool into_claimed = staging_.IsClaimedFolder(working_folder);
  const std::string exec_path = into_claimed && staging_.Holds(file) ? "./" + BaseName(file) : file;

  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls.
  const char* argv_wine[] = {"wine", exec_path.c_str(), nullptr};
  const char* argv_plain[] = {file.c_str(), nullptr};
  char* const* argv_exec = const_cast<char* const*>(argv_plain);

  const pid_t child = fork();
  if (child < 0) {
    close(fd);
    return;
  }
  if (child == 0) {
    // The intermediate child leaves at once, so the program is adopted by
    // init and never becomes our zombie; its own session detaches it.
    setsid();
    if (fork() != 0) _exit(0);
    const int moved = into_claimed ? fchdir(staging_.Descriptor()) : chdir(working_folder.c_str());
    if (moved != 0) _exit(127);
    // The started program keeps the descriptor, and with it the shared
    // hold, for as long as it runs: an interpreter (wine, a shell) reads the
    // file after the start, and no writer may replace it meanwhile. The
    // descriptor stays clear of the three standard ones.
    const int held = fd > 2 ? fd : fcntl(fd, F_DUPFD, 3);
    if (held < 0 || fcntl(held, F_SETFD, 0) != 0) _exit(127);
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
      if (null_fd > 2) close(null_fd);
    }
    if (through_wine) {
      execvp(argv_wine[0], const_cast<char* const*>(argv_wine));
    } else {
      fexecve(held, argv_exec, environ);
      // Where the system cannot start a descriptor, by name.
      execv(exec_path.c_str(), argv_exec);
    }
    _exit(127);
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  close(fd);
}

}  // namespace

namespace platform {

Services& RealServices() {
  static PosixServices services;
  return services;
}

bool ModuleOf(const void* address, std::string& file_name, std::uintptr_t& base) {
  Dl_info info;
  if (!address || dladdr(address, &info) == 0 || !info.dli_fname || !info.dli_fbase) return false;
  file_name = BaseName(info.dli_fname);
  base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return true;
}

std::string ProgramFileName() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? BaseName(std::string(buffer, static_cast<std::size_t>(n))) : "Setup_Merlavox";
}

std::string ReportFormat() {
  return "Exception %s in Modul %s bei %p.\n%s%s";
}
std::string ReportTitle() {
  return kFatalReportTitle;
}

void ShowFatalReport(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s\n%s\n", title.c_str(), text.c_str());
  std::fflush(stderr);
}

std::string TempPath() {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = tmp && *tmp ? tmp : "/tmp";
  // GetTempPathA hands out an absolute path, and the folder creation relies
  // on one: its climb towards the root ends at "/", never at an empty name.
  if (path[0] != '/') path = RealServices().FullPath(path);
  return WithBackslash(path);
}

void CreateApplicationWindow(const std::string&) {}
void SetApplicationWindowTitle(const std::string&) {}
void DestroyApplicationWindow() {}

void EndProcess(int exit_code) {
  std::fflush(nullptr);
  std::exit(exit_code);
}

}  // namespace platform

std::string GetTempDir() {
  return platform::TempPath();
}

}  // namespace host
