// `hzl x` as a user runs it: the exit code, what it says on stderr, and
// that a failed expansion leaves no output behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (const char c : s) {
    if (c == '\'') {
      q.append("'\\''");
    } else {
      q.push_back(c);
    }
  }
  q.push_back('\'');
  return q;
}

class HzlX : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "hzl_x_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Hzl(const std::vector<std::string>& args) {
    std::string command = Quoted(MERLAVOX_BINARY_DIR "/bin/hzl");
    for (const std::string& a : args) command.append(" ").append(Quoted(a));
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    command.append(" >").append(Quoted(out.string()));
    command.append(" 2>").append(Quoted(err.string()));
    const int status = std::system(command.c_str());
    Outcome run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto text = [](const fs::path& p) {
      const auto bytes = test_support::ReadFileBytes(p.string());
      return std::string(bytes.begin(), bytes.end());
    };
    run.out = text(out);
    run.err = text(err);
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  fs::path dir_;
};

const std::string kVectors = MERLAVOX_TEST_DATA "/vectors/";
const std::string kCorpus = MERLAVOX_TEST_DATA "/corpus/";

bool IsOneLine(const std::string& s) {
  return !s.empty() && s.back() == '\n' && s.find('\n') == s.size() - 1;
}

TEST_F(HzlX, ExpandsACompressedFile) {
  const fs::path out = dir_ / "notepad.exe";
  const Outcome run = Hzl({"x", kVectors + "notepad.exe.hzl", out.string()});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(test_support::ReadFileBytes(out.string()),
            test_support::ReadFileBytes(kCorpus + "notepad.exe"));
}

struct Failing {
  const char* what;
  std::string input;
  const char* says;
};

TEST_F(HzlX, AFailureSaysOneLineExitsWithOneAndLeavesNoOutput) {
  const Failing cases[] = {
      {"missing input", (dir_ / "no-such.hzl").string(), "not found"},
      {"not compressed", kCorpus + "services.txt", "NOT A COMPRESSED FILE"},
  };
  for (const Failing& c : cases) {
    const fs::path out = dir_ / "out.bin";
    const Outcome run = Hzl({"x", c.input, out.string()});
    EXPECT_EQ(run.exit_code, 1) << c.what;
    EXPECT_TRUE(IsOneLine(run.err)) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.what << ": " << run.err;
    EXPECT_FALSE(fs::exists(out)) << c.what;
  }
}

TEST_F(HzlX, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"x"}, {"x", kVectors + "rle.hzl"}, {"x", "a", "b", "c"}, {"frobnicate"}};
  for (const auto& args : cases) {
    const Outcome run = Hzl(args);
    EXPECT_EQ(run.exit_code, 2) << args.size() << " arguments";
    EXPECT_NE(run.err.find("usage"), std::string::npos);
  }
}

TEST_F(HzlX, HelpExitsWithZero) {
  const Outcome run = Hzl({"--help"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("hzl x IN OUT"), std::string::npos);
  EXPECT_EQ(run.err, "");
}

}  // namespace
