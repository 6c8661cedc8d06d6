#include "strings/levenshtein.hpp"

#include <algorithm>
#include <type_traits>

#include "strings/compared_pattern.hpp"
#include "strings/edit_tables.hpp"
#include "strings/levenshtein_bitparallel.hpp"
#include "strings/prepared_query.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

// Bytes index their masks directly, wider values through a hash table.
template <class Char>
using IdsFor = std::conditional_t<sizeof(Char) == 1, ByteIds, CodePointIds>;

// The distance picked by length and alphabet: the common prefix and suffix
// cost nothing and are dropped; a shorter string of up to 64 values takes
// one word of bit vectors (its masks compared in registers where SSE2 is
// there, else from a table), a longer one the words of the band that a
// plain alignment of the two strings bounds.
template <class Char>
std::uint64_t distance(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    while (m > 0 && n > 0 && *a == *b) ++a, ++b, --m, --n;
    while (m > 0 && n > 0 && a[m - 1] == b[n - 1]) --m, --n;
    if (m > n) {
        std::swap(a, b);
        std::swap(m, n);
    }
    if (m == 0) return n;
#if MIVO_COMPARED_PATTERN
    if (m <= 16) return bitparallel::levenshtein_word(ComparedPattern<Char, 1>(a, m), b, n);
    if (m <= 32) return bitparallel::levenshtein_word(ComparedPattern<Char, 2>(a, m), b, n);
    if (m <= 64) return bitparallel::levenshtein_word(ComparedPattern<Char, 4>(a, m), b, n);
#endif
    const PatternMasks<IdsFor<Char>> pm(a, m);
    if (!pm.ok()) return tables::levenshtein(a, m, b, n);
    if (m <= 64) return bitparallel::levenshtein_word(pm, b, n);
    if (m <= 128) return bitparallel::fixed_words<false, 2>(pm, b, n);
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

double normalized_levenshtein(FixedWidthText a, FixedWidthText b) {
    // Equal strings have distance 0, which gives 1.0 as the byte test does.
    const std::size_t len = std::max(a.size, b.size);
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(levenshtein(a, b)) / static_cast<double>(len);
}

double normalized_levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const std::uint64_t d = levenshtein(a, b);
    const std::size_t len = std::max(count_scalars(a), count_scalars(b));
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(len);
}

}  // namespace mivo::strings
