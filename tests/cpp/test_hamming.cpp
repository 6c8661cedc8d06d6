// Hamming over UTF-8 (sequences compared as masked words, 64 bytes of
// scalar starts at a time, a zero-padded last chunk) against a plain count.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "strings/hamming.hpp"

namespace mivo::strings {
namespace {

// Characters of 1 to 4 bytes in UTF-8; in each alphabet some differ only in
// their last byte.
const std::vector<std::vector<std::string>> kAlphabets = {
    {"a", "b"},
    {"a", "é", "è"},
    {"€", "₭", "a", "ж"},
    {"😀", "😁", "€", "é", "a"},
};

TEST(Hamming, Utf8AgreesWithCountOfDifferingCharacters) {
    std::mt19937_64 rng(0x4A);
    for (const auto& alphabet : kAlphabets)
        for (std::size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 200, 1000}) {
            std::string a, b;
            std::uint64_t want = 0;
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t i = rng() % alphabet.size(), j = rng() % 3 ? i : rng() % alphabet.size();
                a += alphabet[i];
                b += alphabet[j];
                want += i != j;
            }
            SCOPED_TRACE(testing::Message() << alphabet.back() << " n=" << n);
            EXPECT_EQ(hamming(a, b), want);
            EXPECT_EQ(hamming(a, b + "x"), std::nullopt);
        }
    EXPECT_EQ(hamming("é", "ab"), std::nullopt);  // as many bytes, fewer characters
}

}  // namespace
}  // namespace mivo::strings
