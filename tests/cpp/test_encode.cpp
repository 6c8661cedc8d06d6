// The encode driver: order of checks and their messages, exact identifiers,
// identifier sizes per profile, header fields, and the f32 discipline of the
// unit-length scaling against plausible alternatives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "embeddings/decode.hpp"
#include "embeddings/encode.hpp"
#include "embeddings/base32hex.hpp"
#include "embeddings/projection.hpp"
#include "embeddings/seeded_stream.hpp"
#include "embeddings/types.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

constexpr std::uint64_t kSimSeed = 0x4D49564F53494D48ull;   // "MIVOSIMH"
constexpr std::uint64_t kFullSeed = 0x4D49564F46554C4Cull;  // "MIVOFULL"
constexpr std::uint64_t kXdimSeed = 0x4D49564F58444949ull;  // "MIVOXDII"

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

// =========================================================================
// Failure table, in checking order: each row breaks one or more conditions
// and must report the earliest.

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

// =========================================================================
// Accepted boundaries

TEST(EncodeAccepts, BitCountsOneToThirtyTwo) {
    const Floats v = sample(100, 9);
    for (int k = 1; k <= 32; ++k) {
        const Bytes id =
            encode_bytes(v, full(Precision::bits_of(static_cast<std::uint8_t>(k)), DimensionMode::preserve()));
        ASSERT_EQ(id.size(), 12u + 8u + (100u * static_cast<unsigned>(k) + 7u) / 8u) << k;
        EXPECT_EQ(id[4], k + 2) << k;
    }
}

TEST(EncodeAccepts, ReduceToOneBelowTheLengthAndCommonOfTheWholeSpace) {
    const Bytes id = encode_bytes(sample(768, 10), full(Precision::full32(), DimensionMode::reduce(767)));
    ASSERT_EQ(id.size(), 12u + 4u * 767u);
    EXPECT_EQ(Bytes(id.begin() + 2, id.begin() + 8), (Bytes{0x03, 0x00, 0x00, 0x01, 0x02, 0xFF}));
    const EncodingProfile whole_space = full(Precision::full32(), DimensionMode::common(2048));
    const auto d = decode_to_embedding(*encode(sample(100, 12), whole_space)).value();
    EXPECT_EQ(d.original_dims, 100);
    EXPECT_EQ(d.values.size(), 2048u);
}

// =========================================================================
// Exact identifiers, sizes and prefixes

TEST(EncodeExact, CurveIdentifiers) {
    Floats ramp(64);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i);
    EXPECT_EQ(*encode(Floats(64, 1.0f), morton()), "0800vv000000vvvvvvvvvvvv");
    EXPECT_EQ(*encode(Floats(64, 1.0f), hilbert()), "0c00vv010307vgv0u0s0o0g0");
    EXPECT_EQ(*encode(ramp, morton()), "0800vv0000000000v0soqkgu");
    EXPECT_EQ(*encode(ramp, hilbert()), "0c00vv0103070f0v01o5sh2s");
}

// Mini128 identifiers pin the deviates of every hyperplane, the unit-length
// scaling and the bit order of the payload.
TEST(EncodeExact, Mini128Identifiers) {
    EXPECT_EQ(*encode(sample(768, 1), mini()), "040f2f9t0ov319cmn1j9pgjcocgji");
    EXPECT_EQ(*encode(sample(2048, 2), mini()), "040deou8f7pm6mtt86b60no6thh7g");
}

// =========================================================================
// Full-vector headers and payloads

// The stored values are the projection of the raw values. The common space
// pads with +0.0: a 768-value embedding and the same values padded to 2048
// store the same values; only the header's original dimension count differs.
TEST(EncodeFullVector, StoredValuesAreTheProjectionOfTheRawValues) {
    const Floats v = sample(768, 15);
    Floats padded = v;
    padded.resize(2048, 0.0f);
    const EncodingProfile common = full(Precision::half16(), DimensionMode::common(128), kXdimSeed);
    const Bytes a = encode_bytes(v, common), b = encode_bytes(padded, common);
    EXPECT_EQ(Bytes(a.begin() + 4, a.end()), Bytes(b.begin() + 4, b.end()));
    EXPECT_EQ((Bytes{a[2], a[3], b[2], b[3]}), (Bytes{0x03, 0x00, 0x08, 0x00}));
    for (const auto& [mode, input] :
         {std::pair{DimensionMode::common(128), padded}, std::pair{DimensionMode::reduce(128), v}}) {
        const auto d = decode_to_embedding(*encode(v, full(Precision::full32(), mode, kXdimSeed)));
        expect_same_bits(d.value().values, project_to_lower_dims(input, 128, kXdimSeed).value());
    }
}

// =========================================================================
// Scale, zero and overflow

TEST(EncodeScale, AllZeroEmbeddingEncodesWithEveryProfile) {
    const Floats z(128, 0.0f);
    EXPECT_EQ(*encode(z, mini()), "04" + std::string(27, '0'));
    EXPECT_EQ(*encode(Floats(128, -0.0f), mini()), *encode(z, mini()));  // the sum of squares is not above zero
    EXPECT_TRUE(encode(z, morton()).has_value() && encode(z, hilbert()).has_value());
    for (const EncodingProfile& p : {full(Precision::half16(), DimensionMode::preserve()),
                                     full(Precision::bits_of(1), DimensionMode::common(128))}) {
        const DecodedVector d = decode_to_embedding(encode(z, p).value()).value();
        for (float x : d.values) EXPECT_EQ(x, 0.0f);
    }
}

// The sum of squares overflows to infinity, every value divides to a signed
// zero, and the identifiers are those of a zero vector.
TEST(EncodeScale, LargestFiniteValuesHashLikeZero) {
    const float m = std::numeric_limits<float>::max();
    Floats big(128);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = (i % 3 == 0) ? -m : m;
    const Floats zero(128, 0.0f);
    for (const EncodingProfile& p : {mini(), morton(), hilbert()}) EXPECT_EQ(*encode(big, p), *encode(zero, p));
    // One large value among ordinary ones overflows too; a sum that stays
    // finite hashes normally.
    EXPECT_EQ(*encode(with_value_at(sample(128, 20), 50, m), mini()), *encode(zero, mini()));
    EXPECT_NE(*encode(with_value_at(sample(128, 20), 50, 1e19f), mini()), *encode(zero, mini()));
    // Full32 keeps the values themselves.
    expect_same_bits(decode_to_embedding(*encode(big, lossless())).value().values, big);
}

// =========================================================================
// The Mini128 bit of hyperplane 0 as the driver computes it (divide by the f32
// root of the f32 sum of squares, then an f32 dot summed in order), or with a
// plausible change: a reciprocal multiply, a fused dot, eight lanes summed at
// the end. Each changes the bit of some vectors whose dot sits at rounding
// level; the driver must agree with the first on them.

enum class Discipline { Model, ReciprocalScaling, FusedAccumulator, EightLanes };

bool bit_with(Discipline how, const Floats& raw, const Floats& g) {
    float s = -0.0f;
    for (float x : raw) s += x * x;
    const float r = std::sqrt(s), inv = 1.0f / r;
    float acc = 0.0f, fused = 0.0f, lanes[8] = {};
    for (std::size_t j = 0; j < raw.size(); ++j) {
        const float u = how == Discipline::ReciprocalScaling ? raw[j] * inv : raw[j] / r;
        acc += u * g[j];
        fused = std::fmaf(u, g[j], fused);
        lanes[j % 8] += u * g[j];
    }
    float lane_sum = 0.0f;
    for (float l : lanes) lane_sum += l;
    return (how == Discipline::FusedAccumulator ? fused : how == Discipline::EightLanes ? lane_sum : acc) > 0.0f;
}

class Mini128Discipline : public ::testing::TestWithParam<Discipline> {};

TEST_P(Mini128Discipline, DriverFollowsTheModelWhereTheAlternativeDiffers) {
    constexpr std::size_t n = 768;
    Floats g(n);
    SeededStream::for_hyperplane(kSimSeed, 0).fill_standard_normal_f32(g);
    // Start from a vector whose exact dot with g is about zero, then walk the
    // last value through the 400 floats around the one that makes it zero.
    for (std::uint32_t salt = 100; salt < 140; ++salt) {
        Floats v = sample(n, salt);
        double partial = 0.0;
        for (std::size_t j = 0; j + 1 < n; ++j) partial += static_cast<double>(v[j]) * g[j];
        const std::uint32_t start = fbits(static_cast<float>(-partial / g[n - 1]));
        for (std::uint32_t step = 0; step < 400; ++step) {
            v[n - 1] = from_bits(start - 200 + step);
            const bool want = bit_with(Discipline::Model, v, g);
            if (want != bit_with(GetParam(), v, g)) {
                EXPECT_EQ(encode_bytes(v, mini()).back() & 1, want ? 1 : 0) << "salt " << salt << " step " << step;
                return;
            }
        }
    }
    FAIL() << "no vector separates the model from alternative " << static_cast<int>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Alternatives, Mini128Discipline,
                         ::testing::Values(Discipline::ReciprocalScaling, Discipline::FusedAccumulator,
                                           Discipline::EightLanes));

}  // namespace
}  // namespace mivo::embeddings
