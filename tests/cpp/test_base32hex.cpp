// Text form (strict lowercase base32hex) and identifier headers.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "embeddings/header.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

// A bit-at-a-time model of the encoder, written straight from the rules.

const std::string kAlpha = "0123456789abcdefghijklmnopqrstuv";

std::string model_encode(const Bytes& in) {
    std::vector<int> bits;
    for (std::uint8_t b : in)
        for (int i = 7; i >= 0; --i) bits.push_back((b >> i) & 1);
    while (bits.size() % 5) bits.push_back(0);
    std::string out;
    for (std::size_t i = 0; i < bits.size(); i += 5) {
        int v = 0;
        for (int k = 0; k < 5; ++k) v = v * 2 + bits[i + static_cast<std::size_t>(k)];
        out.push_back(kAlpha[static_cast<std::size_t>(v)]);
    }
    return out;
}

// ------------------------------------------------------------ text form

TEST(TextForm, CheckTextAcceptsOnlyTheAlphabet) {
    EXPECT_TRUE(check_text("0").has_value());  // bad length is not the character check's business
    // Every byte value, alone and at the end of a whole group.
    for (int c = 0; c < 256; ++c) {
        const std::string s(1, static_cast<char>(c));
        const bool valid = kAlpha.find(s[0]) != std::string::npos;
        EXPECT_EQ(check_text(s).has_value(), valid) << c;
        EXPECT_EQ(decode_text("0000000" + s).has_value(), valid) << c;
    }
}

TEST(TextForm, RoundTripEveryLengthUpTo64AndLong) {
    std::mt19937_64 rng(12345);
    std::vector<std::size_t> lengths{3084};
    for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
    for (std::size_t n : lengths) {
        for (int rep = 0; rep < 5; ++rep) {
            Bytes b(n);
            for (auto& x : b) x = static_cast<std::uint8_t>(rng());
            const std::string t = encode_text(b);
            ASSERT_EQ(t, model_encode(b)) << n;
            ASSERT_EQ(decode_text(t).value(), b) << n;
        }
    }
}

// A text decodes only if its last group ends on a byte and the bits left
// over after the last byte are zero.
TEST(TextForm, RefusesBadLengthsAndStrayBits) {
    for (std::size_t len = 1; len <= 17; ++len) {
        std::string t(len, '0');
        const bool whole = len % 8 != 1 && len % 8 != 3 && len % 8 != 6;
        EXPECT_EQ(decode_text(t).has_value(), whole) << len;
        for (std::size_t bit = 0; whole && bit < len * 5 % 8; ++bit) {
            t.back() = kAlpha[std::size_t{1} << bit];
            EXPECT_FALSE(decode_text(t).has_value()) << t;
        }
    }
}

// ---------------------------------------------------------------- headers

ProfileInfo info_of(std::uint8_t profile, std::uint8_t version = 0) {
    ProfileInfo info;
    info.profile = profile;
    info.version = version;
    return info;
}

ProfileInfo full_vector_info(Precision p, DimensionMode m, std::uint64_t seed = 0x4D49564F46554C4Cull) {
    ProfileInfo info = info_of(kProfileFullVector);
    info.seed = seed;
    info.original_dims = 768;
    info.dimension_mode = m;
    info.precision = p;
    return info;
}

TEST(Header, FullVectorWritesAndReadsBack) {
    const struct {
        Precision precision;
        DimensionMode mode;
        const char* expected;
    } cases[] = {
        {Precision::bits_of(32), DimensionMode::reduce(1), "040003002201000146554c4c"},
        {Precision::half16(), DimensionMode::common(2048), "040003000102080046554c4c"},
        {Precision::quant8(), DimensionMode::preserve(), "040003000200000046554c4c"},
    };
    for (const auto& c : cases) {
        const Bytes h = to_header(full_vector_info(c.precision, c.mode));
        EXPECT_EQ(h, from_hex(c.expected));
        const auto back = read_full_vector_header(h);
        ASSERT_TRUE(back.has_value());
        // Only the low 32 bits of the seed are stored.
        EXPECT_EQ(*back, full_vector_info(c.precision, c.mode, 0x46554C4Cu)) << int(c.precision.code());
        EXPECT_EQ(encoded_dims(*back), c.mode.kind == ModeKind::Preserve ? 768 : c.mode.target);
    }
}

TEST(Header, FieldsOutsideTheRecordWriteZero) {
    EXPECT_EQ(to_header(full_vector_info(Precision::full32(), DimensionMode{ModeKind::Preserve, 77})),
              from_hex("040003000000000046554c4c"));
    EXPECT_EQ(to_header(info_of(kProfileFullVector)), from_hex("040000000000000000000000"));
    ProfileInfo morton = info_of(kProfileMorton10x10, 0x13);  // the version is cut to 4 bits
    morton.transform_id = 0x1234;
    EXPECT_EQ(to_header(morton), from_hex("32001234"));
}

TEST(Header, ReaderExaminesOnlyWhatTheProfileNeeds) {
    // The common read: byte 0 only.
    const auto r = read_header(Bytes{0xF4, 0xAB});
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, info_of(4, 0x0F));
    // Other profile codes: the full-vector read gives the common fields only.
    EXPECT_EQ(read_full_vector_header(Bytes{0x01, 0x00, 0xFF}), info_of(1));
    // Every mode keeps its target; reserved and trailing bytes are ignored.
    const auto f =
        read_full_vector_header(Bytes{0x74, 0x99, 0x08, 0x00, 0x01, 0x00, 0x01, 0x02, 0xDE, 0xAD, 0xBE, 0xEF, 0x11});
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->version, 7);
    EXPECT_EQ(f->dimension_mode, (DimensionMode{ModeKind::Preserve, 0x0102}));
    EXPECT_EQ(f->seed, std::optional<std::uint64_t>{0xDEADBEEFu});
    EXPECT_EQ(encoded_dims(*f), 2048);
}

}  // namespace
}  // namespace mivo::embeddings
