#include "strings/best_match.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "strings/jaro_winkler.hpp"
#include "strings/levenshtein.hpp"
#include "strings/levenshtein_bitparallel.hpp"
#include "strings/prepared_query.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

// The larger of the two scores; a NaN first score yields the second.
double larger(double n, double j) {
    if (std::isnan(n)) return j;
    return j > n ? j : n;
}

// A candidate whose score bound, plus a margin far above the rounding error
// of the score and of the bound, stays below the mark cannot reach the mark
// and is not scored.
constexpr double kBoundMargin = 1e-9;

// Bit masks of the positions of each character in a string of at most 64
// scalar values: ASCII in a table, other characters in a short list.
class PositionMasks {
public:
    void add(char32_t c, std::size_t pos) {
        const std::uint64_t bit = std::uint64_t{1} << pos;
        if (c < 128) {
            ascii_[c] |= bit;
            return;
        }
        for (auto& [ch, mask] : other_) {
            if (ch == c) {
                mask |= bit;
                return;
            }
        }
        other_.emplace_back(c, bit);
    }
    std::uint64_t get(char32_t c) const {
        if (c < 128) return ascii_[c];
        for (const auto& [ch, mask] : other_)
            if (ch == c) return mask;
        return 0;
    }
    // Forgets the characters of s (the string that was added).
    void clear(const char32_t* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            if (s[i] < 128) ascii_[s[i]] = 0;
        other_.clear();
    }

private:
    std::uint64_t ascii_[128] = {};
    std::vector<std::pair<char32_t, std::uint64_t>> other_;
};

// How many characters of each kind the query holds, to bound the number of
// characters any alignment or Jaro matching can pair with a candidate.
class CharCounts {
public:
    void add(char32_t c) {
        if (c < 128) {
            ++ascii_[c];
            present_[c] = 1;
            return;
        }
        for (auto& [ch, count] : other_) {
            if (ch == c) {
                ++count;
                return;
            }
        }
        other_.emplace_back(c, 1);
        used_other_.push_back(0);
    }
    // An upper bound of common(s, n) without counting: the characters of s
    // that occur in the query at all (any non-ASCII one may, if the query
    // has some).
    template <class Char>
    std::size_t present(const Char* s, std::size_t n) const {
        std::size_t k = 0;
        const std::uint8_t wide = other_.empty() ? 0 : 1;
        for (std::size_t i = 0; i < n; ++i) k += s[i] < 128 ? present_[s[i] & 127] : wide;
        return k;
    }

    // The size of the multiset intersection of the query and s.
    template <class Char>
    std::size_t common(const Char* s, std::size_t n) {
        std::size_t k = 0;
        bool wide = false;
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t c = s[i];
            if (c >= 128) {
                wide = true;
                continue;
            }
            k += ++used_ascii_[c] <= ascii_[c];
        }
        for (std::size_t i = 0; i < n; ++i)
            if (s[i] < 128) used_ascii_[s[i]] = 0;
        if (wide && !other_.empty()) {
            for (std::size_t i = 0; i < n; ++i) {
                const char32_t c = s[i];
                if (c < 128) continue;
                for (std::size_t e = 0; e < other_.size(); ++e) {
                    if (other_[e].first == c) {
                        k += ++used_other_[e] <= other_[e].second;
                        break;
                    }
                }
            }
            std::fill(used_other_.begin(), used_other_.end(), 0);
        }
        return k;
    }

private:
    std::uint32_t ascii_[128] = {};
    std::uint32_t used_ascii_[128] = {};
    std::uint8_t present_[128] = {};
    std::vector<std::pair<char32_t, std::uint32_t>> other_;
    std::vector<std::uint32_t> used_other_;
};

}  // namespace

double best_match(std::string_view a, std::string_view b) {
    const double n = normalized_levenshtein(a, b);
    const double j = jaro_winkler(a, b);
    return larger(n, j);
}

// ------------------------------------------------------------ QueryScorer

struct QueryScorer::State {
    std::string_view query;
    std::vector<char32_t> q;                                  // the query in scalar values
    std::vector<char32_t> cand;                               // the current candidate, reused
    bool short_query = false;                                 // 1 to 64 scalar values
    std::unique_ptr<PatternMasks<CodePointIds>> query_masks;  // for the edit distance
    PositionMasks cand_masks;                                 // for the Jaro matching
    CharCounts counts;

    // The edit distance between the query and cand[0..n) by bit vectors over
    // the query's prepared masks: one word up to 64 values, else the words of
    // the band that the plain alignment of the two strings bounds.
    std::uint64_t distance(std::size_t n) const {
        if (short_query) return bitparallel::word<false>(*query_masks, cand.data(), n);
        if (!query_masks->ok()) return levenshtein_decoded(q.data(), q.size(), cand.data(), n);
        const std::uint64_t k = bitparallel::aligned_bound(q.data(), q.size(), cand.data(), n);
        return bitparallel::blocks<false>(*query_masks, cand.data(), n, k);
    }

    // The Jaro similarity of the query and cand[0..n), both at most 64
    // scalar values: the earliest free candidate position holding the query
    // character inside the window is the lowest set bit of
    // (its positions) & window & ~taken.
    double jaro_bits(std::size_t n) {
        const std::size_t m = q.size();
        for (std::size_t j = 0; j < n; ++j) cand_masks.add(cand[j], j);
        const std::size_t longest = std::max(m, n);
        const std::size_t w = longest < 2 ? 0 : longest / 2 - 1;
        std::uint64_t fa = 0, fb = 0;
        std::uint32_t matches = 0;
        const std::size_t rows = std::min(m, n + w);  // beyond it the window is empty
        for (std::size_t i = 0; i < rows; ++i) {
            const std::size_t lo = i > w ? i - w : 0;
            const std::size_t hi = std::min(i + w + 1, n);
            const std::uint64_t window =
                (hi == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1) & (~std::uint64_t{0} << lo);
            const std::uint64_t hit = cand_masks.get(q[i]) & window & ~fb;
            const std::uint64_t first = hit & (~hit + 1);
            fb |= first;
            fa |= static_cast<std::uint64_t>(hit != 0) << i;
            matches += hit != 0;
        }
        cand_masks.clear(cand.data(), n);
        if (matches == 0) return 0.0;
        std::uint32_t t = 0;
        while (fa) {
            t += q[static_cast<std::size_t>(std::countr_zero(fa))] !=
                 cand[static_cast<std::size_t>(std::countr_zero(fb))];
            fa &= fa - 1;
            fb &= fb - 1;
        }
        return jaro_from_counts(matches, t, m, n);
    }

    // The common prefix of the query and c[0..n), up to the Winkler limit.
    template <class Char>
    std::size_t prefix(const Char* c, std::size_t n) const {
        const std::size_t limit = std::min({q.size(), n, kWinklerMaxPrefix});
        std::size_t l = 0;
        while (l < limit && q[l] == static_cast<char32_t>(c[l])) ++l;
        return l;
    }

    // A value the best-match score of a candidate of n scalar values cannot
    // exceed (beyond rounding) when at most k characters pair up with the
    // query and the common prefix is l. The distance is then at least
    // max(m, n) - k and the Jaro matches at most k, without transpositions;
    // the bounds go through the scores' own formulas, whose rounded steps are
    // monotone in these quantities.
    double bound(std::size_t m, std::size_t n, std::size_t l, std::size_t k) const {
        const std::size_t longest = std::max(m, n);
        const double norm = 1.0 - static_cast<double>(longest - k) / static_cast<double>(longest);
        double jaro_bound = 0.0;
        if (k > 0) {
            const double kd = static_cast<double>(k);
            double sum = kd / static_cast<double>(n) + kd / static_cast<double>(m);
            sum = sum + 1.0;
            jaro_bound = sum / 3.0;
        }
        return larger(norm, winkler_boost(jaro_bound, l));
    }

    // bound() up to rounding (far below the margin), with multiplications by
    // kept reciprocals in place of divisions.
    std::vector<double> reciprocals;  // 1 / n for n below 256
    double quick_bound(std::size_t n, std::size_t l, std::size_t k) {
        const std::size_t m = q.size();
        if (n >= 256) return bound(m, n, l, k);
        if (reciprocals.empty()) {
            reciprocals.resize(256);
            for (std::size_t i = 1; i < 256; ++i) reciprocals[i] = 1.0 / static_cast<double>(i);
        }
        const std::size_t longest = std::max(m, n);
        const double kd = static_cast<double>(k);
        const double norm = 1.0 - static_cast<double>(longest - k) *
                                      (longest < 256 ? reciprocals[longest] : 1.0 / static_cast<double>(longest));
        const double inv_m = m < 256 ? reciprocals[m] : 1.0 / static_cast<double>(m);
        const double jaro_bound = k == 0 ? 0.0 : (kd * reciprocals[n] + kd * inv_m + 1.0) * (1.0 / 3.0);
        return larger(norm, winkler_boost(jaro_bound, l));
    }

    // bound() from the lengths alone, kept for candidate lengths up to 255.
    std::vector<double> length_bounds;

    double length_bound(std::size_t n) {
        const std::size_t m = q.size();
        auto compute = [&] { return bound(m, n, std::min({m, n, kWinklerMaxPrefix}), std::min(m, n)); };
        if (n >= 256) return compute();
        if (length_bounds.empty()) length_bounds.assign(256, -1.0);
        double& b = length_bounds[n];
        if (b < 0.0) b = compute();
        return b;
    }

    // Whether a candidate c[0..n) with common prefix l may reach `mark`: at
    // most k characters pair up in any alignment or Jaro matching. Run on the
    // candidate's bytes when it is ASCII, before anything is copied.
    template <class Char>
    bool may_reach(const Char* c, std::size_t n, std::size_t l, double mark) {
        if (!(mark > -INFINITY)) return true;
        // First the characters that occur in the query at all (no counting),
        // then the exact multiset intersection.
        const std::size_t least = least_k(n, l, mark);
        if (std::min(counts.present(c, n), q.size()) < least) return false;
        return counts.common(c, n) >= least;
    }

    // The least k for which quick_bound(n, l, k) (plus the margin) reaches
    // the mark, min(m, n) + 1 if none does: the bound grows with k, so a
    // candidate with fewer characters in common cannot reach the mark. Kept
    // for lengths below 256 until the mark changes.
    double least_mark = NAN;
    std::uint32_t least_generation = 0;
    std::vector<std::uint32_t> least_stamps;  // per (n, l): generation of the entry
    std::vector<std::uint16_t> least_values;
    std::size_t least_k(std::size_t n, std::size_t l, double mark) {
        auto compute = [&] {
            const std::size_t top = std::min(q.size(), n);
            std::size_t k = 0;
            while (k <= top && quick_bound(n, l, k) + kBoundMargin < mark) ++k;
            return k;
        };
        if (n >= 256) return compute();
        if (least_stamps.empty()) {
            least_stamps.assign(256 * (kWinklerMaxPrefix + 1), 0);
            least_values.assign(256 * (kWinklerMaxPrefix + 1), 0);
        }
        if (!(mark == least_mark)) {
            least_mark = mark;
            ++least_generation;
        }
        const std::size_t at = n * (kWinklerMaxPrefix + 1) + l;
        if (least_stamps[at] != least_generation) {
            least_stamps[at] = least_generation;
            least_values[at] = static_cast<std::uint16_t>(compute());
        }
        return least_values[at];
    }

    // The best-match score of the query and cand[0..n) (common prefix l).
    double score_decoded(std::size_t n, std::size_t l) {
        const std::size_t m = q.size();
        const std::size_t longest = std::max(m, n);
        const std::uint64_t d = distance(n);
        const double norm = 1.0 - static_cast<double>(d) / static_cast<double>(longest);
        const double jaro_score = short_query && n <= 64 ? jaro_bits(n) : jaro_decoded(q.data(), m, cand.data(), n);
        return larger(norm, winkler_boost(jaro_score, l));
    }
};

QueryScorer::QueryScorer(std::string_view query) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.query = query;
    decode_utf8(query, s.q);
    s.short_query = !s.q.empty() && s.q.size() <= 64;
    for (std::size_t i = 0; i < s.q.size(); ++i) s.counts.add(s.q[i]);
    if (!s.q.empty()) s.query_masks = std::make_unique<PatternMasks<CodePointIds>>(s.q.data(), s.q.size());
}

QueryScorer::~QueryScorer() = default;

std::optional<double> QueryScorer::score_reaching(std::string_view candidate, double mark) {
    State& s = *state_;
    // Byte-identical: both similarities are 1.0.
    if (candidate == s.query) return 1.0;
    // One side empty: the distance is the other's length, so the normalized
    // similarity is 0.0, and so is Jaro-Winkler.
    if (candidate.empty() || s.query.empty()) return 0.0;
    const bool ascii = is_ascii(candidate);
    const std::size_t n = ascii ? candidate.size() : count_scalars(candidate);
    // From the lengths alone: at most the shorter length pairs up, with the
    // largest prefix weight.
    if (mark > -INFINITY && s.length_bound(n) + kBoundMargin < mark) return std::nullopt;
    if (s.cand.size() < n) s.cand.resize(n);
    std::size_t l;
    if (ascii) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(candidate.data());
        l = s.prefix(bytes, n);
        if (!s.may_reach(bytes, n, l, mark)) return std::nullopt;
        for (std::size_t i = 0; i < n; ++i) s.cand[i] = bytes[i];
    } else {
        decode_to(candidate, s.cand.data());
        l = s.prefix(s.cand.data(), n);
        if (!s.may_reach(s.cand.data(), n, l, mark)) return std::nullopt;
    }
    return s.score_decoded(n, l);
}

double QueryScorer::score(std::string_view candidate) { return *score_reaching(candidate, -INFINITY); }

// ------------------------------------------------------------ searches

Match find_best_match(std::string_view query, std::span<const std::string_view> candidates) {
    if (candidates.empty()) return {0, 0.0};
    QueryScorer scorer(query);
    Match best{0, scorer.score(candidates[0])};
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        const std::optional<double> s = scorer.score_reaching(candidates[i], best.score);
        // Equal scores move the choice to the later candidate.
        if (s && best.score <= *s) best = {i, *s};
    }
    return best;
}

std::vector<Match> find_matches_above_threshold(std::string_view query, std::span<const std::string_view> candidates,
                                                double threshold) {
    std::vector<Match> kept;
    kept.reserve(4);
    if (candidates.empty() || std::isnan(threshold)) return kept;
    QueryScorer scorer(query);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::optional<double> s = scorer.score_reaching(candidates[i], threshold);
        if (s && *s >= threshold) kept.push_back({i, *s});
    }
    return kept;
}

}  // namespace mivo::strings
