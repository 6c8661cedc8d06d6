#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mivo::strings {

// Jaro similarity over scalar values: greedy matching in order of `a` inside
// the window max(la, lb) / 2 - 1, transpositions halved (rounded down).
double jaro(std::string_view a, std::string_view b);

// Jaro similarity boosted by the common prefix (at most 4 scalar values,
// scale 0.1) when the Jaro score is at least 0.7.
double jaro_winkler(std::string_view a, std::string_view b);

// The same two scores over already decoded, non-empty strings that are not
// identical (the byte-equality and emptiness shortcuts are the caller's).
double jaro_decoded(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb);
double jaro_winkler_decoded(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb);

inline constexpr double kWinklerThreshold = 0.7;
inline constexpr double kWinklerScale = 0.1;
inline constexpr std::size_t kWinklerMaxPrefix = 4;

// The Jaro score of m matches (m > 0) with t out-of-order matches between
// strings of la and lb scalar values: with h = t / 2 (rounded down),
// ((m / lb + m / la) + (m - h) / m) / 3 in double precision, in that order.
inline double jaro_from_counts(std::uint32_t m, std::uint32_t t, std::size_t la, std::size_t lb) {
    const double md = m;
    const double x = (md - static_cast<double>(t / 2)) / md;
    double s = md / static_cast<double>(lb) + md / static_cast<double>(la);
    s = s + x;
    return s / 3.0;
}

// The Winkler boost of a Jaro score for a common prefix of `prefix` (0 to 4)
// scalar values: (1 - j) * (prefix * 0.1) + j from a score of 0.7 on.
inline double winkler_boost(double j, std::size_t prefix) {
    if (j < kWinklerThreshold) return j;
    const double p = static_cast<double>(prefix) * kWinklerScale;
    return (1.0 - j) * p + j;
}

}  // namespace mivo::strings
