#include "host/host.h"

namespace host {

std::string WithBackslash(std::string_view path) {
  std::string result(path);
  // Only the last byte counts, with no regard to double-byte character sets.
  if (!result.empty() && result.back() != kPathSeparator) result.push_back(kPathSeparator);
  return result;
}

bool ForceDirectories(std::string_view path, const PathRules& rules, Services& services) {
  if (path.empty()) {
    Raise<EInOutError>(messages::kCreateDir, 3);
  }
  std::string dir(path);
  if (dir.back() == rules.separator) dir.pop_back();

  std::size_t cut = dir.size();
  while (cut > 0 && dir[cut - 1] != rules.separator &&
         !(rules.colon_is_delimiter && dir[cut - 1] == ':')) {
    --cut;
  }
  const std::string parent = dir.substr(0, cut);  // up to and including the delimiter

  // Roots ("C:", "C:\", "/") and existing folders end the climb.
  if (dir.size() < rules.shortest_folder || services.IsFolder(dir) || parent == dir) return true;
  // A relative name of one level climbs to an empty parent, which raises as
  // an empty path does; the runtime's callers hand it absolute paths.
  if (!ForceDirectories(parent, rules, services)) return false;
  return services.CreateFolder(dir);
}

bool ForceDirectories(std::string_view path) {
  return ForceDirectories(path, kHostPathRules, Current());
}

}  // namespace host
