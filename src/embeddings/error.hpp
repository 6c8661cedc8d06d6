// The one error type of the identifier core. Every fallible operation returns
// a value or exactly one MivoError; nothing here throws, prints or logs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "embeddings/expected.hpp"

namespace mivo::embeddings {

// Declaration order is part of the interface (kind numbers 0..11). Internal
// comes last: a broken caller invariant (a curve profile asking for more than
// 128 code bits), which inputs the module accepts never produce; the module
// raises it as SystemError.
enum class ErrorKind : std::uint8_t {
    InvalidDimension,
    InvalidEmbeddingValue,
    InvalidEncoding,
    InvalidHeader,
    HammingRadiusTooLarge,
    ProfileMismatch,
    TransformNotFound,
    DecodingNotSupported,
    InvalidPrecision,
    ProjectionError,
    InsufficientData,
    InvalidMetadata,
    Internal,
};

class MivoError {
public:
    static MivoError invalid_dimension(std::uint64_t got, std::uint64_t low, std::uint64_t high);
    static MivoError invalid_embedding_value();
    static MivoError invalid_encoding();
    static MivoError invalid_header();
    static MivoError hamming_radius_too_large(std::uint8_t radius);
    static MivoError profile_mismatch(std::string expected, std::string got);
    static MivoError transform_not_found(std::uint16_t id);
    static MivoError decoding_not_supported();
    static MivoError invalid_precision(std::string detail);
    static MivoError projection_error(std::string detail);
    static MivoError insufficient_data(std::uint64_t expected, std::uint64_t got);
    static MivoError invalid_metadata(std::string detail);
    static MivoError internal(std::string detail);

    ErrorKind kind() const { return kind_; }

    // Field access. Numeric fields by kind:
    //   InvalidDimension: got(), low(), high()
    //   HammingRadiusTooLarge: got() = radius
    //   TransformNotFound: got() = id
    //   InsufficientData: low() = expected, got() = got
    std::uint64_t got() const { return got_; }
    std::uint64_t low() const { return low_; }
    std::uint64_t high() const { return high_; }
    // Text fields: detail() for InvalidPrecision, ProjectionError,
    // InvalidMetadata and Internal, and the expected text of ProfileMismatch; other() is
    // the got text of ProfileMismatch.
    const std::string& detail() const { return detail_; }
    const std::string& other() const { return other_; }

    // The display text, byte for byte as users see it in ValueError messages.
    std::string display() const;

    friend bool operator==(const MivoError&, const MivoError&) = default;

private:
    explicit MivoError(ErrorKind kind, std::uint64_t got = 0, std::uint64_t low = 0, std::uint64_t high = 0)
        : kind_(kind), got_(got), low_(low), high_(high) {}
    MivoError(ErrorKind kind, std::string detail, std::string other = {})
        : kind_(kind), detail_(std::move(detail)), other_(std::move(other)) {}

    ErrorKind kind_;
    std::uint64_t got_ = 0;
    std::uint64_t low_ = 0;
    std::uint64_t high_ = 0;
    std::string detail_;
    std::string other_;
};

template <class T>
using Result = expected<T, MivoError>;

inline unexpected<MivoError> fail(MivoError e) { return unexpected<MivoError>(std::move(e)); }

}  // namespace mivo::embeddings
