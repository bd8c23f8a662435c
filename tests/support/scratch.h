// Test helpers that touch the real system: a fresh temporary folder per
// test, whole-file reads and writes, and running a built program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

// A new, empty folder under the system's temporary folder (mkdtemp), removed
// with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of a name inside the folder, as a string for the host calls.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

Bytes ReadBytes(const std::filesystem::path& path);  // empty when it cannot be read
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes ToBytes(std::string_view text);
bool Exists(const std::filesystem::path& path);  // without following a last link

struct ProcessResult {
  int exit_code = -1;  // the exit status, or 128 + the signal
  std::string out, err;
};

// Runs a program to its end with stdin from /dev/null and both output
// streams captured; `environment` entries ("NAME=value") replace or add to
// the test's own.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

}  // namespace test_support
