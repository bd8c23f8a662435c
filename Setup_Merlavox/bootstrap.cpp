#include "Setup_Merlavox/bootstrap.h"

#include <array>

#include "Setup_Merlavox/manifest.h"
#include "compress/expand.h"
#include "host/host.h"

namespace setup_merlavox {

std::string StagingDir;
std::string LaunchPath;

namespace {

// Every file the sequence writes or starts in the staging folder.
constexpr auto kStagedFiles = [] {
  std::array<std::string_view, kPayloadManifest.size() + 1> names{};
  for (std::size_t i = 0; i < kPayloadManifest.size(); ++i) {
    names[i] = kPayloadManifest[i].file_name;
  }
  names.back() = kSetupProgram;
  return names;
}();

}  // namespace

bool ExtractResourceFile(const std::string& resType, const std::string& resName,
                         const std::string& fileName) {
  // The bytes go from where they lie in the loaded program straight into
  // the file, in one write. The stream closes the file on every way out.
  host::ResourceStream resource(resName, resType);
  host::FileStream file(fileName);
  file.WriteAll(resource.Data(), resource.Size());
  file.Close();
  return true;
}

void RunBootstrap() {
  host::Application& application = host::TheApplication();
  application.Initialize();
  application.SetTitle(kProgramName);

  // The temporary folder's own trailing separator stands before "Inst-".
  StagingDir = host::GetTempDir() + kStagingPrefix + kProgramName;
  host::ForceDirectories(StagingDir);  // a failure shows when entry 1 is created
  // Before anything is written: a folder that others could have prepared
  // ends the run here.
  host::Current().ClaimStagingFolder(StagingDir, kStagedFiles);

  const std::string folder = host::WithBackslash(StagingDir);
  for (const ManifestEntry& entry : kPayloadManifest) {
    ExtractResourceFile(std::string(kResourceType), std::string(entry.resource_name),
                        folder + std::string(entry.file_name));
  }

  compress::InFileName = folder + kCompressedSetup;
  compress::OutFileName = folder + kSetupProgram;
  compress::ExpandFile();  // a failed expansion still launches what stands there

  LaunchPath = folder + kSetupProgram;
  host::Current().Launch(LaunchPath, StagingDir);

  application.Run();
}

}  // namespace setup_merlavox
