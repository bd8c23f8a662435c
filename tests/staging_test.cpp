// The POSIX host's staging folder: what ClaimStagingFolder refuses, and that
// after a claim the files of the folder are created, read, deleted and
// started only through the folder that was checked, never through a
// symbolic link. The tests run as root in CI, so "another user" is a folder
// handed to nobody with chown.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "host/host.h"
#include "host/posix/staging_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> kNames = {"Merlavox.ex_", "Setup.lst", "Setup.exe"};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::size_t Entries(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Waits for a started program's trace; a program that was not started
// leaves none, which the caller checks after its own positive case.
bool AppearsWithin(const fs::path& path, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return fs::exists(path);
}

class StagingFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "merlavox-staging-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    folder_ = root_ / "Inst-Setup_Merlavox";
    elsewhere_ = root_ / "elsewhere";
    fs::create_directory(elsewhere_);
  }

  void TearDown() override {
    // A later test must not find this one's claim.
    host::RealServices().ClaimStagingFolder((root_ / "released").string(), {});
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void MakePrivateFolder() const { ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0); }

  void Claim() const { host::RealServices().ClaimStagingFolder(folder_.string(), kNames); }

  std::string In(std::string_view name) const { return (folder_ / name).string(); }

  // A script that records where it ran into the given file.
  static void WriteProbeScript(const fs::path& script, const fs::path& trace) {
    WriteText(script, "#!/bin/sh\npwd -P >> '" + trace.string() + "'\n");
    fs::permissions(script, fs::perms::owner_all);
  }

  fs::path root_, folder_, elsewhere_;
};

struct Refusal {
  const char* name;
  std::function<void(const fs::path& folder, const fs::path& elsewhere)> prepare;
  std::string reason;
  int error_code;
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
  *os << refusal.name;
}

// "nobody" on Debian; any user other than the one running the tests would
// do, and a number needs no user database in the static 32-bit build.
constexpr uid_t kAnotherUser = 65534;

const Refusal kRefusals[] = {
    {"MadeByAnotherUser",
     [](const fs::path& f, const fs::path&) {
       mkdir(f.c_str(), 0700);
       ASSERT_EQ(chown(f.c_str(), kAnotherUser, static_cast<gid_t>(-1)), 0);
     },
     "Es geh\xC3\xB6rt einem anderen Benutzer", 5},
    {"WritableByEveryone",
     [](const fs::path& f, const fs::path&) {
       mkdir(f.c_str(), 0700);
       chmod(f.c_str(), 0777);
     },
     "Andere Benutzer d\xC3\xBCrfen darin schreiben", 5},
    {"WritableByTheGroup",
     [](const fs::path& f, const fs::path&) {
       mkdir(f.c_str(), 0700);
       chmod(f.c_str(), 0770);
     },
     "Andere Benutzer d\xC3\xBCrfen darin schreiben", 5},
    {"LinkToAFolderOfOurOwn",
     [](const fs::path& f, const fs::path& elsewhere) {
       fs::create_directory_symlink(elsewhere, f);
     },
     "Es ist eine symbolische Verkn\xC3\xBCpfung", 5},
    {"LinkToNothing",
     [](const fs::path& f, const fs::path& elsewhere) {
       fs::create_directory_symlink(elsewhere / "missing", f);
     },
     "Es ist eine symbolische Verkn\xC3\xBCpfung", 5},
    {"SetupExeIsALink",
     [](const fs::path& f, const fs::path& elsewhere) {
       mkdir(f.c_str(), 0700);
       fs::create_symlink(elsewhere / "Setup.exe", f / "Setup.exe");
     },
     "\"Setup.exe\" darin ist eine symbolische Verkn\xC3\xBCpfung", 5},
    {"PayloadFileIsALink",
     [](const fs::path& f, const fs::path& elsewhere) {
       mkdir(f.c_str(), 0700);
       fs::create_symlink(elsewhere / "Setup.lst", f / "Setup.lst");
     },
     "\"Setup.lst\" darin ist eine symbolische Verkn\xC3\xBCpfung", 5},
};

class RefusedFolder : public StagingFolderTest, public testing::WithParamInterface<Refusal> {};

TEST_P(RefusedFolder, RaisesEInOutErrorNamingFolderAndReason) {
  GetParam().prepare(folder_, elsewhere_);
  try {
    Claim();
    FAIL() << "the folder was accepted";
  } catch (const host::EInOutError& e) {
    EXPECT_EQ(e.Message(), "Verzeichnis \"" + folder_.string() +
                               "\" kann nicht verwendet werden. " + GetParam().reason);
    EXPECT_STREQ(e.ClassName(), "EInOutError");
    EXPECT_EQ(e.ErrorCode(), GetParam().error_code);
  }
  EXPECT_EQ(Entries(elsewhere_), 0u) << "something was made through the link";
}

INSTANTIATE_TEST_SUITE_P(Staging, RefusedFolder, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StagingFolderTest, AcceptsAFolderOfOurOwnThatOthersMayOnlyRead) {
  ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
  // A link under a name the program never writes is left alone.
  fs::create_symlink(elsewhere_, folder_ / "notes");
  EXPECT_NO_THROW(Claim());
}

TEST_F(StagingFolderTest, FoldersAreMadePrivate) {
  const mode_t old_mask = umask(0);
  const bool made = host::ForceDirectories((root_ / "tmp" / "Inst-Setup_Merlavox").string());
  umask(old_mask);
  ASSERT_TRUE(made);
  for (const fs::path& level : {root_ / "tmp", root_ / "tmp" / "Inst-Setup_Merlavox"}) {
    struct stat st;
    ASSERT_EQ(stat(level.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << level;
  }
}

TEST_F(StagingFolderTest, OneRunAtATime) {
  MakePrivateFolder();
  host::posix::StagingFolder other_run;
  other_run.Claim(folder_.string(), kNames);
  try {
    Claim();
    FAIL() << "two runs hold the folder";
  } catch (const host::EInOutError& e) {
    EXPECT_EQ(e.Message(), "Verzeichnis \"" + folder_.string() +
                               "\" kann nicht verwendet werden. Es wird von einem anderen "
                               "Prozess verwendet");
    EXPECT_EQ(e.ErrorCode(), 32);
  }
  other_run.Release();
  EXPECT_NO_THROW(Claim());
}

TEST_F(StagingFolderTest, FilesGoThroughTheClaimedFolderWhateverItsPathNamesLater) {
  MakePrivateFolder();
  WriteText(folder_ / "Setup.ex_", "input");
  Claim();
  // Someone swaps the path for a link to a folder of theirs.
  const fs::path moved = root_ / "moved";
  fs::rename(folder_, moved);
  fs::create_directory_symlink(elsewhere_, folder_);

  host::Services& services = host::RealServices();
  const host::FileHandle out = services.CreateForWriting(In("Setup.lst"));
  ASSERT_GT(out, 0);
  EXPECT_EQ(services.Write(out, "list", 4), 4);
  services.Close(out);
  const host::FileHandle in = services.OpenForReading(In("Setup.ex_"));
  ASSERT_GT(in, 0);
  char buffer[8] = {};
  EXPECT_EQ(services.Read(in, buffer, sizeof buffer), 5);
  services.Close(in);
  services.Delete(In("Setup.ex_"));

  EXPECT_EQ(ReadText(moved / "Setup.lst"), "list");
  EXPECT_FALSE(fs::exists(moved / "Setup.ex_"));
  EXPECT_EQ(Entries(elsewhere_), 0u);
}

TEST_F(StagingFolderTest, NoLinkInsideIsFollowedAfterTheClaim) {
  MakePrivateFolder();
  Claim();
  WriteText(elsewhere_ / "target", "theirs");
  fs::create_symlink(elsewhere_ / "target", folder_ / "Setup.lst");
  fs::create_symlink(elsewhere_ / "target", folder_ / "Setup.ex_");
  host::Services& services = host::RealServices();
  EXPECT_LT(services.CreateForWriting(In("Setup.lst")), 0);
  EXPECT_LT(services.OpenForReading(In("Setup.ex_")), 0);
  EXPECT_EQ(ReadText(elsewhere_ / "target"), "theirs");
}

TEST_F(StagingFolderTest, AFolderThatCouldNotBeMadeFailsItsFilesEvenIfItAppearsLater) {
  Claim();  // not there: no refusal
  ASSERT_EQ(mkdir(folder_.c_str(), 0777), 0);
  host::Services& services = host::RealServices();
  EXPECT_LT(services.CreateForWriting(In("Merlavox.ex_")), 0);
  EXPECT_EQ(services.LastErrorText(), "No such file or directory");
  EXPECT_EQ(Entries(folder_), 0u);
}

TEST_F(StagingFolderTest, AFileInPlaceOfTheFolderFailsItsFilesAsBefore) {
  WriteText(folder_, "a file");
  Claim();
  host::Services& services = host::RealServices();
  EXPECT_LT(services.CreateForWriting(In("Merlavox.ex_")), 0);
  EXPECT_EQ(services.LastErrorText(), "Not a directory");
}

TEST_F(StagingFolderTest, LaunchStartsFromTheClaimedFolder) {
  MakePrivateFolder();
  const fs::path trace = root_ / "trace";
  WriteProbeScript(folder_ / "Setup.exe", trace);
  Claim();
  const fs::path moved = root_ / "moved";
  fs::rename(folder_, moved);
  fs::create_directory_symlink(elsewhere_, folder_);
  WriteProbeScript(elsewhere_ / "Setup.exe", root_ / "wrong");

  host::RealServices().Launch(In("Setup.exe"), folder_.string());
  ASSERT_TRUE(AppearsWithin(trace, std::chrono::seconds(10)));
  EXPECT_EQ(ReadText(trace), fs::canonical(moved).string() + "\n");
  EXPECT_FALSE(fs::exists(root_ / "wrong"));
}

TEST_F(StagingFolderTest, LaunchRefusesAFileThatIsHeldAndALinkInside) {
  MakePrivateFolder();
  const fs::path trace = root_ / "trace";
  WriteProbeScript(folder_ / "Setup.exe", trace);
  WriteProbeScript(elsewhere_ / "Setup.exe", trace);
  Claim();
  fs::create_symlink(elsewhere_ / "Setup.exe", folder_ / "Linked.exe");
  host::Services& services = host::RealServices();

  const host::FileHandle held = services.OpenForReading(In("Setup.exe"));
  ASSERT_GT(held, 0);
  services.Launch(In("Setup.exe"), folder_.string());   // held: refused
  services.Launch(In("Linked.exe"), folder_.string());  // a link: refused
  services.Close(held);
  services.Launch(In("Setup.exe"), folder_.string());  // free: started

  ASSERT_TRUE(AppearsWithin(trace, std::chrono::seconds(10)));
  // A refused launch would have started before the last one.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(ReadText(trace), fs::canonical(folder_).string() + "\n");
}

}  // namespace
