#include "host/host.h"

namespace host {

ResourceStream::ResourceStream(const std::string& name, const std::string& type) {
  if (!Current().FindResource(type, name, bytes_)) Raise<EResNotFound>(name);
}

FileStream::FileStream(const std::string& path) {
  Services& services = Current();
  handle_ = services.CreateForWriting(path);
  if (handle_ < 0) {
    // Both texts are taken before anything else can change the error code.
    std::string reason = services.LastErrorText();
    Raise<EFCreateError>(services.FullPath(path), reason);
  }
}

FileStream::~FileStream() {
  if (handle_ == kNoFile) return;
  try {
    Current().Close(handle_);
  } catch (...) {
  }
}

void FileStream::Close() {
  const FileHandle handle = handle_;
  handle_ = kNoFile;
  Current().Close(handle);
}

void FileStream::WriteAll(const void* data, std::uint32_t size) {
  if (size == 0) return;
  if (Current().Write(handle_, data, size) != static_cast<std::int32_t>(size)) {
    Raise<EWriteError>();
  }
}

}  // namespace host
