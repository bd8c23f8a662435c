#include "lzh/unpack.h"

#include "host/host.h"
#include "lzh/unpack_core.h"

namespace lzh {

namespace {

template <class T>
T* Obtain(host::Services& services, std::size_t count) {
  return static_cast<T*>(services.Allocate(count * sizeof(T)));
}

struct CallbackSource {
  ByteSource source;
  unsigned NextByte() {
    std::uint8_t byte = 0;
    std::uint16_t actual = 0;
    source(&byte, 1, actual);
    return actual == 1 ? byte : 0;
  }
};

struct CallbackSink {
  ByteSink sink;
  void Put(std::uint8_t byte) {
    // Every byte goes out from a buffer of its own; the accepted count is
    // not examined, so a sink reports failure only by raising.
    const std::uint8_t buffer = byte;
    std::uint16_t accepted = 0;
    sink(&buffer, 1, accepted);
  }
};

}  // namespace

DecoderTables AllocTables() {
  host::Services& services = host::Current();
  DecoderTables tables;
  try {
    tables.ring = Obtain<std::uint8_t>(services, RingSize);
    tables.tree.weights = Obtain<std::uint16_t>(services, WeightsSize);
    tables.tree.parents = Obtain<std::uint16_t>(services, ParentsSize);
    tables.tree.children = Obtain<std::uint16_t>(services, NodeCount);
  } catch (...) {
    try {
      FreeTables(tables);
    } catch (...) {
    }
    host::Raise<ElzhException>(kNoMemoryMessage);
  }
  return tables;
}

void FreeTables(DecoderTables& tables) {
  host::Services& services = host::Current();
  void* blocks[] = {tables.tree.children, tables.tree.parents, tables.tree.weights, tables.ring};
  tables = DecoderTables{};
  bool failed = false;
  // Every block goes back even when one of them is rejected.
  for (void* block : blocks) {
    try {
      services.Release(block);
    } catch (...) {
      failed = true;
    }
  }
  if (failed) host::Raise<ElzhException>(kFreeErrorMessage);
}

void UnpackStream(std::int32_t ExpandedLength, ByteSource source, ByteSink sink) {
  CallbackSource in{source};
  CallbackSink out{sink};
  UnpackWith(ExpandedLength, in, out);
}

}  // namespace lzh
