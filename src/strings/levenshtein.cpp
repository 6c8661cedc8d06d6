#include "strings/levenshtein.hpp"

#include <algorithm>
#include <vector>

#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

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

template <class Char>
std::uint64_t shorter_spans_row(const Char* ca, std::size_t m, const Char* cb, std::size_t n) {
    // The shorter string spans the row; ties keep the order.
    if (m > n) return two_row(cb, n, ca, m);
    return two_row(ca, m, cb, n);
}

}  // namespace

std::uint64_t levenshtein_decoded(const char32_t* a, std::size_t m, const char32_t* b, std::size_t n) {
    return shorter_spans_row(a, m, b, n);
}

std::uint64_t levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    if (a.empty()) return count_scalars(b);
    if (b.empty()) return count_scalars(a);
    if (is_ascii(a) && is_ascii(b)) {  // one byte is one scalar value
        const auto* ua = reinterpret_cast<const unsigned char*>(a.data());
        const auto* ub = reinterpret_cast<const unsigned char*>(b.data());
        return shorter_spans_row(ua, a.size(), ub, b.size());
    }
    SmallBuffer<char32_t, 128> ba(a.size()), bb(b.size());
    const std::size_t m = decode_into(a, ba.data());
    const std::size_t n = decode_into(b, bb.data());
    return shorter_spans_row(ba.data(), m, bb.data(), n);
}

double normalized_levenshtein(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const std::uint64_t d = levenshtein(a, b);
    const std::size_t len = std::max(count_scalars(a), count_scalars(b));
    if (len == 0) return 1.0;
    return 1.0 - static_cast<double>(d) / static_cast<double>(len);
}

}  // namespace mivo::strings
