// The container writer: "!HZL", the length, the code stream.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "lzh/pack.h"

namespace compress {

// Raises host::Exception for an input of 2^31 bytes or more: the length
// field is signed 32-bit.
std::vector<std::uint8_t> CompressToContainer(std::span<const std::uint8_t> input,
                                              const lzh::PackOptions& options = {});

}  // namespace compress
