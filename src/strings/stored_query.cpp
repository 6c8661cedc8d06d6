#include "strings/stored_query.hpp"

#include <algorithm>
#include <bit>

#include "strings/edit_distance.hpp"
#include "strings/jaro_winkler.hpp"
#include "strings/lane_blocks.hpp"
#include "strings/levenshtein_bitparallel.hpp"
#include "strings/prepared_query.hpp"
#include "strings/small_buffer.hpp"

namespace mivo::strings {

namespace {

using Masks = PatternMasks<CodePointIds>;

std::uint64_t ones_below(std::size_t k) { return k >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1; }

struct JaroCounts {
    std::uint32_t matches = 0, transpositions = 0;
};

// The Jaro matching runs here in order of the text over the query's masks.
// It flags the same positions as the matching in order of the query: for
// one character, with the query's positions p1 < p2 < ... and the text's
// q1 < q2 < ..., the earliest text position that p1 may take, qk, is the
// first one within the window of any query position (those before it are too
// early for p1 and so for every later one), and p1 is the earliest query
// position qk may take; both orders pair p1 with qk, and the rest repeats the
// argument without them. So the counts, and the score, are the same.
template <class Char>
JaroCounts jaro_one_word(const Masks& pm, const char32_t* q, std::size_t m, const Char* t, std::size_t n,
                         std::size_t w) {
    std::uint64_t taken = 0;
    SmallBuffer<char32_t, 64> matched(std::min(m, n));
    JaroCounts c;
    const std::size_t end = std::min(n, m + w);  // past it the window is empty
    for (std::size_t j = 0; j < end; ++j) {
        const std::size_t lo = j > w ? j - w : 0;
        const std::size_t hi = std::min(j + w + 1, m);
        const std::uint64_t hit = pm.word(t[j]) & ones_below(hi) & ~ones_below(lo) & ~taken;
        if (hit) {
            taken |= hit & (0 - hit);
            matched[c.matches++] = t[j];
        }
    }
    std::size_t k = 0;
    for (std::uint64_t x = taken; x; x &= x - 1) c.transpositions += q[std::countr_zero(x)] != matched[k++];
    return c;
}

// Longer queries: for one character the matches come in increasing order
// on both sides (see above), so a cursor per character of the query marks
// where its next free position may be: below it every position is taken or
// below the window of every later text position. `next` gives the first
// position from p on that holds the character of id (m if none), at
// next[id * (m + 1) + p].
template <class Char>
JaroCounts jaro_many_words(const Masks& pm, const std::uint32_t* next, const char32_t* q, std::size_t m, const Char* t,
                           std::size_t n, std::size_t w) {
    const std::size_t words = pm.words();
    SmallBuffer<std::uint64_t, 16> taken(words);
    std::fill(taken.data(), taken.data() + words, std::uint64_t{0});
    SmallBuffer<std::uint32_t, 513> cursor(m + 1);
    std::fill(cursor.data(), cursor.data() + m + 1, std::uint32_t{0});
    SmallBuffer<char32_t, 512> matched(std::min(m, n));
    JaroCounts c;
    const std::size_t end = std::min(n, m + w);
    for (std::size_t j = 0; j < end; ++j) {
        const std::uint32_t id = pm.id(t[j]);
        if (id == 0) continue;
        const std::size_t lo = j > w ? j - w : 0;
        const std::size_t hi = std::min(j + w + 1, m);
        const std::size_t pos = next[id * (m + 1) + std::max<std::size_t>(cursor[id], lo)];
        if (pos >= hi) continue;
        taken[pos / 64] |= std::uint64_t{1} << (pos % 64);
        cursor[id] = static_cast<std::uint32_t>(pos + 1);
        matched[c.matches++] = t[j];
    }
    std::size_t k = 0;
    for (std::size_t word = 0; word < words; ++word)
        for (std::uint64_t x = taken[word]; x; x &= x - 1)
            c.transpositions += q[64 * word + static_cast<std::size_t>(std::countr_zero(x))] != matched[k++];
    return c;
}

}  // namespace

StoredQuery::StoredQuery(FixedWidthText query) : stored_(query), chars_(query.size) {
    lanes::with_stored(query, [&](const auto* p, std::size_t n) { std::copy(p, p + n, chars_.begin()); });
    if (!chars_.empty()) masks_ = std::make_unique<Masks>(chars_.data(), chars_.size());
}

StoredQuery::~StoredQuery() = default;

std::uint64_t StoredQuery::distance(FixedWidthText text, bool osa) const {
    const std::size_t m = chars_.size(), n = text.size;
    if (m == 0) return n;
    if (n == 0) return m;
    if (!masks_->ok()) return osa ? edit::distance<true>(stored_, text) : edit::distance<false>(stored_, text);
    return lanes::with_stored(text, [&](const auto* t, std::size_t) -> std::uint64_t {
        if (m <= 64) return osa ? bitparallel::word<true>(*masks_, t, n) : bitparallel::word<false>(*masks_, t, n);
        if (m <= 128)
            return osa ? bitparallel::fixed_words<true, 2>(*masks_, t, n)
                       : bitparallel::fixed_words<false, 2>(*masks_, t, n);
        const std::uint64_t bound = std::max(m, n);
        return osa ? bitparallel::blocks<true>(*masks_, t, n, bound) : bitparallel::blocks<false>(*masks_, t, n, bound);
    });
}

double StoredQuery::normalized_levenshtein(FixedWidthText text) const {
    return normalized_from_distance(distance(text, false), chars_.size(), text.size);
}

double StoredQuery::jaro(FixedWidthText text) const {
    const std::size_t m = chars_.size(), n = text.size;
    if (m == 0 || n == 0) return m == n ? 1.0 : 0.0;
    const std::size_t longest = std::max(m, n);
    const std::size_t w = longest < 2 ? 0 : longest / 2 - 1;
    JaroCounts c;
    if (!masks_->ok() || (m > 64 && !next_positions())) {
        SmallBuffer<char32_t, 128> wide(n);
        lanes::with_stored(text, [&](const auto* t, std::size_t) { std::copy(t, t + n, wide.data()); });
        return jaro_decoded(chars_.data(), m, wide.data(), n);
    }
    lanes::with_stored(text, [&](const auto* t, std::size_t) {
        c = m <= 64 ? jaro_one_word(*masks_, chars_.data(), m, t, n, w)
                    : jaro_many_words(*masks_, next_.data(), chars_.data(), m, t, n, w);
    });
    if (c.matches == 0) return 0.0;
    return jaro_from_counts(c.matches, c.transpositions, m, n);
}

bool StoredQuery::next_positions() const {
    if (!next_.empty()) return true;
    const std::size_t m = chars_.size();
    std::vector<std::uint32_t> ids(m);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < m; ++i) count = std::max(count, (ids[i] = masks_->id(chars_[i])) + 1);
    constexpr std::size_t kMaxEntries = std::size_t{1} << 20;
    if (std::size_t{count} * (m + 1) > kMaxEntries) return false;  // the decoded path then
    next_.resize(std::size_t{count} * (m + 1));
    for (std::uint32_t id = 0; id < count; ++id) {
        std::uint32_t* row = next_.data() + std::size_t{id} * (m + 1);
        std::uint32_t first = static_cast<std::uint32_t>(m);
        row[m] = first;
        for (std::size_t p = m; p-- > 0;) {
            if (ids[p] == id) first = static_cast<std::uint32_t>(p);
            row[p] = first;
        }
    }
    return true;
}

std::size_t StoredQuery::common_prefix(FixedWidthText text) const {
    return lanes::with_stored(text, [&](const auto* t, std::size_t n) {
        const std::size_t limit = std::min({chars_.size(), n, kWinklerMaxPrefix});
        std::size_t l = 0;
        while (l < limit && chars_[l] == static_cast<char32_t>(t[l])) ++l;
        return l;
    });
}

double StoredQuery::jaro_winkler(FixedWidthText text) const {
    const double j = jaro(text);
    if (j < kWinklerThreshold) return j;
    return winkler_boost(j, common_prefix(text));
}

double StoredQuery::best_match(FixedWidthText text) const {
    return larger_score(normalized_levenshtein(text), jaro_winkler(text));
}

}  // namespace mivo::strings
