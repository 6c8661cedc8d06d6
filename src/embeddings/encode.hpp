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

}  // namespace mivo::embeddings
