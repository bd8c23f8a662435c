#include "compress/compress_file.h"

#include "compress/container.h"
#include "host/exceptions.h"

namespace compress {

std::vector<std::uint8_t> CompressToContainer(std::span<const std::uint8_t> input,
                                              const lzh::PackOptions& options) {
  if (input.size() > 0x7FFFFFFFu) {
    host::Raise<host::Exception>(
        "input of 2 GiB or more: the length field holds at most 2147483647 bytes");
  }
  std::vector<std::uint8_t> out(HeaderSize);
  StoreLittleEndian32(out.data(), CompressedFileSignature);
  StoreLittleEndian32(out.data() + 4, static_cast<std::uint32_t>(input.size()));
  const std::vector<std::uint8_t> stream = lzh::PackStream(input, options);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

}  // namespace compress
