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

constexpr std::uint64_t kMax = 18446744073709551615ull;

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ErrorDisplay,
    ::testing::Values(
        DisplayCase{"dim_2049", MivoError::invalid_dimension(2049, 64, 2048), ErrorKind::InvalidDimension,
                    "Invalid dimension: got 2049, expected range (64, 2048)"},
        DisplayCase{"dim_u64_max", MivoError::invalid_dimension(kMax, 0, kMax), ErrorKind::InvalidDimension,
                    "Invalid dimension: got 18446744073709551615, expected range (0, 18446744073709551615)"},
        DisplayCase{"nan", MivoError::invalid_embedding_value(), ErrorKind::InvalidEmbeddingValue,
                    "Invalid embedding value (NaN or Inf detected)"},
        DisplayCase{"encoding", MivoError::invalid_encoding(), ErrorKind::InvalidEncoding, "Invalid base32hex encoding"},
        DisplayCase{"header", MivoError::invalid_header(), ErrorKind::InvalidHeader, "Invalid ID header"},
        DisplayCase{"radius_7", MivoError::hamming_radius_too_large(7), ErrorKind::HammingRadiusTooLarge,
                    "Hamming radius too large: 7 (max 3)"},
        DisplayCase{"mismatch", MivoError::profile_mismatch("Mini128", "Type 0x2"), ErrorKind::ProfileMismatch,
                    "Profile mismatch: expected Mini128, got Type 0x2"},
        DisplayCase{"transform", MivoError::transform_not_found(65535), ErrorKind::TransformNotFound,
                    "Transform not found: ID 65535"},
        DisplayCase{"not_supported", MivoError::decoding_not_supported(), ErrorKind::DecodingNotSupported,
                    "Decoding not supported for this profile type"},
        DisplayCase{"precision_40", MivoError::invalid_precision("Bits must be 1-32, got 40"),
                    ErrorKind::InvalidPrecision, "Invalid precision: Bits must be 1-32, got 40"},
        DisplayCase{"higher", MivoError::projection_error("Cannot project to higher dimensions: 2048 -> 2049"),
                    ErrorKind::ProjectionError, "Projection error: Cannot project to higher dimensions: 2048 -> 2049"},
        DisplayCase{"insufficient_0", MivoError::insufficient_data(8, 0), ErrorKind::InsufficientData,
                    "Insufficient data: expected 8 bytes, got 0"},
        DisplayCase{"metadata", MivoError::invalid_metadata("Missing dimension mode"), ErrorKind::InvalidMetadata,
                    "Invalid metadata in header: Missing dimension mode"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorKinds, DeclarationOrderFieldsAndOwnedText) {
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidDimension), 0);
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidHeader), 3);
    EXPECT_EQ(static_cast<int>(ErrorKind::DecodingNotSupported), 7);
    EXPECT_EQ(static_cast<int>(ErrorKind::InvalidMetadata), 11);
    const MivoError dim = MivoError::invalid_dimension(2049, 64, 2048);
    EXPECT_EQ(dim.got(), 2049u);
    EXPECT_EQ(dim.low(), 64u);
    EXPECT_EQ(dim.high(), 2048u);
    std::string detail = "quotes \" and\nnewline";
    const MivoError e = MivoError::invalid_metadata(detail);
    detail.clear();
    EXPECT_EQ(e.display(), "Invalid metadata in header: quotes \" and\nnewline");
    EXPECT_NE(e, MivoError::invalid_metadata("other"));
}

}  // namespace
}  // namespace mivo::embeddings
