// SimHash bits from the fast sign pass against the literal sums, on any f32
// vector: one vector at a time (as given, and scaled to unit length as the
// encode driver does) and as rows of a block. Byte 0 picks how the rest is
// read: bit 0 raw f32 bit patterns, else 16-bit integers times 2^(byte 1 -
// 128); bit 1 moves the vector onto hyperplane byte 2 % 128 (its component
// along it removed in f64), so that the dot product is a few ulps from
// zero; bits 2-3 the number of rows of the block (1 to 4).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "embeddings/encode.hpp"
#include "embeddings/tables.hpp"
#include "embeddings/vector_simhash.hpp"
#include "fuzz_util.hpp"

namespace {

namespace e = mivo::embeddings;
constexpr std::uint64_t kSeed = 0x4D49564F53494D48ull;  // "MIVOSIMH"

std::vector<float> read_values(const std::uint8_t* data, std::size_t size, bool raw, int exponent) {
    std::vector<float> out;
    if (raw) {
        for (std::size_t i = 0; i + 4 <= size && out.size() < e::kMaxTableLength; i += 4) {
            float v;
            std::memcpy(&v, data + i, 4);
            out.push_back(v);
        }
    } else {
        for (std::size_t i = 0; i + 2 <= size && out.size() < e::kMaxTableLength; i += 2) {
            const auto k = static_cast<std::int16_t>(data[i] | data[i + 1] << 8);
            out.push_back(std::ldexp(static_cast<float>(k), exponent));
        }
    }
    return out;
}

void onto_hyperplane(std::vector<float>& x, std::size_t h) {
    const e::TableRef table = e::hyperplane_table(kSeed, x.size());
    double xg = 0, gg = 0;
    for (std::size_t j = 0; j < x.size(); ++j) {
        const double g = table->data[j * table->stride + h];
        xg += x[j] * g;
        gg += g * g;
    }
    if (!(gg > 0) || !std::isfinite(xg)) return;
    for (std::size_t j = 0; j < x.size(); ++j)
        x[j] = static_cast<float>(x[j] - xg / gg * table->data[j * table->stride + h]);
}

e::u128 literal_bits(std::span<const float> x, bool unit) {
    std::vector<float> w(x.begin(), x.end());
    if (unit) e::scale_to_unit_length(w);
    const e::TableRef table = e::hyperplane_table(kSeed, x.size());
    std::vector<float> dots(table->stride);
    e::dot_table(*table, w, 0.0f, dots.data());
    e::u128 out = 0;
    for (unsigned h = 0; h < 128; ++h)
        if (dots[h] > 0.0f) out |= static_cast<e::u128>(1) << h;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using mivo::fuzz::disagree;
    if (size < 5) return 0;
    const std::string_view raw_input(reinterpret_cast<const char*>(data), size);
    const std::uint8_t mode = data[0];
    std::vector<float> x = read_values(data + 3, size - 3, mode & 1, static_cast<int>(data[1]) - 128);
    if (x.empty()) return 0;
    if (mode & 2) onto_hyperplane(x, data[2] % 128);

    if (e::simhash_128(x, kSeed) != literal_bits(x, false)) disagree("simhash_128", raw_input);
    if (e::simhash_128_unit(x, kSeed) != literal_bits(x, true)) disagree("simhash_128_unit", raw_input);

    // The same values as the rows of a block.
    const std::size_t rows = 1 + ((mode >> 2) & 3);
    const std::size_t length = x.size() / rows;
    if (length == 0) return 0;
    std::vector<e::u128> got(rows), got_unit(rows);
    e::simhash_128_rows(x.data(), rows, length, kSeed, got.data());
    e::simhash_128_unit_rows(x.data(), rows, length, kSeed, got_unit.data());
    for (std::size_t i = 0; i < rows; ++i) {
        const std::span<const float> row(x.data() + i * length, length);
        if (got[i] != literal_bits(row, false)) disagree("simhash_128_rows", raw_input);
        if (got_unit[i] != literal_bits(row, true)) disagree("simhash_128_unit_rows", raw_input);
    }
    return 0;
}
