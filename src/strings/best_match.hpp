// The best-match score (the larger of the normalized Levenshtein similarity
// and the Jaro-Winkler similarity) and the candidate searches built on it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mivo::strings {

double best_match(std::string_view a, std::string_view b);

struct Match {
    std::uint64_t index;
    double score;
};

// The candidate with the highest score; among equal scores the last one.
// An empty list gives index 0 and score 0.0.
Match find_best_match(std::string_view query, std::span<const std::string_view> candidates);

// Every candidate whose score is at least `threshold` (none for NaN), in
// index order.
std::vector<Match> find_matches_above_threshold(std::string_view query, std::span<const std::string_view> candidates,
                                                double threshold);

// Scores many candidates against one query, reusing the decoded query and
// the working storage; each score equals best_match(query, candidate).
class QueryScorer {
public:
    explicit QueryScorer(std::string_view query);
    ~QueryScorer();
    QueryScorer(const QueryScorer&) = delete;
    QueryScorer& operator=(const QueryScorer&) = delete;
    double score(std::string_view candidate);
    // The same score, or nothing when a cheap bound shows that it stays
    // below `mark` (a NaN mark lets every candidate through).
    std::optional<double> score_reaching(std::string_view candidate, double mark);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace mivo::strings
