// SimHash signs: the fast sign pass with its literal fallback against the
// literal sums alone, one vector and blocks of vectors, on Gaussian
// vectors; and how many rows the pass leaves to the literal sums (the
// counters literal_rows and literal_share: rows summed literally per vector,
// and their share of all rows).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "embeddings/encode.hpp"
#include "embeddings/tables.hpp"
#include "embeddings/vector_simhash.hpp"

namespace {

using namespace mivo::embeddings;

constexpr std::uint64_t kSeed = 0x4D49564F53494D48ull;  // "MIVOSIMH"
constexpr std::size_t kVectors = 256;

std::vector<float> gaussian_rows(std::size_t n, std::size_t count, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<float> normal;
    std::vector<float> rows(count * n);
    for (float& v : rows) v = normal(rng);
    return rows;
}
std::vector<float> gaussian_rows(std::size_t n) { return gaussian_rows(n, kVectors, n); }

// The rows summed literally per vector, over 16,384 other Gaussian vectors.
double literal_rows_per_vector(std::size_t n, bool unit) {
    constexpr std::size_t kCount = 16384;
    const std::vector<float> rows = gaussian_rows(n, kCount, n + 1);
    const SignPathCounts before = sign_path_counts();
    for (std::size_t i = 0; i < kCount; ++i) {
        const std::span<const float> v(rows.data() + i * n, n);
        benchmark::DoNotOptimize(unit ? simhash_128_unit(v, kSeed) : simhash_128(v, kSeed));
    }
    return static_cast<double>(sign_path_counts().literal_rows - before.literal_rows) / kCount;
}

// range(0): the length; range(1): 1 for the unit-length input (Mini128),
// 0 for the values as given (bands).
void BM_SimhashSigns(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const bool unit = state.range(1) != 0;
    const std::vector<float> rows = gaussian_rows(n);
    std::size_t i = 0;
    for (auto _ : state) {
        const std::span<const float> v(rows.data() + (i++ % kVectors) * n, n);
        benchmark::DoNotOptimize(unit ? simhash_128_unit(v, kSeed) : simhash_128(v, kSeed));
    }
    const double per_vector = literal_rows_per_vector(n, unit);
    state.counters["literal_rows"] = per_vector;
    state.counters["literal_share"] = per_vector / 128;
}
BENCHMARK(BM_SimhashSigns)->ArgsProduct({{384, 768, 1536}, {0, 1}})->Unit(benchmark::kMicrosecond);

// The same count over the vectors of a raw float32 file: MIVO_SIGN_VECTORS
// names it, MIVO_SIGN_DIM gives the values per vector (bench_embeddings.py
// passes real sentence embeddings this way where they are cached). Nothing
// is timed; without the file the case is skipped.
void BM_SimhashSignsFile(benchmark::State& state) {
    const char* path = std::getenv("MIVO_SIGN_VECTORS");
    const char* dim = std::getenv("MIVO_SIGN_DIM");
    const std::size_t n = dim ? std::strtoul(dim, nullptr, 10) : 0;
    std::ifstream file(path ? path : "", std::ios::binary);
    std::vector<float> rows;
    if (n > 0 && file) {
        file.seekg(0, std::ios::end);
        rows.resize(static_cast<std::size_t>(file.tellg()) / sizeof(float) / n * n);
        file.seekg(0);
        file.read(reinterpret_cast<char*>(rows.data()), static_cast<std::streamsize>(rows.size() * sizeof(float)));
    }
    if (rows.empty() || !file) {
        state.SkipWithError("no vectors (MIVO_SIGN_VECTORS, MIVO_SIGN_DIM)");
        return;
    }
    const bool unit = state.range(0) != 0;
    const std::size_t count = rows.size() / n;
    const SignPathCounts before = sign_path_counts();
    for (std::size_t i = 0; i < count; ++i) {
        const std::span<const float> v(rows.data() + i * n, n);
        benchmark::DoNotOptimize(unit ? simhash_128_unit(v, kSeed) : simhash_128(v, kSeed));
    }
    const double per_vector = static_cast<double>(sign_path_counts().literal_rows - before.literal_rows) / count;
    for (auto _ : state) {
    }
    state.counters["literal_rows"] = per_vector;
    state.counters["literal_share"] = per_vector / 128;
    state.counters["d"] = static_cast<double>(n);
}
BENCHMARK(BM_SimhashSignsFile)->Arg(0)->Arg(1)->Iterations(1);

// The literal sums alone, as before the sign pass (with the unit-length
// scaling for the Mini128 input).
void BM_SimhashLiteral(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const bool unit = state.range(1) != 0;
    const std::vector<float> rows = gaussian_rows(n);
    const TableRef table = hyperplane_table(kSeed, n);
    std::vector<float> w(n), dots(table->stride);
    std::size_t i = 0;
    for (auto _ : state) {
        const float* v = rows.data() + (i++ % kVectors) * n;
        w.assign(v, v + n);
        if (unit) scale_to_unit_length(w);
        dot_table(*table, w, 0.0f, dots.data());
        benchmark::DoNotOptimize(dots.data());
    }
}
BENCHMARK(BM_SimhashLiteral)->ArgsProduct({{384, 768, 1536}, {0, 1}})->Unit(benchmark::kMicrosecond);

// Blocks of 72 rows (as the batch encode hashes them), per row.
void BM_SimhashUnitRows(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<float> rows = gaussian_rows(n, 3 * 72, n);
    std::vector<u128> out(72);
    SimhashRowsMemory memory;
    std::size_t block = 0;
    for (auto _ : state) {
        simhash_128_unit_rows(rows.data() + (block++ % 3) * 72 * n, 72, n, kSeed, out.data(), &memory);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 72);
}
BENCHMARK(BM_SimhashUnitRows)->Arg(768)->Arg(1536)->Unit(benchmark::kMicrosecond);

}  // namespace
