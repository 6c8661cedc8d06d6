// The installed BLAKE3 library beyond the published short vectors (those are
// checked with the stream keys): inputs longer than one 1 KiB chunk take the
// SIMD tree paths, and the digest must not depend on how the input is fed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "blake3.h"
#include "embeddings/seeded_stream.hpp"

namespace {

TEST(Blake3, LongInputFedPiecewiseMatchesOneShot) {
    std::vector<std::uint8_t> data(10000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
    blake3_hasher h;
    blake3_hasher_init(&h);
    for (std::size_t i = 0; i < data.size(); i += 7)
        blake3_hasher_update(&h, data.data() + i, std::min<std::size_t>(7, data.size() - i));
    std::array<std::uint8_t, 32> piecewise{};
    blake3_hasher_finalize(&h, piecewise.data(), piecewise.size());
    EXPECT_EQ(piecewise, mivo::embeddings::blake3_digest(data));
}

}  // namespace
