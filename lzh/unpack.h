// Expands one LZHUF code stream whose expanded length the caller knows.
#pragma once

#include <cstdint>

#include "host/exceptions.h"
#include "lzh/byte_stream.h"

namespace lzh {

class ElzhException : public host::Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "ElzhException"; }
};

inline constexpr const char* kNoMemoryMessage = "LZH : Cannot get memory for dictionary tables";
inline constexpr const char* kFreeErrorMessage = "LZH : Error freeing memory for dictionary tables";

// Pulls the code through source and pushes every output byte through sink,
// one byte per call each, until at least ExpandedLength bytes came out (a
// last match is emitted whole). Nothing happens for a length of 0 or less.
void UnpackStream(std::int32_t ExpandedLength, ByteSource source, ByteSink sink);

}  // namespace lzh
