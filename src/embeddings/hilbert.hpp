// Hilbert-type code of a grid point: the state machine below (entry and
// direction with a separate rule for two coordinates) maps the 2^(n * bits)
// grid points one-to-one onto 0 .. 2^(n * bits) - 1.
#pragma once

#include "embeddings/byte_order.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// The code of `point` (n = point.coords.size() coordinates of point.bits
// bits), in the low n * bits bits. n * bits above 128 is a broken caller
// invariant: an Internal error, never a truncated code.
Result<u128> hilbert_code(const QuantizedCoords& point);

}  // namespace mivo::embeddings
