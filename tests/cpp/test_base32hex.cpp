// Text form: strict lowercase base32hex.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "embeddings/base32hex.hpp"
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

}  // namespace
}  // namespace mivo::embeddings
