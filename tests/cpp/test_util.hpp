// Helpers shared by the C++ tests: byte strings, float bit patterns, hex and
// deterministic sample data.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

namespace mivo::embeddings {

using Bytes = std::vector<std::uint8_t>;
using Floats = std::vector<float>;

inline std::uint32_t fbits(float x) { return std::bit_cast<std::uint32_t>(x); }
inline float from_bits(std::uint32_t b) { return std::bit_cast<float>(b); }

inline Bytes from_hex(std::string_view hex) {
    auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(nib(hex[i]) * 16 + nib(hex[i + 1])));
    return out;
}

// Values spanning several orders of magnitude, both signs, so that any change
// in rounding or summation order shows in the result bits.
inline Floats sample(std::size_t n, std::uint32_t salt) {
    Floats v(n);
    std::uint64_t x = 0x9E3779B97F4A7C15ull ^ (std::uint64_t{salt} * 0xD1B54A32D192ED03ull);
    for (float& f : v) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        f = std::ldexp(static_cast<float>(static_cast<std::int32_t>(x >> 32)) * 0x1p-31f, static_cast<int>(x & 7) - 4);
    }
    return v;
}

inline void expect_same_bits(const Floats& got, const Floats& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(fbits(got[i]), fbits(want[i])) << "at " << i;
}

}  // namespace mivo::embeddings
