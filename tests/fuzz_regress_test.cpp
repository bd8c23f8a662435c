// Replays every input that a fuzz target once failed on (data/regress/
// <target>/) and every seed of its corpus (fuzz/corpus/<target>/) through
// the same check the target runs, in the ordinary builds: a fixed finding
// stays fixed, and the checks themselves are exercised under gcc, the
// sanitizers and the 32-bit build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"

namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;
  std::string (*check)(std::span<const std::uint8_t>);
};

void PrintTo(const Target& target, std::ostream* os) {
  *os << target.name;
}

const Target kTargets[] = {
    {"unpack", merlavox::fuzz::CheckUnpack},
    {"expand", merlavox::fuzz::CheckExpandFile},
    {"roundtrip", merlavox::fuzz::CheckRoundTrip},
};

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files of a folder, none when the folder does not exist.
std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  if (!fs::is_directory(folder)) return files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SavedFindingsPass) {
  for (const auto& file : FilesIn(fs::path(MERLAVOX_TEST_DATA) / "regress" / GetParam().name)) {
    EXPECT_EQ(GetParam().check(ReadAll(file)), "") << file;
  }
}

TEST_P(FuzzReplay, SeedsPass) {
  const auto seeds =
      FilesIn(fs::path(MERLAVOX_TEST_DATA) / ".." / "fuzz" / "corpus" / GetParam().name);
  // The fuzz run starts from these: a missing corpus would leave it blind.
  ASSERT_FALSE(seeds.empty());
  for (const auto& file : seeds) EXPECT_EQ(GetParam().check(ReadAll(file)), "") << file;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
