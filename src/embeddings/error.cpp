#include "embeddings/error.hpp"

#include <utility>

namespace mivo::embeddings {

MivoError MivoError::invalid_dimension(std::uint64_t got, std::uint64_t low, std::uint64_t high) {
    return MivoError(ErrorKind::InvalidDimension, got, low, high);
}
MivoError MivoError::invalid_embedding_value() { return MivoError(ErrorKind::InvalidEmbeddingValue); }
MivoError MivoError::invalid_encoding() { return MivoError(ErrorKind::InvalidEncoding); }
MivoError MivoError::invalid_header() { return MivoError(ErrorKind::InvalidHeader); }
MivoError MivoError::hamming_radius_too_large(std::uint8_t radius) {
    return MivoError(ErrorKind::HammingRadiusTooLarge, radius);
}
MivoError MivoError::profile_mismatch(std::string expected, std::string got) {
    return MivoError(ErrorKind::ProfileMismatch, std::move(expected), std::move(got));
}
MivoError MivoError::transform_not_found(std::uint16_t id) { return MivoError(ErrorKind::TransformNotFound, id); }
MivoError MivoError::decoding_not_supported() { return MivoError(ErrorKind::DecodingNotSupported); }
MivoError MivoError::invalid_precision(std::string detail) {
    return MivoError(ErrorKind::InvalidPrecision, std::move(detail));
}
MivoError MivoError::projection_error(std::string detail) {
    return MivoError(ErrorKind::ProjectionError, std::move(detail));
}
MivoError MivoError::insufficient_data(std::uint64_t expected, std::uint64_t got) {
    return MivoError(ErrorKind::InsufficientData, got, expected);
}
MivoError MivoError::invalid_metadata(std::string detail) {
    return MivoError(ErrorKind::InvalidMetadata, std::move(detail));
}
MivoError MivoError::internal(std::string detail) { return MivoError(ErrorKind::Internal, std::move(detail)); }

std::string MivoError::display() const {
    using std::to_string;
    switch (kind_) {
        case ErrorKind::InvalidDimension:
            return "Invalid dimension: got " + to_string(got_) + ", expected range (" + to_string(low_) + ", " +
                   to_string(high_) + ")";
        case ErrorKind::InvalidEmbeddingValue: return "Invalid embedding value (NaN or Inf detected)";
        case ErrorKind::InvalidEncoding: return "Invalid base32hex encoding";
        case ErrorKind::InvalidHeader: return "Invalid ID header";
        case ErrorKind::HammingRadiusTooLarge: return "Hamming radius too large: " + to_string(got_) + " (max 3)";
        case ErrorKind::ProfileMismatch: return "Profile mismatch: expected " + detail_ + ", got " + other_;
        case ErrorKind::TransformNotFound: return "Transform not found: ID " + to_string(got_);
        case ErrorKind::DecodingNotSupported: return "Decoding not supported for this profile type";
        case ErrorKind::InvalidPrecision: return "Invalid precision: " + detail_;
        case ErrorKind::ProjectionError: return "Projection error: " + detail_;
        case ErrorKind::InsufficientData:
            return "Insufficient data: expected " + to_string(low_) + " bytes, got " + to_string(got_);
        case ErrorKind::InvalidMetadata: return "Invalid metadata in header: " + detail_;
        case ErrorKind::Internal: return detail_;
    }
    return {};
}

}  // namespace mivo::embeddings
