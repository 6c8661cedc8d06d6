#pragma once

#include <cstdint>
#include <string_view>

namespace mivo::strings {

// Options of levenshtein_with_opts. prefix_scale is kept for the caller and
// read by no computation.
struct SimilarityOpts {
    bool case_sensitive = true;
    bool trim_whitespace = false;
    double prefix_scale = 0.1;
};

// Levenshtein distance after preparing both strings: White_Space trimmed at
// both ends when trim_whitespace, then the full lowercase form when not
// case_sensitive.
std::uint64_t levenshtein_with_opts(std::string_view a, std::string_view b, const SimilarityOpts& opts);

}  // namespace mivo::strings
