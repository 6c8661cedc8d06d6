#include "strings/jaro_winkler.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "strings/small_buffer.hpp"

namespace mivo::strings {

namespace {

std::size_t match_window(std::size_t la, std::size_t lb) {
    const std::size_t longest = std::max(la, lb);
    return longest < 2 ? 0 : longest / 2 - 1;
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
    return jaro_from_counts(m, t, la, lb);
}

// Any lengths. For one character the greedy matches come in increasing
// order on both sides: a later position of `a` never takes a position of `b`
// before an earlier one's, and the window's lower end only moves up. So
// per character of b a cursor over its positions (ascending) finds the
// earliest free match in the window: skip positions below the window, take
// the next one if it is inside. Linear in la + lb.
double jaro_general(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const std::size_t w = match_window(la, lb);

    // Character ids: ASCII values as they are, other characters numbered
    // from 128 in order of first appearance in b (open addressing).
    std::size_t capacity = 16;
    while (capacity < 2 * lb) capacity *= 2;
    constexpr char32_t kEmpty = 0xFFFFFFFF;
    std::vector<char32_t> keys(capacity, kEmpty);
    std::vector<std::uint32_t> values(capacity, 0);
    std::uint32_t next_id = 128;
    auto slot_of = [&](char32_t c) {
        std::size_t h = (static_cast<std::size_t>(c) * 0x9E3779B1u) & (capacity - 1);
        while (keys[h] != kEmpty && keys[h] != c) h = (h + 1) & (capacity - 1);
        return h;
    };
    std::vector<std::uint32_t> id_b(lb);
    for (std::size_t j = 0; j < lb; ++j) {
        const char32_t c = b[j];
        if (c < 128) {
            id_b[j] = c;
            continue;
        }
        const std::size_t h = slot_of(c);
        if (keys[h] == kEmpty) {
            keys[h] = c;
            values[h] = next_id++;
        }
        id_b[j] = values[h];
    }
    // Positions of b grouped by id, ascending within a group.
    std::vector<std::uint32_t> start(next_id + 1, 0);
    for (std::size_t j = 0; j < lb; ++j) ++start[id_b[j] + 1];
    for (std::uint32_t k = 0; k < next_id; ++k) start[k + 1] += start[k];
    std::vector<std::uint32_t> cursor(start.begin(), start.end() - 1);
    std::vector<std::uint32_t> positions(lb);
    for (std::size_t j = 0; j < lb; ++j) positions[cursor[id_b[j]]++] = static_cast<std::uint32_t>(j);
    std::copy(start.begin(), start.end() - 1, cursor.begin());

    std::vector<std::uint8_t> flags_a(la, 0), flags_b(lb, 0);
    std::uint32_t m = 0;
    for (std::size_t i = 0; i < la; ++i) {
        const char32_t c = a[i];
        std::uint32_t id;
        if (c < 128) {
            id = c;
        } else {
            const std::size_t h = slot_of(c);
            if (keys[h] == kEmpty) continue;
            id = values[h];
        }
        const std::size_t lo = i > w ? i - w : 0;
        const std::size_t hi = i + w + 1;
        std::uint32_t p = cursor[id];
        const std::uint32_t end = start[id + 1];
        while (p < end && positions[p] < lo) ++p;
        if (p < end && positions[p] < hi) {
            flags_a[i] = 1;
            flags_b[positions[p]] = 1;
            ++m;
            ++p;
        }
        cursor[id] = p;
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
    return jaro_from_counts(m, t, la, lb);
}

std::size_t common_prefix(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const std::size_t limit = std::min({la, lb, kWinklerMaxPrefix});
    std::size_t l = 0;
    while (l < limit && a[l] == b[l]) ++l;
    return l;
}

}  // namespace

double jaro_decoded(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    if (la <= 64 && lb <= 64) return jaro_words(a, la, b, lb);
    return jaro_general(a, la, b, lb);
}

double jaro_winkler_decoded(const char32_t* a, std::size_t la, const char32_t* b, std::size_t lb) {
    const double j = jaro_decoded(a, la, b, lb);
    if (j < kWinklerThreshold) return j;
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
