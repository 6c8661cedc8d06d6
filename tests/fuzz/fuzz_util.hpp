// Helpers shared by the fuzz targets: turning the fuzzer's bytes into texts
// and reporting a disagreement with both inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
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

using Chars = std::vector<char32_t>;

inline std::string utf8_of(const Chars& s) {
    static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    std::string out;
    for (const char32_t c : s) {
        const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        out += static_cast<char>(n == 1 ? c : kLead[n] | (c >> (6 * (n - 1))));
        for (int k = n - 2; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    return out;
}

// One character per byte: ASCII as itself, the other bytes in groups of 16
// characters from Latin-1 up to 4 bytes in UTF-8, some agreeing with others
// in their low 8 or 16 bits.
inline char32_t char_of(std::uint8_t b) {
    static constexpr char32_t kBase[] = {0xE0, 0x160, 0x3B0, 0x4E60, 0x1160, 0x100E0, 0x10160, 0x1F600};
    return b < 0x80 ? b : kBase[(b >> 4) & 7] + (b & 0xF);
}

// Pieces of the input separated by a 0xFF byte.
inline std::vector<Chars> pieces(const std::uint8_t* data, std::size_t size) {
    std::vector<Chars> out(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF)
            out.emplace_back();
        else
            out.back().push_back(char_of(data[i]));
    }
    return out;
}

}  // namespace mivo::fuzz
