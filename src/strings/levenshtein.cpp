#include "strings/levenshtein.hpp"

#include <algorithm>
#include <type_traits>

#include "strings/levenshtein_bitparallel.hpp"
#include "strings/levenshtein_simd.hpp"
#include "strings/prepared_query.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

namespace simd = levenshtein_simd;
using simd::kPad;

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

constexpr bool kHaveDiagonals = MIVO_LEVENSHTEIN_SSE2 != 0;

// Up to this length of the longer string the diagonal walk beats the bit
// vectors (it needs no table of masks).
constexpr std::size_t kDiagonalMax = 12;

// Registers per strip for a shorter string of m values: narrow strips for
// short strings (fewer idle lanes), four registers otherwise.
inline int strip_registers(std::size_t m) { return m <= 8 ? 1 : m <= 16 ? 2 : 4; }

// The table of a (m values) against b (n values) by anti-diagonals,
// 1 <= m <= n <= kMaxLength.
template <class Char>
std::uint64_t diagonals(const Char* a, std::size_t m, const Char* b, std::size_t n) {
#if MIVO_LEVENSHTEIN_SSE2
    Padded<Char> pa(m), pb(n);
    std::copy_n(a, m, pa.data());
    std::copy_n(b, n, pb.data());
    const int r = strip_registers(m);
    const std::size_t pad = 8 * static_cast<std::size_t>(r);
    pa.finish(m, pad, false);
    pb.finish(n, pad, true);
    SmallBuffer<std::int16_t, 256> col(n + 2 * kPad + 1);
    if (r == 1) return simd::diagonal_distance<1>(pa.data(), m, pb.data(), n, col.data());
    if (r == 2) return simd::diagonal_distance<2>(pa.data(), m, pb.data(), n, col.data());
    return simd::diagonal_distance<4>(pa.data(), m, pb.data(), n, col.data());
#else
    (void)a, (void)m, (void)b, (void)n;
    return 0;
#endif
}

// Bytes index their masks directly, wider values through a hash table.
template <class Char>
using IdsFor = std::conditional_t<sizeof(Char) == 1, ByteIds, CodePointIds>;

// The distance picked by length: the common prefix and suffix cost nothing
// and are dropped; very short strings take the diagonal walk, a shorter
// string of up to 64 values one word of bit vectors, longer ones the words
// of the band that an alignment of the two strings bounds.
template <class Char>
std::uint64_t distance(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    while (m > 0 && n > 0 && *a == *b) ++a, ++b, --m, --n;
    while (m > 0 && n > 0 && a[m - 1] == b[n - 1]) --m, --n;
    if (m > n) {
        std::swap(a, b);
        std::swap(m, n);
    }
    if (m == 0) return n;
    if (kHaveDiagonals && n <= kDiagonalMax) return diagonals(a, m, b, n);
    const PatternMasks<IdsFor<Char>> pm(a, m);
    if (m <= 64) return bitparallel::levenshtein_word(pm, b, n);
    return bitparallel::blocks<false>(pm, b, n, bitparallel::aligned_bound(a, m, b, n));
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

// Decoded into arrays of Char (wide enough for every value).
template <class Char>
std::uint64_t decoded_distance(std::string_view a, std::string_view b) {
    SmallBuffer<Char, 128> da(a.size()), db(b.size());
    const std::size_t m = decode_to(a, da.data());
    const std::size_t n = decode_to(b, db.data());
    return distance(da.data(), m, db.data(), n);
}

}  // namespace

std::uint64_t levenshtein_decoded(const char32_t* a, std::size_t m, const char32_t* b, std::size_t n) {
    return distance(a, m, b, n);
}

std::uint64_t levenshtein(FixedWidthText a, FixedWidthText b) {
    return with_code_units(a, b, [](const auto* x, std::size_t m, const auto* y, std::size_t n) {
        return distance(x, m, y, n);
    });
}

std::uint64_t levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return count_scalars(b);
    if (b.empty()) return count_scalars(a);
    if (is_ascii(a) && is_ascii(b)) {  // one byte is one scalar value
        const auto* ua = reinterpret_cast<const unsigned char*>(a.data());
        const auto* ub = reinterpret_cast<const unsigned char*>(b.data());
        return distance(ua, a.size(), ub, b.size());
    }
    // Text without four-byte sequences holds only values below 0x10000.
    if (!has_four_byte_sequence(a) && !has_four_byte_sequence(b)) return decoded_distance<char16_t>(a, b);
    return decoded_distance<char32_t>(a, b);
}

double normalized_levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const std::uint64_t d = levenshtein(a, b);
    const std::size_t len = std::max(count_scalars(a), count_scalars(b));
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(len);
}

}  // namespace mivo::strings
