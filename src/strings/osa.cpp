#include "strings/osa.hpp"

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

template <class Char>
using IdsFor = std::conditional_t<sizeof(Char) == 1, ByteIds, CodePointIds>;

// The distance is symmetric, so the shorter string spans the bit vectors.
// A common prefix or suffix costs nothing and is dropped: a transposition
// across its edge would pair a value with an equal neighbour, which a plain
// match does as cheaply.
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
    if (m <= 16) return bitparallel::osa_word(ComparedPattern<Char, 1>(a, m), b, n);
    if (m <= 32) return bitparallel::osa_word(ComparedPattern<Char, 2>(a, m), b, n);
    if (m <= 64) return bitparallel::osa_word(ComparedPattern<Char, 4>(a, m), b, n);
#endif
    const PatternMasks<IdsFor<Char>> pm(a, m);
    if (!pm.ok()) return tables::osa(a, m, b, n);
    if (m <= 64) return bitparallel::osa_word(pm, b, n);
    if (m <= 128) return bitparallel::fixed_words<true, 2>(pm, b, n);
    return bitparallel::blocks<true>(pm, b, n, bitparallel::aligned_bound(a, m, b, n));
}

}  // namespace

std::uint64_t osa_distance(FixedWidthText a, FixedWidthText b) {
    return with_code_units(a, b, [](const auto* x, std::size_t m, const auto* y, std::size_t n) {
        return distance(x, m, y, n);
    });
}

std::uint64_t osa_distance(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return count_scalars(b);
    if (b.empty()) return count_scalars(a);
    if (is_ascii(a) && is_ascii(b)) {  // one byte is one scalar value
        return distance(reinterpret_cast<const unsigned char*>(a.data()), a.size(),
                        reinterpret_cast<const unsigned char*>(b.data()), b.size());
    }
    Decoded da(a), db(b);
    return distance(da.data(), da.size(), db.data(), db.size());
}

}  // namespace mivo::strings
