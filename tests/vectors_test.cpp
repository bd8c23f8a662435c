// Every vector of data/vectors expanded twice, through the file driver and
// through the decoder's procedure entry, and compared by length and SHA-256
// with data/vectors/MANIFEST.tsv. Small and self-contained on purpose: it is
// what the 32-bit build runs under qemu-i386 to show that the core behaves
// the same there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "compress/container.h"
#include "compress/expand.h"
#include "lzh/unpack.h"
#include "support/sha256.h"

namespace {

namespace fs = std::filesystem;

struct Vector {
  std::string file;
  std::uint64_t expanded_bytes;
  std::string sha256;
};

void PrintTo(const Vector& vector, std::ostream* os) {
  *os << vector.file;
}

const fs::path kVectors = fs::path(MERLAVOX_TEST_DATA) / "vectors";

std::vector<Vector> LoadManifest() {
  std::ifstream in(kVectors / "MANIFEST.tsv");
  std::vector<Vector> vectors;
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Vector vector;
    std::string bytes;
    if (std::getline(fields, vector.file, '\t') && std::getline(fields, bytes, '\t') &&
        std::getline(fields, vector.sha256, '\t')) {
      vector.expanded_bytes = std::stoull(bytes);
      vectors.push_back(vector);
    }
  }
  return vectors;
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The decoder's procedure entry, through plain procedures over memory.
struct MemoryStream {
  const std::vector<std::uint8_t>* input = nullptr;
  std::size_t next = 0;
  test_support::Sha256 hash;
  std::uint64_t emitted = 0;
} memory;

void MemorySource(void* buffer, std::uint16_t count, std::uint16_t& actual) {
  actual = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (actual < count && memory.next < memory.input->size()) {
    out[actual++] = (*memory.input)[memory.next++];
  }
}

void MemorySink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  memory.hash.Update({static_cast<const std::uint8_t*>(buffer), count});
  memory.emitted += count;
  accepted = count;
}

class VectorTest : public testing::TestWithParam<Vector> {};

TEST(VectorManifest, ListsEveryVector) {
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(kVectors)) {
    files += entry.path().extension() == ".hzl";
  }
  EXPECT_EQ(LoadManifest().size(), files);
}

TEST_P(VectorTest, ExpandFileGivesTheListedBytes) {
  const fs::path out = fs::temp_directory_path() /
                       ("merlavox-vector-" + std::to_string(getpid()) + "-" + GetParam().file);
  compress::InFileName = (kVectors / GetParam().file).string();
  compress::OutFileName = out.string();
  ASSERT_EQ(compress::ExpandFile(), 1);
  const auto expanded = ReadAll(out);
  fs::remove(out);
  EXPECT_EQ(expanded.size(), GetParam().expanded_bytes);
  EXPECT_EQ(test_support::Sha256Hex(expanded), GetParam().sha256);
}

TEST_P(VectorTest, UnpackStreamGivesTheListedBytes) {
  const auto file = ReadAll(kVectors / GetParam().file);
  ASSERT_GE(file.size(), compress::HeaderSize);
  const auto length = static_cast<std::int32_t>(compress::LoadLittleEndian32(file.data() + 4));
  const std::vector<std::uint8_t> stream(file.begin() + compress::HeaderSize, file.end());
  memory = MemoryStream{};
  memory.input = &stream;
  lzh::UnpackStream(length, MemorySource, MemorySink);
  EXPECT_EQ(memory.emitted, GetParam().expanded_bytes);
  EXPECT_EQ(memory.hash.HexDigest(), GetParam().sha256);
}

INSTANTIATE_TEST_SUITE_P(Vectors, VectorTest, testing::ValuesIn(LoadManifest()),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
