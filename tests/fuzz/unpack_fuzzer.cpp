// libFuzzer entry: CheckUnpack on every input; a violated property aborts with
// its description, so libFuzzer saves the input as a crash.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = merlavox::fuzz::CheckUnpack({data, size});
  if (!fault.empty()) {
    std::fprintf(stderr, "CheckUnpack: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
