// Seeded random projection against a model: rows, scale, accumulation order,
// the signed-zero start, and the single stored NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "embeddings/projection.hpp"
#include "embeddings/seeded_stream.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kFullSeed = 0x4D49564F46554C4Cull;  // "MIVOFULL"

// Row r of the d -> t matrix: each deviate rounded to f32, then scaled by
// 1 / sqrt(t) in f32.
std::vector<float> reference_row(std::uint64_t seed, std::size_t d, std::uint16_t t, std::uint16_t r) {
    SeededStream s(projection_row_key_material(seed, static_cast<std::uint16_t>(d), t, r));
    const float scale = 1.0f / std::sqrt(static_cast<float>(t));
    std::vector<float> row(d);
    for (float& e : row) e = static_cast<float>(s.standard_normal()) * scale;
    return row;
}

// The raw f32 accumulator of row r, in order from -0.0, without any NaN
// treatment.
float reference_out(std::span<const float> v, std::uint64_t seed, std::uint16_t t, std::uint16_t r) {
    const auto row = reference_row(seed, v.size(), t, r);
    float acc = -0.0f;
    for (std::size_t j = 0; j < v.size(); ++j) acc += v[j] * row[j];
    return acc;
}

struct Shape {
    std::size_t d;
    std::uint16_t t;
};

class ProjectionAgainstModel : public ::testing::TestWithParam<Shape> {};

TEST_P(ProjectionAgainstModel, EveryOutputBitIdentical) {
    const auto [d, t] = GetParam();
    const Floats v = sample(d, static_cast<std::uint32_t>(d * 31 + t));
    const auto out = project_to_lower_dims(v, t, kFullSeed);
    ASSERT_TRUE(out.has_value());
    ASSERT_EQ(out->size(), t);
    for (std::uint16_t r = 0; r < t; ++r)
        ASSERT_EQ(fbits((*out)[r]), fbits(reference_out(v, kFullSeed, t, r))) << "d " << d << " t " << t << " r " << r;
}

INSTANTIATE_TEST_SUITE_P(Shapes, ProjectionAgainstModel,
                         ::testing::Values(Shape{1, 1}, Shape{64, 1}, Shape{64, 63}, Shape{100, 7}, Shape{768, 16},
                                           Shape{2048, 3}));

// The accumulator starts at -0.0: for a single +0.0 input the output is
// -0.0 exactly when the row's entry is negative, and for -0.0 input exactly
// when it is positive.
TEST(Projection, AccumulatorStartsAtNegativeZero) {
    for (std::uint64_t seed = 0; seed < 16; ++seed) {
        const float entry = reference_row(seed, 1, 1, 0)[0];
        ASSERT_NE(entry, 0.0f);
        EXPECT_EQ(fbits(project_to_lower_dims(Floats{0.0f}, 1, seed).value()[0]), entry < 0 ? 0x80000000u : 0u) << seed;
        EXPECT_EQ(fbits(project_to_lower_dims(Floats{-0.0f}, 1, seed).value()[0]), entry > 0 ? 0x80000000u : 0u)
            << seed;
    }
}

// Inputs near the f32 maximum overflow: with t = 1 the scale is 1 and any
// entry beyond +-1 times the maximum is an infinity, so a row whose large
// products have opposite signs reaches inf + (-inf). Every such NaN, and the
// NaN of a NaN input, is stored as 0x7FC00000; every other output is
// untouched.
TEST(Projection, NanIsStoredAsOnePattern) {
    std::vector<float> v(64, 0.5f);
    for (int j = 0; j < 4; ++j) v[j] = std::numeric_limits<float>::max();
    int nans = 0;
    for (std::uint64_t seed = 0; seed < 128; ++seed) {
        const float raw = reference_out(v, seed, 1, 0);
        nans += std::isnan(raw);
        EXPECT_EQ(fbits(project_to_lower_dims(v, 1, seed).value()[0]), std::isnan(raw) ? kCanonicalNanBits : fbits(raw))
            << seed;
    }
    EXPECT_GT(nans, 0);
    v[10] = -std::numeric_limits<float>::quiet_NaN();  // a NaN input too
    const Floats out = project_to_lower_dims(v, 4, kFullSeed).value();
    for (float x : out) EXPECT_EQ(fbits(x), kCanonicalNanBits);
}

}  // namespace
}  // namespace mivo::embeddings
