// Plain value types of the identifier core: the profile record that says what
// identifier to make, the header information record with its byte form, and
// the grid point of the curve profiles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "embeddings/error.hpp"

namespace mivo::embeddings {

using u128 = unsigned __int128;

// Result of an operation whose only failure is a broken caller invariant. The
// text is an internal-error message for the module surface to raise; it is
// never produced by inputs the module accepts.
template <class T>
using Checked = expected<T, std::string>;

// Profile codes: the low 4 bits of header byte 0.
inline constexpr std::uint8_t kProfileMini128 = 1;
inline constexpr std::uint8_t kProfileMorton10x10 = 2;
inline constexpr std::uint8_t kProfileHilbert10x10 = 3;
inline constexpr std::uint8_t kProfileFullVector = 4;

inline constexpr std::size_t kCommonHeaderLen = 2;
inline constexpr std::size_t kFullVectorHeaderLen = 12;

// ------------------------------------------------------------------ precision

enum class PrecisionKind : std::uint8_t { Full32, Half16, Quant8, Bits };

// Full32, Half16, Quant8, or Bits with `bits` bits per value. `bits` is only
// meaningful for Bits (0 for the other kinds when built by the factories).
struct Precision {
    PrecisionKind kind = PrecisionKind::Full32;
    std::uint8_t bits = 0;

    static constexpr Precision full32() { return {PrecisionKind::Full32, 0}; }
    static constexpr Precision half16() { return {PrecisionKind::Half16, 0}; }
    static constexpr Precision quant8() { return {PrecisionKind::Quant8, 0}; }
    static constexpr Precision bits_of(std::uint8_t k) { return {PrecisionKind::Bits, k}; }

    // Header precision code: 0, 1, 2, or k + 2 for Bits (truncated to 8 bits).
    constexpr std::uint8_t code() const {
        switch (kind) {
            case PrecisionKind::Full32: return 0;
            case PrecisionKind::Half16: return 1;
            case PrecisionKind::Quant8: return 2;
            case PrecisionKind::Bits: break;
        }
        return static_cast<std::uint8_t>(bits + 2);
    }
    // 32, 16, 8 or k.
    constexpr std::uint8_t bits_per_value() const {
        switch (kind) {
            case PrecisionKind::Full32: return 32;
            case PrecisionKind::Half16: return 16;
            case PrecisionKind::Quant8: return 8;
            case PrecisionKind::Bits: break;
        }
        return bits;
    }
    // Reads a header precision code: 0..2, and 3..35 as Bits with code - 2
    // bits (35, 33 bits, is never written but is read). Anything else: none.
    static constexpr std::optional<Precision> from_code(std::uint8_t code) {
        switch (code) {
            case 0: return full32();
            case 1: return half16();
            case 2: return quant8();
            default: break;
        }
        if (code <= 35) return bits_of(static_cast<std::uint8_t>(code - 2));
        return std::nullopt;
    }

    friend constexpr bool operator==(const Precision&, const Precision&) = default;
};

// ------------------------------------------------------------ dimension mode

enum class ModeKind : std::uint8_t { Preserve = 0, Reduce = 1, Common = 2 };

// Preserve, or Reduce / Common with a target dimension count. A mode read from
// a header keeps the stored target for every kind (normally 0 for Preserve).
struct DimensionMode {
    ModeKind kind = ModeKind::Preserve;
    std::uint16_t target = 0;

    static constexpr DimensionMode preserve() { return {ModeKind::Preserve, 0}; }
    static constexpr DimensionMode reduce(std::uint16_t t) { return {ModeKind::Reduce, t}; }
    static constexpr DimensionMode common(std::uint16_t t) { return {ModeKind::Common, t}; }

    constexpr std::uint8_t code() const { return static_cast<std::uint8_t>(kind); }
    static constexpr std::optional<ModeKind> kind_from_code(std::uint8_t code) {
        if (code <= 2) return static_cast<ModeKind>(code);
        return std::nullopt;
    }

    friend constexpr bool operator==(const DimensionMode&, const DimensionMode&) = default;
};

// ---------------------------------------------------------- encoding profile

// What the encode driver is asked to make.
struct EncodingProfile {
    struct Mini128 {
        std::uint64_t seed = 0;
        friend bool operator==(const Mini128&, const Mini128&) = default;
    };
    struct Morton10x10 {
        std::uint8_t count = 10;
        std::uint8_t bits = 10;
        std::optional<std::uint16_t> transform_id;
        friend bool operator==(const Morton10x10&, const Morton10x10&) = default;
    };
    struct Hilbert10x10 {
        std::uint8_t count = 10;
        std::uint8_t bits = 10;
        std::optional<std::uint16_t> transform_id;
        friend bool operator==(const Hilbert10x10&, const Hilbert10x10&) = default;
    };
    struct FullVector {
        Precision precision;
        DimensionMode mode;
        std::uint64_t seed = 0;
        friend bool operator==(const FullVector&, const FullVector&) = default;
    };

    std::variant<Mini128, Morton10x10, Hilbert10x10, FullVector> kind;

    // Header profile code of the record: 1 to 4.
    std::uint8_t profile_code() const { return static_cast<std::uint8_t>(kind.index() + 1); }

    friend bool operator==(const EncodingProfile&, const EncodingProfile&) = default;
};

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

// The 16 big-endian bytes of a 128-bit value (byte 0 holds bits 127..120).
std::array<std::uint8_t, 16> to_be_bytes(u128 value);

// ------------------------------------------------------- quantized coordinates

// A point of the curve profiles' grid: n coordinates of `bits` bits each.
struct QuantizedCoords {
    std::vector<std::uint16_t> coords;
    std::uint8_t bits = 0;

    // Quantises the first `count` values (of a unit-length vector) to
    // `bits`-bit coordinates: ((v + 1) * 0.5) * (2^bits - 1) in f32, clamped,
    // rounded half away from zero. InvalidDimension for a count outside 1..32,
    // a bit width outside 1..16, or a count above the vector length, in that
    // order.
    static Result<QuantizedCoords> from_embedding(std::span<const float> values, std::uint8_t count,
                                                  std::uint8_t bits);

    friend bool operator==(const QuantizedCoords&, const QuantizedCoords&) = default;
};

// The curve codes' precondition: n * bits at most 128. Otherwise the
// internal-error text "<curve> code exceeds 128 bits: n dims × b bits = nb bits".
std::optional<std::string> code_width_error(const char* curve, const QuantizedCoords& point);

}  // namespace mivo::embeddings
