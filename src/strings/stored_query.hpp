// A query prepared once and compared with many texts given as stored code
// points (FixedWidthText, as CPython keeps its str objects): its characters
// decoded and its bit masks (prepared_query.hpp) built once, then run over
// each text. Every result equals the one-pair function's (levenshtein,
// osa_distance, normalized_levenshtein, jaro, jaro_winkler, best_match) for
// the query first and the text second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "strings/fixed_width.hpp"

namespace mivo::strings {

class CodePointIds;
template <class Ids>
class PatternMasks;

class StoredQuery {
public:
    explicit StoredQuery(FixedWidthText query);
    ~StoredQuery();
    StoredQuery(const StoredQuery&) = delete;
    StoredQuery& operator=(const StoredQuery&) = delete;

    std::size_t size() const { return chars_.size(); }
    const char32_t* chars() const { return chars_.data(); }

    // The edit distance; with `osa` the optimal string alignment distance.
    std::uint64_t distance(FixedWidthText text, bool osa) const;
    double normalized_levenshtein(FixedWidthText text) const;
    double jaro(FixedWidthText text) const;
    double jaro_winkler(FixedWidthText text) const;
    double best_match(FixedWidthText text) const;

private:
    // The common prefix with text, up to the Winkler limit of 4 values.
    std::size_t common_prefix(FixedWidthText text) const;
    // Builds next_ once (false when it would be too large).
    bool next_positions() const;

    FixedWidthText stored_;
    std::vector<char32_t> chars_;
    std::unique_ptr<PatternMasks<CodePointIds>> masks_;
    // For queries of more than 64 values: per character of the query, the
    // first position from each position on that holds it (see jaro()).
    mutable std::vector<std::uint32_t> next_;
};

// 1 - d / max(m, n), and 1.0 for two empty strings: the normalized
// similarity of strings of m and n values at distance d.
inline double normalized_from_distance(std::uint64_t d, std::size_t m, std::size_t n) {
    const std::size_t longest = m > n ? m : n;
    if (longest == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(longest);
}

// The best-match score from its two parts: the larger, the Jaro-Winkler
// score on a tie.
inline double larger_score(double normalized, double jaro_winkler) {
    return jaro_winkler > normalized ? jaro_winkler : normalized;
}

}  // namespace mivo::strings
