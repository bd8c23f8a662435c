// The built bootstrapper, run as the user runs it, each time with its own
// temporary folder: what it leaves in the staging folder, what it starts,
// its report and its exit code. The demo setup program that it starts
// writes Setup.log into its working folder, which shows that it ran, where,
// and what it found there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using test_support::ReadBytes;
using test_support::ToBytes;
using test_support::WriteBytes;

const fs::path kPayload = MERLAVOX_PAYLOAD;
const std::string kBootstrapper = MERLAVOX_BOOTSTRAPPER;
const std::string kWithoutTest9 = MERLAVOX_BOOTSTRAPPER_WITHOUT_TEST9;
const fs::path kDemoSetup = MERLAVOX_DEMO_SETUP;

const char* const kPayloadFiles[] = {
    "Merlavox.ex_", "Merlavox.ch_",   "Liesmich.txt", "TrickTip.tx_", "Vertrag.txt",
    "eztw32.DL_",   "Beispiel.dbmvx", "gdiplus.dl_",  "Setup.ex_",    "Setup.lst"};

// What the demo setup program writes when it ran in the folder and found
// every file that the setup script names.
std::string ExpectedLog(const fs::path& staging) {
  std::string log = "Folder=" + fs::canonical(staging).string() + "\r\n";
  std::ifstream list(kPayload / "Setup.lst", std::ios::binary);
  std::string line, section;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      section = line;
    } else if (section == "[Files]" && line.find('=') != std::string::npos) {
      log += line.substr(line.find('=') + 1) + "=present\r\n";
    }
  }
  return log;
}

// The setup program runs on after the bootstrapper has ended: its log is
// awaited, for a few seconds at most.
std::string AwaitLog(const fs::path& path, const std::string& expected) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  Bytes content;
  while (std::chrono::steady_clock::now() < deadline) {
    content = ReadBytes(path);
    if (std::string(content.begin(), content.end()) == expected) break;
    std::this_thread::sleep_for(20ms);
  }
  return std::string(content.begin(), content.end());
}

// Linux refuses to open a program for writing while it runs: the setup
// program that wrote its log may not have ended yet.
void AwaitEnd(const fs::path& program) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = open(program.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      close(fd);
      return;
    }
    if (errno != ETXTBSY) return;
    std::this_thread::sleep_for(10ms);
  }
}

// The report with the raising address's offset masked, once it has been
// checked to be 8 upper-case hexadecimal digits.
std::string MaskOffset(std::string report) {
  const auto at = report.find(" bei ");
  if (at == std::string::npos || report.size() < at + 13) return report;
  for (std::size_t i = at + 5; i < at + 13; ++i) {
    const char c = report[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return report;
  }
  report.replace(at + 5, 8, "########");
  return report;
}

class BootstrapE2eTest : public ::testing::Test {
 protected:
  test_support::ProcessResult Run(const std::string& program = kBootstrapper) {
    return test_support::RunProcess({program}, {"TMPDIR=" + temp.string()});
  }

  void ExpectPayloadWritten(int entries = 10) {
    for (int i = 0; i < entries; ++i) {
      EXPECT_EQ(ReadBytes(staging / kPayloadFiles[i]), ReadBytes(kPayload / kPayloadFiles[i]))
          << kPayloadFiles[i];
    }
  }

  test_support::TempFolder root;
  // A temporary folder that does not exist yet: it is made with the staging folder.
  const fs::path temp = root.Path() / "no" / "temp";
  const fs::path staging = temp / "Inst-Setup_Merlavox";
};

TEST_F(BootstrapE2eTest, StagesExpandsAndStartsTheSetupProgram) {
  const auto result = Run();

  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  ExpectPayloadWritten();
  EXPECT_EQ(ReadBytes(staging / "Setup.exe"), ReadBytes(kDemoSetup));
  EXPECT_EQ(AwaitLog(staging / "Setup.log", ExpectedLog(staging)), ExpectedLog(staging));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(staging)) ++files;
  EXPECT_EQ(files, 12u) << "ten payload files, Setup.exe and the setup program's log";
}

TEST_F(BootstrapE2eTest, ASecondRunReplacesItsFilesAndLeavesOthersAlone) {
  ASSERT_EQ(Run().exit_code, 0);
  const std::string log = ExpectedLog(staging);
  ASSERT_EQ(AwaitLog(staging / "Setup.log", log), log);
  AwaitEnd(staging / "Setup.exe");
  fs::remove(staging / "Setup.log");
  const Bytes longer(3'000'000, 'x');
  for (const char* name : kPayloadFiles) WriteBytes(staging / name, longer);
  WriteBytes(staging / "Setup.exe", longer);
  WriteBytes(staging / "other.txt", ToBytes("not the bootstrapper's"));

  const auto result = Run();

  EXPECT_EQ(result.exit_code, 0);
  ExpectPayloadWritten();
  EXPECT_EQ(ReadBytes(staging / "Setup.exe"), ReadBytes(kDemoSetup));
  EXPECT_EQ(ReadBytes(staging / "other.txt"), ToBytes("not the bootstrapper's"));
  EXPECT_EQ(AwaitLog(staging / "Setup.log", log), log);
}

// A Setup.exe that cannot be replaced makes the expansion fail silently;
// the one that stands there is started all the same.
TEST_F(BootstrapE2eTest, AFailedExpansionStillStartsWhatStandsThere) {
  fs::create_directories(staging);
  fs::copy_file(kDemoSetup, staging / "Setup.exe");
  chmod((staging / "Setup.exe").c_str(), 0555);

  const auto result = Run();

  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  ExpectPayloadWritten();
  EXPECT_EQ(ReadBytes(staging / "Setup.exe"), ReadBytes(kDemoSetup));
  EXPECT_EQ(AwaitLog(staging / "Setup.log", ExpectedLog(staging)), ExpectedLog(staging));
}

// Nothing that can be started stands as Setup.exe (a folder of that name):
// the launch fails without a message and the run still ends with 0.
TEST_F(BootstrapE2eTest, AFailedLaunchPassesSilently) {
  fs::create_directories(staging / "Setup.exe");

  const auto result = Run();

  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  ExpectPayloadWritten();
  EXPECT_TRUE(fs::is_directory(staging / "Setup.exe"));
}

TEST_F(BootstrapE2eTest, AStagingFolderThatCannotBeMadeEndsInTheReport) {
  WriteBytes(root.Path() / "file", ToBytes("a file where a folder would be"));
  const fs::path below_file = root.Path() / "file" / "temp";

  const auto result = test_support::RunProcess({kBootstrapper}, {"TMPDIR=" + below_file.string()});

  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(MaskOffset(result.err),
            "Anwendungsfehler\n"
            "Exception EFCreateError in Modul " +
                fs::path(kBootstrapper).filename().string() +
                " bei ########.\n"
                "Datei \"" +
                (below_file / "Inst-Setup_Merlavox" / "Merlavox.ex_").string() +
                "\" kann nicht erstellt werden. Not a directory.\n");
  EXPECT_EQ(ReadBytes(root.Path() / "file"), ToBytes("a file where a folder would be"));
}

// A build whose payload lacks entry 9 writes entries 1 to 8, then reports
// the missing resource by the name asked for; nothing is expanded and the
// Setup.exe of an earlier run is neither replaced nor started.
TEST_F(BootstrapE2eTest, AMissingEntryEndsInTheReport) {
  fs::create_directories(staging);
  fs::copy_file(kDemoSetup, staging / "Setup.exe");

  const auto result = Run(kWithoutTest9);

  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(MaskOffset(result.err),
            "Anwendungsfehler\n"
            "Exception EResNotFound in Modul " +
                fs::path(kWithoutTest9).filename().string() +
                " bei ########.\n"
                "Ressource Test9 wurde nicht gefunden.\n");
  ExpectPayloadWritten(8);
  EXPECT_FALSE(fs::exists(staging / "Setup.ex_"));
  EXPECT_FALSE(fs::exists(staging / "Setup.lst"));
  EXPECT_EQ(ReadBytes(staging / "Setup.exe"), ReadBytes(kDemoSetup));
  // A start would show as the setup program's log within this time.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(fs::exists(staging / "Setup.log"));
}

}  // namespace
