// One expansion of a compressed file through a chosen decoder, for
// profilers: `valgrind --tool=callgrind decoder_profile buffered FILE.hzl`
// counts instructions without the noise of a shared machine.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lzh/unpack.h"
#include "lzh/unpack_core.h"
#include "support/memory_policies.h"
#include "support/reference_decoder.h"
#include "support/sha256.h"
#include "support/test_files.h"

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
    using test_support::CallbackMemory;
    CallbackMemory::Reset(container.code, out);
    if (kind == "buffered") {
      test_support::MemorySource source(container.code);
      test_support::BufferSink sink(out);
      lzh::UnpackWith(container.expanded_length, source, sink);
    } else if (kind == "callbacks") {
      lzh::UnpackStream(container.expanded_length, CallbackMemory::Source, CallbackMemory::Sink);
    } else if (kind == "literal") {
      reference_lzh::ReferenceUnpackStream(container.expanded_length, CallbackMemory::Source,
                                           CallbackMemory::Sink);
    } else {
      std::fprintf(stderr, "unknown decoder %s\n", kind.c_str());
      return 2;
    }
  }
  out.resize(static_cast<std::size_t>(std::max(container.expanded_length, 0)));
  std::printf("%s\n", test_support::Sha256Hex(out).c_str());
  return 0;
}
