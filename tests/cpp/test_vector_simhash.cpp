// 128-bit random-hyperplane SimHash: the f32 discipline of each hyperplane's
// dot product (the bits and their order are pinned by the exact identifiers),
// and the zero and NaN rules.
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

// ---------------------------------------------------------------------------

class SimhashAgainstModel : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SimhashAgainstModel, DotProductsMatch) {
    const std::size_t n = GetParam();
    const auto v = sample(n, static_cast<std::uint32_t>(n));
    for (std::uint8_t h : {0, 1, 63, 64, 127}) {
        EXPECT_EQ(fbits(simhash_hyperplane_dot(v, kSimSeed, h)), fbits(reference_dot(v, kSimSeed, h)))
            << "n " << n << " h " << int(h);
    }
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
