// Reading the test data: whole files, the "!HZL" container split into its
// length field and code stream, and the vectors' manifest.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_support {

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A compressed file taken apart without the production code's help.
struct Container {
  std::int32_t expanded_length = 0;
  std::span<const std::uint8_t> code;
};

inline Container SplitContainer(std::span<const std::uint8_t> file) {
  if (file.size() < 8 || file[0] != '!' || file[1] != 'H' || file[2] != 'Z' || file[3] != 'L') {
    throw std::runtime_error("not a compressed file");
  }
  const std::uint32_t length =
      static_cast<std::uint32_t>(file[4]) | static_cast<std::uint32_t>(file[5]) << 8 |
      static_cast<std::uint32_t>(file[6]) << 16 | static_cast<std::uint32_t>(file[7]) << 24;
  return {static_cast<std::int32_t>(length), file.subspan(8)};
}

struct ManifestEntry {
  std::string file;
  std::size_t expanded_bytes = 0;
  std::string sha256;
};

// The rows of vectors/MANIFEST.tsv, header line skipped.
inline std::vector<ManifestEntry> ReadManifest(const std::string& vectors_dir) {
  std::ifstream in(vectors_dir + "/MANIFEST.tsv");
  if (!in) throw std::runtime_error("cannot open the manifest in " + vectors_dir);
  std::vector<ManifestEntry> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    ManifestEntry e;
    std::string bytes;
    std::getline(fields, e.file, '\t');
    std::getline(fields, bytes, '\t');
    std::getline(fields, e.sha256, '\t');
    e.expanded_bytes = std::stoul(bytes);
    rows.push_back(e);
  }
  return rows;
}

}  // namespace test_support
