#include <gtest/gtest.h>

#include <string>

#include "strings/levenshtein.hpp"

namespace {

using mivo::strings::levenshtein;
using mivo::strings::normalized_levenshtein;

struct Case {
    const char* a;
    const char* b;
    std::uint64_t distance;
};

class LevenshteinCases : public ::testing::TestWithParam<Case> {};

TEST_P(LevenshteinCases, DistanceBothWays) {
    const Case& c = GetParam();
    EXPECT_EQ(levenshtein(c.a, c.b), c.distance);
    EXPECT_EQ(levenshtein(c.b, c.a), c.distance);
}

INSTANTIATE_TEST_SUITE_P(Values, LevenshteinCases,
                         ::testing::Values(Case{"", "", 0}, Case{"", "h\xC3\xA9llo", 5}, Case{"kitten", "sitting", 3},
                                           Case{"A", "a", 1},
                                           // precomposed e-acute against e + combining acute
                                           Case{"\xC3\xA9", "e\xCC\x81", 2},
                                           // one emoji outside the BMP is one character
                                           Case{"\xF0\x9F\x98\x80", "x", 1}, Case{"flaw", "lawn", 2}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(NormalizedLevenshtein, Values) {
    EXPECT_EQ(normalized_levenshtein("", ""), 1.0);
    EXPECT_EQ(normalized_levenshtein("", "abc"), 0.0);
    EXPECT_EQ(normalized_levenshtein("hello", "hallo"), 0.8);
    EXPECT_EQ(normalized_levenshtein("abc", "abd"), 0.6666666666666667);
    EXPECT_EQ(normalized_levenshtein("abc", "xyz"), 0.0);
}

TEST(Levenshtein, LongStringsUseTheHeap) {
    std::string a(1000, 'a'), b(1000, 'a');
    b[500] = 'b';
    b += "cc";
    EXPECT_EQ(levenshtein(a, b), 3u);
}

}  // namespace
