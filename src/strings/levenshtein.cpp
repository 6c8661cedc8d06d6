#include "strings/levenshtein.hpp"

#include <algorithm>

#include "strings/edit_distance.hpp"
#include "strings/small_buffer.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

template <class Char>
std::uint64_t distance(const Char* a, std::size_t m, const Char* b, std::size_t n) {
    return edit::distance<false>(a, m, b, n);
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
