// 128-bit random-hyperplane SimHash: the f32 discipline of each hyperplane's
// dot product, the byte form, and the properties identifiers rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "embeddings/seeded_stream.hpp"
#include "embeddings/vector_simhash.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kSimSeed = 0x4D49564F53494D48ull;  // "MIVOSIMH"

// Slow model of one hyperplane: f32 deviates, f32 products summed in order
// from +0.0.
float reference_dot(std::span<const float> v, std::uint64_t seed, std::uint8_t h) {
    SeededStream s(hyperplane_key_material(seed, h));
    float acc = 0.0f;
    for (float x : v) acc += x * static_cast<float>(s.standard_normal());
    return acc;
}

u128 reference_hash(std::span<const float> v, std::uint64_t seed) {
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h)
        if (reference_dot(v, seed, static_cast<std::uint8_t>(h)) > 0.0f) out |= static_cast<u128>(1) << h;
    return out;
}

// ---------------------------------------------------------------------------

class SimhashAgainstModel : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SimhashAgainstModel, DotProductsAndBitsMatch) {
    const std::size_t n = GetParam();
    const auto v = sample(n, static_cast<std::uint32_t>(n));
    for (std::uint8_t h : {0, 1, 63, 64, 127}) {
        EXPECT_EQ(fbits(simhash_hyperplane_dot(v, kSimSeed, h)), fbits(reference_dot(v, kSimSeed, h)))
            << "n " << n << " h " << int(h);
    }
    EXPECT_TRUE(simhash_128(v, kSimSeed) == reference_hash(v, kSimSeed));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SimhashAgainstModel, ::testing::Values(1, 7, 64, 300, 768));

// A NaN dot sets no bit; with signed zeros the accumulator starts at +0.0
// and stays there, and a zero dot sets no bit.
TEST(Simhash, NanAndZerosGiveZero) {
    EXPECT_TRUE(simhash_128(std::vector<float>{std::numeric_limits<float>::quiet_NaN(), 1.0f}, kSimSeed) == 0);
    for (float zero : {0.0f, -0.0f}) {
        const std::vector<float> zeros(128, zero);
        EXPECT_TRUE(simhash_128(zeros, kSimSeed) == 0);
        EXPECT_EQ(fbits(simhash_hyperplane_dot(zeros, kSimSeed, 5)), 0u);
    }
}

}  // namespace
}  // namespace mivo::embeddings
