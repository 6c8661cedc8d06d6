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

// The two-row dynamic programme with 64-bit cells, for strings too long for
// the 16-bit diagonals (or processors without them); the row spans the
// shorter string ca (bytes of ASCII text, or decoded scalar values).
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

// A string's values with up to kPad spare values before and after.
template <class Char>
class Padded {
public:
    explicit Padded(std::size_t capacity) : buf_(capacity + 2 * kPad) {}
    Char* data() { return buf_.data() + kPad; }
    // Zeros pad values on both sides of [0, n) and reverses them if asked.
    void finish(std::size_t n, std::size_t pad, bool reverse) {
        std::fill_n(data() - pad, pad, Char{});
        std::fill_n(data() + n, pad, Char{});
        if (reverse) std::reverse(data(), data() + n);
    }

private:
    SmallBuffer<Char, 160> buf_;
};

constexpr bool kHaveDiagonals = MIVO_LEVENSHTEIN_SSE2 + 0 != 0;

// Registers per strip for a shorter string of m values: narrow strips for
// short strings (fewer idle lanes), four registers otherwise.
inline int strip_registers(std::size_t m) { return m <= 8 ? 1 : m <= 16 ? 2 : 4; }

// The table of a (m values) against b (n values), both in padded arrays,
// 1 <= m <= n <= kMaxLength; b is reversed here.
template <class Char>
std::uint64_t diagonals(Padded<Char>& a, std::size_t m, Padded<Char>& b, std::size_t n) {
#if MIVO_LEVENSHTEIN_SSE2
    const int r = strip_registers(m);
    const std::size_t pad = 8 * static_cast<std::size_t>(r);
    a.finish(m, pad, false);
    b.finish(n, pad, true);
    SmallBuffer<std::int16_t, 256> col(n + 2 * kPad + 1);
    if (r == 1) return simd::diagonal_distance<1>(a.data(), m, b.data(), n, col.data());
    if (r == 2) return simd::diagonal_distance<2>(a.data(), m, b.data(), n, col.data());
    return simd::diagonal_distance<4>(a.data(), m, b.data(), n, col.data());
#else
    (void)a, (void)m, (void)b, (void)n;
    return 0;
#endif
}

// The shorter string spans the columns (ties keep the order).
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
    return diagonals(pa, m, pb, n);
}

// Decodes s into out (room for s.size() values) and returns the count.
template <class Char>
std::size_t decode_to(std::string_view s, Char* out) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) out[n++] = static_cast<Char>(next_scalar(s, i));
    return n;
}

inline bool has_four_byte_sequence(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0xF0) return true;
    return false;
}

// Decoded straight into padded arrays (Char wide enough for every value).
template <class Char>
std::uint64_t decoded_table(std::string_view a, std::string_view b) {
    Padded<Char> pa(a.size()), pb(b.size());
    std::size_t m = decode_to(a, pa.data());
    std::size_t n = decode_to(b, pb.data());
    const bool swap = m > n;
    if (swap) std::swap(m, n);
    Padded<Char>& shorter = swap ? pb : pa;
    Padded<Char>& longer = swap ? pa : pb;
    if (!kHaveDiagonals || n > simd::kMaxLength) return two_row(shorter.data(), m, longer.data(), n);
    return diagonals(shorter, m, longer, n);
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
    // Text without four-byte sequences holds only values below 0x10000.
    if (!has_four_byte_sequence(a) && !has_four_byte_sequence(b)) return decoded_table<char16_t>(a, b);
    return decoded_table<char32_t>(a, b);
}

double normalized_levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const std::uint64_t d = levenshtein(a, b);
    const std::size_t len = std::max(count_scalars(a), count_scalars(b));
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(len);
}

}  // namespace mivo::strings
