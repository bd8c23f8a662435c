// The expansion driver: one compressed file into the plain file it holds,
// through 32 KiB buffers on both sides.
#pragma once

#include <cstdint>
#include <string>

#include "host/exceptions.h"

namespace compress {

class ELzrw1Exception : public host::Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "ELzrw1Exception"; }
};

// Set by the caller before ExpandFile; they keep their values afterwards.
extern std::string InFileName;
extern std::string OutFileName;

// Expands InFileName into OutFileName: 1 on success, -1 after any failure,
// with a partial output deleted. No exception leaves it.
std::int32_t ExpandFile();

// The driver itself: returns 1 or raises ELzrw1Exception (or whatever the
// decoder or the host raised), always with both files closed and both
// buffers released.
std::int32_t RunExpansion();

// Checks InFileName without writing anything: the header, then the whole
// code stream decoded through the same buffered source into a sink that
// drops the bytes. Returns 1 or raises as RunExpansion does.
std::int32_t TestExpansion();

// The procedures the decoder is given (for the plain entry), and the count
// checks: both raise ELzrw1Exception.
void FileByteSource(void* buffer, std::uint16_t count, std::uint16_t& actual);
void FileByteSink(const void* buffer, std::uint16_t count, std::uint16_t& accepted);
void CheckReadCount(std::int32_t actual, std::int32_t expected);
void CheckWriteCount(std::int32_t actual, std::int32_t expected);

inline constexpr std::uint32_t IoBufferSize = 32784;  // allocated
inline constexpr std::uint32_t IoChunkSize = 32768;   // used

}  // namespace compress
