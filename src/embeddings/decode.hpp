// Reading whole identifiers: a full-vector identifier decoded back to its
// values and header fields, and the reversibility test.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "embeddings/error.hpp"
#include "embeddings/header.hpp"

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

}  // namespace mivo::embeddings
