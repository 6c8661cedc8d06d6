// Text form (strict lowercase base32hex) and identifier headers.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "embeddings/base32hex.hpp"
#include "embeddings/header.hpp"
#include "test_util.hpp"

namespace mivo::embeddings {
namespace {

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------- model
// A bit-at-a-time model of the text form, written straight from the rules.

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

std::optional<Bytes> model_decode(std::string_view text) {
    std::vector<int> bits;
    for (char c : text) {
        const auto pos = kAlpha.find(c);
        if (pos == std::string::npos) return std::nullopt;
        for (int i = 4; i >= 0; --i) bits.push_back(static_cast<int>((pos >> i) & 1));
    }
    const std::size_t r = text.size() % 8;
    if (r == 1 || r == 3 || r == 6) return std::nullopt;
    const std::size_t nbytes = bits.size() / 8;
    for (std::size_t i = nbytes * 8; i < bits.size(); ++i)
        if (bits[i]) return std::nullopt;
    Bytes out(nbytes);
    for (std::size_t i = 0; i < nbytes; ++i)
        for (int k = 0; k < 8; ++k) out[i] = static_cast<std::uint8_t>(out[i] * 2 + bits[i * 8 + static_cast<std::size_t>(k)]);
    return out;
}

Bytes random_bytes(std::mt19937_64& rng, std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// ------------------------------------------------------------ text form

TEST(TextForm, WorkedExamples) {
    EXPECT_EQ(encode_text(bytes_of("abc")), "c5h66");
    EXPECT_EQ(decode_text("c5h66").value(), bytes_of("abc"));
    EXPECT_EQ(decode_text("04").value(), Bytes{0x01});
    EXPECT_EQ(encode_text(Bytes{}), "");
    EXPECT_EQ(decode_text("").value(), Bytes{});
    EXPECT_EQ(Base32HexLowerNoPad::kAlphabet, "0123456789abcdefghijklmnopqrstuv");
    EXPECT_EQ(&BASE32HEX_LOWER_NOPAD, &BASE32HEX_LOWER_NOPAD);
    EXPECT_EQ(BASE32HEX_LOWER_NOPAD.encode(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "vvvvvvvv");
}

class RefusedText : public ::testing::TestWithParam<std::string> {};

TEST_P(RefusedText, DecodeFailsWithInvalidEncoding) {
    const auto r = decode_text(GetParam());
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::InvalidEncoding);
    EXPECT_EQ(r.error().display(), "Invalid base32hex encoding");
}

INSTANTIATE_TEST_SUITE_P(BadTexts, RefusedText,
                         ::testing::Values("C5H66", "0000000000000000" "0", "000000", "0001", "c5h6=", "c5h66===",
                                           " c5h66", "c5h66\n", "c5 h66", std::string("c5\0h66", 6)));

TEST(TextForm, CheckTextAcceptsOnlyTheAlphabet) {
    EXPECT_TRUE(check_text("").has_value());
    EXPECT_TRUE(check_text("0123456789abcdefghijklmnopqrstuv").has_value());
    EXPECT_TRUE(check_text("0").has_value());  // bad length is not the character check's business
    EXPECT_EQ(check_text("vvvvvvvvvvvvvvvvx").error().display(), "Invalid base32hex encoding");
    // Every single byte value.
    for (int c = 0; c < 256; ++c) {
        const std::string s(1, static_cast<char>(c));
        const bool valid = kAlpha.find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(check_text(s).has_value(), valid) << c;
        // decode_text refuses every character check_text refuses (here inside a whole group).
        if (!valid) {
            EXPECT_FALSE(decode_text("0000000" + s).has_value()) << c;
        }
    }
}

TEST(TextForm, RoundTripEveryLengthUpTo64AndLong) {
    std::mt19937_64 rng(12345);
    std::vector<std::size_t> lengths{3084, 9999};
    for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
    for (std::size_t n : lengths) {
        for (int rep = 0; rep < 5; ++rep) {
            const Bytes b = random_bytes(rng, n);
            const std::string t = encode_text(b);
            ASSERT_EQ(t, model_encode(b)) << n;
            ASSERT_EQ(t.size(), (8 * n + 4) / 5);
            ASSERT_EQ(decode_text(t).value(), b) << n;
        }
    }
}

// Every text of up to 3 characters over the alphabet plus one outsider, and
// random longer texts with their last character varied: decode agrees with the
// model on acceptance and bytes.
TEST(TextForm, DecodeAgreesWithModel) {
    const std::string chars = kAlpha + "w";
    std::vector<std::string> texts{""};
    for (char a : chars) {
        texts.emplace_back(1, a);
        for (char b : chars) {
            texts.push_back(std::string{a, b});
            for (char c : chars) texts.push_back(std::string{a, b, c});
        }
    }
    std::mt19937_64 rng(7);
    for (std::size_t len = 4; len <= 40; ++len) {
        for (char last : chars) {
            std::string t;
            for (std::size_t i = 0; i + 1 < len; ++i) t.push_back(kAlpha[rng() % 32]);
            t.push_back(last);
            texts.push_back(t);
        }
    }
    for (const std::string& t : texts) {
        const auto got = decode_text(t);
        const auto want = model_decode(t);
        ASSERT_EQ(got.has_value(), want.has_value()) << t;
        if (want) {
            ASSERT_EQ(*got, *want) << t;
        } else {
            ASSERT_EQ(got.error().kind(), ErrorKind::InvalidEncoding);
        }
    }
}

// ---------------------------------------------------------------- headers

constexpr std::uint64_t kMivoFull = 0x4D49564F46554C4Cull;

ProfileInfo full_vector_info(Precision p, DimensionMode m) {
    ProfileInfo info;
    info.profile = kProfileFullVector;
    info.seed = kMivoFull;
    info.original_dims = 768;
    info.dimension_mode = m;
    info.precision = p;
    return info;
}

struct HeaderCase {
    Precision precision;
    DimensionMode mode;
    Bytes expected;
    friend void PrintTo(const HeaderCase& c, std::ostream* os) {
        *os << "precision code " << int(c.precision.code()) << ", mode " << int(c.mode.code());
    }
};

class FullVectorHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FullVectorHeader, WritesAndReadsBack) {
    const HeaderCase& c = GetParam();
    const ProfileInfo info = full_vector_info(c.precision, c.mode);
    const Bytes h = to_header(info);
    EXPECT_EQ(h, c.expected);
    EXPECT_EQ(encode_text(h).substr(0, 4), "0g00");

    const auto back = read_full_vector_header(h);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->profile, kProfileFullVector);
    EXPECT_EQ(back->version, 0);
    EXPECT_EQ(back->original_dims, 768);
    EXPECT_EQ(back->precision, c.precision);
    EXPECT_EQ(back->dimension_mode, c.mode);
    EXPECT_EQ(back->seed, std::optional<std::uint64_t>{0x46554C4Cu});  // only the low 32 bits are stored
    EXPECT_EQ(encoded_dims(*back), c.mode.kind == ModeKind::Preserve ? 768 : c.mode.target);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, FullVectorHeader,
    ::testing::Values(
        HeaderCase{Precision::bits_of(4), DimensionMode::reduce(128),
                   {0x04, 0x00, 0x03, 0x00, 0x06, 0x01, 0x00, 0x80, 0x46, 0x55, 0x4C, 0x4C}},
        HeaderCase{Precision::full32(), DimensionMode::reduce(128),
                   {0x04, 0x00, 0x03, 0x00, 0x00, 0x01, 0x00, 0x80, 0x46, 0x55, 0x4C, 0x4C}},
        HeaderCase{Precision::bits_of(32), DimensionMode::reduce(128),
                   {0x04, 0x00, 0x03, 0x00, 34, 0x01, 0x00, 0x80, 0x46, 0x55, 0x4C, 0x4C}},
        HeaderCase{Precision::half16(), DimensionMode::common(2048),
                   {0x04, 0x00, 0x03, 0x00, 0x01, 0x02, 0x08, 0x00, 0x46, 0x55, 0x4C, 0x4C}},
        HeaderCase{Precision::quant8(), DimensionMode::preserve(),
                   {0x04, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x46, 0x55, 0x4C, 0x4C}},
        HeaderCase{Precision::bits_of(1), DimensionMode::reduce(1),
                   {0x04, 0x00, 0x03, 0x00, 0x03, 0x01, 0x00, 0x01, 0x46, 0x55, 0x4C, 0x4C}}));

TEST(Header, FieldsOutsideTheRecordWriteZero) {
    ProfileInfo info = full_vector_info(Precision::full32(), DimensionMode{ModeKind::Preserve, 77});
    EXPECT_EQ(to_header(info), (Bytes{0x04, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46, 0x55, 0x4C, 0x4C}));
    ProfileInfo bare;
    bare.profile = kProfileFullVector;
    EXPECT_EQ(to_header(bare), (Bytes{0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ProfileInfo with_transform;
    with_transform.profile = kProfileMorton10x10;
    with_transform.transform_id = 0x1234;
    with_transform.version = 0x13;  // truncated to 4 bits in byte 0
    EXPECT_EQ(to_header(with_transform), (Bytes{0x32, 0x00, 0x12, 0x34}));
}

TEST(Header, ReaderExaminesOnlyWhatTheProfileNeeds) {
    // The common read: byte 0 only.
    const auto r = read_header(Bytes{0xF4, 0xAB});
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->version, 0x0F);
    EXPECT_EQ(r->profile, 4);
    EXPECT_FALSE(r->precision.has_value());
    EXPECT_TRUE(read_header(Bytes{0x04, 0x00}).has_value());
    // Other profile codes: the full-vector read gives the common fields only.
    const auto mini = read_full_vector_header(Bytes{0x01, 0x00, 0xFF});
    ASSERT_TRUE(mini.has_value());
    EXPECT_FALSE(mini->original_dims.has_value());
    // Every mode keeps its target; reserved and trailing bytes are ignored.
    const auto f = read_full_vector_header(Bytes{0x74, 0x99, 0x08, 0x00, 0x01, 0x00, 0x01, 0x02, 0xDE, 0xAD, 0xBE, 0xEF, 0x11});
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->version, 7);
    EXPECT_EQ(f->dimension_mode, (DimensionMode{ModeKind::Preserve, 0x0102}));
    EXPECT_EQ(f->seed, std::optional<std::uint64_t>{0xDEADBEEFu});
    EXPECT_EQ(encoded_dims(*f), 2048);
}

}  // namespace
}  // namespace mivo::embeddings
