// Library-level checks of the string metrics, the Unicode helpers and the
// text SimHash (the Python tests cover the module surface and the
// differential comparisons).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "strings/best_match.hpp"
#include "strings/jaro_winkler.hpp"
#include "strings/levenshtein.hpp"
#include "strings/osa.hpp"
#include "strings/similarity_opts.hpp"
#include "strings/text_simhash.hpp"
#include "strings/unicode.hpp"

namespace ms = mivo::strings;

namespace {

struct ScoreCase {
    const char* a;
    const char* b;
    double jaro;
    double jaro_winkler;
};

class JaroValues : public testing::TestWithParam<ScoreCase> {};

TEST_P(JaroValues, ExactDoubles) {
    const ScoreCase& c = GetParam();
    EXPECT_EQ(ms::jaro(c.a, c.b), c.jaro);
    EXPECT_EQ(ms::jaro_winkler(c.a, c.b), c.jaro_winkler);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, JaroValues,
    testing::Values(ScoreCase{"martha", "marhta", 0.9444444444444445, 0.9611111111111111},
                    ScoreCase{"", "", 1.0, 1.0}, ScoreCase{"a", "", 0.0, 0.0}, ScoreCase{"", "a", 0.0, 0.0},
                    ScoreCase{"ab", "ba", 0.0, 0.0},
                    ScoreCase{"abcxyz", "bcaxyz", 0.9444444444444445, 0.9444444444444445},
                    ScoreCase{"MARTHA", "martha", 0.0, 0.0},
                    ScoreCase{"hello", "world", 0.4666666666666666, 0.4666666666666666},
                    ScoreCase{"a", "ab", 0.8333333333333334, 0.8500000000000001}));

TEST(JaroWinkler, PrefixCases) {
    EXPECT_EQ(ms::jaro_winkler("dwayne", "duane"), 0.8400000000000001);
    EXPECT_EQ(ms::jaro_winkler("dixon", "dicksonx"), 0.8133333333333332);
    EXPECT_EQ(ms::jaro_winkler("abcdefgh", "abcdefgx"), 0.95);
}

// Past 64 scalar values Jaro takes its general matching path; a shared
// 70-character prefix leaves the same differences as the short pairs.
TEST(Jaro, LongStrings) {
    const std::string pad(70, '#');
    // 76 characters each, all matched; 2 (martha) and 3 (abcxyz) out of order, halved to 1.
    EXPECT_EQ(ms::jaro(pad + "abc", pad + "abc"), 1.0);
    const double m = 76.0;
    EXPECT_EQ(ms::jaro(pad + "martha", pad + "marhta"), ((m / m + m / m) + (m - 1.0) / m) / 3.0);
    EXPECT_EQ(ms::jaro(pad + "abcxyz", pad + "bcaxyz"), ((m / m + m / m) + (m - 1.0) / m) / 3.0);
    EXPECT_EQ(ms::jaro(pad + "x", pad + "y"), ((70.0 / 71.0 + 70.0 / 71.0) + 1.0) / 3.0);
    EXPECT_EQ(ms::jaro(std::string(100, 'a'), std::string(100, 'b')), 0.0);
}

using DistanceCase = std::tuple<const char*, const char*, std::uint64_t>;

class OsaValues : public testing::TestWithParam<DistanceCase> {};

TEST_P(OsaValues, Distance) {
    const auto& [a, b, d] = GetParam();
    EXPECT_EQ(ms::osa_distance(a, b), d);
}

INSTANTIATE_TEST_SUITE_P(Strings, OsaValues,
                         testing::Values(DistanceCase{"ca", "ac", 1}, DistanceCase{"abcd", "acbd", 1},
                                         DistanceCase{"abcdef", "badcfe", 3}, DistanceCase{"ca", "abc", 3},
                                         DistanceCase{"kitten", "sitting", 3}, DistanceCase{"", "", 0},
                                         DistanceCase{"", "abc", 3}, DistanceCase{"h\xc3\xa9llo", "hello", 1}));

TEST(Hamming, Values) {
    EXPECT_EQ(ms::hamming("karolin", "kathrin"), 3u);
    EXPECT_EQ(ms::hamming("hello", "world!"), std::nullopt);
    EXPECT_EQ(ms::hamming("", ""), 0u);
    EXPECT_EQ(ms::hamming("h\xc3\xa9llo", "hello"), 1u);
    EXPECT_EQ(ms::hamming("e\xcc\x81", "e"), std::nullopt);
}

TEST(BestMatch, Values) {
    EXPECT_EQ(ms::best_match("hello", "hallo"), 0.88);
    EXPECT_EQ(ms::best_match("", ""), 1.0);
    EXPECT_EQ(ms::best_match("abc", ""), 0.0);
}

// The scorer reused across candidates (bit-parallel distance for queries up
// to 64 scalar values, rows beyond) gives best_match's exact double.
TEST(BestMatch, ScorerAgreesWithPairwise) {
    const std::vector<std::string> queries = {"app", "", "\xce\xb1\xce\xb2\xce\xb3", std::string(64, 'a'),
                                              std::string(65, 'a') + "b", "kitten"};
    const std::vector<std::string> candidates = {
        "apple", "", "application", "apply", "\xce\xb1\xce\xb3\xce\xb2", std::string(63, 'a'),
        std::string(66, 'a'), "sitting", "app", std::string(200, 'b') + "a"};
    for (const auto& q : queries) {
        ms::QueryScorer scorer(q);
        for (const auto& c : candidates) EXPECT_EQ(scorer.score(c), ms::best_match(q, c)) << q << " / " << c;
    }
}

TEST(Search, TiesGoToTheLastIndex) {
    const std::vector<std::string> cands = {"apple", "application", "apply"};
    const ms::Match m = ms::find_best_match("app", cands);
    EXPECT_EQ(m.index, 2u);
    EXPECT_EQ(m.score, 0.9066666666666667);
    const ms::Match none = ms::find_best_match("x", {});
    EXPECT_EQ(none.index, 0u);
    EXPECT_EQ(none.score, 0.0);
}

TEST(Search, Threshold) {
    const std::vector<std::string> cands = {"apple", "application", "apply", "banana"};
    const auto kept = ms::find_matches_above_threshold("app", cands, 0.5);
    ASSERT_EQ(kept.size(), 4u);
    const double scores[] = {0.9066666666666667, 0.8303030303030302, 0.9066666666666667, 0.5};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(kept[i].index, i);
        EXPECT_EQ(kept[i].score, scores[i]);
    }
    EXPECT_TRUE(ms::find_matches_above_threshold("app", cands, std::nan("")).empty());
    EXPECT_TRUE(ms::find_matches_above_threshold("app", cands, 1.0000001).empty());
}

// ------------------------------------------------------------------ Unicode

TEST(Unicode, TablesNameOneVersion) { EXPECT_EQ(ms::ucd_version(), "14.0.0"); }

TEST(Unicode, WhiteSpaceSet) {
    std::vector<char32_t> expected;
    for (char32_t c = 0x9; c <= 0xD; ++c) expected.push_back(c);
    for (char32_t c : {0x20, 0x85, 0xA0, 0x1680}) expected.push_back(c);
    for (char32_t c = 0x2000; c <= 0x200A; ++c) expected.push_back(c);
    for (char32_t c : {0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) expected.push_back(c);
    std::vector<char32_t> found;
    for (char32_t c = 0; c <= 0x10FFFF; ++c)
        if (ms::is_white_space(c)) found.push_back(c);
    EXPECT_EQ(found, expected);
}

using LowerCase = std::pair<const char*, const char*>;
class Lowercase : public testing::TestWithParam<LowerCase> {};

TEST_P(Lowercase, FullMapping) { EXPECT_EQ(ms::to_lowercase(GetParam().first), GetParam().second); }

INSTANTIATE_TEST_SUITE_P(
    Strings, Lowercase,
    testing::Values(LowerCase{"", ""}, LowerCase{"HeLLo, World 123", "hello, world 123"},
                    LowerCase{"\xc4\xb0", "i\xcc\x87"},                       // U+0130
                    LowerCase{"STRASSE stra\xc3\x9f" "e", "strasse stra\xc3\x9f" "e"},
                    LowerCase{"\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x82"},  // ΟΔΟΣ
                    LowerCase{"\xce\xa3", "\xcf\x83"},                        // lone Σ
                    LowerCase{"\xce\xa3\xce\x91", "\xcf\x83\xce\xb1"},        // ΣΑ: not final
                    LowerCase{"A\xcc\x81\xce\xa3 x", "a\xcc\x81\xcf\x82 x"},  // combining mark skipped
                    LowerCase{"A\xce\xa3\xcc\x81" "B", "a\xcf\x83\xcc\x81" "b"},  // cased after the mark
                    LowerCase{"1\xce\xa3", "1\xcf\x83"},                      // digit is not cased
                    LowerCase{"\xc8\xba", "\xe2\xb1\xa5"},                    // grows from 2 to 3 bytes
                    LowerCase{"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"}));      // Deseret, outside the BMP

TEST(Unicode, Trim) {
    EXPECT_EQ(ms::trim_white_space("  a b\t\n"), "a b");
    EXPECT_EQ(ms::trim_white_space("\xc2\xa0x\xe3\x80\x80"), "x");                 // U+00A0, U+3000
    EXPECT_EQ(ms::trim_white_space("\xe2\x80\x8bx\xef\xbb\xbf"), "\xe2\x80\x8bx\xef\xbb\xbf");  // U+200B, U+FEFF
    EXPECT_EQ(ms::trim_white_space(" \xc2\x85 "), "");
}

TEST(Options, LevenshteinWithOpts) {
    ms::SimilarityOpts both{false, true, 0.1};
    EXPECT_EQ(ms::levenshtein_with_opts("  HELLO  ", "hello", both), 0u);
    EXPECT_EQ(ms::levenshtein_with_opts("  HELLO  ", "hello", {true, true, 0.1}), 5u);
    EXPECT_EQ(ms::levenshtein_with_opts("  HELLO  ", "hello", {false, false, 0.1}), 4u);
    EXPECT_EQ(ms::levenshtein_with_opts("a  b", "a b", {true, true, 0.1}), 1u);
    EXPECT_EQ(ms::levenshtein_with_opts("STRASSE", "stra\xc3\x9f" "e", {false, false, 0.1}), 2u);
    EXPECT_EQ(ms::levenshtein_with_opts("\xc4\xb0", "i", {false, false, 0.1}), 1u);
}

// ------------------------------------------------------------------ SimHash

TEST(SimHash, Values) {
    EXPECT_EQ(ms::simhash(""), 0u);
    EXPECT_EQ(ms::simhash("a"), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(ms::simhash("A"), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(ms::simhash("ab"), 0xAF63DC4C8601E084ull);
    EXPECT_EQ(ms::simhash("abc"), 0xE71FA2190541574Bull);
    EXPECT_EQ(ms::simhash("iPhone 14"), 0x039A061927E20D7Aull);
    EXPECT_EQ(ms::simhash("iPhone 15"), 0x039A071927E2092Eull);
    EXPECT_EQ(ms::simhash_distance(ms::simhash("iPhone 14"), ms::simhash("iPhone 15")), 5u);
    EXPECT_EQ(ms::simhash_similarity("iPhone 14", "iPhone 15"), 0.921875);
    EXPECT_EQ(ms::simhash_similarity("iPhone", "Galaxy"), 0.46875);
    EXPECT_EQ(ms::simhash_distance(0, ~0ull), 64u);
}

TEST(SimHash, Search) {
    const std::uint64_t q = ms::simhash("iPhone 14");
    const std::vector<std::uint64_t> c = {ms::simhash("iPhone 14 Pro"), ms::simhash("iPhone 13"),
                                          ms::simhash("Galaxy S23")};
    EXPECT_EQ(ms::simhash_distance(q, c[0]), 8u);
    EXPECT_EQ(ms::simhash_distance(q, c[1]), 3u);
    EXPECT_EQ(ms::simhash_distance(q, c[2]), 24u);
    EXPECT_EQ(ms::find_similar_hashes(q, c, 10), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(ms::find_similar_hashes(q, c, 8), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(ms::find_similar_hashes(q, {}, 5), std::vector<std::uint64_t>{});
    const std::vector<std::uint64_t> self = {q};
    EXPECT_EQ(ms::find_similar_hashes(q, self, 0), std::vector<std::uint64_t>{0});
}

}  // namespace
