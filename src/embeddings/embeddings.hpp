// The identifier core's library operations on whole identifiers: decoding a
// full-vector identifier back to its values and header fields, and the
// reversibility test.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "embeddings/error.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// A decoded full-vector identifier.
struct DecodedVector {
    std::vector<float> values;  // the stored (possibly projected) values
    std::uint32_t seed = 0;     // header seed word: low 32 bits of the profile seed
    ModeKind dimension_mode = ModeKind::Preserve;
    std::uint16_t target_dims = 0;    // as stored (0 in Preserve identifiers)
    Precision precision;              // Bits carries its bit count (1..33)
    std::uint16_t original_dims = 0;  // header bytes 2-3
    std::uint16_t encoded_dims = 0;   // original_dims for Preserve, else target_dims

    friend bool operator==(const DecodedVector&, const DecodedVector&) = default;
};

// Decodes a full-vector identifier text. Checks in order: base32hex
// (InvalidEncoding), fewer than 2 bytes (InvalidHeader), profile code not 4
// (DecodingNotSupported), fewer than 12 bytes (InvalidHeader), precision code
// then mode code (InvalidMetadata), then the payload decoder's own errors.
Result<DecodedVector> decode_to_embedding(std::string_view text);

// True when the text decodes, has at least 2 bytes and profile code 4. Looks
// at nothing else; never fails.
bool is_reversible(std::string_view text);

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
