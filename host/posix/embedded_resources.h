// The payload linked into a POSIX executable at build time. The bytes lie in
// the program's read-only data and are read where they lie.
#pragma once

#include <cstdint>

namespace host::posix {

struct EmbeddedResource {
  const char* type;
  const char* name;
  const unsigned char* data;
  const std::uint32_t* size;
};

}  // namespace host::posix

// Defined by the build's generated resource table; weak, so that programs
// without a payload (the tools, the tests) link without one.
extern "C" [[gnu::weak]] const host::posix::EmbeddedResource host_embedded_resources[];
extern "C" [[gnu::weak]] const std::uint32_t host_embedded_resource_count;
