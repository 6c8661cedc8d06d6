// Full-vector quantiser, payload layouts and decoders, and whole-identifier
// decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "embeddings/decode.hpp"
#include "embeddings/full_vector.hpp"
#include "embeddings/types.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

using Codes = std::vector<std::uint32_t>;

// Packed stream as a string of bits, most significant first.
std::string bit_string(const Codes& codes, unsigned k) {
    std::string s;
    for (std::uint32_t c : codes)
        for (unsigned i = k; i-- > 0;) s.push_back(i < 32 && ((c >> i) & 1) ? '1' : '0');
    while (s.size() % 8) s.push_back('0');
    return s;
}

Bytes bytes_of_bits(const std::string& s) {
    Bytes out(s.size() / 8, 0);
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == '1') out[i / 8] = static_cast<std::uint8_t>(out[i / 8] | (0x80 >> (i % 8)));
    return out;
}

QuantizedValues quantized(const Floats& v, std::uint8_t bits) {
    auto r = quantize_values(v, bits);
    EXPECT_TRUE(r.has_value());
    return r.value_or(QuantizedValues{});
}

// ---------------------------------------------------------------- quantiser

TEST(Quantiser, ConstantVectorGetsTheMiddleCode) {
    for (std::uint8_t bits : {1, 8, 24, 32}) {
        const QuantizedValues q = quantized(Floats(7, -0.375f), bits);
        EXPECT_EQ(q.codes, Codes(7, 1u << (bits - 1)));
        EXPECT_EQ(dequantize_values(q.codes, bits, q.min, q.max), Floats(7, -0.375f));
    }
}

TEST(Quantiser, WorkedCases) {
    const QuantizedValues two = quantized({0.0f, 1.0f}, 8);
    EXPECT_EQ(two.codes, (Codes{0, 255}));
    expect_same_bits(dequantize_values(two.codes, 8, two.min, two.max), {0.0f, 1.0f});
    // Codes round half away from zero; a value is code / maxq, rounded, times
    // the range, plus the minimum (3 * (1 / 255) would differ in the last bit).
    EXPECT_EQ(quantized({0.0f, 0.5f, 1.0f}, 1).codes, (Codes{0, 1, 1}));
    expect_same_bits(dequantize_values(Codes{3, 7}, 8, 0.0f, 1.0f), {3.0f / 255.0f, 7.0f / 255.0f});
    // Above 24 bits maxq rounds to 2^bits; the top code is still 2^bits - 1.
    EXPECT_EQ(quantized({0.0f, 1.0f}, 32).codes, (Codes{0, 0xFFFFFFFFu}));
    // NaN takes no part in min and max and gets code 0.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QuantizedValues with_nan = quantized({nan, 1.0f, 2.0f, nan}, 8);
    EXPECT_EQ(with_nan.min, 1.0f);
    EXPECT_EQ(with_nan.codes, (Codes{0, 0, 255, 0}));
}

// Extremes whose distance overflows f32 still quantise and decode to finite
// values near the originals (plain formulas would give code 0 and NaN).
TEST(Quantiser, OverflowingRangeStaysFinite) {
    const float big = 3.0e38f;
    const Floats values{-big, 0.0f, big, 1.5e38f};
    const QuantizedValues q = quantized(values, 8);
    EXPECT_EQ(q.codes.front(), 0u);
    EXPECT_EQ(q.codes[2], 255u);
    const Floats back = dequantize_values(q.codes, 8, q.min, q.max);
    EXPECT_EQ(back[0], -big);
    EXPECT_EQ(back[2], big);
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_LE(std::fabs(back[i] - values[i]), 2.0f * big / 255.0f);
}

// Hostile min and max words: whatever NaN the arithmetic makes (its sign and
// payload differ between processors) comes out as the one quiet NaN.
TEST(Quantiser, ComputedNaNsAreCanonical) {
    const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {0xFF800000u, 0x7F800000u}, {0xFFC12345u, 0x3F800000u}, {0x3F800000u, 0xFFFFFFFFu}, {0x00000000u, 0x7F800000u}};
    for (const auto& [lo, hi] : ranges)
        for (float x : dequantize_values(Codes{0, 1, 128, 255}, 8, from_bits(lo), from_bits(hi)))
            if (std::isnan(x)) {
                EXPECT_EQ(fbits(x), 0x7FC00000u) << std::hex << lo << " " << hi;
            }
}

// ---------------------------------------------------------------- binary16

// Rounding to nearest, ties to even, in the normal and subnormal ranges; the
// overflow threshold (the midpoint above the largest half); signed zeros; NaNs.
TEST(Half, EncodeEdgeCases) {
    const std::pair<float, std::uint16_t> cases[] = {
        {1.0f, 0x3C00},
        {1.0f + 0x1p-11f, 0x3C00},      // tie: down to even
        {1.0f + 3 * 0x1p-11f, 0x3C02},  // tie: up to even
        {std::nextafter(1.0f + 0x1p-11f, 2.0f), 0x3C01},
        {65520.0f, 0x7C00},
        {std::nextafter(65520.0f, 0.0f), 0x7BFF},
        {-70000.0f, 0xFC00},
        {-0.0f, 0x8000},
        {0x1p-25f, 0x0000},  // half the smallest subnormal: to even (zero)
        {-0x1p-25f, 0x8000},
        {std::nextafter(0x1p-25f, 1.0f), 0x0001},
        {0x1p-24f * 1.5f, 0x0002},
        {0x1p-24f * 2.5f, 0x0002},
        {0x1p-14f - 0x1p-25f, 0x0400},  // tie: up into the normal range
    };
    for (const auto& [f, h] : cases) EXPECT_EQ(f32_to_f16(f), h) << f;
    // NaNs keep their sign and the top of their payload and come out quiet.
    EXPECT_EQ(f32_to_f16(from_bits(0x7FA02000u)), 0x7F01);
    EXPECT_EQ(f32_to_f16(from_bits(0xFF800001u)), 0xFE00);
}

// Every pattern widens exactly and encodes back to itself; NaNs come back
// quiet with their sign and payload kept.
TEST(Half, EveryPatternRoundTrips) {
    EXPECT_EQ(f16_to_f32(0x0001), 0x1p-24f);
    EXPECT_EQ(f16_to_f32(0x7BFF), 65504.0f);
    EXPECT_EQ(f16_to_f32(0xC000), -2.0f);
    EXPECT_EQ(fbits(f16_to_f32(0xFE01)), 0xFFC02000u);
    for (std::uint32_t h = 0; h <= 0xFFFF; ++h) {
        const auto h16 = static_cast<std::uint16_t>(h);
        const bool is_nan = (h & 0x7C00) == 0x7C00 && (h & 0x3FF);
        ASSERT_EQ(f32_to_f16(f16_to_f32(h16)), is_nan ? (h16 | 0x0200) : h16) << std::hex << h;
    }
}

// ---------------------------------------------------------------- Full32 and Bits

TEST(Full32, RoundTripIsBitExact) {
    std::mt19937_64 rng(17);
    Floats v{-0.0f, from_bits(1), std::numeric_limits<float>::infinity(), from_bits(0x7FA00001u)};
    for (int i = 0; i < 1000; ++i) v.push_back(from_bits(static_cast<std::uint32_t>(rng())));
    Bytes out{0x01, 0x02};  // appends after what is there
    write_full32(v, out);
    ASSERT_EQ(out.size(), 2 + 4 * v.size());
    expect_same_bits(decode_full32(std::span<const std::uint8_t>(out).subspan(2)).value(), v);
}

TEST(Bits, PacksMostSignificantBitFirst) {
    Bytes out;
    pack_codes(Codes{5, 2, 7}, 3, out);
    EXPECT_EQ(out, (Bytes{0xAB, 0x80}));
    // Through the writer: 8 bytes of min and max, then ceil(3 * 4 / 8) bytes.
    out.clear();
    ASSERT_TRUE(write_bits(Floats{1.0f, 0.0f, 0.7f}, 4, out).has_value());
    EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00, 0xF0, 0xB0}));
}

TEST(Bits, RoundTripForEveryWidth) {
    std::mt19937_64 rng(23);
    for (unsigned k = 1; k <= 32; ++k) {
        for (std::size_t n : {1u, 7u, 8u, 9u, 257u}) {
            Codes codes(n);
            for (auto& c : codes) c = static_cast<std::uint32_t>(rng() & (k == 32 ? 0xFFFFFFFFull : (1ull << k) - 1));
            Bytes packed;
            pack_codes(codes, static_cast<std::uint8_t>(k), packed);
            ASSERT_EQ(packed, bytes_of_bits(bit_string(codes, k))) << k << " " << n;
            ASSERT_EQ(unpack_codes(packed, static_cast<std::uint8_t>(k), n), codes) << k << " " << n;
        }
    }
}

// Codes cut by the end of the area keep the bits read so far; codes past it
// are 0.
TEST(Bits, ShortAreaGivesPartialAndZeroCodes) {
    EXPECT_EQ(unpack_codes(Bytes{0x12, 0x34}, 12, 3), (Codes{0x123, 0x4, 0}));
    EXPECT_EQ(unpack_codes(Bytes{}, 3, 2), (Codes{0, 0}));
    EXPECT_EQ(unpack_codes(Bytes{0xFF, 0xFF, 0xFF}, 32, 1), (Codes{0xFFFFFF}));
}

// ------------------------------------------------------- whole identifiers

// A crafted full-vector identifier text: header fields, then the payload.
std::string full_vector_id(std::uint16_t dims, std::uint8_t precision_code, std::uint8_t mode, const Bytes& payload) {
    const auto byte = [](unsigned x) { return static_cast<std::uint8_t>(x); };
    Bytes id{0x04, 0x00, byte(dims >> 8), byte(dims), precision_code, mode, 0x00, 0x80, 'F', 'U', 'L', 'L'};
    id.insert(id.end(), payload.begin(), payload.end());
    return encode_text(id);
}

TEST(DecodeIdentifier, ReportsTheFirstBrokenCondition) {
    const struct {
        std::string text, display;
        bool reversible;
    } rows[] = {
        {"", "Invalid ID header", false},
        {encode_text(Bytes(18, 0x01)), "Decoding not supported for this profile type", false},
        {encode_text(Bytes{0x04, 0x00}), "Invalid ID header", true},
        {encode_text(Bytes{0x04, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}), "Invalid ID header", true},
        {full_vector_id(768, 36, 0, Bytes(16, 0)), "Invalid metadata in header: Invalid precision type", true},
        {full_vector_id(768, 0, 3, Bytes(16, 0)), "Invalid metadata in header: Invalid dimension mode", true},
        {full_vector_id(768, 36, 3, {}), "Invalid metadata in header: Invalid precision type", true},
        {full_vector_id(2, 0, 0, Bytes(5, 0)), "Invalid base32hex encoding", true},
        {full_vector_id(2, 1, 0, Bytes(3, 0)), "Invalid base32hex encoding", true},
        {full_vector_id(768, 2, 0, Bytes(3, 0)), "Insufficient data: expected 8 bytes, got 3", true},
        {full_vector_id(768, 6, 1, Bytes(7, 0)), "Insufficient data: expected 8 bytes, got 7", true},
    };
    for (const auto& row : rows) {
        const auto r = decode_to_embedding(row.text);
        ASSERT_FALSE(r.has_value()) << row.text;
        EXPECT_EQ(r.error().display(), row.display) << row.text;
        EXPECT_EQ(is_reversible(row.text), row.reversible) << row.text;
    }
}

TEST(DecodeIdentifier, PrecisionCode35IsBitsThirtyThree) {
    Bytes payload;
    write_full32(Floats{0.0f, 8589934592.0f}, payload);
    const Bytes codes = bytes_of_bits(std::string(33, '1') + std::string(7, '0'));
    payload.insert(payload.end(), codes.begin(), codes.end());
    const DecodedVector d = decode_to_embedding(full_vector_id(1, 35, 0, payload)).value();
    EXPECT_EQ(d.precision, Precision::bits_of(33));
    EXPECT_EQ(d.values, Floats{4294967296.0f});  // top bit lost: 0xFFFFFFFF / 2^33 * 2^33
}

}  // namespace
}  // namespace mivo::embeddings
