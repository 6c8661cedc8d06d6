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
#include <type_traits>
#include <utility>

#include "strings/compared_pattern.hpp"
#include "strings/edit_tables.hpp"
#include "strings/levenshtein_bitparallel.hpp"
#include "strings/prepared_query.hpp"

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

}  // namespace mivo::strings::edit
