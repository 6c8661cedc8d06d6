#include "strings/similarity_opts.hpp"

#include <string>

#include "strings/levenshtein.hpp"
#include "strings/unicode.hpp"

namespace mivo::strings {

std::uint64_t levenshtein_with_opts(std::string_view a, std::string_view b, const SimilarityOpts& opts) {
    if (opts.trim_whitespace) {
        a = trim_white_space(a);
        b = trim_white_space(b);
    }
    if (opts.case_sensitive) return levenshtein(a, b);
    const std::string la = to_lowercase(a);
    const std::string lb = to_lowercase(b);
    return levenshtein(la, lb);
}

}  // namespace mivo::strings
