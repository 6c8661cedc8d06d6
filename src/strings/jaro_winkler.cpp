#include "strings/jaro_winkler.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "strings/small_buffer.hpp"

namespace mivo::strings {

namespace {

constexpr double kThreshold = 0.7;
constexpr double kScale = 0.1;
constexpr std::size_t kMaxPrefix = 4;

std::size_t match_window(std::size_t la, std::size_t lb) {
    const std::size_t longest = std::max(la, lb);
    return longest < 2 ? 0 : longest / 2 - 1;
}

double jaro_formula(std::uint32_t m, std::uint32_t t, std::size_t la, std::size_t lb) {
    const std::uint32_t h = t / 2;
    const double md = m;
    const double x = (md - static_cast<double>(h)) / md;
    double s = md / static_cast<double>(lb) + md / static_cast<double>(la);
    s = s + x;
    return s / 3.0;
}

// Both strings at most 64 scalar values: the flags are bit masks and the
// earliest free match in the window is the lowest bit of one word.
double jaro_words(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const std::size_t w = match_window(la, lb);
    std::uint64_t fa = 0, fb = 0;
    std::uint32_t m = 0;
    const std::uint64_t all_b = lb == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << lb) - 1;
    for (std::size_t i = 0; i < la; ++i) {
        const std::size_t lo = i > w ? i - w : 0;
        if (lo >= lb) break;
        const std::size_t hi = std::min(i + w + 1, lb);
        const char32_t c = a[i];
        // Positions lo..hi-1 of b that are still free, lowest first.
        std::uint64_t window = hi == 64 ? all_b : (std::uint64_t{1} << hi) - 1;
        window &= ~((std::uint64_t{1} << lo) - 1);
        std::uint64_t free = window & ~fb;
        while (free) {
            const int j = std::countr_zero(free);
            if (b[j] == c) {
                fb |= std::uint64_t{1} << j;
                fa |= std::uint64_t{1} << i;
                ++m;
                break;
            }
            free &= free - 1;
        }
    }
    if (m == 0) return 0.0;
    std::uint32_t t = 0;
    while (fa) {
        const int i = std::countr_zero(fa);
        const int k = std::countr_zero(fb);
        t += a[i] != b[k];
        fa &= fa - 1;
        fb &= fb - 1;
    }
    return jaro_formula(m, t, la, lb);
}

double jaro_general(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const std::size_t w = match_window(la, lb);
    SmallBuffer<std::uint8_t, 256> flags_a(la), flags_b(lb);
    std::memset(flags_a.data(), 0, la);
    std::memset(flags_b.data(), 0, lb);
    std::uint32_t m = 0;
    for (std::size_t i = 0; i < la; ++i) {
        const std::size_t lo = i > w ? i - w : 0;
        const std::size_t hi = std::min(i + w + 1, lb);
        const char32_t c = a[i];
        for (std::size_t j = lo; j < hi; ++j) {
            if (!flags_b[j] && b[j] == c) {
                flags_a[i] = 1;
                flags_b[j] = 1;
                ++m;
                break;
            }
        }
    }
    if (m == 0) return 0.0;
    std::uint32_t t = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < la; ++i) {
        if (!flags_a[i]) continue;
        while (!flags_b[k]) ++k;
        t += a[i] != b[k];
        ++k;
    }
    return jaro_formula(m, t, la, lb);
}

std::size_t common_prefix(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const std::size_t limit = std::min({la, lb, kMaxPrefix});
    std::size_t l = 0;
    while (l < limit && a[l] == b[l]) ++l;
    return l;
}

}  // namespace

double jaro_decoded(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    if (la <= 64 && lb <= 64) return jaro_words(a, la, b, lb);
    return jaro_general(a, la, b, lb);
}

double winkler_boost(double j, std::size_t prefix) {
    if (j < kThreshold) return j;
    const double p = static_cast<double>(prefix) * kScale;
    return (1.0 - j) * p + j;
}

double jaro_winkler_decoded(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const double j = jaro_decoded(a, la, b, lb);
    if (j < kThreshold) return j;
    return winkler_boost(j, common_prefix(a, la, b, lb));
}

double jaro(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    if (a.empty() || b.empty()) return 0.0;
    Decoded da(a), db(b);
    return jaro_decoded(da.data(), da.size(), db.data(), db.size());
}

double jaro_winkler(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    if (a.empty() || b.empty()) return 0.0;
    Decoded da(a), db(b);
    return jaro_winkler_decoded(da.data(), da.size(), db.data(), db.size());
}

}  // namespace mivo::strings
