// Seeded Gaussian random projection from d values to t values (1 <= t <= d).
// The t x d matrix is never stored: row r is drawn on demand from the seeded
// stream keyed by (seed, d, t, r), each entry the f32-rounded deviate times
// the f32 scale 1 / sqrtf(t). The same seed, d and t give the same matrix on
// every machine; different (d, t) pairs give unrelated matrices.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "embeddings/error.hpp"

namespace mivo::embeddings {

// out[r] = sequential f32 dot product of row r with values, the accumulator
// starting at -0.0f. Every NaN in the output is stored as the single quiet
// NaN 0x7FC00000 (an inf + -inf overflow would otherwise carry a sign that
// depends on the processor).
// Fails with ProjectionError "Cannot project to higher dimensions: d -> t"
// when t > d. target_dims 0 is outside the contract (gives an empty vector).
// d enters the row keys as a u16 (callers pass at most 2048 values).
// Reads the key's matrix from the table cache (tables.hpp) and draws the rows
// itself only when there is none.
Result<std::vector<float>> project_to_lower_dims(std::span<const float> values, std::uint16_t target_dims,
                                                 std::uint64_t seed);

// The same, every row drawn from its stream during the call: the reference
// the table path is checked against.
Result<std::vector<float>> project_to_lower_dims_streamed(std::span<const float> values, std::uint16_t target_dims,
                                                          std::uint64_t seed);

// The pattern every projected NaN is stored as.
inline constexpr std::uint32_t kCanonicalNanBits = 0x7FC00000u;

}  // namespace mivo::embeddings
