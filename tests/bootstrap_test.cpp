// The bootstrap sequence and the extraction of one resource, run in the
// test process against the recording host: the payload comes from the
// double's resource table, the files are real, the launch is recorded.
#include "Setup_Merlavox/bootstrap.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "Setup_Merlavox/manifest.h"
#include "compress/compress_file.h"
#include "compress/expand.h"
#include "host/host.h"
#include "support/recording_services.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using test_support::Call;
using test_support::CallKind;
using test_support::Fault;
using test_support::ReadBytes;
using test_support::ToBytes;
using test_support::WriteBytes;

// What a run did, in the terms of the sequence: folders, resources, files
// and the launch, leaving out the expansion's own reads and writes.
std::vector<std::string> Outline(const std::vector<Call>& calls) {
  std::vector<std::string> out;
  bool expanding = false;
  for (const Call& call : calls) {
    switch (call.kind) {
      case CallKind::kCreateFolder:
        out.push_back("CreateFolder " + call.path);
        break;
      case CallKind::kFindResource:
        out.push_back("FindResource " + call.text + " " + call.path);
        break;
      case CallKind::kCreateForWriting:
        out.push_back("Create " + call.path);
        break;
      case CallKind::kOpenForReading:
        expanding = true;
        out.push_back("Open " + call.path);
        break;
      case CallKind::kWrite:
        if (!expanding) out.push_back("Write " + std::to_string(call.requested));
        break;
      case CallKind::kClose:
        if (!expanding) out.push_back("Close " + call.path);
        break;
      case CallKind::kLaunch:
        out.push_back("Launch " + call.path + " in " + call.text);
        break;
      default:
        break;
    }
  }
  return out;
}

class BootstrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tmp = std::getenv("TMPDIR")) saved_tmpdir_ = tmp;
    temp = folder / "missing/temp";
    setenv("TMPDIR", (temp + "/").c_str(), 1);
    staging = temp + "/Inst-Setup_Merlavox";
    for (std::size_t i = 0; i < 10; ++i) {
      payload.push_back(ToBytes("content of entry " + std::to_string(i + 1)));
    }
    payload[8] = compress::CompressToContainer(setup_program);
  }
  void TearDown() override {
    if (saved_tmpdir_) {
      setenv("TMPDIR", saved_tmpdir_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

  // Stores the payload as the executable does: names in upper case.
  static void AddPayload(test_support::RecordingServices& services,
                         const std::vector<Bytes>& payload,
                         std::optional<int> omit = std::nullopt) {
    for (int i = 0; i < 10; ++i) {
      if (omit == i + 1) continue;
      services.AddResource("FILE", "TEST" + std::to_string(i + 1), payload[i]);
    }
  }

  std::string InStaging(std::string_view name) const { return staging + "/" + std::string(name); }

  test_support::TempFolder folder;
  test_support::RecordingServices services;
  test_support::InstallScope installed{services};
  std::string temp, staging;
  const Bytes setup_program = ToBytes(std::string(40000, 'S') + "the setup program");
  std::vector<Bytes> payload;

 private:
  std::optional<std::string> saved_tmpdir_;
};

TEST_F(BootstrapTest, WritesThePayloadExpandsAndLaunchesInOrder) {
  AddPayload(services, payload);
  setup_merlavox::RunBootstrap();

  std::vector<std::string> expected = {
      "CreateFolder " + folder / "missing",
      "CreateFolder " + temp,
      "CreateFolder " + staging,
  };
  for (std::size_t i = 0; i < 10; ++i) {
    const auto& entry = setup_merlavox::kPayloadManifest[i];
    expected.push_back("FindResource FILE " + std::string(entry.resource_name));
    expected.push_back("Create " + InStaging(entry.file_name));
    expected.push_back("Write " + std::to_string(payload[i].size()));
    expected.push_back("Close " + InStaging(entry.file_name));
  }
  expected.push_back("Open " + InStaging("Setup.ex_"));
  expected.push_back("Create " + InStaging("Setup.exe"));
  expected.push_back("Launch " + InStaging("Setup.exe") + " in " + staging);
  EXPECT_EQ(Outline(services.Calls()), expected);
  EXPECT_EQ(services.Calls().back().kind, CallKind::kLaunch);

  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(ReadBytes(InStaging(setup_merlavox::kPayloadManifest[i].file_name)), payload[i]);
  }
  EXPECT_EQ(ReadBytes(InStaging("Setup.exe")), setup_program);
  EXPECT_EQ(setup_merlavox::StagingDir, staging);
  EXPECT_EQ(compress::InFileName, InStaging("Setup.ex_"));
  EXPECT_EQ(compress::OutFileName, InStaging("Setup.exe"));
  EXPECT_EQ(setup_merlavox::LaunchPath, InStaging("Setup.exe"));
  EXPECT_EQ(host::TheApplication().Title(), "Setup_Merlavox");
  EXPECT_EQ(services.OpenHandles(), 0u);
  EXPECT_EQ(services.LiveBlocks(), 0u);
}

// A failure while the payload is written ends the sequence: nothing is
// expanded or started, the entries before it stand, those after it do not.
TEST_F(BootstrapTest, AFailingEntryEndsTheSequence) {
  using Double = test_support::RecordingServices;
  struct Case {
    const char* name;
    std::function<void(Double&)> arrange;
    int failing_entry;  // 1-based
    const char* class_name;
    std::string message;
    Bytes failing_file;  // what stands at entry k's file afterwards
  };
  const Bytes earlier = ToBytes("from an earlier run");
  const Case cases[] = {
      {"entry 5 is missing", [&](Double& s) { AddPayload(s, payload, 5); }, 5, "EResNotFound",
       "Ressource Test5 wurde nicht gefunden", earlier},
      {"entry 3 cannot be created",
       [&](Double& s) {
         AddPayload(s, payload);
         s.FailCall(CallKind::kCreateForWriting, 3);
       },
       3, "EFCreateError",
       "Datei \"" + InStaging("Liesmich.txt") + "\" kann nicht erstellt werden. Injected failure",
       earlier},
      {"entry 7's write is short",
       [&](Double& s) {
         AddPayload(s, payload);
         s.FailCall(CallKind::kWrite, 7, Fault::kShort, 3);
       },
       7, "EWriteError", "Stream-Schreibfehler", ToBytes("con")},
      {"entry 10's write fails",
       [&](Double& s) {
         AddPayload(s, payload);
         s.FailCall(CallKind::kWrite, 10);
       },
       10, "EWriteError", "Stream-Schreibfehler", Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Double services;
    test_support::InstallScope scope(services);
    fs::remove_all(folder / "missing");
    fs::create_directories(staging);
    // Files from an earlier run: the failing entry's and Setup.exe.
    const std::string failing =
        InStaging(setup_merlavox::kPayloadManifest[c.failing_entry - 1].file_name);
    WriteBytes(failing, earlier);
    WriteBytes(InStaging("Setup.exe"), earlier);
    c.arrange(services);

    try {
      setup_merlavox::RunBootstrap();
      ADD_FAILURE() << "no exception";
    } catch (const host::Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.class_name);
      EXPECT_EQ(e.Message(), c.message);
    }

    for (int k = 1; k <= 10; ++k) {
      const std::string path = InStaging(setup_merlavox::kPayloadManifest[k - 1].file_name);
      if (k < c.failing_entry) {
        EXPECT_EQ(ReadBytes(path), payload[k - 1]) << k;
      } else if (k == c.failing_entry) {
        EXPECT_EQ(ReadBytes(path), c.failing_file);
      } else {
        EXPECT_FALSE(fs::exists(path)) << k;
      }
    }
    EXPECT_EQ(ReadBytes(InStaging("Setup.exe")), earlier);
    EXPECT_EQ(services.CountOf(CallKind::kOpenForReading), 0) << "nothing is expanded";
    EXPECT_EQ(services.CountOf(CallKind::kLaunch), 0) << "nothing is started";
    EXPECT_EQ(services.OpenHandles(), 0u);
    EXPECT_EQ(services.LiveBlocks(), 0u);
  }
}

// Whatever becomes of the expansion or the launch, the sequence ends
// normally, and the launch is made all the same.
TEST_F(BootstrapTest, ExpansionAndLaunchFailuresPassSilently) {
  using Double = test_support::RecordingServices;
  struct Case {
    const char* name;
    std::function<void(Double&, std::vector<Bytes>&)> arrange;
    std::optional<Bytes> setup_exe;  // what stands as Setup.exe afterwards
  };
  const Bytes earlier = ToBytes("an earlier Setup.exe, still running");
  const Case cases[] = {
      {"Setup.ex_ is not compressed",
       [&](Double&, std::vector<Bytes>& p) { p[8] = ToBytes("plain text"); }, std::nullopt},
      {"an earlier Setup.exe cannot be replaced",
       [&](Double&, std::vector<Bytes>&) {
         fs::create_directories(staging);
         WriteBytes(InStaging("Setup.exe"), earlier);
         chmod(InStaging("Setup.exe").c_str(), 0444);
       },
       earlier},
      {"the I/O buffers cannot be allocated",
       [&](Double& s, std::vector<Bytes>&) { s.FailCall(CallKind::kAllocate, 1); }, std::nullopt},
      {"the launch fails",
       [&](Double& s, std::vector<Bytes>&) { s.FailCall(CallKind::kLaunch, 1); }, setup_program},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Double services;
    test_support::InstallScope scope(services);
    fs::remove_all(folder / "missing");
    std::vector<Bytes> p = payload;
    c.arrange(services, p);
    AddPayload(services, p);

    EXPECT_NO_THROW(setup_merlavox::RunBootstrap());

    const auto launches = services.CallsOf(CallKind::kLaunch);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].path, InStaging("Setup.exe"));
    EXPECT_EQ(launches[0].text, staging);
    if (c.setup_exe) {
      EXPECT_EQ(ReadBytes(InStaging("Setup.exe")), *c.setup_exe);
    } else {
      EXPECT_FALSE(fs::exists(InStaging("Setup.exe")));
    }
    EXPECT_EQ(ReadBytes(InStaging("Setup.ex_")), p[8]) << "the input is kept";
    EXPECT_EQ(services.OpenHandles(), 0u);
    EXPECT_EQ(services.LiveBlocks(), 0u);
  }
}

TEST_F(BootstrapTest, ExtractResourceFileWritesOneResourceAsStored) {
  using Double = test_support::RecordingServices;
  fs::create_directories(staging);
  const std::string path = InStaging("file");
  const std::string in_missing_folder = InStaging("none/file");
  struct Case {
    const char* name;
    std::function<void(Double&)> arrange;
    std::string asked, target;
    const char* class_name;  // nullptr: no exception
    std::string message;
    std::optional<Bytes> left;  // the file afterwards; none: no file
    int writes;
  };
  const Bytes stored = ToBytes("ten bytes.");
  const Bytes longer = ToBytes("an earlier, longer file of the same name");
  auto existing = [&](const Bytes& bytes, mode_t mode) {
    return [&, bytes, mode](Double&) {
      WriteBytes(path, bytes);
      chmod(path.c_str(), mode);
    };
  };
  auto nothing = [](Double&) {};
  const Case cases[] = {
      {"a resource of 0 bytes: an empty file, no write",
       [](Double& s) { s.AddResource("FILE", "EMPTY", {}); }, "Empty", path, nullptr, "", Bytes{},
       0},
      {"a longer file is replaced", existing(longer, 0644), "Test1", path, nullptr, "", stored, 1},
      {"the case of the asked name makes no difference", nothing, "tEsT1", path, nullptr, "",
       stored, 1},
      {"a read-only file keeps its content", existing(longer, 0444), "Test1", path, "EFCreateError",
       "Datei \"" + path + "\" kann nicht erstellt werden. Permission denied", longer, 0},
      {"a missing folder", nothing, "Test1", in_missing_folder, "EFCreateError",
       "Datei \"" + in_missing_folder + "\" kann nicht erstellt werden. No such file or directory",
       std::nullopt, 0},
      {"a missing name, shown as asked", existing(longer, 0644), "Test9", path, "EResNotFound",
       "Ressource Test9 wurde nicht gefunden", longer, 0},
      {"a short write leaves what was written",
       [](Double& s) { s.FailCall(CallKind::kWrite, 1, Fault::kShort, 4); }, "Test1", path,
       "EWriteError", "Stream-Schreibfehler", ToBytes("ten "), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(path);
    Double services;
    test_support::InstallScope scope(services);
    services.AddResource("FILE", "TEST1", stored);
    c.arrange(services);

    try {
      EXPECT_TRUE(setup_merlavox::ExtractResourceFile("FILE", c.asked, c.target));
      EXPECT_EQ(c.class_name, nullptr) << "no exception";
    } catch (const host::Exception& e) {
      ASSERT_NE(c.class_name, nullptr) << e.ClassName() << ": " << e.Message();
      EXPECT_STREQ(e.ClassName(), c.class_name);
      EXPECT_EQ(e.Message(), c.message);
    }
    if (c.left) {
      EXPECT_EQ(ReadBytes(c.target), *c.left);
    } else {
      EXPECT_FALSE(fs::exists(c.target));
    }
    EXPECT_EQ(services.CountOf(CallKind::kWrite), c.writes);
    EXPECT_EQ(services.OpenHandles(), 0u);
  }
}

}  // namespace
