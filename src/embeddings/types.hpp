// Plain value types of the identifier core: the profile record that says what
// identifier to make, its precision and dimension mode, and the grid point of
// the curve profiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "embeddings/error.hpp"

namespace mivo::embeddings {

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
    static Result<QuantizedCoords> from_embedding(std::span<const float> values, std::uint8_t count, std::uint8_t bits);

    friend bool operator==(const QuantizedCoords&, const QuantizedCoords&) = default;
};

// The curve codes' precondition: n * bits at most 128. Otherwise an Internal
// error "<curve> code exceeds 128 bits: n dims × b bits = nb bits".
Result<void> check_code_width(const char* curve, const QuantizedCoords& point);

}  // namespace mivo::embeddings
