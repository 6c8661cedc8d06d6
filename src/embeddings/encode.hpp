// The encode driver: an embedding and a profile record in, the text of an
// identifier out.
#pragma once

#include <span>
#include <string>

#include "embeddings/error.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// Turns an embedding (64 to 2048 finite values, read only) into the text of
// an identifier of the given profile. Checks in order: length
// (InvalidDimension), NaN or infinity (InvalidEmbeddingValue), then the
// profile's own checks (bit count, projection target, transform id, grid).
// A curve record asking for more than 128 code bits is an Internal error.
Result<std::string> encode(std::span<const float> embedding, const EncodingProfile& profile);

// The driver's value check: false for a NaN or an infinity.
bool is_finite_value(float v);

// Scales values to unit length in f32 as the driver does before a SimHash or
// a curve code: a sequential sum of squares from -0.0, its correctly rounded
// square root, one division per value. An all-zero vector is left as it is;
// a sum that overflows divides every value to a signed zero.
void scale_to_unit_length(std::span<float> values);

}  // namespace mivo::embeddings
