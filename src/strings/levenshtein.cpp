#include "strings/levenshtein.hpp"

#include <algorithm>

#include "strings/edit_distance.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

std::uint64_t levenshtein_decoded(const char32_t* a, std::size_t m, const char32_t* b, std::size_t n) {
    return edit::distance<false>(a, m, b, n);
}

std::uint64_t levenshtein(FixedWidthText a, FixedWidthText b) { return edit::distance<false>(a, b); }

std::uint64_t levenshtein(std::string_view a, std::string_view b) { return edit::distance<false>(a, b); }

double normalized_levenshtein(FixedWidthText a, FixedWidthText b) {
    // Equal strings have distance 0, which gives 1.0 as the byte test does.
    const std::size_t len = std::max(a.size, b.size);
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(levenshtein(a, b)) / static_cast<double>(len);
}

double normalized_levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const std::uint64_t d = levenshtein(a, b);
    const std::size_t len = std::max(count_scalars(a), count_scalars(b));
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(len);
}

}  // namespace mivo::strings
