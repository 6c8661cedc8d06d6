// The one dispatcher of the edit distances (Levenshtein, and optimal string
// alignment with Osa), picked by length and alphabet. The common prefix and
// suffix cost nothing and are dropped (for OSA too: a transposition across
// their edge would pair a value with an equal neighbour, which a plain match
// does as cheaply); the distance is symmetric, so the shorter string spans
// the bit vectors. Up to 64 values take one word (the masks compared in
// registers where SSE2 is there, else from a table), up to 128 two words,
// longer ones the words of the band that a plain alignment of the two
// strings bounds; patterns whose masks would take too much memory run the
// plain table. Private to the string library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "strings/compared_pattern.hpp"
#include "strings/edit_tables.hpp"
#include "strings/fixed_width.hpp"
#include "strings/levenshtein_bitparallel.hpp"
#include "strings/prepared_query.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings::edit {

// Bytes index their masks directly, wider values through a hash table.
template <class Char>
using IdsFor = std::conditional_t<sizeof(Char) == 1, ByteIds, CodePointIds>;

template <bool Osa, class Char>
std::uint64_t distance(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    while (m > 0 && n > 0 && *a == *b) ++a, ++b, --m, --n;
    while (m > 0 && n > 0 && a[m - 1] == b[n - 1]) --m, --n;
    if (m > n) {
        std::swap(a, b);
        std::swap(m, n);
    }
    if (m == 0) return n;
#if MIVO_COMPARED_PATTERN
    if (m <= 16) return bitparallel::word<Osa>(ComparedPattern<Char, 1>(a, m), b, n);
    if (m <= 32) return bitparallel::word<Osa>(ComparedPattern<Char, 2>(a, m), b, n);
    if (m <= 64) return bitparallel::word<Osa>(ComparedPattern<Char, 4>(a, m), b, n);
#endif
    const PatternMasks<IdsFor<Char>> pm(a, m);
    if (!pm.ok()) return Osa ? tables::osa(a, m, b, n) : tables::levenshtein(a, m, b, n);
    if (m <= 64) return bitparallel::word<Osa>(pm, b, n);
    if (m <= 128) return bitparallel::fixed_words<Osa, 2>(pm, b, n);
    return bitparallel::blocks<Osa>(pm, b, n, bitparallel::aligned_bound(a, m, b, n));
}

// Two strings as the stored code units of Python str objects.
template <bool Osa>
std::uint64_t distance(FixedWidthText a, FixedWidthText b) {
    return with_code_units(
        a, b, [](const auto* x, std::size_t m, const auto* y, std::size_t n) { return distance<Osa>(x, m, y, n); });
}

inline bool has_four_byte_sequence(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0xF0) return true;
    return false;
}

// Decoded into arrays of Char (wide enough for every value).
template <bool Osa, class Char>
std::uint64_t decoded_distance(std::string_view a, std::string_view b) {
    SmallBuffer<Char, 128> da(a.size()), db(b.size());
    const std::size_t m = decode_to(a, da.data());
    const std::size_t n = decode_to(b, db.data());
    return distance<Osa>(da.data(), m, db.data(), n);
}

// Two UTF-8 strings.
template <bool Osa>
std::uint64_t distance(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return count_scalars(b);
    if (b.empty()) return count_scalars(a);
    if (is_ascii(a) && is_ascii(b)) {  // one byte is one scalar value
        const auto* ua = reinterpret_cast<const unsigned char*>(a.data());
        const auto* ub = reinterpret_cast<const unsigned char*>(b.data());
        return distance<Osa>(ua, a.size(), ub, b.size());
    }
    // Text without four-byte sequences holds only values below 0x10000.
    if (!has_four_byte_sequence(a) && !has_four_byte_sequence(b)) return decoded_distance<Osa, char16_t>(a, b);
    return decoded_distance<Osa, char32_t>(a, b);
}

}  // namespace mivo::strings::edit
