// Grid quantiser, Morton and Hilbert codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "embeddings/hilbert.hpp"
#include "embeddings/morton.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {
namespace {

QuantizedCoords point(std::vector<std::uint16_t> c, std::uint8_t bits) { return QuantizedCoords{std::move(c), bits}; }

template <class Result>
u128 value_of(const Result& r) {
    EXPECT_TRUE(r.has_value());
    return r.value_or(0);
}
u128 morton(const QuantizedCoords& p) { return value_of(morton_code(p)); }
u128 hilbert(const QuantizedCoords& p) { return value_of(hilbert_code(p)); }

// ---------------------------------------------------------------- models
// Bit-list models written straight from the definitions.

// Bit position k * n + j holds bit k of coordinate j.
u128 model_morton(const QuantizedCoords& p) {
    const std::size_t n = p.coords.size();
    u128 v = 0;
    for (std::size_t pos = n * p.bits; pos-- > 0;) v = (v << 1) | ((p.coords[pos % n] >> (pos / n)) & 1);
    return v;
}

u128 model_hilbert(const QuantizedCoords& p) {
    const std::size_t n = p.coords.size();
    std::vector<int> e(n, 0), rot(n), t(n);
    std::size_t d = 0;
    u128 out = 0;
    for (int i = p.bits - 1; i >= 0; --i) {
        const std::size_t r = n == 2 ? d % 2 : d;
        for (std::size_t j = 0; j < n; ++j) rot[(j + r) % n] = (p.coords[j] >> i) & 1;
        int tval = 0;
        for (std::size_t j = 0; j < n; ++j) {
            t[j] = rot[j] ^ e[j];
            tval |= t[j] << j;
            out = (out << 1) | static_cast<u128>(t[j]);  // bit 0 of t leads its group
        }
        if (n == 2) {
            if (tval == 0 || tval == 2) {
                d = (d + (tval == 0 ? 1 : 3)) % 4;
                e[0] ^= 1;
                e[1] ^= 1;
            }
        } else {
            std::size_t z = 32;
            for (std::size_t j = 0; j < n; ++j)
                if (t[j] ^ (j + 1 < n ? t[j + 1] : 0)) {
                    z = j;
                    break;
                }
            d = (d + z) % n;
            if (z != 0) e[z % n] ^= 1;
        }
    }
    return out;
}

QuantizedCoords random_point(std::mt19937_64& rng, std::size_t n, std::uint8_t bits) {
    QuantizedCoords p{std::vector<std::uint16_t>(n), bits};
    for (auto& c : p.coords) c = static_cast<std::uint16_t>(rng() & ((1u << bits) - 1));
    return p;
}

std::vector<std::uint16_t> iota10() { return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}; }

// ---------------------------------------------------------------- values

TEST(Curves, WorkedValues) {
    EXPECT_EQ(morton(point({23, 30}, 5)), 0x3BD);
    EXPECT_EQ(morton(point(iota10(), 10)), 0xC00F0332AA);
    EXPECT_EQ(hilbert(point({1, 2}, 2)), 0x6);
    EXPECT_EQ(hilbert(point({1, 2, 3}, 2)), 0x1D);
    EXPECT_EQ(hilbert(point({7, 1, 6}, 3)), 0x16E);
    EXPECT_EQ(hilbert(point(iota10(), 10)), (u128{0x806018} << 64) | 0x0601800028121955u);
}

// Exactly 128 bits is allowed; more is a broken invariant (and the Hilbert
// state machine is 32 coordinates wide).
TEST(Curves, AtMostOneHundredTwentyEightBits) {
    EXPECT_EQ(morton(point(std::vector<std::uint16_t>(8, 0xFFFF), 16)), ~u128{0});
    EXPECT_EQ(morton(point(std::vector<std::uint16_t>(128, 1), 1)), ~u128{0});
    EXPECT_FALSE(morton_code(point(std::vector<std::uint16_t>(10, 1), 13)).has_value());
    EXPECT_FALSE(hilbert_code(point(std::vector<std::uint16_t>(10, 1), 13)).has_value());
    EXPECT_FALSE(hilbert_code(point(std::vector<std::uint16_t>(33, 0), 1)).has_value());
}

// ---------------------------------------------------------------- properties

TEST(Curves, AgreeWithModelsOnRandomPoints) {
    std::mt19937_64 rng(2024);
    for (int rep = 0; rep < 1000; ++rep) {
        const std::size_t n = 1 + rng() % 32;
        const std::size_t max_bits = std::min<std::size_t>(16, 128 / n);
        const auto bits = static_cast<std::uint8_t>(1 + rng() % max_bits);
        const QuantizedCoords p = random_point(rng, n, bits);
        ASSERT_EQ(morton(p), model_morton(p)) << n << "x" << int(bits);
        ASSERT_EQ(hilbert(p), model_hilbert(p)) << n << "x" << int(bits);
    }
    // Morton codes of more coordinates than a 64-bit level holds.
    for (std::size_t n = 33; n <= 128; ++n) {
        const QuantizedCoords p = random_point(rng, n, static_cast<std::uint8_t>(128 / n));
        ASSERT_EQ(morton(p), model_morton(p)) << n;
    }
}

// ---------------------------------------------------------------- quantiser

std::vector<std::uint16_t> coords_of(std::vector<float> v, std::uint8_t n, std::uint8_t bits) {
    const auto r = QuantizedCoords::from_embedding(v, n, bits);
    EXPECT_TRUE(r.has_value() && r->bits == bits);
    return r ? r->coords : std::vector<std::uint16_t>{};
}

TEST(GridQuantiser, WorkedValuesAtTenBits) {
    EXPECT_EQ(coords_of({-1.0f, 1.0f, 0.0f, 1e-9f, -1e-9f}, 5, 10),
              (std::vector<std::uint16_t>{0, 1023, 512, 512, 512}));
    // Out of range after rounding: clamped to the grid.
    EXPECT_EQ(coords_of({std::nextafter(1.0f, 2.0f), 1.5f, -1.5f, std::nextafter(-1.0f, -2.0f)}, 4, 10),
              (std::vector<std::uint16_t>{1023, 1023, 0, 0}));
    EXPECT_EQ(coords_of({1.0f, 0.0f}, 2, 16), (std::vector<std::uint16_t>{65535, 32768}));
}

// The count and width refusals are the encoder's (its failure table); a
// count beyond the values given is the quantiser's own.
TEST(GridQuantiser, CountAtMostTheValuesGiven) {
    const std::vector<float> five(5, 0.1f);
    EXPECT_EQ(QuantizedCoords::from_embedding(five, 6, 10).error().display(),
              "Invalid dimension: got 6, expected range (1, 5)");
    EXPECT_TRUE(QuantizedCoords::from_embedding(five, 5, 16).has_value());
}

}  // namespace
}  // namespace mivo::embeddings
