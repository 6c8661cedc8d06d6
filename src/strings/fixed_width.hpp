// Text already decoded into code points of one fixed width (1, 2 or 4
// bytes), as CPython keeps its str objects: the metrics run on it without
// decoding UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "strings/small_buffer.hpp"

namespace mivo::strings {

struct FixedWidthText {
    const void* data;
    std::size_t size;  // in code points
    unsigned width;    // bytes per code point: 1, 2 or 4
};

// Calls f(a, m, b, n) with typed arrays of one element type: the stored
// arrays when both widths agree, else both widened to 32 bits.
template <class F>
auto with_code_units(FixedWidthText a, FixedWidthText b, F&& f) {
    if (a.width == b.width) {
        if (a.width == 1)
            return f(static_cast<const unsigned char*>(a.data), a.size, static_cast<const unsigned char*>(b.data),
                     b.size);
        if (a.width == 2)
            return f(static_cast<const char16_t*>(a.data), a.size, static_cast<const char16_t*>(b.data), b.size);
        return f(static_cast<const char32_t*>(a.data), a.size, static_cast<const char32_t*>(b.data), b.size);
    }
    auto widen = [](FixedWidthText t, char32_t* out) {
        for (std::size_t k = 0; k < t.size; ++k) {
            out[k] = t.width == 1   ? static_cast<const std::uint8_t*>(t.data)[k]
                     : t.width == 2 ? static_cast<const std::uint16_t*>(t.data)[k]
                                    : static_cast<const std::uint32_t*>(t.data)[k];
        }
    };
    SmallBuffer<char32_t, 128> wa(a.size), wb(b.size);
    widen(a, wa.data());
    widen(b, wb.data());
    return f(static_cast<const char32_t*>(wa.data()), a.size, static_cast<const char32_t*>(wb.data()), b.size);
}

}  // namespace mivo::strings
