// The portable parts of the host (paths, folder creation, the report's
// text, the exception classes) and the POSIX services under them.
#include "host/host.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>

#include "support/recording_services.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using test_support::CallKind;
using test_support::ReadBytes;
using test_support::ToBytes;
using test_support::WriteBytes;

const std::string sep(1, host::kPathSeparator);

TEST(WithBackslash, AddsOneSeparatorUnlessThereIsOne) {
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {"", ""},
      {"C:" + sep, "C:" + sep},
      {"C:" + sep + "Temp", "C:" + sep + "Temp" + sep},
      {sep, sep},
      {sep + "tmp" + sep + sep, sep + "tmp" + sep + sep},
      {"Inst-Setup_Merlavox", "Inst-Setup_Merlavox" + sep},
      // Only the last byte counts: a double-byte character whose second
      // byte is the separator ends the path as the separator does.
      {"\x83" + sep, "\x83" + sep},
  };
  for (const Case& c : cases) EXPECT_EQ(host::WithBackslash(c.path), c.expected) << c.path;
}

// Folder creation against a double whose folders exist only in a table, so
// that both hosts' spellings can be tried on one system.
TEST(ForceDirectories, ClimbsToTheFirstExistingLevelAndCreatesOutward) {
  struct Case {
    const char* name;
    const host::PathRules& rules;
    std::set<std::string> folders, files;
    std::string path;
    bool result;
    std::vector<std::string> created;  // CreateFolder calls, in order
  };
  const host::PathRules& win = host::kWindowsPathRules;
  const host::PathRules& posix = host::kPosixPathRules;
  const Case cases[] = {
      {"missing parents, outermost first",
       win,
       {"C:"},
       {},
       R"(C:\Temp\a\b)",
       true,
       {R"(C:\Temp)", R"(C:\Temp\a)", R"(C:\Temp\a\b)"}},
      {"one trailing backslash is dropped",
       win,
       {"C:", R"(C:\Temp)"},
       {},
       R"(C:\Temp\a\)",
       true,
       {R"(C:\Temp\a)"}},
      {"an existing folder", win, {"C:", R"(C:\Temp)"}, {}, R"(C:\Temp)", true, {}},
      {"below a file",
       win,
       {"C:", R"(C:\Temp)"},
       {R"(C:\Temp\file)"},
       R"(C:\Temp\file\sub)",
       false,
       {R"(C:\Temp\file)"}},
      {"a drive", win, {}, {}, "C:", true, {}},
      {"a drive's root", win, {}, {}, R"(C:\)", true, {}},
      {"a name ending in its delimiter after the cut", win, {}, {}, R"(C:\Temp\\)", true, {}},
      {"a drive-relative name climbs to the drive", win, {}, {}, "C:Temp", true, {"C:Temp"}},
      {"missing parents, outermost first",
       posix,
       {"/tmp"},
       {},
       "/tmp/a/b",
       true,
       {"/tmp/a", "/tmp/a/b"}},
      {"a level below the root", posix, {}, {}, "/a", true, {"/a"}},
      {"an existing folder", posix, {"/tmp"}, {}, "/tmp/", true, {}},
      {"below a file", posix, {"/tmp"}, {"/tmp/f"}, "/tmp/f/x", false, {"/tmp/f"}},
      {"the root", posix, {}, {}, "/", true, {}},
      {"a colon is a letter", posix, {"/tmp"}, {}, "/tmp/c:d", true, {"/tmp/c:d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.path);
    test_support::RecordingServices services;
    services.SimulateFolders(c.rules.separator, c.folders, c.files);

    EXPECT_EQ(host::ForceDirectories(c.path, c.rules, services), c.result);

    std::vector<std::string> created;
    for (const auto& call : services.CallsOf(CallKind::kCreateFolder)) created.push_back(call.path);
    EXPECT_EQ(created, c.created);
  }
}

TEST(ForceDirectories, RaisesForAnEmptyPath) {
  // The second: a relative name of one level climbs to an empty parent.
  for (const char* path : {"", "abc"}) {
    SCOPED_TRACE(path);
    for (const host::PathRules* rules : {&host::kWindowsPathRules, &host::kPosixPathRules}) {
      test_support::RecordingServices services;
      services.SimulateFolders(rules->separator, {});
      try {
        host::ForceDirectories(path, *rules, services);
        ADD_FAILURE() << "no exception";
      } catch (const host::EInOutError& e) {
        EXPECT_EQ(e.Message(), "Verzeichnis kann nicht erstellt werden");
        EXPECT_EQ(e.ErrorCode(), 3);
      }
      EXPECT_EQ(services.CountOf(CallKind::kCreateFolder), 0);
    }
  }
}

TEST(ForceDirectories, WorksOnThePosixHost) {
  test_support::TempFolder folder;
  const std::string deep = folder / "a/b/c";
  WriteBytes(folder / "file", ToBytes("a file"));

  EXPECT_TRUE(host::ForceDirectories(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(host::ForceDirectories(deep + "/"));  // exists: nothing to do
  EXPECT_FALSE(host::ForceDirectories(folder / "file/sub"));
  EXPECT_EQ(ReadBytes(folder / "file"), ToBytes("a file"));
  EXPECT_TRUE(host::ForceDirectories("/"));
  EXPECT_THROW(host::ForceDirectories(""), host::EInOutError);
}

TEST(FatalReport, TextAsTheRuntimeBuildsIt) {
  struct Case {
    const char* class_name;
    std::uintptr_t offset;
    std::string message, expected;
  };
  const Case cases[] = {
      {"EFCreateError", 0x1A2B,
       "Datei \"/tmp/x/Merlavox.ex_\" kann nicht erstellt werden. Not a directory",
       "Exception EFCreateError in Modul Setup_Merlavox bei 00001A2B.\n"
       "Datei \"/tmp/x/Merlavox.ex_\" kann nicht erstellt werden. Not a directory."},
      {"EResNotFound", 0xDEADBEEF, "Ressource Test9 wurde nicht gefunden",
       "Exception EResNotFound in Modul Setup_Merlavox bei DEADBEEF.\n"
       "Ressource Test9 wurde nicht gefunden."},
      {"Exception", 0, "Ends in a full stop.",
       "Exception Exception in Modul Setup_Merlavox bei 00000000.\nEnds in a full stop."},
      {"Exception", 0xA, "", "Exception Exception in Modul Setup_Merlavox bei 0000000A.\n"},
      {"Exception", 0xFFFF, "100%s sure",
       "Exception Exception in Modul Setup_Merlavox bei 0000FFFF.\n100%s sure."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host::FatalReportText(c.class_name, "Setup_Merlavox", c.offset, c.message),
              c.expected);
  }
  EXPECT_STREQ(host::kFatalReportTitle, "Anwendungsfehler");
}

template <class E>
bool Is(const host::Exception& e) {
  return dynamic_cast<const E*>(&e) != nullptr;
}

TEST(Exceptions, NamesAncestryAndMessages) {
  struct Case {
    std::function<void()> raise;
    const char* class_name;
    std::string message;
    // The chain of ancestors the object must have, and ones it must not.
    std::function<bool(const host::Exception&)> ancestry;
  };
  const Case cases[] = {
      {[] { host::Raise<host::EResNotFound>("Test9"); }, "EResNotFound",
       "Ressource Test9 wurde nicht gefunden",
       [](const host::Exception& e) { return !Is<host::EStreamError>(e); }},
      {[] { host::Raise<host::EFCreateError>("/tmp/a b", "Permission denied"); }, "EFCreateError",
       "Datei \"/tmp/a b\" kann nicht erstellt werden. Permission denied",
       [](const host::Exception& e) {
         return Is<host::EFileStreamError>(e) && Is<host::EStreamError>(e) &&
                !Is<host::EFilerError>(e);
       }},
      {[] { host::Raise<host::EWriteError>(); }, "EWriteError", "Stream-Schreibfehler",
       [](const host::Exception& e) {
         return Is<host::EFilerError>(e) && Is<host::EStreamError>(e) &&
                !Is<host::EFileStreamError>(e);
       }},
      {[] { host::Raise<host::EInOutError>(host::messages::kCreateDir, 3); }, "EInOutError",
       "Verzeichnis kann nicht erstellt werden",
       [](const host::Exception& e) { return !Is<host::EStreamError>(e); }},
      {[] { host::RaiseOutOfMemory(); }, "EOutOfMemory", "Zu wenig Arbeitsspeicher",
       [](const host::Exception& e) { return Is<host::EHeapException>(e); }},
      {[] { host::RaiseInvalidPointer(); }, "EInvalidPointer", "Ung\xC3\xBCltige Zeigeroperation",
       [](const host::Exception& e) { return Is<host::EHeapException>(e); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.class_name);
    try {
      c.raise();
      ADD_FAILURE() << "no exception";
    } catch (const host::Exception& e) {  // every one is caught by the base
      EXPECT_STREQ(e.ClassName(), c.class_name);
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_TRUE(c.ancestry(e));
      EXPECT_NE(e.Address(), nullptr) << "the raising address is kept for the report";
    }
  }
  // Caught by an intermediate class, the object keeps its own name.
  try {
    host::Raise<host::EFCreateError>("/x", "y");
  } catch (const host::EStreamError& e) {
    EXPECT_STREQ(e.ClassName(), "EFCreateError");
  }
}

// The POSIX services keep the contract the Windows calls give the callers.
class PosixServicesTest : public ::testing::Test {
 protected:
  host::Services& services = host::RealServices();
  test_support::TempFolder folder;
};

TEST_F(PosixServicesTest, CreatingReplacesButRefusesReadOnlyAndHeldFiles) {
  const std::string path = folder / "file";
  const Bytes old = ToBytes("old content that is longer");

  WriteBytes(path, old);
  host::FileHandle handle = services.CreateForWriting(path);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(services.Write(handle, "new", 3), 3);
  services.Flush(handle);
  services.Close(handle);
  EXPECT_EQ(ReadBytes(path), ToBytes("new"));

  // Read-only, even for root.
  WriteBytes(path, old);
  chmod(path.c_str(), 0444);
  EXPECT_LT(services.CreateForWriting(path), 0);
  EXPECT_EQ(services.LastErrorText(), "Permission denied");
  EXPECT_EQ(ReadBytes(path), old);
  chmod(path.c_str(), 0644);

  // Held open for reading: no second opener, the content stays.
  const host::FileHandle reader = services.OpenForReading(path);
  ASSERT_GT(reader, 0);
  EXPECT_LT(services.CreateForWriting(path), 0);
  EXPECT_EQ(services.LastErrorText(),
            "The process cannot access the file because it is being used by another process");
  EXPECT_LT(services.OpenForReading(path), 0);
  services.Close(reader);
  EXPECT_EQ(ReadBytes(path), old);

  // A file that is being created is held too; a new file that could not be
  // held is not left behind.
  handle = services.CreateForWriting(path);
  ASSERT_GT(handle, 0);
  EXPECT_LT(services.CreateForWriting(path), 0);
  services.Close(handle);

  EXPECT_LT(services.CreateForWriting(folder / "missing/file"), 0);
  EXPECT_LT(services.OpenForReading(folder / "missing"), 0);
}

TEST_F(PosixServicesTest, ReadsToTheEndAndReportsFailedCalls) {
  const std::string path = folder / "file";
  WriteBytes(path, ToBytes("0123456789"));
  const host::FileHandle handle = services.OpenForReading(path);
  ASSERT_GT(handle, 0);
  char buffer[8];
  EXPECT_EQ(services.Read(handle, buffer, 8), 8);
  EXPECT_EQ(services.Read(handle, buffer, 8), 2);
  EXPECT_EQ(services.Read(handle, buffer, 8), 0);
  EXPECT_EQ(services.Read(handle, buffer, 8), 0);
  EXPECT_EQ(services.Write(handle, buffer, 1), -1) << "opened for reading only";
  services.Close(handle);
  EXPECT_EQ(services.Read(handle, buffer, 8), -1) << "a closed handle";
}

// A device is neither emptied nor held: two writers share /dev/null.
TEST_F(PosixServicesTest, DevicesAreWrittenAsTheyAre) {
  const host::FileHandle null = services.CreateForWriting("/dev/null");
  ASSERT_GT(null, 0);
  const host::FileHandle second = services.CreateForWriting("/dev/null");
  ASSERT_GT(second, 0);
  EXPECT_EQ(services.Write(null, "abc", 3), 3);
  services.Close(second);
  services.Close(null);
  if (fs::is_character_file("/dev/full")) {
    const host::FileHandle full = services.CreateForWriting("/dev/full");
    ASSERT_GT(full, 0);
    EXPECT_EQ(services.Write(full, "abc", 3), -1);
    EXPECT_EQ(services.LastErrorText(), "No space left on device");
    services.Close(full);
  }
}

// Only files are deleted: a link goes without its target; a folder, a
// named pipe (and so a device node) stays.
TEST_F(PosixServicesTest, DeletesFilesOnly) {
  const std::string file = folder / "file", link = folder / "link", fifo = folder / "fifo",
                    sub = folder / "sub";
  WriteBytes(file, ToBytes("target"));
  fs::create_symlink(file, link);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  fs::create_directory(sub);

  services.Delete(link);
  EXPECT_FALSE(test_support::Exists(link));
  EXPECT_EQ(ReadBytes(file), ToBytes("target"));
  services.Delete(fifo);
  EXPECT_TRUE(test_support::Exists(fifo));
  services.Delete(sub);
  EXPECT_TRUE(fs::is_directory(sub));
  services.Delete(file);
  EXPECT_FALSE(test_support::Exists(file));
  services.Delete(file);  // already gone: silent
}

TEST_F(PosixServicesTest, PathsAndTheTemporaryFolder) {
  const fs::path cwd = fs::current_path();
  EXPECT_EQ(services.FullPath("x/y"), (cwd / "x/y").string());
  EXPECT_EQ(services.FullPath("/abs/y"), "/abs/y");
  EXPECT_TRUE(services.IsFolder(folder.Path().string()));
  EXPECT_FALSE(services.IsFolder(folder / "nothing"));

  const char* saved = std::getenv("TMPDIR");
  const std::optional<std::string> previous =
      saved ? std::optional(std::string(saved)) : std::nullopt;
  struct Case {
    std::optional<std::string> tmpdir;
    std::string expected;
  };
  const Case cases[] = {
      {std::nullopt, "/tmp/"},
      {"", "/tmp/"},
      {"/var/tmp", "/var/tmp/"},
      {"/var/tmp/", "/var/tmp/"},
      {"relative", (cwd / "relative").string() + "/"},
  };
  for (const Case& c : cases) {
    if (c.tmpdir) {
      setenv("TMPDIR", c.tmpdir->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    EXPECT_EQ(host::GetTempDir(), c.expected) << c.tmpdir.value_or("(unset)");
  }
  if (previous) {
    setenv("TMPDIR", previous->c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(PosixServicesTest, AProgramWithoutPayloadFindsNoResourceAndLaunchesSilently) {
  host::ResourceBytes bytes;
  EXPECT_FALSE(services.FindResource("FILE", "Test1", bytes));
  services.Launch(folder / "Setup.exe", folder.Path().string());  // nothing there: no failure
}

}  // namespace
