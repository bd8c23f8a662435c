// One expansion of a compressed file through a chosen decoder, for
// profilers: `valgrind --tool=callgrind decoder_profile buffered FILE.hzl`
// counts instructions without the noise of a shared machine.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lzh/unpack.h"
#include "lzh/unpack_core.h"
#include "support/reference_decoder.h"
#include "support/sha256.h"
#include "support/test_files.h"

namespace {

struct MemorySource {
  const std::uint8_t* pos;
  const std::uint8_t* end;
  unsigned NextByte() { return pos < end ? *pos++ : 0u; }
};
struct MemorySink {
  std::uint8_t* pos;
  std::uint8_t* end;
  void Put(std::uint8_t byte) {
    if (pos < end) *pos++ = byte;
  }
};

const std::uint8_t* g_in_pos;
const std::uint8_t* g_in_end;
std::uint8_t* g_out_pos;
std::uint8_t* g_out_end;

void Source(void* buffer, std::uint16_t, std::uint16_t& actual) {
  actual = 0;
  if (g_in_pos < g_in_end) {
    *static_cast<std::uint8_t*>(buffer) = *g_in_pos++;
    actual = 1;
  }
}
void Sink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  if (g_out_pos < g_out_end) *g_out_pos++ = *static_cast<const std::uint8_t*>(buffer);
  accepted = count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: decoder_profile buffered|callbacks|literal FILE.hzl [TIMES]\n");
    return 2;
  }
  const std::string kind = argv[1];
  const auto file = test_support::ReadFileBytes(argv[2]);
  const auto container = test_support::SplitContainer(file);
  const int times = argc > 3 ? std::atoi(argv[3]) : 1;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(container.expanded_length, 0)) +
                                60);
  for (int k = 0; k < times; ++k) {
    g_in_pos = container.code.data();
    g_in_end = g_in_pos + container.code.size();
    g_out_pos = out.data();
    g_out_end = out.data() + out.size();
    if (kind == "buffered") {
      MemorySource source{g_in_pos, g_in_end};
      MemorySink sink{g_out_pos, g_out_end};
      lzh::UnpackWith(container.expanded_length, source, sink);
    } else if (kind == "callbacks") {
      lzh::UnpackStream(container.expanded_length, Source, Sink);
    } else if (kind == "literal") {
      reference_lzh::ReferenceUnpackStream(container.expanded_length, Source, Sink);
    } else {
      std::fprintf(stderr, "unknown decoder %s\n", kind.c_str());
      return 2;
    }
  }
  out.resize(static_cast<std::size_t>(std::max(container.expanded_length, 0)));
  std::printf("%s\n", test_support::Sha256Hex(out).c_str());
  return 0;
}
