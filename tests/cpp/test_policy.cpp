// The embedding policy: the records the compression ladder and the length
// budget search choose, and the order of the Mini128 comparison's checks.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "embeddings/base32hex.hpp"
#include "policy/policy.hpp"
#include "test_util.hpp"

namespace mivo::policy {
namespace {

using emb::Bytes;
using emb::DimensionMode;
using emb::EncodingProfile;
using emb::Precision;

EncodingProfile full(Precision p, DimensionMode m, std::uint64_t seed) {
    return EncodingProfile{EncodingProfile::FullVector{p, m, seed}};
}

struct Row {
    double in;
    EncodingProfile want;
};

TEST(CompressionLadder, RecordsFor768Values) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto f32 = [](std::uint16_t t) { return full(Precision::full32(), DimensionMode::reduce(t), kSeedCompressed); };
    auto q8 = [](std::uint16_t t) { return full(Precision::quant8(), DimensionMode::reduce(t), kSeedCompressed); };
    const Row rows[] = {
        {1.0, lossless()}, {0.99, f32(760)},
        {0.25, f32(192)},  {0.2, full(Precision::half16(), DimensionMode::reduce(307), kSeedCompressed)},
        {0.1, q8(307)},    {0.0, q8(31)},
        {-inf, q8(31)},    {nan, q8(1)},
        {inf, lossless()},
    };
    for (const Row& r : rows) EXPECT_EQ(compression_ladder(768, r.in), r.want) << r.in;
    // Small embeddings keep at least one value; the 32-bit step starts at a
    // ratio of exactly 0.25.
    EXPECT_EQ(compression_ladder(4, 0.0), q8(1));
    EXPECT_EQ(compression_ladder(1000, 0.249), full(Precision::half16(), DimensionMode::reduce(498), kSeedCompressed));
    EXPECT_EQ(compression_ladder(1000, 0.25), f32(250));
}

TEST(LengthBudget, RecordsFor768Values) {
    auto rec = [](Precision p, std::uint16_t t) {
        return full(p, t == 768 ? DimensionMode::preserve() : DimensionMode::reduce(t), kSeedMaxLength);
    };
    const struct {
        std::uint64_t chars;
        EncodingProfile want;
    } rows[] = {
        {std::numeric_limits<std::uint64_t>::max(), lossless()},
        {4936, lossless()},
        {4935, rec(Precision::full32(), 767)},
        {123, rec(Precision::full32(), 16)},  // the least reduced count
        {122, rec(Precision::half16(), 31)},
        {25, rec(Precision::bits_of(1), 25)},
        {21, rec(Precision::bits_of(1), 5)},
        {0, rec(Precision::bits_of(1), 1)},
    };
    for (const auto& r : rows) EXPECT_EQ(length_budget(768, r.chars), r.want) << r.chars;
    EXPECT_EQ(length_budget(0, 100), lossless());  // refused later by the length check
}

TEST(Seeds, AreTheirWordsReadBigEndian) {
    EXPECT_EQ(kSeedSimHash, 0x4D49564F53494D48ull);
    EXPECT_EQ(kSeedCrossDims, 0x4D49564F58444949ull);
    EXPECT_EQ(cross_dimensional(300), full(Precision::half16(), DimensionMode::common(300), kSeedCrossDims));
    EXPECT_EQ(lossless(), full(Precision::full32(), DimensionMode::preserve(), 0x4D49564F46554C4Cull));
}

// ---------------------------------------------------------------------------

std::string mini_id(Bytes payload, std::uint8_t first = 0x01, std::uint8_t second = 0x00) {
    payload.insert(payload.begin(), {first, second});
    return emb::encode_text(payload);
}

std::string outcome(std::string_view a, std::string_view b) {
    const auto r = mini128_distance(a, b);
    return r ? std::to_string(*r) : r.error().display();
}

TEST(Mini128Distance, CountsDifferingPayloadBits) {
    Bytes a(16, 0x0F), b = a;
    b[0] = 0x0E;
    b[15] = 0xF0;
    EXPECT_EQ(outcome(mini_id(a), mini_id(b)), "9");
    EXPECT_EQ(outcome(mini_id(Bytes(16, 0)), mini_id(Bytes(16, 0xFF))), "128");
    // The version bits and the reserved byte are not compared.
    EXPECT_EQ(outcome(mini_id(a, 0xF1, 0xAB), mini_id(a)), "0");
}

TEST(Mini128Distance, ChecksInOrderOverBothTexts) {
    const std::string mini = mini_id(Bytes(16, 7));
    const std::string morton = emb::encode_text(Bytes{0x02, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    const std::string full = emb::encode_text(Bytes(20, 0x04));
    const std::string cut = mini.substr(0, 24);  // 15 bytes, profile code 1
    const std::string bad = "Invalid base32hex encoding", header = "Invalid ID header";
    auto mismatch = [](int code) {
        return "Profile mismatch: expected Mini128, got Type 0x" + std::string(1, "0123456789abcdef"[code]);
    };
    const struct {
        std::string a, b, want;
    } rows[] = {
        {morton, "ABC", bad},  // characters of both first
        {"04", "0", bad},      // then decoding, before any header
        {"04", mini, header},  // then the header of both
        {full, morton, header},
        {morton, full, header},
        {morton, mini, mismatch(2)},  // then the profile of both
        {mini, mini_id(Bytes(16), 0x0F), mismatch(15)},
        {mini_id(Bytes(16), 0x00), mini, mismatch(0)},
        {cut, morton, mismatch(2)},  // then the length
        {mini, cut, bad},
        {mini_id(Bytes(17)), mini, bad},
    };
    for (const auto& r : rows) EXPECT_EQ(outcome(r.a, r.b), r.want) << r.a << " / " << r.b;
}

TEST(Mini128Payload, GivesThePayloadOrTheFirstCheckFailed) {
    Bytes payload(16);
    for (std::size_t i = 0; i < 16; ++i) payload[i] = static_cast<std::uint8_t>(i * 17);
    const auto read = mini128_payload(mini_id(payload, 0xF1, 0x99));  // version bits and byte 1 not checked
    ASSERT_TRUE(read);
    EXPECT_EQ(Bytes(read->begin(), read->end()), payload);
    const struct {
        std::string text;
        Mini128Check check;
    } rows[] = {
        {"ABC", Mini128Check::Characters},
        {"0", Mini128Check::Decoding},
        {"04", Mini128Check::Header},
        {mini_id(payload, 0x02), Mini128Check::Profile},
        {mini_id(payload).substr(0, 24), Mini128Check::Length},
    };
    for (const auto& r : rows) {
        const auto refused = mini128_payload(r.text);
        ASSERT_FALSE(refused) << r.text;
        EXPECT_EQ(refused.error().check, r.check) << r.text;
    }
}

}  // namespace
}  // namespace mivo::policy
