// 128-bit random-hyperplane SimHash: the f32 discipline of each hyperplane's
// dot product, the byte form, and the properties identifiers rely on.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "embeddings/seeded_stream.hpp"
#include "embeddings/vector_simhash.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kSimSeed = 0x4D49564F53494D48ull;  // "MIVOSIMH"

// Slow model of one hyperplane: every f32 step forced through memory.
float reference_dot(std::span<const float> v, std::uint64_t seed, std::uint8_t h) {
    SeededStream s(hyperplane_key_material(seed, h));
    volatile float acc = 0.0f;
    for (float x : v) {
        volatile double g = s.standard_normal();
        volatile float gf = static_cast<float>(g);
        volatile float p = x * gf;
        acc = acc + p;
    }
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
    const u128 got = simhash_128(v, kSimSeed);
    EXPECT_TRUE(got == reference_hash(v, kSimSeed));
    // A random vector sets roughly half of the bits.
    const int ones = std::popcount(static_cast<std::uint64_t>(got)) + std::popcount(static_cast<std::uint64_t>(got >> 64));
    EXPECT_GT(ones, 32);
    EXPECT_LT(ones, 96);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SimhashAgainstModel, ::testing::Values(1, 7, 64, 300, 768));

TEST(Simhash, EmptyAndAllZeroGiveZero) {
    EXPECT_TRUE(simhash_128({}, kSimSeed) == 0);
    const std::vector<float> zeros(128, 0.0f);
    EXPECT_TRUE(simhash_128(zeros, kSimSeed) == 0);
    const std::vector<float> neg_zeros(128, -0.0f);
    EXPECT_TRUE(simhash_128(neg_zeros, kSimSeed) == 0);
    // The accumulator starts at +0.0 and stays there.
    EXPECT_EQ(fbits(simhash_hyperplane_dot(zeros, kSimSeed, 5)), 0u);
    EXPECT_EQ(fbits(simhash_hyperplane_dot(neg_zeros, kSimSeed, 5)), 0u);
}

TEST(Simhash, NanDotSetsNoBit) {
    const std::vector<float> v = {std::numeric_limits<float>::quiet_NaN(), 1.0f};
    EXPECT_TRUE(simhash_128(v, kSimSeed) == 0);
}

// Hyperplanes do not depend on the embedding length: appending zeros leaves
// every dot product unchanged.
TEST(Simhash, LongerEmbeddingsExtendTheSameHyperplanes) {
    const auto v = sample(100, 11);
    auto padded = v;
    padded.resize(777, 0.0f);
    EXPECT_TRUE(simhash_128(v, kSimSeed) == simhash_128(padded, kSimSeed));
    for (std::uint8_t h : {0, 42, 127})
        EXPECT_EQ(fbits(simhash_hyperplane_dot(v, kSimSeed, h)), fbits(simhash_hyperplane_dot(padded, kSimSeed, h)));
    // Padding with non-zero values does change the hash.
    auto extended = v;
    const auto tail = sample(677, 12);
    extended.insert(extended.end(), tail.begin(), tail.end());
    EXPECT_FALSE(simhash_128(v, kSimSeed) == simhash_128(extended, kSimSeed));
}

class SeedBytes : public ::testing::TestWithParam<int> {};

// Every seed byte is hashed: flipping one bit of any byte changes the hash.
TEST_P(SeedBytes, FlippingAnyByteGivesADifferentHash) {
    const auto v = sample(64, 3);
    const std::uint64_t other = kSimSeed ^ (std::uint64_t{1} << (8 * GetParam()));
    EXPECT_FALSE(simhash_128(v, kSimSeed) == simhash_128(v, other));
}

INSTANTIATE_TEST_SUITE_P(Bytes, SeedBytes, ::testing::Range(0, 8));

}  // namespace
}  // namespace mivo::embeddings
