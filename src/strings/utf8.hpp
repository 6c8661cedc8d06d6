// UTF-8 helpers: the comparison unit of every string metric is the Unicode
// scalar value. Inputs are valid UTF-8 (they come from Python str objects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace mivo::strings {

// Number of scalar values: bytes that are not continuation bytes.
inline std::size_t count_scalars(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// Whether s holds only ASCII bytes (its length is then its length in
// scalar values); eight bytes at a time.
inline bool is_ascii(std::string_view s) {
    std::size_t i = 0;
    std::uint64_t high = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + i, 8);
        high |= word;
    }
    for (; i < s.size(); ++i) high |= static_cast<unsigned char>(s[i]);
    return (high & 0x8080808080808080ull) == 0;
}

// Decodes one scalar value starting at s[i] and advances i past it.
inline char32_t next_scalar(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    auto cont = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
    char32_t c;
    if (b0 < 0xE0) {
        c = (static_cast<char32_t>(b0 & 0x1F) << 6) | cont(1);
        i += 2;
    } else if (b0 < 0xF0) {
        c = (static_cast<char32_t>(b0 & 0x0F) << 12) | (cont(1) << 6) | cont(2);
        i += 3;
    } else {
        c = (static_cast<char32_t>(b0 & 0x07) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3);
        i += 4;
    }
    return c;
}

// Decodes s into out (room for s.size() values, of a type wide enough for
// every value in s) and returns the count.
template <class Char>
std::size_t decode_to(std::string_view s, Char* out) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) out[n++] = static_cast<Char>(next_scalar(s, i));
    return n;
}

// Decodes the whole string into `out` (replaced).
inline void decode_utf8(std::string_view s, std::vector<char32_t>& out) {
    out.resize(s.size());
    out.resize(decode_to(s, out.data()));
}

inline std::vector<char32_t> decode_utf8(std::string_view s) {
    std::vector<char32_t> out;
    decode_utf8(s, out);
    return out;
}

// Appends the UTF-8 encoding of scalar value c.
template <class String>
inline void append_utf8(String& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace mivo::strings
