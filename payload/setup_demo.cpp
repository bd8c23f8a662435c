// The demo setup program. A real installer would read Setup.lst and
// install; this one records what it found, so that a run of the
// bootstrapper can be checked: "Setup.log" in its working folder holds the
// folder's path and, for each file that Setup.lst names, whether it is there.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::current_path(error);
  std::ofstream log("Setup.log", std::ios::binary);
  log << "Folder=" << folder.string() << "\r\n";
  std::ifstream list("Setup.lst", std::ios::binary);
  if (!list) {
    log << "Setup.lst=missing\r\n";
    return 1;
  }
  std::string line, section;
  int missing = 0;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      section = line;
      continue;
    }
    const auto eq = line.find('=');
    if (section != "[Files]" || eq == std::string::npos) continue;
    const std::string name = line.substr(eq + 1);
    const bool present = fs::is_regular_file(folder / name, error);
    missing += !present;
    log << name << '=' << (present ? "present" : "missing") << "\r\n";
  }
  return missing == 0 ? 0 : 1;
}
