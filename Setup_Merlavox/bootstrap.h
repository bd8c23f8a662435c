// The program's whole job: stage the payload, expand the setup program,
// start it.
#pragma once

#include <string>

namespace setup_merlavox {

inline constexpr const char* kProgramName = "Setup_Merlavox";
inline constexpr const char* kStagingPrefix = "Inst-";
inline constexpr const char* kCompressedSetup = "Setup.ex_";
inline constexpr const char* kSetupProgram = "Setup.exe";

extern std::string StagingDir;
extern std::string LaunchPath;

// Writes one resource into a new file, byte for byte. True whenever it
// returns; every failure raises (EResNotFound, EFCreateError, EWriteError).
bool ExtractResourceFile(const std::string& resType, const std::string& resName,
                         const std::string& fileName);

// The entry sequence, from the application object to the launch.
void RunBootstrap();

}  // namespace setup_merlavox
