// Grid quantiser, Morton and Hilbert codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "embeddings/hilbert.hpp"
#include "embeddings/morton.hpp"
#include "embeddings/types.hpp"

namespace mivo::embeddings {
namespace {

QuantizedCoords point(std::vector<std::uint16_t> c, std::uint8_t bits) { return QuantizedCoords{std::move(c), bits}; }

std::string hex_of(u128 v) {
    if (v == 0) return "0";
    std::string s;
    for (; v; v >>= 4) s.insert(s.begin(), "0123456789ABCDEF"[static_cast<int>(v & 15)]);
    return s;
}

u128 morton(const QuantizedCoords& p) {
    auto r = morton_code(p);
    EXPECT_TRUE(r.has_value());
    return r.value_or(0);
}
u128 hilbert(const QuantizedCoords& p) {
    auto r = hilbert_code(p);
    EXPECT_TRUE(r.has_value());
    return r.value_or(0);
}

// ---------------------------------------------------------------- models
// Bit-list models written straight from the definitions.

// Position k * n + j holds bit k of coordinate j; returned most significant
// position first.
std::string model_morton_bits(const QuantizedCoords& p) {
    const std::size_t n = p.coords.size();
    std::string s;
    for (std::size_t pos = n * p.bits; pos-- > 0;) s.push_back(((p.coords[pos % n] >> (pos / n)) & 1) ? '1' : '0');
    return s;
}

u128 from_bit_string(const std::string& s) {
    u128 v = 0;
    for (char c : s) v = (v << 1) | static_cast<u128>(c == '1');
    return v;
}

u128 model_hilbert(const QuantizedCoords& p) {
    const std::size_t n = p.coords.size();
    std::vector<int> e(n, 0), rot(n), t(n);
    std::size_t d = 0;
    std::string out;
    for (int i = p.bits - 1; i >= 0; --i) {
        const std::size_t r = n == 2 ? d % 2 : d;
        for (std::size_t j = 0; j < n; ++j) rot[(j + r) % n] = (p.coords[j] >> i) & 1;
        int tval = 0;
        for (std::size_t j = 0; j < n; ++j) {
            t[j] = rot[j] ^ e[j];
            tval |= t[j] << j;
            out.push_back(t[j] ? '1' : '0');  // bit 0 of t leads its group
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
    return from_bit_string(out);
}

QuantizedCoords random_point(std::mt19937_64& rng, std::size_t n, std::uint8_t bits) {
    QuantizedCoords p{std::vector<std::uint16_t>(n), bits};
    for (auto& c : p.coords) c = static_cast<std::uint16_t>(rng() & ((1u << bits) - 1));
    return p;
}

std::vector<std::uint16_t> iota10() { return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}; }

// ---------------------------------------------------------------- values

TEST(Morton, WorkedValues) {
    EXPECT_EQ(hex_of(morton(point({23, 30}, 5))), "3BD");
    EXPECT_EQ(morton(point({1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 10)), 1);
    EXPECT_EQ(morton(point(std::vector<std::uint16_t>(10, 1023), 10)), (u128{1} << 100) - 1);
    EXPECT_EQ(hex_of(morton(point(iota10(), 10))), "C00F0332AA");
}

TEST(Hilbert, WorkedValues) {
    struct Case {
        std::vector<std::uint16_t> coords;
        std::uint8_t bits;
        const char* hex;
    };
    for (const Case& c : {Case{{1, 2}, 2, "6"}, Case{{3, 1}, 2, "B"}, Case{{1, 2, 3}, 2, "1D"}, Case{{7, 1, 6}, 3, "16E"},
                          Case{{0, 0, 0}, 3, "B"}, Case{std::vector<std::uint16_t>(10, 0), 10, "8060180601806018060180"},
                          Case{std::vector<std::uint16_t>(10, 1023), 10, "FFFFEFF3F8FC3E0F0380C0200"},
                          Case{iota10(), 10, "8060180601800028121955"}})
        EXPECT_EQ(hex_of(hilbert(point(c.coords, c.bits))), c.hex);
}

TEST(Curves, ExactlyOneHundredTwentyEightBitsIsAllowed) {
    EXPECT_EQ(morton(point(std::vector<std::uint16_t>(8, 0xFFFF), 16)), ~u128{0});
    EXPECT_EQ(morton(point(std::vector<std::uint16_t>(128, 1), 1)), ~u128{0});
    const QuantizedCoords p = point(std::vector<std::uint16_t>(32, 0xF), 4);
    EXPECT_EQ(hilbert(p), model_hilbert(p));
}

TEST(Curves, OverOneHundredTwentyEightBitsIsAnInternalError) {
    const QuantizedCoords p = point(std::vector<std::uint16_t>(10, 1), 13);
    const auto m = morton_code(p);
    ASSERT_FALSE(m.has_value());
    EXPECT_EQ(m.error().kind(), ErrorKind::Internal);
    EXPECT_EQ(m.error().display(), "Morton code exceeds 128 bits: 10 dims × 13 bits = 130 bits");
    const auto h = hilbert_code(p);
    ASSERT_FALSE(h.has_value());
    EXPECT_EQ(h.error().display(), "Hilbert code exceeds 128 bits: 10 dims × 13 bits = 130 bits");
    // The Hilbert state machine is 32 coordinates wide.
    EXPECT_FALSE(hilbert_code(point(std::vector<std::uint16_t>(33, 0), 1)).has_value());
}

// ---------------------------------------------------------------- properties

TEST(Curves, AgreeWithModelsOnRandomPoints) {
    std::mt19937_64 rng(2024);
    for (int rep = 0; rep < 3000; ++rep) {
        const std::size_t n = 1 + rng() % 32;
        const std::size_t max_bits = std::min<std::size_t>(16, 128 / n);
        const auto bits = static_cast<std::uint8_t>(1 + rng() % max_bits);
        const QuantizedCoords p = random_point(rng, n, bits);
        ASSERT_EQ(morton(p), from_bit_string(model_morton_bits(p))) << n << "x" << int(bits);
        ASSERT_EQ(hilbert(p), model_hilbert(p)) << n << "x" << int(bits);
    }
    // Morton codes of more coordinates than a 64-bit level holds.
    for (std::size_t n = 33; n <= 128; ++n) {
        const QuantizedCoords p = random_point(rng, n, static_cast<std::uint8_t>(128 / n));
        ASSERT_EQ(morton(p), from_bit_string(model_morton_bits(p))) << n;
    }
}

// Both codes map small full grids one-to-one onto 0 .. 2^(n * bits) - 1.
TEST(Curves, CodesAreABijectionOnFullGrids) {
    for (auto [n, bits] : {std::pair<std::size_t, std::uint8_t>{3, 3}, {2, 4}, {1, 8}, {4, 3}, {5, 2}, {12, 1}}) {
        const std::size_t total = std::size_t{1} << (n * bits);
        std::vector<bool> seen_m(total), seen_h(total);
        for (std::size_t idx = 0; idx < total; ++idx) {
            QuantizedCoords p{std::vector<std::uint16_t>(n), bits};
            for (std::size_t j = 0; j < n; ++j) p.coords[j] = static_cast<std::uint16_t>((idx >> (j * bits)) & ((1u << bits) - 1));
            const u128 m = morton(p), h = hilbert(p);
            ASSERT_LT(m, total);
            ASSERT_LT(h, total);
            ASSERT_FALSE(seen_m[static_cast<std::size_t>(m)]) << n << "x" << int(bits);
            ASSERT_FALSE(seen_h[static_cast<std::size_t>(h)]) << n << "x" << int(bits);
            seen_m[static_cast<std::size_t>(m)] = seen_h[static_cast<std::size_t>(h)] = true;
        }
    }
}

// Morton codes order points as their interleaved bit strings do.
TEST(Curves, MortonSortsAsInterleavedCoordinates) {
    std::mt19937_64 rng(11);
    for (int rep = 0; rep < 3000; ++rep) {
        const QuantizedCoords a = random_point(rng, 10, 10);
        QuantizedCoords b = random_point(rng, 10, 10);
        if (rep % 4 == 0) {
            b = a;
            b.coords[rng() % 10] ^= static_cast<std::uint16_t>(1u << (rng() % 10));
        }
        EXPECT_EQ(morton(a) < morton(b), model_morton_bits(a) < model_morton_bits(b));
    }
}

// ---------------------------------------------------------------- quantiser

std::vector<std::uint16_t> coords_of(std::vector<float> v, std::uint8_t n, std::uint8_t bits) {
    auto r = QuantizedCoords::from_embedding(v, n, bits);
    EXPECT_TRUE(r.has_value());
    if (r) {
        EXPECT_EQ(r->bits, bits);
    }
    return r ? r->coords : std::vector<std::uint16_t>{};
}

TEST(GridQuantiser, WorkedValuesAtTenBits) {
    EXPECT_EQ(coords_of({-1.0f, 1.0f, 0.0f, 1e-9f, -1e-9f}, 5, 10), (std::vector<std::uint16_t>{0, 1023, 512, 512, 512}));
    // Out of range after rounding: clamped to the grid.
    EXPECT_EQ(coords_of({std::nextafter(1.0f, 2.0f), 1.5f, -1.5f, std::nextafter(-1.0f, -2.0f)}, 4, 10),
              (std::vector<std::uint16_t>{1023, 1023, 0, 0}));
    // Only the first n values are used.
    EXPECT_EQ(coords_of({1.0f, -1.0f, 1.0f}, 2, 1), (std::vector<std::uint16_t>{1, 0}));
    EXPECT_EQ(coords_of({1.0f, 0.0f}, 2, 16), (std::vector<std::uint16_t>{65535, 32768}));
}

// The three f32 steps in order, then clamp and roundf, against a double model
// of the same steps over a sweep of values.
TEST(GridQuantiser, FollowsTheF32Steps) {
    for (std::uint8_t bits : {1, 7, 10, 16}) {
        const float maxq = static_cast<float>((1u << bits) - 1);
        for (int i = -1100; i <= 1100; ++i) {
            const float v = static_cast<float>(i) / 1024.0f;
            volatile float a = v + 1.0f;
            volatile float b = a * 0.5f;
            volatile float c = b * maxq;
            const float clamped = std::min(std::max(static_cast<float>(c), 0.0f), maxq);
            const auto want = static_cast<std::uint16_t>(std::round(static_cast<double>(clamped)));
            ASSERT_EQ(coords_of({v}, 1, bits)[0], want) << v << " bits " << int(bits);
        }
    }
}

TEST(GridQuantiser, RefusalsInOrder) {
    const std::vector<float> five(5, 0.1f);
    struct Case {
        std::uint8_t n, bits;
        const char* text;
    };
    for (const Case& c : {Case{0, 10, "Invalid dimension: got 0, expected range (1, 32)"},
                          Case{33, 17, "Invalid dimension: got 33, expected range (1, 32)"},
                          Case{10, 0, "Invalid dimension: got 0, expected range (1, 16)"},
                          Case{6, 17, "Invalid dimension: got 17, expected range (1, 16)"},
                          Case{6, 10, "Invalid dimension: got 6, expected range (1, 5)"}}) {
        const auto r = QuantizedCoords::from_embedding(five, c.n, c.bits);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind(), ErrorKind::InvalidDimension);
        EXPECT_EQ(r.error().display(), c.text);
    }
    EXPECT_TRUE(QuantizedCoords::from_embedding(five, 5, 16).has_value());
}

}  // namespace
}  // namespace mivo::embeddings
