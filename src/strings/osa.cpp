#include "strings/osa.hpp"

#include <algorithm>

#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

std::uint64_t osa_distance(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return count_scalars(b);
    if (b.empty()) return count_scalars(a);
    Decoded da(a), db(b);
    const char32_t* ca = da.data();
    const char32_t* cb = db.data();
    const std::size_t la = da.size(), lb = db.size();

    // Row i of the table needs only rows i-1 and i-2, so three rows of
    // lb + 1 cells are kept in rotation; every cell gets the value the full
    // table would hold.
    const std::size_t width = lb + 1;
    SmallBuffer<std::uint64_t, 3 * 65> rows(3 * width);
    std::uint64_t* two_up = rows.data();
    std::uint64_t* up = two_up + width;
    std::uint64_t* cur = up + width;
    for (std::size_t j = 0; j <= lb; ++j) up[j] = j;
    for (std::size_t i = 1; i <= la; ++i) {
        const char32_t x = ca[i - 1];
        cur[0] = i;
        for (std::size_t j = 1; j <= lb; ++j) {
            const std::uint64_t cost = x == cb[j - 1] ? 0 : 1;
            std::uint64_t v = std::min({up[j - 1] + cost, cur[j - 1] + 1, up[j] + 1});
            if (i >= 2 && j >= 2 && x == cb[j - 2] && ca[i - 2] == cb[j - 1]) v = std::min(v, two_up[j - 2] + 1);
            cur[j] = v;
        }
        std::uint64_t* spare = two_up;
        two_up = up;
        up = cur;
        cur = spare;
    }
    return up[lb];
}

std::optional<std::uint64_t> hamming(std::string_view a, std::string_view b) {
    // Walks both strings in step; equal lengths in scalar values are
    // required, and a byte-identical pair differs nowhere.
    if (a == b) return 0;
    std::uint64_t diff = 0;
    if (a.size() == b.size() && is_ascii(a) && is_ascii(b)) {
        for (std::size_t k = 0; k < a.size(); ++k) diff += a[k] != b[k];
        return diff;
    }
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) diff += next_scalar(a, i) != next_scalar(b, j);
    if (i < a.size() || j < b.size()) return std::nullopt;
    return diff;
}

}  // namespace mivo::strings
