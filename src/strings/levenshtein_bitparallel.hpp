// Bit-parallel edit distances: one column of the table (the pattern's m
// positions) as bit vectors of its vertical differences, advanced by one
// text character per step (Myers' algorithm in Hyyro's formulation; the
// optimal-string-alignment variant adds the transposition term). Private to
// the string metrics and their tests.
//
// With D[j][i] the distance of pattern[0, j) and text[0, i), bit j - 1 of
// VP / VN is set where D[j][i] - D[j-1][i] is +1 / -1; D0 bit j - 1 is set
// where D[j][i] == D[j-1][i-1]. Patterns longer than 64 values take one word
// per 64 positions; the horizontal difference at the bottom of a word is
// carried into the next one within the same step.
//
// The blockwise kernels take an upper bound k of the distance and only
// advance the words that hold a cell some path of cost <= k can visit. A
// path through (j, i) costs at least |i - j| + |(n - i) - (m - j)|, so with
// delta = n - m the cells of column i lie in j from i - (k + delta) / 2 to
// i + (k - delta) / 2. Words that enter the band from below start with
// vertical differences +1 below the last word's bottom cell, and the word at
// the top of the band sees a horizontal difference of +1 above it: both give
// values no smaller than the true ones, while the cells of every path of
// cost <= k keep their exact values, so the bottom-right cell is exact. (A
// transposition term that reaches outside the band is left out, which can
// only raise values.)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "strings/small_buffer.hpp"

namespace mivo::strings::bitparallel {

// One word: a pattern of 1 to 64 values against text[0, n). With Osa, the
// optimal-string-alignment variant: a diagonal step is also free of extra
// cost where pattern[j-1, j] and text[i-1, i] are a swapped pair and the
// diagonal before them rose.
template <bool Osa, class Masks, class Char>
std::uint64_t word(const Masks& pm, const Char* t, std::size_t n) {
    const std::size_t m = pm.size();
    const std::uint64_t last = std::uint64_t{1} << (m - 1);
    std::uint64_t vp = ~std::uint64_t{0}, vn = 0, d0 = 0, pm_prev = 0;
    std::uint64_t dist = m;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t eq = pm.word(t[i]);
        std::uint64_t tr = 0;
        if constexpr (Osa) tr = ((~d0 & eq) << 1) & pm_prev;
        d0 = (((eq & vp) + vp) ^ vp) | eq | vn | tr;
        std::uint64_t hp = vn | ~(d0 | vp);
        std::uint64_t hn = d0 & vp;
        dist += (hp & last) != 0;
        dist -= (hn & last) != 0;
        hp = (hp << 1) | 1;
        hn <<= 1;
        vp = hn | ~(d0 | hp);
        vn = hp & d0;
        pm_prev = eq;
    }
    return dist;
}

// The cheapest of two plain alignments, each an upper bound of both
// distances: the strings laid over each other from the start or from the
// end, the longer one's surplus inserted.
template <class Char>
std::uint64_t aligned_bound(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    const std::size_t common = std::min(m, n);
    const Char* a_end = a + (m - common);
    const Char* b_end = b + (n - common);
    std::size_t head = 0, tail = 0;
    for (std::size_t k = 0; k < common; ++k) head += a[k] != b[k];
    for (std::size_t k = 0; k < common; ++k) tail += a_end[k] != b_end[k];
    return std::max(m, n) - common + std::min(head, tail);
}

// One word of a column step of a pattern longer than 64 values. eq and
// prev_eq are the word's match bits for this text character and the one
// before; the carries come from the word above (hp_carry starts at 1, the +1
// of row 0) and go to the word below. Advances the word's vertical
// differences (and, with Osa, its last D0 and the transposition carry) and
// returns its horizontal differences before the shift: bit b belongs to
// pattern position 64 * word + b.
struct Horizontal {
    std::uint64_t hp, hn;
};

template <bool Osa>
inline Horizontal step_word(std::uint64_t eq, std::uint64_t prev_eq, std::uint64_t& vp, std::uint64_t& vn,
                            std::uint64_t& d0_prev, std::uint64_t& hp_carry, std::uint64_t& hn_carry,
                            std::uint64_t& tr_carry) {
    const std::uint64_t x = eq | hn_carry;
    std::uint64_t d0 = (((x & vp) + vp) ^ vp) | x | vn;
    if constexpr (Osa) {
        const std::uint64_t rising = ~d0_prev & eq;
        d0 |= ((rising << 1) | tr_carry) & prev_eq;
        tr_carry = rising >> 63;
        d0_prev = d0;
    }
    const std::uint64_t hp = vn | ~(d0 | vp);
    const std::uint64_t hn = d0 & vp;
    const std::uint64_t hp_shifted = (hp << 1) | hp_carry;
    const std::uint64_t hn_shifted = (hn << 1) | hn_carry;
    hp_carry = hp >> 63;
    hn_carry = hn >> 63;
    vp = hn_shifted | ~(d0 | hp_shifted);
    vn = hp_shifted & d0;
    return {hp, hn};
}

// Words of 64 positions, any pattern length m >= 1, against text[0, n);
// k must be at least the distance (and so at least |n - m|). Osa adds the
// transposition term.
template <bool Osa, class Masks, class Char>
std::uint64_t blocks(const Masks& pm, const Char* t, std::size_t n, std::uint64_t k) {
    const std::size_t m = pm.size();
    const std::size_t words = pm.words();
    const std::int64_t delta = static_cast<std::int64_t>(n) - static_cast<std::int64_t>(m);
    const auto kk = static_cast<std::int64_t>(std::min<std::uint64_t>(k, m + n));
    // j <= i + below. The transposition term needs the diagonal differences
    // of the step before, which a word entering from below lacks: with it
    // every word takes part from the start and only the top edge moves.
    const auto below = Osa ? m : static_cast<std::size_t>((kk - delta) / 2);
    const auto above = static_cast<std::size_t>((kk + delta) / 2);  // j >= i - above
    const unsigned last_bit = static_cast<unsigned>((m - 1) % 64);

    SmallBuffer<std::uint64_t, 64> vp(words), vn(words), d0s(Osa ? words : 1);
    auto bottom = [&](std::size_t w) { return std::min(m, 64 * (w + 1)); };

    // Column 0 (D[j][0] = j) in the words that row 0 of the band reaches.
    std::size_t last = (std::min(m, std::max<std::size_t>(below, 1)) - 1) / 64;
    for (std::size_t w = 0; w <= last; ++w) {
        vp[w] = ~std::uint64_t{0};
        vn[w] = 0;
        if constexpr (Osa) d0s[w] = ~std::uint64_t{0};
    }
    std::uint64_t score = bottom(last);  // the cell at the bottom of word `last`
    std::size_t first = 0;
    const std::uint64_t* prev_row = pm.absent_row();  // the text before position 0

    for (std::size_t i = 1; i <= n; ++i) {
        const std::size_t reach = std::min(m, i + below);
        if ((reach - 1) / 64 > last) {
            ++last;
            vp[last] = ~std::uint64_t{0};
            vn[last] = 0;
            if constexpr (Osa) d0s[last] = ~std::uint64_t{0};
            score += bottom(last) - bottom(last - 1);
        }
        const std::size_t was_first = first;
        if (i > above) first = std::max(first, (i - above - 1) / 64);

        const std::uint64_t* row = pm.row(t[i - 1]);
        std::uint64_t hp_carry = 1, hn_carry = 0, tr_carry = 0;
        // A transposition across the top edge of the band reads the word
        // above, if it took the previous step.
        if (Osa && first > was_first) tr_carry = (~d0s[first - 1] & row[first - 1]) >> 63;
        Horizontal h{};
        for (std::size_t w = first; w <= last; ++w)
            h = step_word<Osa>(row[w], Osa ? prev_row[w] : 0, vp[w], vn[w], d0s[Osa ? w : 0], hp_carry, hn_carry,
                               tr_carry);
        // The bottom cell of the last word the band reaches.
        const unsigned bit = last == words - 1 ? last_bit : 63;
        score += (h.hp >> bit) & 1;
        score -= (h.hn >> bit) & 1;
        if constexpr (Osa) prev_row = row;
    }
    return score;
}

// A pattern of exactly W words with every word in registers (no band), for
// patterns a little longer than one word.
template <bool Osa, int W, class Masks, class Char>
std::uint64_t fixed_words(const Masks& pm, const Char* t, std::size_t n) {
    const std::size_t m = pm.size();
    const std::uint64_t last = std::uint64_t{1} << ((m - 1) % 64);
    std::uint64_t vp[W], vn[W], d0s[W];
    for (int w = 0; w < W; ++w) {
        vp[w] = ~std::uint64_t{0};
        vn[w] = 0;
        d0s[w] = ~std::uint64_t{0};
    }
    std::uint64_t score = m;
    const std::uint64_t* prev_row = pm.absent_row();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t* row = pm.row(t[i]);
        std::uint64_t hp_carry = 1, hn_carry = 0, tr_carry = 0;
        Horizontal h{};
        for (int w = 0; w < W; ++w)
            h = step_word<Osa>(row[w], prev_row[w], vp[w], vn[w], d0s[w], hp_carry, hn_carry, tr_carry);
        score += (h.hp & last) != 0;
        score -= (h.hn & last) != 0;
        if constexpr (Osa) prev_row = row;
    }
    return score;
}

}  // namespace mivo::strings::bitparallel
