// The Levenshtein table computed by anti-diagonals, eight 16-bit cells per
// SSE2 register. Private to levenshtein.cpp and its tests.
//
// The columns follow the shorter string a and are cut into strips of
// 8 * R columns. Inside a strip, lane l of diagonal t holds the cell
// (row t - l, column j0 + 1 + l); every cell of a diagonal depends only on
// the two diagonals before it, so a whole diagonal is one step:
//
//     D[i][j] = min(D[i-1][j-1] + (a[j-1] != b[i-1]), D[i-1][j] + 1, D[i][j-1] + 1)
//
// computed as min(D[i-1][j-1] - (a[j-1] == b[i-1]), D[i-1][j], D[i][j-1]) + 1.
// The column left of the strip (column j0, one value per row) comes in at
// lane 0; the strip's last column goes out of lane 8R-1 into the same array,
// ready for the next strip. b is stored reversed, so the characters that
// meet along a diagonal are contiguous in both arrays; they are compared as
// bytes (ASCII), 16-bit values (no value above 0xFFFF) or 32-bit values.
//
// Cells are stored as v - 32767 in signed 16-bit lanes: the signed minimum
// then orders 0..65534 as unsigned values, and the one value below zero that
// a match can form, -1, is still representable. Cells above row 0 are
// "far away" (32767, saturating), so row 0 comes out of the recurrence
// itself. Cells below row n and right of column m are computed but never
// read back into the table. Every real cell is at most max(m, n), below
// kMaxLength, far from the saturation point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(MIVO_STRINGS_PORTABLE_ONLY)
#include <emmintrin.h>
#define MIVO_LEVENSHTEIN_SSE2 1
#else
#define MIVO_LEVENSHTEIN_SSE2 0
#endif

namespace mivo::strings::levenshtein_simd {

// Both lengths must stay at or below this for the 16-bit cells.
inline constexpr std::size_t kMaxLength = 65000;

// Room the diagonal kernels need around their arrays: a is followed by
// kPad readable elements, b reversed is preceded and followed by kPad.
inline constexpr std::size_t kPad = 32;

#if MIVO_LEVENSHTEIN_SSE2

inline constexpr int kBias = 32767;

// The strip's characters of a, held in registers, and the equality masks
// (0xFFFF where equal) of 8R lanes against the characters of b at y.
template <class Char, int R>
struct StripChars;

template <int R>
struct StripChars<unsigned char, R> {
    static constexpr int W = (R + 1) / 2;  // 16 bytes make two registers of lanes
    __m128i a[W];
    explicit StripChars(const unsigned char* x) {
        for (int w = 0; w < W; ++w)
            a[w] = R == 1 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x))
                          : _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 16 * w));
    }
    void eq(const unsigned char* y, __m128i* out) const {
        for (int w = 0; w < W; ++w) {
            const __m128i yb = R == 1 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y))
                                      : _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 16 * w));
            const __m128i e = _mm_cmpeq_epi8(a[w], yb);
            out[2 * w] = _mm_unpacklo_epi8(e, e);
            if (2 * w + 1 < R) out[2 * w + 1] = _mm_unpackhi_epi8(e, e);
        }
    }
};

template <int R>
struct StripChars<char16_t, R> {
    __m128i a[R];
    explicit StripChars(const char16_t* x) {
        for (int r = 0; r < R; ++r) a[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 8 * r));
    }
    void eq(const char16_t* y, __m128i* out) const {
        for (int r = 0; r < R; ++r)
            out[r] = _mm_cmpeq_epi16(a[r], _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 8 * r)));
    }
};

template <int R>
struct StripChars<char32_t, R> {
    __m128i a[2 * R];
    explicit StripChars(const char32_t* x) {
        for (int w = 0; w < 2 * R; ++w) a[w] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 4 * w));
    }
    void eq(const char32_t* y, __m128i* out) const {
        for (int r = 0; r < R; ++r) {
            const __m128i e0 =
                _mm_cmpeq_epi32(a[2 * r], _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 8 * r)));
            const __m128i e1 =
                _mm_cmpeq_epi32(a[2 * r + 1], _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 8 * r + 4)));
            out[r] = _mm_packs_epi32(e0, e1);
        }
    }
};

// One strip of R registers over columns j0+1 .. j0+8R. col[t] holds D[t][j0]
// (biased) on entry and D[t][j0+8R] on return for t = 0..n. When last, the
// walk stops at the diagonal of the cell (n, m) and returns it (biased).
template <int R, bool Last, class Char>
inline int strip(const Char* a, std::size_t j0, std::size_t m, const Char* rb, std::size_t n, std::int16_t* col) {
    constexpr std::size_t L = 8 * R;
    const std::size_t lm = m - 1 - j0;  // lane of column m in the last strip
    const std::size_t steps = Last ? n + lm + 1 : n + L;
    const __m128i one = _mm_set1_epi16(1);
    __m128i v[R], yprev[R];
    for (int r = 0; r < R; ++r) v[r] = yprev[r] = _mm_set1_epi16(0x7FFF);
    const StripChars<Char, R> chars(a + j0);
    for (std::size_t t = 0; t < steps; ++t) {
        // b[t - l - 1] meets a[j0 + l]; reversed, b[k] sits at rb[n - 1 - k].
        const Char* rbt = rb + n - t;
        const __m128i left = _mm_cvtsi32_si128(static_cast<std::uint16_t>(col[t]));
        __m128i y[R];
        y[0] = _mm_or_si128(_mm_slli_si128(v[0], 2), left);
        for (int r = 1; r < R; ++r) y[r] = _mm_or_si128(_mm_slli_si128(v[r], 2), _mm_srli_si128(v[r - 1], 14));
        __m128i eq[R];
        chars.eq(rbt, eq);
        for (int r = 0; r < R; ++r) {
            const __m128i x = _mm_adds_epi16(yprev[r], eq[r]);
            v[r] = _mm_adds_epi16(_mm_min_epi16(_mm_min_epi16(v[r], x), y[r]), one);
            yprev[r] = y[r];
        }
        // Row t - (L - 1) of column j0 + L; rows below 0 land in the padding.
        if constexpr (!Last)
            col[static_cast<std::ptrdiff_t>(t) - static_cast<std::ptrdiff_t>(L - 1)] =
                static_cast<std::int16_t>(_mm_extract_epi16(v[R - 1], 7));
    }
    if constexpr (Last) {
        alignas(16) std::int16_t lanes[L];
        for (int r = 0; r < R; ++r) _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8 * r), v[r]);
        return lanes[lm];
    }
    return 0;
}

// The distance of a (m values, 1 <= m <= n, followed by 8R readable
// values) and b given reversed in rb (n values, 8R readable values before
// and after), with n <= kMaxLength. col: room for n + 2 * kPad + 1 cells.
template <int R, class Char>
std::uint64_t diagonal_distance(const Char* a, std::size_t m, const Char* rb, std::size_t n, std::int16_t* colbuf) {
    constexpr std::size_t L = 8 * R;
    static_assert(L <= kPad, "the strip reads up to its width past the arrays");
    std::int16_t* col = colbuf + kPad;
    for (std::size_t i = 0; i <= n; ++i) col[i] = static_cast<std::int16_t>(static_cast<int>(i) - kBias);
    for (std::size_t i = n + 1; i < n + L; ++i) col[i] = 0x7FFF;  // rows past n
    std::size_t j0 = 0;
    for (; j0 + L < m; j0 += L) strip<R, false>(a, j0, m, rb, n, col);
    return static_cast<std::uint64_t>(strip<R, true>(a, j0, m, rb, n, col) + kBias);
}

#endif  // MIVO_LEVENSHTEIN_SSE2

}  // namespace mivo::strings::levenshtein_simd
