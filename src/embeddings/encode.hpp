// The encode driver: an embedding and a profile record in, the text of an
// identifier out.
#pragma once

#include <span>
#include <string>
#include <variant>

#include "embeddings/error.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// A broken caller invariant inside the encode driver (a curve profile asking
// for more than 128 code bits). The module's own records never reach it.
struct InternalError {
    std::string message;
    friend bool operator==(const InternalError&, const InternalError&) = default;
};
using EncodeError = std::variant<MivoError, InternalError>;

// Turns an embedding (64 to 2048 finite values, read only) into the text of
// an identifier of the given profile. Checks in order: length
// (InvalidDimension), NaN or infinity (InvalidEmbeddingValue), then the
// profile's own checks (bit count, projection target, transform id, grid).
expected<std::string, EncodeError> encode(std::span<const float> embedding, const EncodingProfile& profile);

}  // namespace mivo::embeddings
