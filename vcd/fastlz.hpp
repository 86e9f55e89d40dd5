// FastLZ, the block compression an FST writer may choose for its value
// changes: a decoder of both of its levels, checked against every bound.
#pragma once

#include <cstddef>
#include <span>

namespace vcd {

// Decodes the block `in` into `out`, which must receive exactly out.size()
// bytes; false for a damaged block or one of another size.
bool fastlz_decode(std::span<const unsigned char> in, std::span<unsigned char> out);

}  // namespace vcd
