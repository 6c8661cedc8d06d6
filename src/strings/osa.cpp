#include "strings/osa.hpp"


#include "strings/edit_distance.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

template <class Char>
std::uint64_t distance(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    return edit::distance<true>(a, m, b, n);
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
