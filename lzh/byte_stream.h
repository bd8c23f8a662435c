// The procedure types through which the decoder pulls its input and pushes
// its output. Plain procedures, not bound to an object: the caller keeps
// whatever state they need. Each reports a failure by raising.
#pragma once

#include <cstdint>

namespace lzh {

// Fills the buffer with up to count bytes and sets actual to the number
// placed: 0 at the end of the input and on every call after it.
using ByteSource = void (*)(void* buffer, std::uint16_t count, std::uint16_t& actual);

// Takes count bytes from the buffer and sets accepted to the number taken.
using ByteSink = void (*)(const void* buffer, std::uint16_t count, std::uint16_t& accepted);

}  // namespace lzh
