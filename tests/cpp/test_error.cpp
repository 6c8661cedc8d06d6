// Display texts of the identifier core's errors, byte for byte.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "embeddings/error.hpp"

namespace mivo::embeddings {
namespace {

struct DisplayCase {
    const char* name;
    MivoError error;
    ErrorKind kind;
    std::string text;
    friend void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }
};

class ErrorDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(ErrorDisplay, RendersExactText) {
    const DisplayCase& c = GetParam();
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_EQ(c.error.display(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ErrorDisplay,
    ::testing::Values(
        DisplayCase{"dim_2049", MivoError::invalid_dimension(2049, 64, 2048), ErrorKind::InvalidDimension,
                    "Invalid dimension: got 2049, expected range (64, 2048)"},
        DisplayCase{"dim_50", MivoError::invalid_dimension(50, 64, 2048), ErrorKind::InvalidDimension,
                    "Invalid dimension: got 50, expected range (64, 2048)"},
        DisplayCase{"dim_zero_common", MivoError::invalid_dimension(0, 1, 2048), ErrorKind::InvalidDimension,
                    "Invalid dimension: got 0, expected range (1, 2048)"},
        DisplayCase{"dim_u64_max", MivoError::invalid_dimension(18446744073709551615ull, 0, 18446744073709551615ull),
                    ErrorKind::InvalidDimension,
                    "Invalid dimension: got 18446744073709551615, expected range (0, 18446744073709551615)"},
        DisplayCase{"nan", MivoError::invalid_embedding_value(), ErrorKind::InvalidEmbeddingValue,
                    "Invalid embedding value (NaN or Inf detected)"},
        DisplayCase{"encoding", MivoError::invalid_encoding(), ErrorKind::InvalidEncoding, "Invalid base32hex encoding"},
        DisplayCase{"header", MivoError::invalid_header(), ErrorKind::InvalidHeader, "Invalid ID header"},
        DisplayCase{"radius_7", MivoError::hamming_radius_too_large(7), ErrorKind::HammingRadiusTooLarge,
                    "Hamming radius too large: 7 (max 3)"},
        DisplayCase{"mismatch_morton", MivoError::profile_mismatch("Mini128", "Type 0x2"), ErrorKind::ProfileMismatch,
                    "Profile mismatch: expected Mini128, got Type 0x2"},
        DisplayCase{"transform", MivoError::transform_not_found(65535), ErrorKind::TransformNotFound,
                    "Transform not found: ID 65535"},
        DisplayCase{"not_supported", MivoError::decoding_not_supported(), ErrorKind::DecodingNotSupported,
                    "Decoding not supported for this profile type"},
        DisplayCase{"precision_40", MivoError::invalid_precision("Bits must be 1-32, got 40"),
                    ErrorKind::InvalidPrecision, "Invalid precision: Bits must be 1-32, got 40"},
        DisplayCase{"reduce_800", MivoError::projection_error("Target dims 800 must be less than input dims 768"),
                    ErrorKind::ProjectionError, "Projection error: Target dims 800 must be less than input dims 768"},
        DisplayCase{"higher", MivoError::projection_error("Cannot project to higher dimensions: 2048 -> 2049"),
                    ErrorKind::ProjectionError, "Projection error: Cannot project to higher dimensions: 2048 -> 2049"},
        DisplayCase{"insufficient_0", MivoError::insufficient_data(8, 0), ErrorKind::InsufficientData,
                    "Insufficient data: expected 8 bytes, got 0"},
        DisplayCase{"insufficient_3", MivoError::insufficient_data(8, 3), ErrorKind::InsufficientData,
                    "Insufficient data: expected 8 bytes, got 3"},
        DisplayCase{"meta_precision", MivoError::invalid_metadata("Invalid precision type"), ErrorKind::InvalidMetadata,
                    "Invalid metadata in header: Invalid precision type"},
        DisplayCase{"meta_mode", MivoError::invalid_metadata("Invalid dimension mode"), ErrorKind::InvalidMetadata,
                    "Invalid metadata in header: Invalid dimension mode"},
        DisplayCase{"meta_missing_dims", MivoError::invalid_metadata("Missing original dimensions"),
                    ErrorKind::InvalidMetadata, "Invalid metadata in header: Missing original dimensions"},
        DisplayCase{"meta_missing_mode", MivoError::invalid_metadata("Missing dimension mode"),
                    ErrorKind::InvalidMetadata, "Invalid metadata in header: Missing dimension mode"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorKinds, DeclarationOrderIsStable) {
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidDimension), 0);
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidHeader), 3);
    EXPECT_EQ(static_cast<int>(ErrorKind::DecodingNotSupported), 7);
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidMetadata), 11);
}

TEST(ErrorKinds, TextFieldsAreOwnedAndVerbatim) {
    std::string detail = "quotes \" and\nnewline, ünïcode";
    const MivoError e = MivoError::invalid_metadata(detail);
    detail.clear();
    EXPECT_EQ(e.display(), "Invalid metadata in header: quotes \" and\nnewline, ünïcode");
    const MivoError copy = e;
    EXPECT_EQ(copy, e);
    EXPECT_NE(copy, MivoError::invalid_metadata("other"));
}

}  // namespace
}  // namespace mivo::embeddings
