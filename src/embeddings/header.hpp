// The identifier header: 2 bytes (4 with a transform id) for the short
// profiles, 12 for a full-vector record; its byte form and its readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "embeddings/error.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {

// Profile codes: the low 4 bits of header byte 0.
inline constexpr std::uint8_t kProfileMini128 = 1;
inline constexpr std::uint8_t kProfileMorton10x10 = 2;
inline constexpr std::uint8_t kProfileHilbert10x10 = 3;
inline constexpr std::uint8_t kProfileFullVector = 4;

inline constexpr std::size_t kCommonHeaderLen = 2;
inline constexpr std::size_t kFullVectorHeaderLen = 12;

// ------------------------------------------------------------- profile info

// The header information: the writer's input and the reader's output.
struct ProfileInfo {
    std::optional<std::uint64_t> seed;  // only the low 32 bits reach the header
    std::optional<std::uint16_t> transform_id;
    std::optional<std::uint16_t> original_dims;
    std::optional<DimensionMode> dimension_mode;
    std::optional<Precision> precision;
    std::uint8_t version = 0;
    std::uint8_t profile = 0;

    friend bool operator==(const ProfileInfo&, const ProfileInfo&) = default;
};

// The header bytes of a record: 12 bytes for profile 4, else 2 (4 with a
// transform id). Never fails.
std::vector<std::uint8_t> to_header(const ProfileInfo& info);

// Common header read: version and profile code from byte 0. Fewer than 2
// bytes: InvalidHeader. Nothing else is examined.
Result<ProfileInfo> read_header(std::span<const std::uint8_t> bytes);

// Common header read followed, for profile code 4, by the full-vector fields:
// fewer than 12 bytes InvalidHeader; then the precision code (InvalidMetadata
// "Invalid precision type"), then the mode code (InvalidMetadata "Invalid
// dimension mode"). The mode keeps the stored target for every kind; the seed
// is the stored 32-bit word zero-extended. Other profile codes give the common
// fields only. The payload starts at kFullVectorHeaderLen.
Result<ProfileInfo> read_full_vector_header(std::span<const std::uint8_t> bytes);

// Encoded dimension count of a full-vector record: original_dims for Preserve,
// the target otherwise (0 for absent fields).
std::uint16_t encoded_dims(const ProfileInfo& info);

}  // namespace mivo::embeddings
