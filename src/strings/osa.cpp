#include "strings/osa.hpp"

#include "strings/edit_distance.hpp"

namespace mivo::strings {

std::uint64_t osa_distance(FixedWidthText a, FixedWidthText b) { return edit::distance<true>(a, b); }

std::uint64_t osa_distance(std::string_view a, std::string_view b) { return edit::distance<true>(a, b); }

}  // namespace mivo::strings
