// Levenshtein and OSA distances against straightforward full tables, over
// random pairs and every length around the register widths of the compared
// patterns and the 64-bit words of the bit vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "strings/edit_tables.hpp"
#include "strings/hamming.hpp"
#include "strings/levenshtein.hpp"
#include "strings/levenshtein_bitparallel.hpp"
#include "strings/osa.hpp"
#include "strings/prepared_query.hpp"

namespace mivo::strings {
namespace {

using Text = std::vector<char32_t>;

std::uint64_t full_table(const Text& a, const Text& b) {
    std::vector<std::vector<std::uint64_t>> d(a.size() + 1, std::vector<std::uint64_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j)
            d[i][j] = std::min({d[i - 1][j - 1] + (a[i - 1] != b[j - 1]), d[i - 1][j] + 1, d[i][j - 1] + 1});
    return d[a.size()][b.size()];
}

std::uint64_t osa_table(const Text& a, const Text& b) {
    std::vector<std::vector<std::uint64_t>> d(a.size() + 1, std::vector<std::uint64_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::uint64_t v = std::min({d[i - 1][j - 1] + (a[i - 1] != b[j - 1]), d[i - 1][j] + 1, d[i][j - 1] + 1});
            if (i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) v = std::min(v, d[i - 2][j - 2] + 1);
            d[i][j] = v;
        }
    return d[a.size()][b.size()];
}

std::string utf8(const Text& t) {
    std::string s;
    for (char32_t c : t) {
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

struct Alphabet {
    const char* name;
    Text chars;
};

// ASCII runs on bytes, text without values above 0xFFFF on 16-bit values,
// the rest on 32-bit values; "bmp" and the last alphabet hold values that
// agree in their low 8 or 16 bits.
const std::vector<Alphabet>& alphabets() {
    static const std::vector<Alphabet> all = {
        {"one letter", {U'a'}},
        {"two letters", {U'a', U'b'}},
        {"ascii", {U'a', U'b', U'c', U'd', U'e', U'f', U'g', U'h', U' ', U'Z', U'~', U'0'}},
        {"bmp", {U'a', U'\u0161', U'\u6161', U'\u00E9', U'\u0301', U'\u65E5', U'\uFFFF'}},
        {"astral", {U'\U0001F600', U'\U0001F601', U'\U0001F602', U'\U00020000'}},
        {"mixed", {U'a', U'b', U'\u00E9', U'\u0301', U'\u65E5', U'\u672C', U'\U0001F600', U'\U0010FFFF'}},
        {"low bits alike", {U'a', U'\u0161', U'\U00010061', U'\U00020061', U'\u0100', U'\U00010000'}},
    };
    return all;
}

Text random_text(std::mt19937_64& rng, const Text& chars, std::size_t len) {
    Text t(len);
    for (char32_t& c : t) c = chars[rng() % chars.size()];
    return t;
}

// Distance, swapped distance, the decoded entry point and the similarity.
void expect_all_agree(const Text& a, const Text& b, const char* alphabet) {
    const std::uint64_t want = full_table(a, b);
    const std::string sa = utf8(a), sb = utf8(b);
    SCOPED_TRACE(testing::Message() << alphabet << " m=" << a.size() << " n=" << b.size());
    EXPECT_EQ(levenshtein(sa, sb), want);
    EXPECT_EQ(levenshtein(sb, sa), want);
    EXPECT_EQ(levenshtein_decoded(a.data(), a.size(), b.data(), b.size()), want);
    EXPECT_EQ(levenshtein_decoded(b.data(), b.size(), a.data(), a.size()), want);
    const std::size_t len = std::max(a.size(), b.size());
    const double sim = sa == sb || len == 0 ? 1.0 : 1.0 - static_cast<double>(want) / static_cast<double>(len);
    EXPECT_EQ(normalized_levenshtein(sa, sb), sim);
}

TEST(LevenshteinTable, EveryPairOfWidthBoundaryLengths) {
    const std::size_t lengths[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65};
    std::mt19937_64 rng(0x1E5E7);
    for (const Alphabet& al : alphabets())
        for (std::size_t m : lengths)
            for (std::size_t n : lengths) expect_all_agree(random_text(rng, al.chars, m), random_text(rng, al.chars, n), al.name);
}

TEST(LevenshteinTable, RandomPairsUpTo300) {
    std::mt19937_64 rng(20261206);
    for (const Alphabet& al : alphabets())
        for (int k = 0; k < 60; ++k) {
            const Text a = random_text(rng, al.chars, rng() % 301);
            // Every third pair is a light edit of a, so that long runs match.
            Text b = random_text(rng, al.chars, rng() % 301);
            if (k % 3 == 0) {
                b = a;
                for (int e = 0; e < 5 && !b.empty(); ++e) b[rng() % b.size()] = al.chars[rng() % al.chars.size()];
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(rng() % (b.size() + 1)), al.chars[0]);
            }
            expect_all_agree(a, b, al.name);
        }
}

// A very long text against a pattern of a few values: one word over tens
// of thousands of steps, distances past 16 bits.
TEST(LevenshteinTable, LongAgainstShort) {
    std::mt19937_64 rng(99);
    for (std::size_t n : {64999, 65000, 65001, 70000})
        for (const Alphabet& al : {alphabets()[0], alphabets()[3], alphabets()[5]}) {
            const Text b = random_text(rng, al.chars, n);
            expect_all_agree(random_text(rng, al.chars, 3), b, al.name);
            expect_all_agree(Text(2, U'\u00FF'), b, al.name);
        }
}

// Both distances through every entry point, and the banded bit vectors
// directly with the tightest band (k = the distance) and a wider one.
void expect_both_agree(const Text& a, const Text& b, const char* alphabet) {
    const std::uint64_t lev = full_table(a, b), osa = osa_table(a, b);
    const std::string sa = utf8(a), sb = utf8(b);
    SCOPED_TRACE(testing::Message() << alphabet << " m=" << a.size() << " n=" << b.size());
    EXPECT_EQ(levenshtein(sa, sb), lev);
    EXPECT_EQ(levenshtein(sb, sa), lev);
    EXPECT_EQ(osa_distance(sa, sb), osa);
    EXPECT_EQ(osa_distance(sb, sa), osa);
    if (a.empty()) return;
    const PatternMasks<CodePointIds> pm(a.data(), a.size());
    for (std::uint64_t extra : {0, 7}) {
        EXPECT_EQ(bitparallel::blocks<false>(pm, b.data(), b.size(), lev + extra), lev) << "band +" << extra;
        EXPECT_EQ(bitparallel::blocks<true>(pm, b.data(), b.size(), osa + extra), osa) << "band +" << extra;
    }
    if (a.size() <= 64) {
        EXPECT_EQ(bitparallel::word<false>(pm, b.data(), b.size()), lev);
        EXPECT_EQ(bitparallel::word<true>(pm, b.data(), b.size()), osa);
    } else if (a.size() <= 128) {
        EXPECT_EQ((bitparallel::fixed_words<false, 2>(pm, b.data(), b.size())), lev);
        EXPECT_EQ((bitparallel::fixed_words<true, 2>(pm, b.data(), b.size())), osa);
    }
}

// Lengths around one, two and three words of bit vectors.
TEST(EditDistanceBits, EveryPairOfWordBoundaryLengths) {
    const std::size_t lengths[] = {0, 1, 2, 5, 62, 63, 64, 65, 66, 100, 127, 128, 129, 130, 191, 192, 193};
    std::mt19937_64 rng(0xB175);
    for (const Alphabet& al : alphabets())
        for (std::size_t m : lengths)
            for (std::size_t n : lengths) {
                const Text a = random_text(rng, al.chars, m);
                if (m == n) expect_both_agree(a, a, al.name);
                expect_both_agree(a, random_text(rng, al.chars, n), al.name);
                // A light edit of a: long runs that match, a narrow band.
                Text b = a;
                for (std::size_t e = 0; e < 3 && !b.empty(); ++e) b[rng() % b.size()] = al.chars[rng() % al.chars.size()];
                if (n % 2 == 1) b.insert(b.begin() + static_cast<std::ptrdiff_t>(rng() % (b.size() + 1)), al.chars[0]);
                expect_both_agree(a, b, al.name);
            }
}

// Swapped neighbours on both sides of each word edge, inside shared
// prefixes and suffixes of every length around it.
TEST(EditDistanceBits, TranspositionsAtWordEdges) {
    std::mt19937_64 rng(0x05A);
    const Alphabet& al = alphabets()[5];
    for (std::size_t len : {64, 65, 128, 129, 200})
        for (std::size_t at : {0, 1, 31, 62, 63, 64, 65, 126, 127, 128, 198}) {
            if (at + 1 >= len) continue;
            Text a = random_text(rng, al.chars, len);
            a[at] = U'x';
            a[at + 1] = U'y';
            Text b = a;
            std::swap(b[at], b[at + 1]);
            expect_both_agree(a, b, "swap");
            b.erase(b.begin());  // and shifted by one against a
            expect_both_agree(a, b, "swap shifted");
        }
}

// Long pairs (several words, wide and narrow bands) in every alphabet, and
// pairs that share long prefixes and suffixes around a differing middle.
TEST(EditDistanceBits, LongRandomPairs) {
    std::mt19937_64 rng(2000);
    for (const Alphabet& al : alphabets())
        for (int k = 0; k < 4; ++k) {
            const Text a = random_text(rng, al.chars, 300 + rng() % 1700);
            Text b = a;
            const std::size_t edits = k % 2 == 0 ? 10 : b.size() / 3;
            for (std::size_t e = 0; e < edits; ++e) {
                const std::size_t at = rng() % b.size();
                if (e % 3 == 0) b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
                else if (e % 3 == 1) b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), al.chars[rng() % al.chars.size()]);
                else b[at] = al.chars[rng() % al.chars.size()];
            }
            expect_both_agree(a, b, al.name);
            expect_both_agree(a, random_text(rng, al.chars, 100 + rng() % 400), al.name);
        }
}

// Very long patterns over very many distinct values are not prepared (their
// rows would take gigabytes); the plain tables then serve.
TEST(EditDistanceBits, UnpreparedPatternsTakeThePlainTables) {
    Text huge(70000);
    for (std::size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<char32_t>(0x4E00 + i % 3000);
    EXPECT_FALSE(PatternMasks<CodePointIds>(huge.data(), huge.size()).ok());
    EXPECT_TRUE(PatternMasks<CodePointIds>(huge.data(), 5000).ok());
    std::mt19937_64 rng(77);
    for (const Alphabet& al : alphabets())
        for (int k = 0; k < 20; ++k) {
            const Text a = random_text(rng, al.chars, rng() % 90), b = random_text(rng, al.chars, rng() % 90);
            EXPECT_EQ(tables::levenshtein(a.data(), a.size(), b.data(), b.size()), full_table(a, b));
            EXPECT_EQ(tables::osa(a.data(), a.size(), b.data(), b.size()), osa_table(a, b));
        }
}

// Hamming over UTF-8 (sequences compared as masked words, 64 bytes of
// starts at a time, a zero-padded last chunk) and over stored code points.
TEST(Hamming, AgreesWithCountOverUtf8AndStoredWidths) {
    std::mt19937_64 rng(0x4A);
    for (const Alphabet& al : alphabets())
        for (std::size_t n : {0, 1, 15, 16, 17, 31, 63, 64, 65, 200, 1000}) {
            const Text a = random_text(rng, al.chars, n);
            Text b = a;
            for (char32_t& c : b)
                if (rng() % 3 == 0) c = al.chars[rng() % al.chars.size()];
            std::uint64_t want = 0;
            for (std::size_t k = 0; k < n; ++k) want += a[k] != b[k];
            SCOPED_TRACE(testing::Message() << al.name << " n=" << n);
            EXPECT_EQ(hamming(utf8(a), utf8(b)), want);
            EXPECT_EQ(hamming(utf8(a), utf8(b) + "x"), std::nullopt);
            EXPECT_EQ(hamming(FixedWidthText{a.data(), n, 4}, FixedWidthText{b.data(), n, 4}), want);
        }
}

}  // namespace
}  // namespace mivo::strings
