// The plain dynamic programmes of the edit distances, kept for patterns
// whose bit masks would take too much memory (very long strings over very
// many distinct characters). Rows of 64-bit cells over the shorter string.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "strings/small_buffer.hpp"

namespace mivo::strings::tables {

// Levenshtein: two rows of m + 1 cells.
template <class Char>
std::uint64_t levenshtein(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    SmallBuffer<std::uint64_t, 128> prev(m + 1), cur(m + 1);
    std::uint64_t* p = prev.data();
    std::uint64_t* c = cur.data();
    for (std::size_t j = 0; j <= m; ++j) p[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        const Char y = b[i - 1];
        c[0] = i;
        for (std::size_t j = 1; j <= m; ++j)
            c[j] = std::min({p[j - 1] + (a[j - 1] == y ? 0 : 1), p[j] + 1, c[j - 1] + 1});
        std::swap(p, c);
    }
    return p[m];
}

// Optimal string alignment: three rows of m + 1 cells (a transposition
// reaches two rows back).
template <class Char>
std::uint64_t osa(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    SmallBuffer<std::uint64_t, 3 * 65> rows(3 * (m + 1));
    std::uint64_t* two_up = rows.data();
    std::uint64_t* up = two_up + (m + 1);
    std::uint64_t* cur = up + (m + 1);
    for (std::size_t j = 0; j <= m; ++j) up[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        const Char y = b[i - 1];
        cur[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            std::uint64_t v = std::min({up[j - 1] + (a[j - 1] == y ? 0 : 1), cur[j - 1] + 1, up[j] + 1});
            if (i >= 2 && j >= 2 && a[j - 1] == b[i - 2] && a[j - 2] == y) v = std::min(v, two_up[j - 2] + 1);
            cur[j] = v;
        }
        std::uint64_t* spare = two_up;
        two_up = up;
        up = cur;
        cur = spare;
    }
    return up[m];
}

}  // namespace mivo::strings::tables
