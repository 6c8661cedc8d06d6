// Throughput of the seeded streams and the transforms built on them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "embeddings/projection.hpp"
#include "embeddings/seeded_stream.hpp"
#include "embeddings/vector_simhash.hpp"

namespace {

using namespace mivo::embeddings;

std::vector<float> test_vector(std::size_t n) {
    std::vector<float> v(n);
    std::uint32_t x = 0x12345678u;
    for (float& f : v) {
        x = x * 1664525u + 1013904223u;
        f = static_cast<float>(static_cast<std::int32_t>(x)) * 0x1p-31f;
    }
    return v;
}

ChaChaKey bench_key() {
    ChaChaKey key{};
    for (int i = 0; i < 8; ++i) key[i] = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1);
    return key;
}

void BM_KeystreamFourBlocks(benchmark::State& state) {
    const ChaChaKey key = bench_key();
    alignas(16) std::uint32_t buf[kChaChaBufferWords];
    std::uint64_t counter = 0;
    for (auto _ : state) {
        chacha20_four_blocks(key, counter, buf);
        counter += 4;
        benchmark::DoNotOptimize(buf);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof buf));
}
BENCHMARK(BM_KeystreamFourBlocks);

void BM_KeystreamFourBlocksPortable(benchmark::State& state) {
    const ChaChaKey key = bench_key();
    alignas(16) std::uint32_t buf[kChaChaBufferWords];
    std::uint64_t counter = 0;
    for (auto _ : state) {
        chacha20_four_blocks_portable(key, counter, buf);
        counter += 4;
        benchmark::DoNotOptimize(buf);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof buf));
}
BENCHMARK(BM_KeystreamFourBlocksPortable);

// 16 blocks (1 KiB) with each kernel width.
void BM_Keystream16Blocks(benchmark::State& state) {
    const auto kernel = static_cast<ChaChaKernel>(state.range(0));
    if (!chacha20_kernel_available(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    const ChaChaKey key = bench_key();
    alignas(64) std::uint32_t buf[16 * 16];
    std::uint64_t counter = 0;
    for (auto _ : state) {
        chacha20_blocks_with(kernel, key, counter, 16, buf);
        counter += 16;
        benchmark::DoNotOptimize(buf);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof buf));
}
BENCHMARK(BM_Keystream16Blocks)
    ->ArgName("lanes_kernel")
    ->Arg(static_cast<int>(ChaChaKernel::Portable))
    ->Arg(static_cast<int>(ChaChaKernel::Lanes4))
    ->Arg(static_cast<int>(ChaChaKernel::Lanes8))
    ->Arg(static_cast<int>(ChaChaKernel::Lanes16));

// Keystream read through the stream's 64-bit draws.
void BM_NextU64(benchmark::State& state) {
    SeededStream s = SeededStream::for_hyperplane(1, 0);
    constexpr int kBatch = 1024;
    for (auto _ : state) {
        std::uint64_t acc = 0;
        for (int k = 0; k < kBatch; ++k) acc ^= s.next_u64();
        benchmark::DoNotOptimize(acc);
    }
    state.SetBytesProcessed(state.iterations() * kBatch * 8);
}
BENCHMARK(BM_NextU64);

void BM_StandardNormal(benchmark::State& state) {
    SeededStream s = SeededStream::for_hyperplane(1, 0);
    constexpr int kBatch = 1024;
    for (auto _ : state) {
        double acc = 0.0;
        for (int k = 0; k < kBatch; ++k) acc += s.standard_normal();
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_StandardNormal);

void BM_NormalFillF32(benchmark::State& state) {
    SeededStream s = SeededStream::for_hyperplane(1, 0);
    std::vector<float> row(2048);
    for (auto _ : state) {
        s.fill_standard_normal_f32(row);
        benchmark::DoNotOptimize(row.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(row.size()));
}
BENCHMARK(BM_NormalFillF32);

void BM_StreamSetup(benchmark::State& state) {
    std::uint8_t h = 0;
    for (auto _ : state) {
        SeededStream s = SeededStream::for_hyperplane(0x4D49564F53494D48ull, h++);
        benchmark::DoNotOptimize(s.next_u64());
    }
}
BENCHMARK(BM_StreamSetup);

void BM_Simhash128(benchmark::State& state) {
    const auto v = test_vector(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(simhash_128(v, 0x4D49564F53494D48ull));
    state.SetItemsProcessed(state.iterations() * 128 * state.range(0));  // deviates
}
BENCHMARK(BM_Simhash128)->Arg(768)->Arg(2048)->Unit(benchmark::kMicrosecond);

void BM_Project(benchmark::State& state) {
    const auto v = test_vector(static_cast<std::size_t>(state.range(0)));
    const auto t = static_cast<std::uint16_t>(state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(project_to_lower_dims(v, t, 0x4D49564F46554C4Cull));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));  // deviates
}
BENCHMARK(BM_Project)->Args({2048, 128})->Args({768, 384})->Unit(benchmark::kMicrosecond);

}  // namespace
