// The staging folder as the POSIX host holds it once the program claimed
// it. The temporary folder is usually shared by every user and the staging
// folder's name is fixed, so another user could make it first, make it
// writable for all, or put a symbolic link in its place or in place of one
// of its files, and so swap the program that is started. A claimed folder
// is therefore checked once through a descriptor of its own, and every later
// operation on a file directly inside it resolves the name against that
// descriptor with O_NOFOLLOW: renaming or replacing the folder's path
// afterwards changes nothing, and no symbolic link is ever followed. The
// descriptor also holds a lock on the folder for the rest of the run, so
// that two runs never work in it at the same time.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <span>
#include <string>
#include <string_view>

namespace host::posix {

class StagingFolder {
 public:
  StagingFolder() = default;
  ~StagingFolder() { Release(); }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // Checks and takes the folder; a refusal raises EInOutError. A later
  // claim gives up the earlier one.
  void Claim(const std::string& path, std::span<const std::string_view> names);
  void Release();

  // open(2) and unlink(2) for any path: a file directly inside the
  // claimed folder is reached through it and never through a symbolic link;
  // while the claimed folder does not stand, its files fail with the error
  // its creation met. Other paths are passed on as they are.
  int Open(const std::string& path, int flags, mode_t mode = 0) const;
  int Unlink(const std::string& path) const;
  // lstat(2) by the same route.
  int Lstat(const std::string& path, struct stat& st) const;

  // For the launch: whether the path lies directly inside the claimed
  // folder, and whether the folder is the claimed one; the descriptor to
  // change into.
  bool Holds(const std::string& path) const;
  bool IsClaimedFolder(const std::string& folder) const;
  int Descriptor() const { return fd_; }

 private:
  // The name of a file directly inside the claimed folder, or empty.
  std::string NameInside(const std::string& path) const;

  std::string folder_;  // as claimed, without a trailing separator
  int fd_ = -1;
  int missing_error_ = 0;  // the folder did not stand: what its files get
};

}  // namespace host::posix
