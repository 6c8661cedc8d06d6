// Helpers shared by the fuzz targets: turning the fuzzer's bytes into valid
// UTF-8 strings and reporting a disagreement with both inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mivo::fuzz {

inline void print_input(const char* name, std::string_view s) {
    std::fprintf(stderr, "%s (%zu bytes):", name, s.size());
    for (const unsigned char c : s) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
}

// Stops the run: libFuzzer saves the input that got here.
[[noreturn]] inline void disagree(const char* what, std::string_view a, std::string_view b = {}) {
    std::fprintf(stderr, "DISAGREEMENT: %s\n", what);
    print_input("first", a);
    print_input("second", b);
    std::abort();
}

inline void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Scalar values of bytes that are mostly UTF-8: a well-formed sequence gives
// its scalar value, any other byte b gives U+0100 + b (so every byte string
// maps to some text, with characters of 1, 2, 3 and 4 bytes reachable).
inline std::vector<char32_t> scalars_of(std::string_view bytes) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const auto cont = [&](std::size_t k) { return k < bytes.size() && (at(k) & 0xC0) == 0x80; };
    while (i < bytes.size()) {
        const unsigned char b = at(i);
        char32_t c = 0;
        std::size_t len = 0;
        if (b < 0x80) {
            c = b, len = 1;
        } else if (b >= 0xC2 && b < 0xE0 && cont(i + 1)) {
            c = (char32_t{b} & 0x1F) << 6 | (at(i + 1) & 0x3F), len = 2;
        } else if (b >= 0xE0 && b < 0xF0 && cont(i + 1) && cont(i + 2)) {
            c = (char32_t{b} & 0x0F) << 12 | (char32_t{at(i + 1)} & 0x3F) << 6 | (at(i + 2) & 0x3F), len = 3;
            if (c < 0x800 || (c >= 0xD800 && c < 0xE000)) len = 0;
        } else if (b >= 0xF0 && b < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            c = (char32_t{b} & 0x07) << 18 | (char32_t{at(i + 1)} & 0x3F) << 12 | (char32_t{at(i + 2)} & 0x3F) << 6 |
                (at(i + 3) & 0x3F);
            len = 4;
            if (c < 0x10000 || c > 0x10FFFF) len = 0;
        }
        if (len == 0) c = 0x100 + b, len = 1;
        out.push_back(c);
        i += len;
    }
    return out;
}

inline std::string utf8_of(const std::vector<char32_t>& s) {
    std::string out;
    for (const char32_t c : s) append_utf8(out, c);
    return out;
}

// Pieces of the input separated by a 0xFF byte (which never starts a
// character), each made valid UTF-8.
inline std::vector<std::string> pieces(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> out(1);
    std::string raw;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0xFF) {
            out.back() = utf8_of(scalars_of(raw));
            raw.clear();
            if (i < size) out.emplace_back();
        } else {
            raw += static_cast<char>(data[i]);
        }
    }
    return out;
}

}  // namespace mivo::fuzz
