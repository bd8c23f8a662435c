#include "compress/expand.h"

#include <cstring>
#include <exception>

#include "compress/container.h"
#include "host/host.h"
#include "lzh/unpack_core.h"

namespace compress {

std::string InFileName;
std::string OutFileName;

namespace {

// The module state of one expansion; it exists only while the driver runs.
host::FileHandle InFile = host::kNoFile;
host::FileHandle OutFile = host::kNoFile;
std::uint8_t* InBuf = nullptr;
std::uint8_t* OutBuf = nullptr;
std::int32_t InBufCount = 0;  // valid bytes from the last refill
std::uint16_t InBufPos = 1;   // 1-based: the next byte to hand out
std::uint16_t OutBufPos = 1;  // 1-based: the next free byte

[[noreturn]] void Fail(const std::string& message) {
  host::Raise<ELzrw1Exception>(message);
}

// One byte of input, refilling InBuf by 32768 bytes. At the end of the file
// InBufPos stays past InBufCount, so every further request reads the file
// again and again gets 0.
inline bool NextInputByte(std::uint8_t& byte) {
  if (InBufPos > InBufCount) {
    InBufCount = host::Current().Read(InFile, InBuf, IoChunkSize);
    if (InBufCount == -1) Fail("Lzrw1/LZH : READ ERROR ON " + InFileName + " !");
    if (InBufCount == 0) return false;
    InBufPos = 1;
  }
  byte = InBuf[InBufPos - 1];
  ++InBufPos;
  return true;
}

void WriteOutBuf() {
  const std::int32_t pending = OutBufPos - 1;
  CheckWriteCount(host::Current().Write(OutFile, OutBuf, static_cast<std::uint32_t>(pending)),
                  pending);
}

// Bytes into OutBuf; a full buffer goes out when the next byte arrives, so
// every write but the final flush is exactly 32768 bytes.
inline void BufferOutput(const std::uint8_t* bytes, std::uint16_t count) {
  if (OutBufPos > IoChunkSize || OutBufPos + count > IoChunkSize + 1) {
    WriteOutBuf();
    OutBufPos = 1;
  }
  std::memcpy(OutBuf + OutBufPos - 1, bytes, count);
  OutBufPos = static_cast<std::uint16_t>(OutBufPos + count);
}

// The same steps as FileByteSource and FileByteSink, inlined into the
// decoder's loop: the files see the same calls either way.
struct InlineFileSource {
  unsigned NextByte() {
    std::uint8_t byte;
    return NextInputByte(byte) ? byte : 0;
  }
};

struct InlineFileSink {
  void Put(std::uint8_t byte) {
    if (OutBufPos > IoChunkSize) {
      WriteOutBuf();
      OutBufPos = 1;
    }
    OutBuf[OutBufPos - 1] = byte;
    ++OutBufPos;
  }
};

struct DiscardSink {
  void Put(std::uint8_t) {}
};

std::int32_t ReadHeaderField() {
  std::uint8_t field[4];
  CheckReadCount(host::Current().Read(InFile, field, 4), 4);
  return static_cast<std::int32_t>(LoadLittleEndian32(field));
}

void ExpandBody(bool keep_output) {
  const std::int32_t expanded_length = ReadHeaderField();
  InBufPos = 1;
  InBufCount = 0;
  OutBufPos = 1;
  InlineFileSource source;
  if (keep_output) {
    InlineFileSink sink;
    lzh::UnpackWith(expanded_length, source, sink);
    std::uint16_t unused;
    FileByteSink(nullptr, 0, unused);  // the final flush
  } else {
    DiscardSink sink;
    lzh::UnpackWith(expanded_length, source, sink);
  }
}

// Runs every clean-up step even when one of them raises, so that a failing
// close or release cannot leave the other handle or block behind; the first
// failure then propagates, as it would out of a finally block.
class CleanUp {
 public:
  template <class Step>
  void Do(Step&& step) {
    try {
      step();
    } catch (...) {
      if (!failure_) failure_ = std::current_exception();
    }
  }
  void Finish() {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
};

void CloseFiles() {
  host::Services& services = host::Current();
  const host::FileHandle in = InFile;
  const host::FileHandle out = OutFile;
  InFile = OutFile = host::kNoFile;
  CleanUp steps;
  if (in > 0) steps.Do([&] { services.Close(in); });
  if (out > 0) {
    steps.Do([&] { services.Flush(out); });
    steps.Do([&] { services.Close(out); });
  }
  steps.Finish();
}

void ReleaseBuffers() {
  host::Services& services = host::Current();
  std::uint8_t* in = InBuf;
  std::uint8_t* out = OutBuf;
  InBuf = OutBuf = nullptr;
  CleanUp steps;
  steps.Do([&] { services.Release(in); });
  steps.Do([&] { services.Release(out); });
  steps.Finish();
}

// The output is closed without a flush and deleted; what waited in OutBuf
// is dropped. The exception that is passing stays the one that counts.
void DiscardOutput() {
  if (OutFile <= 0) return;
  host::Services& services = host::Current();
  const host::FileHandle out = OutFile;
  OutFile = host::kNoFile;
  CleanUp steps;
  steps.Do([&] { services.Close(out); });
  steps.Do([&] { services.Delete(OutFileName); });
}

std::int32_t Run(bool keep_output) {
  host::Services& services = host::Current();
  InBuf = OutBuf = nullptr;
  try {
    InBuf = static_cast<std::uint8_t*>(services.Allocate(IoBufferSize));
    OutBuf = static_cast<std::uint8_t*>(services.Allocate(IoBufferSize));
  } catch (...) {
    // No file has been touched yet; a block obtained before the failure
    // goes back rather than leaking, and whatever the release says, the
    // failure is reported as the driver's own.
    CleanUp().Do([] { ReleaseBuffers(); });
    Fail("Lzrw1 : no memory for I/O Buffers !!");
  }
  try {
    InFile = OutFile = host::kNoFile;
    try {
      InFile = services.OpenForReading(InFileName);
      if (InFile < 0) Fail("Lzrw1 : Inputfile " + InFileName + " not found !");
      if (keep_output) {
        OutFile = services.CreateForWriting(OutFileName);
        if (OutFile < 0) Fail("Lzrw1 : Outputfile " + OutFileName + " can not be opened !");
      }
      try {
        std::uint8_t signature[4];
        CheckReadCount(services.Read(InFile, signature, 4), 4);
        if (LoadLittleEndian32(signature) != CompressedFileSignature) {
          Fail("Lzrw1 : " + InFileName + " : NOT A COMPRESSED FILE !");
        }
        ExpandBody(keep_output);
      } catch (...) {
        DiscardOutput();
        throw;
      }
    } catch (...) {
      CloseFiles();
      throw;
    }
    CloseFiles();
  } catch (...) {
    ReleaseBuffers();
    throw;
  }
  ReleaseBuffers();
  return 1;
}

}  // namespace

void CheckReadCount(std::int32_t actual, std::int32_t expected) {
  if (actual != expected) Fail("Lzrw1 : ERROR READING FROM " + InFileName + " !");
}

void CheckWriteCount(std::int32_t actual, std::int32_t expected) {
  if (actual != expected) Fail("Lzrw1 : ERROR WRITING TO " + OutFileName + " !");
}

void FileByteSource(void* buffer, std::uint16_t count, std::uint16_t& actual) {
  // The decoder asks for one byte at a time; a larger request is served a
  // byte at a time too, up to the end of the input.
  auto* out = static_cast<std::uint8_t*>(buffer);
  actual = 0;
  while (actual < count && NextInputByte(out[actual])) ++actual;
}

void FileByteSink(const void* buffer, std::uint16_t count, std::uint16_t& accepted) {
  if (count == 0) {
    WriteOutBuf();
    OutBufPos = 1;
    return;  // accepted is not set by a flush
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::uint16_t left = count;
  while (left > 0) {
    const std::uint16_t piece = left < IoChunkSize ? left : static_cast<std::uint16_t>(IoChunkSize);
    BufferOutput(bytes, piece);
    bytes += piece;
    left = static_cast<std::uint16_t>(left - piece);
  }
  accepted = count;
}

std::int32_t RunExpansion() {
  return Run(true);
}

std::int32_t TestExpansion() {
  return Run(false);
}

std::int32_t ExpandFile() {
  try {
    return RunExpansion();
  } catch (...) {
    return -1;  // the message is neither shown nor kept
  }
}

}  // namespace compress
