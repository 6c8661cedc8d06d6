// The installed BLAKE3 library: plain 32-byte hash against published vectors.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "blake3.h"

namespace {

std::string blake3_hex(const std::string& input) {
    blake3_hasher h;
    blake3_hasher_init(&h);
    blake3_hasher_update(&h, input.data(), input.size());
    unsigned char out[BLAKE3_OUT_LEN];
    blake3_hasher_finalize(&h, out, BLAKE3_OUT_LEN);
    std::string hex;
    char buf[3];
    for (unsigned char b : out) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
    }
    return hex;
}

TEST(Blake3, KnownVectors) {
    EXPECT_EQ(blake3_hex(""), "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
    EXPECT_EQ(blake3_hex("abc"), "6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85");
}

TEST(Blake3, LongInputUsesEveryChunkPath) {
    // More than one 1 KiB chunk exercises the SIMD tree paths; the digest must
    // not depend on how the input is fed.
    std::string data(10000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
    blake3_hasher h;
    blake3_hasher_init(&h);
    for (std::size_t i = 0; i < data.size(); i += 7) blake3_hasher_update(&h, data.data() + i, std::min<std::size_t>(7, data.size() - i));
    unsigned char piecewise[BLAKE3_OUT_LEN];
    blake3_hasher_finalize(&h, piecewise, BLAKE3_OUT_LEN);
    std::string hex;
    char buf[3];
    for (unsigned char b : piecewise) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
    }
    EXPECT_EQ(hex, blake3_hex(data));
}

}  // namespace
