#pragma once

#include <cstdint>
#include <string_view>

namespace mivo::strings {

// Edit distance (insertions, deletions, substitutions) in scalar values.
std::uint64_t levenshtein(std::string_view a, std::string_view b);

// 1 - distance / longer length; 1.0 for byte-identical strings.
double normalized_levenshtein(std::string_view a, std::string_view b);

}  // namespace mivo::strings
