// Z-order (Morton) code of a grid point: bit k of coordinate j goes to code
// position k * n + j.
#pragma once

#include "embeddings/byte_order.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// The code of `point` (n = point.coords.size() coordinates of point.bits
// bits), in the low n * bits bits. n * bits above 128 is a broken caller
// invariant: an Internal error, never a truncated code.
Result<u128> morton_code(const QuantizedCoords& point);

}  // namespace mivo::embeddings
