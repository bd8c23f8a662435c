// Runs of the real program against a prepared temporary folder: a staging
// folder that others could have prepared ends the run through the report
// with nothing written and nothing started, and runs at the same time never
// start an incomplete setup program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "support/sha256.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kProgram = fs::path(MERLAVOX_BINARY_DIR) / "bin" / "Setup_Merlavox";
const fs::path kProbeProgram = fs::path(MERLAVOX_BINARY_DIR) / "bin" / "Setup_Merlavox_probe";
const fs::path kLaunchProbe = MERLAVOX_LAUNCH_PROBE;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FileDigest(const fs::path& path) {
  const std::string text = ReadText(path);
  return test_support::Sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  if (fs::is_directory(folder)) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
  }
  return names;
}

// A run of the program in the background, with its own temporary folder.
class ProgramRun {
 public:
  ProgramRun(const fs::path& program, const fs::path& tmpdir, const fs::path& probe_log = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (entry.rfind("TMPDIR=", 0) != 0 && entry.rfind("MERLAVOX_PROBE_LOG=", 0) != 0) {
        env.push_back(entry);
      }
    }
    env.push_back("TMPDIR=" + tmpdir.string());
    if (!probe_log.empty()) env.push_back("MERLAVOX_PROBE_LOG=" + probe_log.string());
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};

    int pipe_fds[2];
    // Close-on-exec, so that only the run's stderr holds the pipe, not the
    // programs that it starts: the read below ends when the run does.
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    stderr_fd_ = pipe_fds[0];
  }

  // Waits for the run: its exit code (-1 when it did not exit normally)
  // and what it wrote to stderr.
  int Finish(std::string& report) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(stderr_fd_, buffer, sizeof buffer)) > 0) report.append(buffer, buffer + n);
    close(stderr_fd_);
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int stderr_fd_ = -1;
};

class StagingRunTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "merlavox-run-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    tmp_ = root_ / "tmp";
    fs::create_directory(tmp_);
    folder_ = tmp_ / "Inst-Setup_Merlavox";
    elsewhere_ = root_ / "elsewhere";
    fs::create_directory(elsewhere_);
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // The demo setup program writes Setup.log where it runs.
  bool SetupLogAppears(std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (fs::exists(folder_ / "Setup.log") || fs::exists(elsewhere_ / "Setup.log")) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  fs::path root_, tmp_, folder_, elsewhere_;
};

TEST_F(StagingRunTest, AFreshFolderIsMadePrivateAndTheSetupProgramStarts) {
  std::string report;
  EXPECT_EQ(ProgramRun(kProgram, tmp_).Finish(report), 0);
  EXPECT_EQ(report, "");
  EXPECT_TRUE(SetupLogAppears(std::chrono::seconds(10)));
  struct stat st;
  ASSERT_EQ(lstat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

struct Prepared {
  const char* name;
  std::function<void(const fs::path& folder, const fs::path& elsewhere)> prepare;
  std::string reason;
};

void PrintTo(const Prepared& prepared, std::ostream* os) {
  *os << prepared.name;
}

const Prepared kPrepared[] = {
    {"MadeByAnotherUser",
     [](const fs::path& f, const fs::path&) {
       mkdir(f.c_str(), 0755);
       ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0);  // nobody
     },
     "Es geh\xC3\xB6rt einem anderen Benutzer"},
    {"OpenToEveryone",
     [](const fs::path& f, const fs::path&) {
       mkdir(f.c_str(), 0700);
       chmod(f.c_str(), 0777);
     },
     "Andere Benutzer d\xC3\xBCrfen darin schreiben"},
    {"ALinkToAnotherFolder",
     [](const fs::path& f, const fs::path& elsewhere) {
       fs::create_directory_symlink(elsewhere, f);
     },
     "Es ist eine symbolische Verkn\xC3\xBCpfung"},
    {"SetupExeIsALink",
     [](const fs::path& f, const fs::path& elsewhere) {
       mkdir(f.c_str(), 0700);
       fs::create_symlink(elsewhere / "Setup.exe", f / "Setup.exe");
     },
     "\"Setup.exe\" darin ist eine symbolische Verkn\xC3\xBCpfung"},
    {"APayloadFileIsALink",
     [](const fs::path& f, const fs::path& elsewhere) {
       mkdir(f.c_str(), 0700);
       fs::create_symlink(elsewhere / "Liesmich.txt", f / "Liesmich.txt");
     },
     "\"Liesmich.txt\" darin ist eine symbolische Verkn\xC3\xBCpfung"},
};

class PreparedFolder : public StagingRunTest, public testing::WithParamInterface<Prepared> {};

TEST_P(PreparedFolder, EndsTheRunWithNothingWrittenOrStarted) {
  GetParam().prepare(folder_, elsewhere_);
  const auto before = Entries(folder_);
  std::string report;
  EXPECT_EQ(ProgramRun(kProgram, tmp_).Finish(report), 1);
  // The report: title, class, module and a raising address that varies by
  // build, then the message with its closing full stop.
  const std::string head = "Anwendungsfehler\nException EInOutError in Modul Setup_Merlavox bei ";
  const std::string tail = ".\nVerzeichnis \"" + folder_.string() +
                           "\" kann nicht verwendet werden. " + GetParam().reason + ".\n";
  ASSERT_EQ(report.size(), head.size() + 8 + tail.size()) << report;
  EXPECT_EQ(report.substr(0, head.size()), head);
  EXPECT_EQ(report.substr(head.size(), 8).find_first_not_of("0123456789ABCDEF"), std::string::npos)
      << report;
  EXPECT_EQ(report.substr(head.size() + 8), tail);
  EXPECT_EQ(Entries(folder_), before);
  EXPECT_TRUE(Entries(elsewhere_).empty());
  EXPECT_FALSE(SetupLogAppears(std::chrono::milliseconds(300)));
}

INSTANTIATE_TEST_SUITE_P(Staging, PreparedFolder, testing::ValuesIn(kPrepared),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StagingRunTest, AFolderThatCannotBeMadeStillReportsTheFirstFile) {
  std::ofstream(root_ / "file") << "a file where the temporary folder should be";
  std::string report;
  ProgramRun run(kProgram, root_ / "file");
  EXPECT_EQ(run.Finish(report), 1);
  EXPECT_NE(report.find("Exception EFCreateError in Modul Setup_Merlavox bei "), std::string::npos)
      << report;
  EXPECT_NE(
      report.find("Datei \"" + (root_ / "file" / "Inst-Setup_Merlavox" / "Merlavox.ex_").string() +
                  "\" kann nicht erstellt werden. Not a directory."),
      std::string::npos)
      << report;
}

// What the launch probes recorded: digest and size of each started file.
std::vector<std::pair<std::string, std::uintmax_t>> StartedFiles(const fs::path& log_folder) {
  std::vector<std::pair<std::string, std::uintmax_t>> started;
  for (const auto& entry : fs::directory_iterator(log_folder)) {
    if (entry.path().extension() != ".log") continue;
    std::istringstream record(ReadText(entry.path()));
    std::string digest;
    std::uintmax_t size = 0;
    record >> digest >> size;
    started.emplace_back(digest, size);
  }
  return started;
}

std::size_t WaitForStarts(const fs::path& log_folder, std::size_t expected) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (StartedFiles(log_folder).size() < expected && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Anything started beyond the expected count shows up in this time too.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return StartedFiles(log_folder).size();
}

// The check that the concurrent runs rely on must see an incomplete start:
// a probe cut short still starts and records a digest of its own.
TEST_F(StagingRunTest, TheStartCheckSeesAnIncompleteProgram) {
  const fs::path log = root_ / "log";
  fs::create_directory(log);
  const fs::path cut = elsewhere_ / "Setup.exe";
  const std::string whole = ReadText(kLaunchProbe);
  std::ofstream(cut, std::ios::binary).write(whole.data(), whole.size() - 100000);
  fs::permissions(cut, fs::perms::owner_all);

  setenv("MERLAVOX_PROBE_LOG", log.c_str(), 1);
  host::RealServices().Launch(cut.string(), elsewhere_.string());
  unsetenv("MERLAVOX_PROBE_LOG");
  ASSERT_EQ(WaitForStarts(log, 1), 1u);
  const auto started = StartedFiles(log).front();
  EXPECT_NE(started.first, FileDigest(kLaunchProbe));
  EXPECT_EQ(started.second, whole.size() - 100000);
}

// Pairs of runs at the same time in one temporary folder, each pair finding
// what the earlier ones left (and their setup programs perhaps still
// running). A run may be refused while the other holds the folder, but
// every run that ends with 0 starts exactly one program, and every started
// program is the whole setup program.
TEST_F(StagingRunTest, ConcurrentRunsStartOnlyCompleteSetupPrograms) {
  const fs::path log = root_ / "log";
  fs::create_directory(log);
  const std::string whole_digest = FileDigest(kLaunchProbe);
  const auto whole_size = fs::file_size(kLaunchProbe);
  constexpr int kPairs = 20;
  std::size_t completed = 0, refused = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    ProgramRun first(kProbeProgram, tmp_, log);
    // From the same instant to well apart: some pairs meet in the folder,
    // some find the other's setup program running.
    std::this_thread::sleep_for(std::chrono::milliseconds(pair % 5 * 20));
    ProgramRun second(kProbeProgram, tmp_, log);
    for (ProgramRun* run : {&first, &second}) {
      std::string report;
      const int code = run->Finish(report);
      if (code == 0) {
        ++completed;
        EXPECT_EQ(report, "");
      } else {
        ++refused;
        EXPECT_EQ(code, 1);
        EXPECT_NE(report.find("Exception EInOutError"), std::string::npos) << report;
        EXPECT_NE(report.find("Es wird von einem anderen Prozess verwendet."), std::string::npos)
            << report;
      }
    }
  }
  const std::size_t started = WaitForStarts(log, completed);
  EXPECT_EQ(started, completed);
  for (const auto& [digest, size] : StartedFiles(log)) {
    EXPECT_EQ(digest, whole_digest);
    EXPECT_EQ(size, whole_size);
  }
  std::printf(
      "%d pairs: %zu runs completed, %zu refused while the other held the folder, "
      "%zu programs started, all of them whole: %s\n",
      kPairs, completed, refused, started, HasFailure() ? "no" : "yes");
}

}  // namespace
