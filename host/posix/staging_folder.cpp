#include "host/posix/staging_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/exceptions.h"

namespace host::posix {

namespace {

// The error codes that EInOutError carries, as the runtime has them.
constexpr int kAccessDenied = 5;
constexpr int kSharingViolation = 32;

// The reasons, in the runtime's language.
constexpr const char* kIsSymbolicLink = "Es ist eine symbolische Verkn\xC3\xBCpfung";
constexpr const char* kOtherOwner = "Es geh\xC3\xB6rt einem anderen Benutzer";
constexpr const char* kOpenToOthers = "Andere Benutzer d\xC3\xBCrfen darin schreiben";
constexpr const char* kLinkInside = "\"%s\" darin ist eine symbolische Verkn\xC3\xBCpfung";
constexpr const char* kInUse = "Es wird von einem anderen Prozess verwendet";

std::string SystemText(int error) {
  std::string text = std::strerror(error);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

[[noreturn]] void Refuse(int fd, const std::string& folder, std::string_view reason, int code) {
  if (fd >= 0) close(fd);
  Raise<EInOutError>(FormatMessage(messages::kFolderRefused, {folder, reason}), code);
}

}  // namespace

void StagingFolder::Claim(const std::string& path, std::span<const std::string_view> names) {
  Release();
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

  // O_NOFOLLOW: a symbolic link in the folder's place is not opened at all.
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int open_error = errno;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))) {
      // The folder could not be made (a parent is missing or is a file, or
      // a file has its name). That is no refusal: its first file fails to
      // be created as it always did, and nothing is ever written through a
      // folder that someone makes in the meantime.
      folder_ = folder;
      missing_error_ = open_error;
      return;
    }
    if (S_ISLNK(st.st_mode)) Refuse(-1, folder, kIsSymbolicLink, kAccessDenied);
    if (st.st_uid != geteuid()) Refuse(-1, folder, kOtherOwner, kAccessDenied);
    Refuse(-1, folder, SystemText(open_error), kAccessDenied);
  }

  // From here on the checks look at the folder that was opened, whatever
  // its path names by now.
  struct stat st;
  if (fstat(fd, &st) != 0) Refuse(fd, folder, SystemText(errno), kAccessDenied);
  if (st.st_uid != geteuid()) Refuse(fd, folder, kOtherOwner, kAccessDenied);
  // Whoever may write into the folder may rename a checked file away and
  // put another in its place.
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) Refuse(fd, folder, kOpenToOthers, kAccessDenied);
  for (const std::string_view name : names) {
    struct stat entry;
    if (fstatat(fd, std::string(name).c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(entry.st_mode)) {
      Refuse(fd, folder, FormatMessage(kLinkInside, {name}), kAccessDenied);
    }
  }
  // One run at a time: another run's files are complete only when it says
  // so, and the only way to know is not to be there while it works.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) Refuse(fd, folder, kInUse, kSharingViolation);
    Refuse(fd, folder, SystemText(error), kAccessDenied);
  }
  folder_ = folder;
  fd_ = fd;
}

void StagingFolder::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  folder_.clear();
  missing_error_ = 0;
}

std::string StagingFolder::NameInside(const std::string& path) const {
  if (folder_.empty()) return {};
  const std::size_t start = folder_ == "/" ? 1 : folder_.size() + 1;
  if (path.size() <= start || path.compare(0, folder_.size(), folder_) != 0 ||
      path[start - 1] != '/' || path.find('/', start) != std::string::npos) {
    return {};
  }
  std::string name = path.substr(start);
  return name == "." || name == ".." ? std::string() : name;
}

int StagingFolder::Open(const std::string& path, int flags, mode_t mode) const {
  const std::string name = NameInside(path);
  if (name.empty()) return open(path.c_str(), flags, mode);
  if (fd_ < 0) {
    errno = missing_error_;
    return -1;
  }
  return openat(fd_, name.c_str(), flags | O_NOFOLLOW, mode);
}

int StagingFolder::Unlink(const std::string& path) const {
  const std::string name = NameInside(path);
  if (name.empty()) return unlink(path.c_str());
  if (fd_ < 0) {
    errno = missing_error_;
    return -1;
  }
  return unlinkat(fd_, name.c_str(), 0);
}

int StagingFolder::Lstat(const std::string& path, struct stat& st) const {
  const std::string name = NameInside(path);
  if (name.empty()) return lstat(path.c_str(), &st);
  if (fd_ < 0) {
    errno = missing_error_;
    return -1;
  }
  return fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
}

bool StagingFolder::Holds(const std::string& path) const {
  return !NameInside(path).empty();
}

bool StagingFolder::IsClaimedFolder(const std::string& folder) const {
  if (fd_ < 0) return false;
  std::string plain = folder;
  while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
  return plain == folder_;
}

}  // namespace host::posix
