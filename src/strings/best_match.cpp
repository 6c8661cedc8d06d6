#include "strings/best_match.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "strings/jaro_winkler.hpp"
#include "strings/levenshtein.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

// The larger of the two scores; a NaN first score yields the second.
double larger(double n, double j) {
    if (std::isnan(n)) return j;
    return j > n ? j : n;
}

}  // namespace

double best_match(std::string_view a, std::string_view b) {
    const double n = normalized_levenshtein(a, b);
    const double j = jaro_winkler(a, b);
    return larger(n, j);
}

// ------------------------------------------------------------ QueryScorer

struct QueryScorer::State {
    std::string_view query;
    std::vector<char32_t> q;       // the query in scalar values
    std::vector<char32_t> cand;    // the current candidate, reused
    std::vector<std::uint64_t> row;  // Levenshtein rows for long queries

    // Queries of at most 64 scalar values: one bit per query position for
    // each character, for the bit-parallel edit distance.
    bool bit_parallel = false;
    std::uint64_t ascii[128] = {};
    std::vector<std::pair<char32_t, std::uint64_t>> other;

    std::uint64_t positions(char32_t c) const {
        if (c < 128) return ascii[c];
        for (const auto& [ch, mask] : other)
            if (ch == c) return mask;
        return 0;
    }

    // The edit distance between the query and cand[0..n) by the bit-vector
    // method over the query's columns; the same integer as the two-row table.
    std::uint64_t distance_bits(std::size_t n) const {
        const std::size_t m = q.size();
        const std::uint64_t last = std::uint64_t{1} << (m - 1);
        std::uint64_t vp = m == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
        std::uint64_t vn = 0;
        std::uint64_t dist = m;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t eq = positions(cand[i]);
            const std::uint64_t xv = eq | vn;
            const std::uint64_t xh = (((eq & vp) + vp) ^ vp) | eq;
            std::uint64_t ph = vn | ~(xh | vp);
            std::uint64_t mh = vp & xh;
            if (ph & last)
                ++dist;
            else if (mh & last)
                --dist;
            ph = (ph << 1) | 1;
            mh <<= 1;
            vp = mh | ~(xv | ph);
            vn = ph & xv;
        }
        return dist;
    }

    // The two-row table for long queries (the shorter side spans the row).
    std::uint64_t distance_rows(std::size_t n) {
        const char32_t* a = q.data();
        const char32_t* b = cand.data();
        std::size_t la = q.size(), lb = n;
        if (la > lb) {
            std::swap(a, b);
            std::swap(la, lb);
        }
        row.resize(2 * (la + 1));
        std::uint64_t* p = row.data();
        std::uint64_t* c = p + la + 1;
        for (std::size_t j = 0; j <= la; ++j) p[j] = j;
        for (std::size_t i = 1; i <= lb; ++i) {
            const char32_t y = b[i - 1];
            c[0] = i;
            for (std::size_t j = 1; j <= la; ++j) {
                const std::uint64_t sub = p[j - 1] + (a[j - 1] == y ? 0 : 1);
                c[j] = std::min({sub, p[j] + 1, c[j - 1] + 1});
            }
            std::swap(p, c);
        }
        return p[la];
    }
};

QueryScorer::QueryScorer(std::string_view query) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.query = query;
    decode_utf8(query, s.q);
    s.bit_parallel = !s.q.empty() && s.q.size() <= 64;
    if (s.bit_parallel) {
        for (std::size_t i = 0; i < s.q.size(); ++i) {
            const char32_t c = s.q[i];
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (c < 128) {
                s.ascii[c] |= bit;
                continue;
            }
            auto it = std::find_if(s.other.begin(), s.other.end(), [c](const auto& e) { return e.first == c; });
            if (it == s.other.end())
                s.other.emplace_back(c, bit);
            else
                it->second |= bit;
        }
    }
}

QueryScorer::~QueryScorer() = default;

double QueryScorer::score(std::string_view candidate) {
    State& s = *state_;
    // Byte-identical: both similarities are 1.0.
    if (candidate == s.query) return 1.0;
    // One side empty: the distance is the other's length, so the normalized
    // similarity is 0.0, and so is Jaro-Winkler.
    if (candidate.empty() || s.query.empty()) return 0.0;

    if (s.cand.size() < candidate.size()) s.cand.resize(candidate.size());
    const std::size_t n = decode_into(candidate, s.cand.data());
    const std::size_t m = s.q.size();
    const std::uint64_t d = s.bit_parallel ? s.distance_bits(n) : s.distance_rows(n);
    const double norm = 1.0 - static_cast<double>(d) / static_cast<double>(std::max(m, n));
    const double jw = jaro_winkler_decoded(s.q.data(), m, s.cand.data(), n);
    return larger(norm, jw);
}

// ------------------------------------------------------------ searches

Match find_best_match(std::string_view query, std::span<const std::string> candidates) {
    if (candidates.empty()) return {0, 0.0};
    QueryScorer scorer(query);
    Match best{0, scorer.score(candidates[0])};
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        const double s = scorer.score(candidates[i]);
        // Equal scores move the choice to the later candidate.
        if (best.score <= s) best = {i, s};
    }
    return best;
}

std::vector<Match> find_matches_above_threshold(std::string_view query, std::span<const std::string> candidates,
                                                double threshold) {
    std::vector<Match> kept;
    kept.reserve(4);
    if (candidates.empty()) return kept;
    QueryScorer scorer(query);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const double s = scorer.score(candidates[i]);
        if (s >= threshold) kept.push_back({i, s});
    }
    return kept;
}

}  // namespace mivo::strings
