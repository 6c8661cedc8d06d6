// The candidate searches against scoring every candidate one by one: the
// first byte sets the threshold, the rest is the query and the candidates
// separated by 0xFF bytes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.hpp"
#include "strings/best_match.hpp"
#include "strings/jaro_winkler.hpp"
#include "strings/levenshtein.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    namespace s = mivo::strings;
    using mivo::fuzz::disagree;
    const double threshold = data[0] == 0xFF ? __builtin_nan("") : data[0] / 200.0;  // above 1.0 from 201 on
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> candidates;
    for (const auto& piece : mivo::fuzz::pieces(data + 1, size - 1)) candidates.push_back(mivo::fuzz::utf8_of(piece));
    const std::string query = candidates.front();
    candidates.erase(candidates.begin());
    const std::vector<std::string_view> views(candidates.begin(), candidates.end());

    std::vector<double> scores;
    for (const auto& c : candidates) {
        const double score = s::best_match(query, c);
        if (score != std::max(s::normalized_levenshtein(query, c), s::jaro_winkler(query, c)))
            disagree("best_match is not the larger of its two scores", query, c);
        scores.push_back(score);
    }

    s::Match best{0, 0.0};
    for (std::size_t i = 0; i < scores.size(); ++i)
        if (i == 0 || best.score <= scores[i]) best = {i, scores[i]};
    const s::Match got = s::find_best_match(query, views);
    if (got.index != best.index || got.score != best.score) disagree("find_best_match", query, raw);

    std::vector<s::Match> want;
    for (std::size_t i = 0; i < scores.size(); ++i)
        if (scores[i] >= threshold) want.push_back({i, scores[i]});
    const auto kept = s::find_matches_above_threshold(query, views, threshold);
    const auto same = [](const s::Match& x, const s::Match& y) { return x.index == y.index && x.score == y.score; };
    if (!std::equal(kept.begin(), kept.end(), want.begin(), want.end(), same))
        disagree("find_matches_above_threshold", query, raw);
    return 0;
}
