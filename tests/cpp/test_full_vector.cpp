// Full-vector quantiser, payload layouts and decoders, and whole-identifier
// decoding.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "embeddings/decode.hpp"
#include "embeddings/base32hex.hpp"
#include "embeddings/full_vector.hpp"
#include "embeddings/types.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

using Codes = std::vector<std::uint32_t>;

// ---------------------------------------------------------------- models

// The quantiser's per-value steps, each forced through an f32 store.
std::uint32_t model_code(float v, float mn, float range, unsigned bits) {
    const float maxq = static_cast<float>(bits >= 32 ? 4294967295.0 : static_cast<double>((1ull << bits) - 1));
    volatile float a = v - mn;
    volatile float b = a / range;
    volatile float t = b * maxq;
    float q = std::roundf(t);
    if (std::isnan(q) || q < 0.0f) q = 0.0f;
    if (q > maxq) q = maxq;
    const double top = static_cast<double>((1ull << bits) - 1);
    return static_cast<std::uint32_t>(std::min(static_cast<double>(q), top));
}

float model_value(std::uint32_t code, unsigned bits, float mn, float mx) {
    const float maxq = static_cast<float>(static_cast<double>((1ull << bits) - 1));
    volatile float range = mx - mn;
    if (range == 0.0f) return mn;
    volatile float c = static_cast<float>(code);
    volatile float a = c / maxq;
    volatile float b = a * range;
    return b + mn;
}

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

// binary16 to f32 from its definition.
float model_f16_to_f32(std::uint16_t h) {
    const bool neg = h & 0x8000;
    const int exp = (h >> 10) & 0x1F;
    const int mant = h & 0x3FF;
    if (exp == 31) {
        if (mant == 0) return neg ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        return from_bits((neg ? 0x80000000u : 0u) | 0x7FC00000u | (static_cast<std::uint32_t>(mant) << 13));
    }
    const double mag = exp == 0 ? std::ldexp(static_cast<double>(mant), -24) : std::ldexp(1024.0 + mant, exp - 25);
    return static_cast<float>(neg ? -mag : mag);
}

// f32 to binary16 from the definition: |f| rounded to the nearest multiple of
// the binary16 step at its scale, ties to even (every step exact in double).
std::uint16_t reference_f32_to_f16(float f) {
    const auto sign = static_cast<std::uint16_t>((fbits(f) >> 16) & 0x8000u);
    if (std::isnan(f)) return static_cast<std::uint16_t>(sign | 0x7E00u | ((fbits(f) >> 13) & 0x3FFu));
    const double a = std::fabs(static_cast<double>(f));
    if (a >= 65520.0) return static_cast<std::uint16_t>(sign | 0x7C00u);
    if (a == 0.0) return sign;
    int e = 0;
    std::frexp(a, &e);                                 // a in [2^(e-1), 2^e)
    const int step = e - 11 < -24 ? -24 : e - 11;      // 11 significant bits, or the subnormal step
    const auto q = static_cast<std::uint32_t>(std::nearbyint(std::ldexp(a, -step)));
    // Normal: exponent field e + 14 and the 10 bits below the leading one (a
    // carry to 2048 moves into the exponent); subnormal: q itself.
    const std::uint32_t h = step == -24 ? q : ((static_cast<std::uint32_t>(step + 25) << 10) + q - 1024u);
    return static_cast<std::uint16_t>(sign | h);
}

QuantizedValues quantized(const Floats& v, std::uint8_t bits) {
    auto r = quantize_values(v, bits);
    EXPECT_TRUE(r.has_value());
    return r.value_or(QuantizedValues{});
}

// ---------------------------------------------------------------- quantiser

TEST(Quantiser, ConstantVectorGetsTheMiddleCode) {
    for (std::uint8_t bits : {1, 4, 8, 24, 32}) {
        const QuantizedValues q = quantized(Floats(7, -0.375f), bits);
        EXPECT_EQ(q.codes, Codes(7, 1u << (bits - 1)));
        EXPECT_EQ(q.min, -0.375f);
        EXPECT_EQ(q.max, -0.375f);
        EXPECT_EQ(dequantize_values(q.codes, bits, q.min, q.max), Floats(7, -0.375f));
    }
}

TEST(Quantiser, WorkedCases) {
    const QuantizedValues two = quantized({0.0f, 1.0f}, 8);
    EXPECT_EQ(two.codes, (Codes{0, 255}));
    expect_same_bits(dequantize_values(two.codes, 8, two.min, two.max), {0.0f, 1.0f});

    EXPECT_EQ(quantized({0.0f, 0.5f, 1.0f}, 1).codes, (Codes{0, 1, 1}));

    const QuantizedValues empty = quantized({}, 8);
    EXPECT_TRUE(empty.codes.empty());
    EXPECT_EQ(fbits(empty.min), 0u);
    EXPECT_EQ(fbits(empty.max), 0u);
    EXPECT_TRUE(dequantize_values({}, 8, 1.0f, 2.0f).empty());

    // Above 24 bits maxq rounds to 2^bits; the top code is still 2^bits - 1.
    EXPECT_EQ(quantized({0.0f, 1.0f}, 32).codes, (Codes{0, 0xFFFFFFFFu}));
    EXPECT_EQ(quantized({0.0f, 1.0f}, 25).codes, (Codes{0, (1u << 25) - 1}));

    // NaN takes no part in min and max and gets code 0.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QuantizedValues with_nan = quantized({nan, 1.0f, 2.0f, nan}, 8);
    EXPECT_EQ(with_nan.min, 1.0f);
    EXPECT_EQ(with_nan.max, 2.0f);
    EXPECT_EQ(with_nan.codes, (Codes{0, 0, 255, 0}));
}

TEST(Quantiser, RefusesBitCountsOutsideOneToThirtyTwo) {
    for (int bits : {0, 33, 40, 255}) {
        const auto r = quantize_values(Floats{1.0f, 2.0f}, static_cast<std::uint8_t>(bits));
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind(), ErrorKind::InvalidPrecision);
        EXPECT_EQ(r.error().display(), "Invalid precision: Bits must be 1-32, got " + std::to_string(bits));
        Bytes out{0xAA};
        EXPECT_FALSE(write_bits(Floats{1.0f}, static_cast<std::uint8_t>(bits), out).has_value());
        EXPECT_EQ(out, Bytes{0xAA});  // nothing written on failure
    }
}

TEST(Quantiser, AgreesWithStepModelOnRandomVectors) {
    std::mt19937_64 rng(5);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    for (unsigned bits = 1; bits <= 32; ++bits) {
        for (int rep = 0; rep < 2; ++rep) {
            Floats v(300);
            for (auto& x : v) x = normal(rng) * (rep == 1 ? 1e-30f : 1.0f);
            const QuantizedValues q = quantized(v, static_cast<std::uint8_t>(bits));
            float mn = v[0], mx = v[0];
            for (float x : v) mn = std::min(mn, x), mx = std::max(mx, x);
            ASSERT_EQ(q.min, mn);
            ASSERT_EQ(q.max, mx);
            const float range = mx - mn;
            for (std::size_t i = 0; i < v.size(); ++i) ASSERT_EQ(q.codes[i], model_code(v[i], mn, range, bits)) << bits;
            const Floats back = dequantize_values(q.codes, static_cast<std::uint8_t>(bits), q.min, q.max);
            for (std::size_t i = 0; i < v.size(); ++i)
                ASSERT_EQ(fbits(back[i]), fbits(model_value(q.codes[i], bits, q.min, q.max))) << bits;
        }
    }
}

// ---------------------------------------------------------------- binary16

TEST(Half, WorkedValues) {
    EXPECT_EQ(f32_to_f16(1.0f), 0x3C00);
    EXPECT_EQ(f32_to_f16(70000.0f), 0x7C00);
    EXPECT_EQ(f32_to_f16(65520.0f), 0x7C00);
    EXPECT_EQ(f32_to_f16(std::nextafter(65520.0f, 0.0f)), 0x7BFF);
    EXPECT_EQ(f32_to_f16(-0.0f), 0x8000);
    EXPECT_EQ(f32_to_f16(0x1p-25f), 0x0000);
    EXPECT_EQ(f32_to_f16(-0x1p-25f), 0x8000);
    EXPECT_EQ(f32_to_f16(std::nextafter(0x1p-25f, 1.0f)), 0x0001);
    EXPECT_EQ(f32_to_f16(0x1p-24f * 1.5f), 0x0002);  // tie between 1 and 2: even
    EXPECT_EQ(f32_to_f16(0x1p-24f * 2.5f), 0x0002);  // tie between 2 and 3: even
    Bytes out;
    write_half16(Floats{1.0f, 70000.0f}, out);
    EXPECT_EQ(out, (Bytes{0x3C, 0x00, 0x7C, 0x00}));
}

TEST(Half, DecodeMatchesDefinitionForAllPatterns) {
    for (std::uint32_t h = 0; h <= 0xFFFF; ++h) {
        const auto h16 = static_cast<std::uint16_t>(h);
        ASSERT_EQ(fbits(f16_to_f32(h16)), fbits(model_f16_to_f32(h16))) << std::hex << h;
        // Encoding the widened value gives the pattern back (NaNs come back quiet).
        const bool is_nan = (h & 0x7C00) == 0x7C00 && (h & 0x3FF);
        ASSERT_EQ(f32_to_f16(f16_to_f32(h16)), is_nan ? (h16 | 0x0200) : h16) << std::hex << h;
    }
}

TEST(Half, EncodeMatchesSoftwareReference) {
    auto check = [](std::uint32_t pattern) {
        const float f = from_bits(pattern);
        ASSERT_EQ(f32_to_f16(f), reference_f32_to_f16(f)) << std::hex << pattern;
    };
    // A dense stride over every pattern.
    for (std::uint64_t p = 0; p <= 0xFFFFFFFFull; p += 4093) check(static_cast<std::uint32_t>(p));
    // Around every rounding tie: the midpoint of each pair of neighbouring
    // halves and its f32 neighbours.
    for (std::uint32_t h = 0; h < 0x7C00; ++h) {
        for (std::uint32_t sign : {0u, 0x8000u}) {
            const double lo = std::fabs(static_cast<double>(f16_to_f32(static_cast<std::uint16_t>(h))));
            const double hi = h + 1 == 0x7C00 ? 65536.0 : static_cast<double>(f16_to_f32(static_cast<std::uint16_t>(h + 1)));
            const std::uint32_t mid = fbits(static_cast<float>((lo + hi) / 2)) | (sign << 16);
            for (std::uint32_t d = 0; d <= 3; ++d) {
                check(mid + d);
                check(mid - d);
            }
            check(fbits(static_cast<float>(lo)) | (sign << 16));
        }
    }
    // Dense strides through two binades: the lowest half subnormals and the
    // top of the half range.
    for (std::uint32_t p = 0x33000000u; p < 0x34000000u; p += 17) check(p);
    for (std::uint32_t p = 0x47000000u; p < 0x47800000u; p += 19) check(p);
}

// ---------------------------------------------------------------- Full32

TEST(Full32, RoundTripIsBitExact) {
    std::mt19937_64 rng(17);
    Floats v{-0.0f, 0.0f, from_bits(1), from_bits(0x807FFFFFu), std::numeric_limits<float>::max(),
             -std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
             std::numeric_limits<float>::infinity(), from_bits(0x7FA00001u), from_bits(0xFFC12345u)};
    for (int i = 0; i < 5000; ++i) v.push_back(from_bits(static_cast<std::uint32_t>(rng())));
    Bytes out{0x01, 0x02};  // appends after what is there
    write_full32(v, out);
    ASSERT_EQ(out.size(), 2 + 4 * v.size());
    const auto back = decode_full32(std::span<const std::uint8_t>(out).subspan(2));
    ASSERT_TRUE(back.has_value());
    expect_same_bits(*back, v);
}

// ---------------------------------------------------------------- Bits

TEST(Bits, PacksMostSignificantBitFirst) {
    Bytes out;
    pack_codes(Codes{0xF, 0x0, 0xA}, 4, out);
    EXPECT_EQ(out, (Bytes{0xF0, 0xA0}));
    out.clear();
    pack_codes(Codes{5, 2, 7}, 3, out);
    EXPECT_EQ(out, (Bytes{0xAB, 0x80}));
    out.clear();
    pack_codes(Codes{}, 7, out);
    EXPECT_TRUE(out.empty());

    // Through the writer: 8 bytes of min and max, then ceil(3 * 4 / 8) bytes.
    out.clear();
    ASSERT_TRUE(write_bits(Floats{1.0f, 0.0f, 0.7f}, 4, out).has_value());
    EXPECT_EQ(out.size(), 8u + 2u);
    EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00, 0xF0, 0xB0}));
}

TEST(Bits, RoundTripForEveryWidth) {
    std::mt19937_64 rng(23);
    for (unsigned k = 1; k <= 32; ++k) {
        for (std::size_t n : {1u, 2u, 7u, 8u, 9u, 100u, 257u}) {
            Codes codes(n);
            for (auto& c : codes) c = static_cast<std::uint32_t>(rng() & (k == 32 ? 0xFFFFFFFFull : (1ull << k) - 1));
            Bytes packed;
            pack_codes(codes, static_cast<std::uint8_t>(k), packed);
            const std::string model = bit_string(codes, k);
            ASSERT_EQ(packed, bytes_of_bits(model)) << k << " " << n;
            ASSERT_EQ(unpack_codes(packed, static_cast<std::uint8_t>(k), n), codes) << k << " " << n;
        }
    }
}

TEST(Bits, ShortAreaGivesPartialAndZeroCodes) {
    // Codes cut by the end of the area keep the bits read so far.
    EXPECT_EQ(unpack_codes(Bytes{0xAB}, 12, 2), (Codes{0xAB, 0}));
    EXPECT_EQ(unpack_codes(Bytes{0x12, 0x34}, 12, 3), (Codes{0x123, 0x4, 0}));
    EXPECT_EQ(unpack_codes(Bytes{0xF0, 0xA0}, 4, 5), (Codes{15, 0, 10, 0, 0}));
    EXPECT_EQ(unpack_codes(Bytes{}, 3, 4), (Codes{0, 0, 0, 0}));
    EXPECT_EQ(unpack_codes(Bytes{0xFF, 0xFF, 0xFF}, 32, 1), (Codes{0xFFFFFF}));
    // Codes long enough for the 8-byte window and cut at the very end.
    Bytes area(20);
    for (std::size_t i = 0; i < area.size(); ++i) area[i] = static_cast<std::uint8_t>(0x11 * (i % 15 + 1));
    const std::string bits = [&] {
        std::string s;
        for (std::uint8_t b : area)
            for (int i = 7; i >= 0; --i) s.push_back((b >> i) & 1 ? '1' : '0');
        return s;
    }();
    for (unsigned k = 1; k <= 33; ++k) {
        const std::size_t count = 200 / k + 3;
        const Codes got = unpack_codes(area, static_cast<std::uint8_t>(k), count);
        for (std::size_t i = 0; i < count; ++i) {
            std::uint64_t want = 0;
            for (std::size_t s = i * k; s < (i + 1) * k && s < bits.size(); ++s) want = (want << 1) | (bits[s] == '1');
            ASSERT_EQ(got[i], static_cast<std::uint32_t>(want)) << k << " " << i;
        }
    }
}

TEST(Bits, ThirtyThreeBitCodesKeepTheirLowThirtyTwoBits) {
    // Two 33-bit codes: 1 1000...0001 and 0 0000...0001, then 6 filler bits.
    std::string stream(72, '0');
    stream[0] = stream[1] = stream[32] = stream[65] = '1';
    const Bytes packed = bytes_of_bits(stream);
    EXPECT_EQ(unpack_codes(packed, 33, 2), (Codes{0x80000001u, 0x1u}));
}

// ------------------------------------------------------- whole identifiers

// A crafted full-vector identifier: header fields, then the payload.
Bytes full_vector_id(std::uint16_t dims, std::uint8_t precision_code, std::uint8_t mode, std::uint16_t target,
                     const Bytes& payload, std::uint32_t seed = 0x46554C4Cu) {
    const std::uint64_t fields = (std::uint64_t{dims} << 48) | (std::uint64_t{precision_code} << 40) |
                                 (std::uint64_t{mode} << 32) | (std::uint64_t{target} << 16) | (seed >> 16);
    Bytes id{0x04, 0x00};
    for (int k = 7; k >= 0; --k) id.push_back(static_cast<std::uint8_t>(fields >> (8 * k)));
    id.push_back(static_cast<std::uint8_t>(seed >> 8));
    id.push_back(static_cast<std::uint8_t>(seed));
    for (std::uint8_t b : payload) id.push_back(b);
    return id;
}

std::string text_of(const Bytes& b) { return encode_text(b); }

struct IdFailure {
    const char* name;
    std::string text;
    std::string display;
    bool reversible;
    friend void PrintTo(const IdFailure& c, std::ostream* os) { *os << c.name; }
};

class DecodeIdentifierFailure : public ::testing::TestWithParam<IdFailure> {};

TEST_P(DecodeIdentifierFailure, ReportsExactText) {
    const IdFailure& c = GetParam();
    const auto r = decode_to_embedding(c.text);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), c.display);
    EXPECT_EQ(is_reversible(c.text), c.reversible);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodeIdentifierFailure,
    ::testing::Values(
        IdFailure{"empty_text", "", "Invalid ID header", false},
        IdFailure{"bad_length", "0", "Invalid base32hex encoding", false},
        IdFailure{"upper_case", "0G00", "Invalid base32hex encoding", false},
        IdFailure{"trailing_bits", "01", "Invalid base32hex encoding", false},
        IdFailure{"one_byte", "0g", "Invalid ID header", false},
        IdFailure{"mini128", text_of(Bytes(18, 0x01)), "Decoding not supported for this profile type", false},
        IdFailure{"morton", text_of({0x02, 0x00, 0x00}), "Decoding not supported for this profile type", false},
        IdFailure{"hilbert", text_of({0x03, 0x00}), "Decoding not supported for this profile type", false},
        IdFailure{"code_15", text_of({0x4F, 0x00}), "Decoding not supported for this profile type", false},
        IdFailure{"profile4_two_bytes", text_of({0x04, 0x00}), "Invalid ID header", true},
        IdFailure{"eleven_bytes", text_of(Bytes{0x04, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}), "Invalid ID header", true},
        IdFailure{"precision_36", text_of(full_vector_id(768, 36, 0, 0, Bytes(16, 0))),
                  "Invalid metadata in header: Invalid precision type", true},
        IdFailure{"mode_3", text_of(full_vector_id(768, 0, 3, 0, Bytes(16, 0))),
                  "Invalid metadata in header: Invalid dimension mode", true},
        IdFailure{"precision_36_mode_3", text_of(full_vector_id(768, 36, 3, 0, {})),
                  "Invalid metadata in header: Invalid precision type", true},
        IdFailure{"full32_odd_payload", text_of(full_vector_id(2, 0, 0, 0, Bytes(5, 0))), "Invalid base32hex encoding",
                  true},
        IdFailure{"half16_odd_payload", text_of(full_vector_id(2, 1, 0, 0, Bytes(3, 0))), "Invalid base32hex encoding",
                  true},
        IdFailure{"quant8_short_payload", text_of(full_vector_id(768, 2, 0, 0, Bytes(3, 0))),
                  "Insufficient data: expected 8 bytes, got 3", true},
        IdFailure{"bits_short_payload", text_of(full_vector_id(768, 6, 1, 128, Bytes(7, 0))),
                  "Insufficient data: expected 8 bytes, got 7", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeIdentifier, EveryPrecisionDecodesWhatWasWritten) {
    std::mt19937_64 rng(37);
    std::normal_distribution<float> normal(0.0f, 0.1f);
    Floats v(128);
    for (auto& x : v) x = normal(rng);
    for (Precision p : {Precision::half16(), Precision::quant8(), Precision::bits_of(1), Precision::bits_of(2),
                        Precision::bits_of(4), Precision::bits_of(13), Precision::bits_of(32)}) {
        ProfileInfo info;
        info.profile = kProfileFullVector;
        info.seed = 0x4D49564F434F4D50ull;
        info.original_dims = 768;
        info.dimension_mode = DimensionMode::reduce(128);
        info.precision = p;
        Bytes id = to_header(info);
        ASSERT_TRUE(write_payload(v, p, id).has_value());
        const DecodedVector d = decode_to_embedding(encode_text(id)).value();
        EXPECT_EQ(d.precision, p);
        EXPECT_EQ(d.dimension_mode, ModeKind::Reduce);
        EXPECT_EQ(d.target_dims, 128);
        EXPECT_EQ(d.original_dims, 768);
        EXPECT_EQ(d.encoded_dims, 128);
        EXPECT_EQ(d.seed, 0x434F4D50u);
        Floats want;
        if (p.kind == PrecisionKind::Half16) {
            for (float x : v) want.push_back(f16_to_f32(f32_to_f16(x)));
        } else {
            const QuantizedValues q = quantized(v, p.bits_per_value());
            want = dequantize_values(q.codes, p.bits_per_value(), q.min, q.max);
        }
        expect_same_bits(d.values, want);
    }
}

TEST(DecodeIdentifier, PrecisionCode35IsBitsThirtyThree) {
    Bytes payload;
    write_full32(Floats{0.0f, 8589934592.0f}, payload);
    const Bytes codes = bytes_of_bits(std::string(33, '1') + std::string(7, '0'));
    payload.insert(payload.end(), codes.begin(), codes.end());
    Bytes id = full_vector_id(1, 35, 0, 0, payload);
    id[0] = 0xF4;  // version bits and the reserved byte are not examined
    id[1] = 0x77;
    const DecodedVector d = decode_to_embedding(encode_text(id)).value();
    EXPECT_EQ(d.precision, Precision::bits_of(33));
    ASSERT_EQ(d.values.size(), 1u);
    EXPECT_EQ(d.values[0], 4294967296.0f);  // top bit lost: 0xFFFFFFFF / 2^33 * 2^33
}

// Extremes whose distance overflows f32 still quantise and decode to finite
// values near the originals (plain formulas would give code 0 and NaN).
TEST(QuantizeOverflowingRange, StaysFinite) {
    const float big = 3.0e38f;
    const std::vector<float> values{-big, 0.0f, big, 1.5e38f};
    for (std::uint8_t bits : {std::uint8_t{8}, std::uint8_t{4}, std::uint8_t{16}}) {
        auto q = quantize_values(values, bits);
        ASSERT_TRUE(q.has_value());
        const std::uint32_t top = (1u << bits) - 1u;
        EXPECT_EQ(q->codes[0], 0u);
        EXPECT_EQ(q->codes[2], top);
        const auto back = dequantize_values(q->codes, bits, q->min, q->max);
        EXPECT_EQ(back[0], -big);
        EXPECT_EQ(back[2], big);
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_TRUE(std::isfinite(back[i]));
            EXPECT_LE(std::fabs(back[i] - values[i]), 2.0f * big / static_cast<float>(top));
        }
    }
}

// Hostile min and max words: whatever NaN the arithmetic makes (its sign and
// payload differ between processors) comes out as the one quiet NaN, and the
// values that are numbers are untouched.
TEST(Dequantiser, ComputedNaNsAreCanonical) {
    const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {0x7F800000u, 0x7F800000u}, {0xFF800000u, 0xFF800000u}, {0xFF800000u, 0x7F800000u},
        {0xFFC12345u, 0x3F800000u}, {0x00000000u, 0x7F800001u}, {0x3F800000u, 0xFFFFFFFFu},
        {0x00000000u, 0x7F800000u}};
    const Codes codes{0, 1, 128, 255};
    for (const auto& [lo, hi] : ranges) {
        const Floats out = dequantize_values(codes, 8, from_bits(lo), from_bits(hi));
        bool any_nan = false;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const float number = static_cast<float>(codes[i]) / 255.0f * (from_bits(hi) - from_bits(lo)) + from_bits(lo);
            if (std::isnan(number)) {
                any_nan = true;
                EXPECT_EQ(fbits(out[i]), 0x7FC00000u) << std::hex << lo << " " << hi << " code " << codes[i];
            } else {
                EXPECT_EQ(fbits(out[i]), fbits(number)) << std::hex << lo << " " << hi << " code " << codes[i];
            }
        }
        EXPECT_TRUE(any_nan) << std::hex << lo << " " << hi;
    }
}

}  // namespace
}  // namespace mivo::embeddings
