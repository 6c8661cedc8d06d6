#include "embeddings/error.hpp"

#include <utility>

namespace mivo::embeddings {

MivoError MivoError::invalid_dimension(std::uint64_t got, std::uint64_t low, std::uint64_t high) {
    MivoError e(ErrorKind::InvalidDimension);
    e.got_ = got;
    e.low_ = low;
    e.high_ = high;
    return e;
}
MivoError MivoError::invalid_embedding_value() { return MivoError(ErrorKind::InvalidEmbeddingValue); }
MivoError MivoError::invalid_encoding() { return MivoError(ErrorKind::InvalidEncoding); }
MivoError MivoError::invalid_header() { return MivoError(ErrorKind::InvalidHeader); }
MivoError MivoError::hamming_radius_too_large(std::uint8_t radius) {
    MivoError e(ErrorKind::HammingRadiusTooLarge);
    e.got_ = radius;
    return e;
}
MivoError MivoError::profile_mismatch(std::string expected, std::string got) {
    MivoError e(ErrorKind::ProfileMismatch);
    e.detail_ = std::move(expected);
    e.other_ = std::move(got);
    return e;
}
MivoError MivoError::transform_not_found(std::uint16_t id) {
    MivoError e(ErrorKind::TransformNotFound);
    e.got_ = id;
    return e;
}
MivoError MivoError::decoding_not_supported() { return MivoError(ErrorKind::DecodingNotSupported); }
MivoError MivoError::invalid_precision(std::string detail) {
    MivoError e(ErrorKind::InvalidPrecision);
    e.detail_ = std::move(detail);
    return e;
}
MivoError MivoError::projection_error(std::string detail) {
    MivoError e(ErrorKind::ProjectionError);
    e.detail_ = std::move(detail);
    return e;
}
MivoError MivoError::insufficient_data(std::uint64_t expected, std::uint64_t got) {
    MivoError e(ErrorKind::InsufficientData);
    e.low_ = expected;
    e.got_ = got;
    return e;
}
MivoError MivoError::invalid_metadata(std::string detail) {
    MivoError e(ErrorKind::InvalidMetadata);
    e.detail_ = std::move(detail);
    return e;
}

MivoError MivoError::internal(std::string detail) {
    MivoError e(ErrorKind::Internal);
    e.detail_ = std::move(detail);
    return e;
}

std::string MivoError::display() const {
    using std::to_string;
    switch (kind_) {
        case ErrorKind::InvalidDimension:
            return "Invalid dimension: got " + to_string(got_) + ", expected range (" + to_string(low_) + ", " +
                   to_string(high_) + ")";
        case ErrorKind::InvalidEmbeddingValue:
            return "Invalid embedding value (NaN or Inf detected)";
        case ErrorKind::InvalidEncoding:
            return "Invalid base32hex encoding";
        case ErrorKind::InvalidHeader:
            return "Invalid ID header";
        case ErrorKind::HammingRadiusTooLarge:
            return "Hamming radius too large: " + to_string(got_) + " (max 3)";
        case ErrorKind::ProfileMismatch:
            return "Profile mismatch: expected " + detail_ + ", got " + other_;
        case ErrorKind::TransformNotFound:
            return "Transform not found: ID " + to_string(got_);
        case ErrorKind::DecodingNotSupported:
            return "Decoding not supported for this profile type";
        case ErrorKind::InvalidPrecision:
            return "Invalid precision: " + detail_;
        case ErrorKind::ProjectionError:
            return "Projection error: " + detail_;
        case ErrorKind::InsufficientData:
            return "Insufficient data: expected " + to_string(low_) + " bytes, got " + to_string(got_);
        case ErrorKind::InvalidMetadata:
            return "Invalid metadata in header: " + detail_;
        case ErrorKind::Internal:
            return detail_;
    }
    return {};
}

}  // namespace mivo::embeddings
