// What the fuzz targets check for one input. Each check returns an empty
// string when every property held and a description of the first one that
// did not otherwise; memory and undefined-behaviour faults are left to the
// sanitizers. The libFuzzer entry points and the regression test that
// replays saved inputs both call these, so a saved finding keeps testing
// exactly what found it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace merlavox::fuzz {

// Lengths above this are folded to 16 KiB or less, so that an input whose
// first bytes are arbitrary costs milliseconds, not seconds; lengths up to
// it stay as they are, so seeds with real lengths keep them.
inline constexpr std::int32_t kLongestExpansion = 1 << 20;
std::int32_t FoldLength(std::uint32_t raw);

// The decoder on any bytes: the first four give the expanded length
// (little-endian, folded), the rest is the code stream. UnpackStream through
// plain procedures, UnpackWith through inlined policies and the reference
// decoder must agree on every output byte and on every source call.
std::string CheckUnpack(std::span<const std::uint8_t> data);

// The expansion driver on any file content: ExpandFile and TestExpansion
// must give the result the header predicts, the output file must be the
// decoder's output or absent, and the input must stay as it was.
std::string CheckExpandFile(std::span<const std::uint8_t> data);

// The encoder: PackStream and a decode must give the input back. The first
// byte picks the options and whether the rest is stretched by repetition
// up to 48 KiB, so that a short input can still reach the tree's rebuilds.
std::string CheckRoundTrip(std::span<const std::uint8_t> data);

}  // namespace merlavox::fuzz
