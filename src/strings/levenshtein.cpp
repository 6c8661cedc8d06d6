#include "strings/levenshtein.hpp"

#include <algorithm>
#include <vector>

#include "strings/levenshtein_simd.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

namespace simd = levenshtein_simd;
using simd::kPad;

// The two-row dynamic programme; the row spans the shorter string ca (bytes
// of ASCII text, or decoded scalar values).
template <class Char>
std::uint64_t two_row(const Char* ca, std::size_t m, const Char* cb, std::size_t n) {
    SmallBuffer<std::uint64_t, 128> prev(m + 1), cur(m + 1);
    std::uint64_t* p = prev.data();
    std::uint64_t* c = cur.data();
    for (std::size_t j = 0; j <= m; ++j) p[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        const Char y = cb[i - 1];
        c[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::uint64_t sub = p[j - 1] + (ca[j - 1] == y ? 0 : 1);
            c[j] = std::min({sub, p[j] + 1, c[j - 1] + 1});
        }
        std::swap(p, c);
    }
    return p[m];
}

// A string's values with kPad spare values before and after (zeros).
template <class Char>
class Padded {
public:
    explicit Padded(std::size_t capacity) : buf_(capacity + 2 * kPad) {}
    Char* data() { return buf_.data() + kPad; }
    // Zeros the padding around values [0, n) and reverses them if asked.
    void finish(std::size_t n, bool reverse) {
        std::fill_n(buf_.data(), kPad, Char{});
        std::fill_n(data() + n, kPad, Char{});
        if (reverse) std::reverse(data(), data() + n);
    }

private:
    SmallBuffer<Char, 160> buf_;
};

// The table of a (m values) against b given reversed in rb (n values),
// both padded, 1 <= m <= n <= kMaxLength.
template <class Char>
std::uint64_t diagonals(const Char* a, std::size_t m, const Char* rb, std::size_t n) {
#if MIVO_LEVENSHTEIN_SSE2
    SmallBuffer<std::int16_t, 256> col(n + 2 * kPad + 1);
    if (m <= 8) return simd::diagonal_distance<1>(a, m, rb, n, col.data());
    if (m <= 16) return simd::diagonal_distance<2>(a, m, rb, n, col.data());
    return simd::diagonal_distance<4>(a, m, rb, n, col.data());
#else
    (void)a, (void)m, (void)rb, (void)n;
    return 0;
#endif
}

constexpr bool kHaveDiagonals = MIVO_LEVENSHTEIN_SSE2 + 0 != 0;

// The shorter string spans the columns (ties keep the order); unpadded input.
template <class Char>
std::uint64_t table(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    if (m > n) {
        std::swap(a, b);
        std::swap(m, n);
    }
    if (m == 0) return n;
    if (!kHaveDiagonals || n > simd::kMaxLength) return two_row(a, m, b, n);
    Padded<Char> pa(m), pb(n);
    std::copy_n(a, m, pa.data());
    std::copy_n(b, n, pb.data());
    pa.finish(m, false);
    pb.finish(n, true);
    return diagonals(pa.data(), m, pb.data(), n);
}

}  // namespace

std::uint64_t levenshtein_decoded(const char32_t* a, std::size_t m, const char32_t* b, std::size_t n) {
    return table(a, m, b, n);
}

std::uint64_t levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return count_scalars(b);
    if (b.empty()) return count_scalars(a);
    if (is_ascii(a) && is_ascii(b)) {  // one byte is one scalar value
        const auto* ua = reinterpret_cast<const unsigned char*>(a.data());
        const auto* ub = reinterpret_cast<const unsigned char*>(b.data());
        return table(ua, a.size(), ub, b.size());
    }
    // Decoded straight into padded arrays; the longer one is then reversed.
    Padded<char32_t> pa(a.size()), pb(b.size());
    std::size_t m = decode_into(a, pa.data());
    std::size_t n = decode_into(b, pb.data());
    const bool swap = m > n;
    if (swap) std::swap(m, n);
    Padded<char32_t>& shorter = swap ? pb : pa;
    Padded<char32_t>& longer = swap ? pa : pb;
    if (!kHaveDiagonals || n > simd::kMaxLength) return two_row(shorter.data(), m, longer.data(), n);
    shorter.finish(m, false);
    longer.finish(n, true);
    return diagonals(shorter.data(), m, longer.data(), n);
}

double normalized_levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const std::uint64_t d = levenshtein(a, b);
    const std::size_t len = std::max(count_scalars(a), count_scalars(b));
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(len);
}

}  // namespace mivo::strings
