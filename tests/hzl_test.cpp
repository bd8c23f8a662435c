// The hzl tool from the command line: what it writes, under which name, what
// it refuses, and its exit codes (0 success, 1 failure, 2 usage error).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kHzl = fs::path(MERLAVOX_BINARY_DIR) / "bin" / "hzl";
const fs::path kCorpus = fs::path(MERLAVOX_TEST_DATA) / "corpus";

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class HzlTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("hzl_test_" + std::to_string(getpid()) + "_" +
                                        info->test_suite_name() + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs hzl in the test's folder; stdout and stderr are kept.
  int Hzl(const std::string& args) {
    const std::string command = "cd '" + dir_.string() + "' && '" + kHzl.string() + "' " + args +
                                " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    out_ = ReadText("stdout.txt");
    err_ = ReadText("stderr.txt");
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string ReadText(const std::string& name) {
    const Bytes b = ReadFile(dir_ / name);
    return std::string(b.begin(), b.end());
  }

  // Everything in the folder, to see that a failure left nothing behind.
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      names.push_back(fs::relative(e.path(), dir_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::string out_, err_;
};

TEST_F(HzlTest, CompressesAndExpandsInBothModes) {
  fs::copy_file(kCorpus / "notepad.exe", dir_ / "in.bin");
  for (const char* mode : {"", "--fast "}) {
    ASSERT_EQ(Hzl(std::string("c -f ") + mode + "in.bin packed.hzl"), 0) << mode << err_;
    const Bytes packed = ReadFile(dir_ / "packed.hzl");
    ASSERT_GT(packed.size(), 8u);
    EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "!HZL");
    EXPECT_LT(packed.size(), fs::file_size(dir_ / "in.bin"));
    ASSERT_EQ(Hzl("x packed.hzl back.bin"), 0) << mode << err_;
    EXPECT_TRUE(ReadFile(dir_ / "back.bin") == ReadFile(dir_ / "in.bin")) << mode;
    fs::remove(dir_ / "back.bin");
  }
}

TEST_F(HzlTest, WithoutOutReplacesTheLastCharacterWithAnUnderscore) {
  struct Case {
    const char* in;
    const char* out;
  };
  fs::create_directories(dir_ / "sub.d");
  for (const Case& c : {Case{"Setup.exe", "Setup.ex_"}, Case{"eztw32.DLL", "eztw32.DL_"},
                        Case{"sub.d/README", "sub.d/READM_"}}) {
    fs::copy_file(kCorpus / "GPL-3.txt", dir_ / c.in);
    ASSERT_EQ(Hzl(std::string("c ") + c.in), 0) << c.in << err_;
    ASSERT_TRUE(fs::exists(dir_ / c.out)) << c.in;
    ASSERT_EQ(Hzl(std::string("x ") + c.out + " plain.out"), 0) << err_;
    EXPECT_TRUE(ReadFile(dir_ / "plain.out") == ReadFile(dir_ / c.in)) << c.in;
    fs::remove(dir_ / "plain.out");
  }
}

TEST_F(HzlTest, RefusesToReplaceAnExistingOutputWithoutForce) {
  fs::copy_file(kCorpus / "services.txt", dir_ / "Setup.exe");
  for (const char* args : {"c Setup.exe", "c Setup.exe Setup.ex_", "c --fast Setup.exe"}) {
    WriteFile(dir_ / "Setup.ex_", "keep me");
    EXPECT_EQ(Hzl(args), 1) << args;
    EXPECT_NE(err_.find("-f"), std::string::npos) << err_;
    EXPECT_EQ(ReadText("Setup.ex_"), "keep me") << args;
  }
  EXPECT_EQ(Hzl("c -f Setup.exe"), 0) << err_;
  EXPECT_EQ(ReadText("Setup.ex_").substr(0, 4), "!HZL");
}

TEST_F(HzlTest, FailuresLeaveNoOutput) {
  fs::create_directories(dir_ / "folder.in");
  WriteFile(dir_ / "plain.txt", "not compressed at all");
  struct Case {
    const char* args;
    const char* reason;
  };
  const Case cases[] = {
      {"c missing.txt out.hzl", "missing input"},
      {"c missing.txt", "missing input, default name"},
      {"c plain.txt no/such/folder/out.hzl", "output folder does not exist"},
      {"c folder.in out.hzl", "input is a folder"},
      {"x plain.txt out.bin", "input not compressed"},
      {"x missing.hzl out.bin", "missing compressed input"},
  };
  const auto before = Listing();
  for (const Case& c : cases) {
    EXPECT_EQ(Hzl(c.args), 1) << c.reason;
    EXPECT_FALSE(err_.empty()) << c.reason;
    EXPECT_EQ(Listing(), before) << c.reason;
  }
}

TEST_F(HzlTest, UsageErrorsExitWithTwo) {
  WriteFile(dir_ / "Setup.ex_", "x");
  for (const char* args : {"", "c", "c a b c", "c --bogus a", "x only-in", "q a", "c Setup.ex_"}) {
    EXPECT_EQ(Hzl(args), 2) << args;
    EXPECT_FALSE(err_.empty()) << args;
  }
}

TEST_F(HzlTest, HelpGoesToStandardOutput) {
  for (const char* args : {"--help", "c --help"}) {
    EXPECT_EQ(Hzl(args), 0) << args;
    EXPECT_NE(out_.find("usage: hzl c"), std::string::npos) << args;
  }
}

TEST_F(HzlTest, DoubleDashEndsOptions) {
  fs::copy_file(kCorpus / "services.txt", dir_ / "-odd.txt");
  ASSERT_EQ(Hzl("c -- -odd.txt packed.hzl"), 0) << err_;
  ASSERT_EQ(Hzl("x packed.hzl back.txt"), 0) << err_;
  EXPECT_TRUE(ReadFile(dir_ / "back.txt") == ReadFile(dir_ / "-odd.txt"));
}

}  // namespace
