// The encode driver: order of checks and their messages, exact identifiers,
// identifier sizes per profile, header fields, and the f32 discipline of the
// unit-length scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "embeddings/decode.hpp"
#include "embeddings/encode.hpp"
#include "embeddings/base32hex.hpp"
#include "embeddings/seeded_stream.hpp"
#include "embeddings/types.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kSimSeed = 0x4D49564F53494D48ull;   // "MIVOSIMH"
constexpr std::uint64_t kFullSeed = 0x4D49564F46554C4Cull;  // "MIVOFULL"

EncodingProfile mini() { return EncodingProfile{EncodingProfile::Mini128{kSimSeed}}; }
EncodingProfile morton(std::uint8_t count = 10, std::uint8_t bits = 10, std::optional<std::uint16_t> id = {}) {
    return EncodingProfile{EncodingProfile::Morton10x10{count, bits, id}};
}
EncodingProfile hilbert(std::uint8_t count = 10, std::uint8_t bits = 10, std::optional<std::uint16_t> id = {}) {
    return EncodingProfile{EncodingProfile::Hilbert10x10{count, bits, id}};
}
EncodingProfile full(Precision p, DimensionMode m, std::uint64_t seed = kFullSeed) {
    return EncodingProfile{EncodingProfile::FullVector{p, m, seed}};
}
EncodingProfile lossless() { return full(Precision::full32(), DimensionMode::preserve()); }

Floats with_value_at(Floats v, std::size_t at, float value) {
    v[at] = value;
    return v;
}

using Encoded = Result<std::string>;

// The text a caller sees: the identifier, the display text of a MivoError, or
// "internal: " and the message of a broken invariant.
std::string outcome(const Encoded& r) {
    if (r) return *r;
    return (r.error().kind() == ErrorKind::Internal ? "internal: " : "") + r.error().display();
}

Bytes encode_bytes(std::span<const float> v, const EncodingProfile& p) {
    const Encoded r = encode(v, p);
    EXPECT_TRUE(r.has_value()) << outcome(r);
    return r ? decode_text(*r).value_or(Bytes{}) : Bytes{};
}

// The failure table, in checking order: each row breaks one or more
// conditions and must report the earliest.
TEST(EncodeFailure, ReportsTheFirstBrokenCondition) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Floats v768 = sample(768, 1);
    const Floats v100 = sample(100, 2);
    const std::string dims = "Invalid dimension: got ";
    const std::string nan_text = "Invalid embedding value (NaN or Inf detected)";
    const std::string range = ", expected range (64, 2048)";
    const EncodingProfile bad_record = full(Precision::bits_of(0), DimensionMode::reduce(0));
    const struct {
        const char* name;
        Floats embedding;
        EncodingProfile profile;
        std::string want;  // display text, or "internal: " + message
    } rows[] = {
        // The length first, as the vector's true length (a NaN and a broken
        // record included).
        {"Length0", sample(0, 3), mini(), dims + "0" + range},
        {"Length2049", sample(2049, 3), lossless(), dims + "2049" + range},
        {"Length65600", Floats(65600, 0.0f), lossless(), dims + "65600" + range},
        {"Length50WithNanAndBadRecord", with_value_at(sample(50, 5), 7, nan), bad_record, dims + "50" + range},
        // Then non-finite values anywhere, before any record check.
        {"NegativeNanLast", with_value_at(v768, 767, from_bits(0xFFFFFFFFu)), lossless(), nan_text},
        {"InfinityBeforeRecord", with_value_at(v768, 5, -inf), bad_record, nan_text},
        // Then the bit count of Bits, before the dimension mode.
        {"Bits0", v768, bad_record, "Invalid precision: Bits must be 1-32, got 0"},
        {"Bits33", v768, full(Precision::bits_of(33), DimensionMode::common(2049)),
         "Invalid precision: Bits must be 1-32, got 33"},
        // Then the Reduce and Common targets.
        {"Reduce0", v100, full(Precision::full32(), DimensionMode::reduce(0)), dims + "0, expected range (1, 100)"},
        {"ReduceToLength", v768, full(Precision::full32(), DimensionMode::reduce(768)),
         "Projection error: Target dims 768 must be less than input dims 768"},
        {"Common0", v768, full(Precision::bits_of(1), DimensionMode::common(0)), dims + "0, expected range (1, 2048)"},
        {"Common2049", v100, full(Precision::full32(), DimensionMode::common(2049)),
         "Projection error: Cannot project to higher dimensions: 2048 -> 2049"},
        // Curve records: the transform id first, then the grid, then the
        // width of the code (a broken invariant, not a user error).
        {"TransformBeforeGrid", v768, hilbert(0, 0, 7), "Transform not found: ID 7"},
        {"CountBeforeBits", v768, hilbert(33, 17, {}), dims + "33, expected range (1, 32)"},
        {"Bits17", v768, morton(20, 17, {}), dims + "17, expected range (1, 16)"},
        {"MortonWidth200", v768, morton(20, 10, {}),
         "internal: Morton code exceeds 128 bits: 20 dims × 10 bits = 200 bits"},
        {"HilbertWidth200", v768, hilbert(20, 10, {}),
         "internal: Hilbert code exceeds 128 bits: 20 dims × 10 bits = 200 bits"},
    };
    for (const auto& row : rows) {
        const Encoded r = encode(row.embedding, row.profile);
        ASSERT_FALSE(r.has_value()) << row.name;
        EXPECT_EQ(outcome(r), row.want) << row.name;
        // Broken invariants stay apart from the error values users see.
        EXPECT_EQ(r.error().kind() == ErrorKind::Internal, row.want.starts_with("internal: ")) << row.name;
    }
}

TEST(EncodeAccepts, BitCountsOneToThirtyTwo) {
    const Floats v = sample(100, 9);
    for (int k = 1; k <= 32; ++k) {
        const Bytes id =
            encode_bytes(v, full(Precision::bits_of(static_cast<std::uint8_t>(k)), DimensionMode::preserve()));
        ASSERT_EQ(id.size(), 12u + 8u + (100u * static_cast<unsigned>(k) + 7u) / 8u) << k;
        EXPECT_EQ(id[4], k + 2) << k;
    }
}

TEST(EncodeAccepts, ReduceToOneBelowTheLength) {
    const Bytes id = encode_bytes(sample(768, 10), full(Precision::full32(), DimensionMode::reduce(767)));
    ASSERT_EQ(id.size(), 12u + 4u * 767u);
    EXPECT_EQ(Bytes(id.begin() + 2, id.begin() + 8), (Bytes{0x03, 0x00, 0x00, 0x01, 0x02, 0xFF}));
}

TEST(EncodeExact, CurveIdentifiers) {
    Floats ramp(64);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i);
    EXPECT_EQ(outcome(encode(Floats(64, 1.0f), morton())), "0800vv000000vvvvvvvvvvvv");
    EXPECT_EQ(outcome(encode(Floats(64, 1.0f), hilbert())), "0c00vv010307vgv0u0s0o0g0");
    EXPECT_EQ(outcome(encode(ramp, morton())), "0800vv0000000000v0soqkgu");
    EXPECT_EQ(outcome(encode(ramp, hilbert())), "0c00vv0103070f0v01o5sh2s");
}

// Mini128 identifiers pin the deviates of every hyperplane, the unit-length
// scaling and the bit order of the payload.
TEST(EncodeExact, Mini128Identifiers) {
    EXPECT_EQ(outcome(encode(sample(768, 1), mini())), "040f2f9t0ov319cmn1j9pgjcocgji");
    EXPECT_EQ(outcome(encode(sample(2048, 2), mini())), "040deou8f7pm6mtt86b60no6thh7g");
}

// A zero vector has no direction: Mini128 and the curves give the zero
// vector's identifier; so do the largest finite values, whose sum of squares
// overflows to infinity so that every value divides to a signed zero, and one
// such value among ordinary ones. A sum that stays finite hashes normally.
TEST(EncodeScale, ZeroAndOverflowingVectors) {
    const float m = std::numeric_limits<float>::max();
    const Floats zero(128, 0.0f);
    Floats big(128);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = (i % 3 == 0) ? -m : m;
    EXPECT_EQ(outcome(encode(zero, mini())), "04" + std::string(27, '0'));
    for (const Floats& v : {Floats(128, -0.0f), big, with_value_at(sample(128, 20), 50, m)})
        for (const EncodingProfile& p : {mini(), morton(), hilbert()})
            EXPECT_EQ(outcome(encode(v, p)), outcome(encode(zero, p)));
    EXPECT_NE(outcome(encode(with_value_at(sample(128, 20), 50, 1e19f), mini())), outcome(encode(zero, mini())));
    // Full-vector records keep the values themselves.
    for (const EncodingProfile& p : {full(Precision::half16(), DimensionMode::preserve()),
                                     full(Precision::bits_of(1), DimensionMode::common(128))})
        EXPECT_EQ(decode_to_embedding(outcome(encode(zero, p))).value().values, zero);
    expect_same_bits(decode_to_embedding(outcome(encode(big, lossless()))).value().values, big);
}

// The unit-length scaling divides by the f32 root of the f32 sum of squares;
// a reciprocal multiply changes the Mini128 bit of some vectors whose dot
// with hyperplane 0 sits at rounding level. Start from a vector whose exact
// dot is about zero and walk its last value through the 400 floats around
// the one that makes it zero until the two scalings differ.
TEST(EncodeScale, DividesByTheRootOfTheSumOfSquares) {
    constexpr std::size_t n = 768;
    Floats g(n);
    SeededStream::for_hyperplane(kSimSeed, 0).fill_standard_normal_f32(g);
    for (std::uint32_t salt = 100; salt < 140; ++salt) {
        Floats v = sample(n, salt);
        double partial = 0.0;
        for (std::size_t j = 0; j + 1 < n; ++j) partial += static_cast<double>(v[j]) * g[j];
        const std::uint32_t start = fbits(static_cast<float>(-partial / g[n - 1]));
        for (std::uint32_t step = 0; step < 400; ++step) {
            v[n - 1] = from_bits(start - 200 + step);
            float s = -0.0f;
            for (float x : v) s += x * x;
            const float r = std::sqrt(s), inv = 1.0f / r;
            float divided = 0.0f, multiplied = 0.0f;
            for (std::size_t j = 0; j < n; ++j) {
                divided += v[j] / r * g[j];
                multiplied += v[j] * inv * g[j];
            }
            if ((divided > 0.0f) != (multiplied > 0.0f)) {
                EXPECT_EQ(encode_bytes(v, mini()).back() & 1, divided > 0.0f ? 1 : 0) << salt << " " << step;
                return;
            }
        }
    }
    FAIL() << "no vector separates division from a reciprocal multiply";
}

}  // namespace
}  // namespace mivo::embeddings
