#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace mivo::strings {

// Optimal string alignment distance: Levenshtein's edits plus the
// transposition of two adjacent scalar values, no substring edited twice.
// Rows follow a, columns follow b.
std::uint64_t osa_distance(std::string_view a, std::string_view b);

// Positions at which two equally long strings differ, in scalar values;
// nothing when the lengths differ.
std::optional<std::uint64_t> hamming(std::string_view a, std::string_view b);

}  // namespace mivo::strings
