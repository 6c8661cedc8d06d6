// Throughput of the text form, the full-vector payloads and the curve codes.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "embeddings/decode.hpp"
#include "embeddings/base32hex.hpp"
#include "embeddings/full_vector.hpp"
#include "embeddings/hilbert.hpp"
#include "embeddings/morton.hpp"

namespace {

using namespace mivo::embeddings;

std::vector<std::uint8_t> random_bytes(std::size_t n) {
    std::mt19937_64 rng(1);
    std::vector<std::uint8_t> b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

std::vector<float> random_values(std::size_t n) {
    std::mt19937_64 rng(2);
    std::normal_distribution<float> normal(0.0f, 0.05f);
    std::vector<float> v(n);
    for (auto& x : v) x = normal(rng);
    return v;
}

constexpr std::size_t kIdBytes = 3084;  // a 768-value Full32 identifier

void BM_EncodeText(benchmark::State& state) {
    const auto bytes = random_bytes(kIdBytes);
    for (auto _ : state) benchmark::DoNotOptimize(encode_text(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_EncodeText);

void BM_DecodeText(benchmark::State& state) {
    const std::string text = encode_text(random_bytes(kIdBytes));
    for (auto _ : state) benchmark::DoNotOptimize(decode_text(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kIdBytes));
}
BENCHMARK(BM_DecodeText);

void BM_CheckText(benchmark::State& state) {
    const std::string text = encode_text(random_bytes(kIdBytes));
    for (auto _ : state) benchmark::DoNotOptimize(check_text(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CheckText);

// Payload writers and decoders: items = values.
void BM_WriteHalf16(benchmark::State& state) {
    const auto v = random_values(768);
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        out.clear();
        write_half16(v, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * v.size()));
}
BENCHMARK(BM_WriteHalf16);

void BM_DecodeHalf16(benchmark::State& state) {
    std::vector<std::uint8_t> payload;
    write_half16(random_values(768), payload);
    for (auto _ : state) benchmark::DoNotOptimize(decode_half16(payload));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 768));
}
BENCHMARK(BM_DecodeHalf16);

void BM_WriteBits(benchmark::State& state) {
    const auto bits = static_cast<std::uint8_t>(state.range(0));
    const auto v = random_values(768);
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(write_bits(v, bits, out));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * v.size()));
}
BENCHMARK(BM_WriteBits)->Arg(1)->Arg(4)->Arg(8)->Arg(13);

void BM_DecodeBits(benchmark::State& state) {
    const auto bits = static_cast<std::uint8_t>(state.range(0));
    std::vector<std::uint8_t> payload;
    (void)write_bits(random_values(768), bits, payload);
    for (auto _ : state) benchmark::DoNotOptimize(decode_bits(payload, bits, 768));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 768));
}
BENCHMARK(BM_DecodeBits)->Arg(1)->Arg(4)->Arg(8)->Arg(13);

void BM_DecodeToEmbeddingFull32(benchmark::State& state) {
    std::vector<std::uint8_t> id{0x04, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46, 0x55, 0x4C, 0x4C};
    write_full32(random_values(768), id);
    const std::string text = encode_text(id);
    for (auto _ : state) benchmark::DoNotOptimize(decode_to_embedding(text));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 768));
}
BENCHMARK(BM_DecodeToEmbeddingFull32);

QuantizedCoords sample_point() { return QuantizedCoords{{512, 513, 515, 517, 519, 520, 522, 524, 526, 527}, 10}; }

void BM_HilbertCode(benchmark::State& state) {
    const QuantizedCoords p = sample_point();
    for (auto _ : state) benchmark::DoNotOptimize(hilbert_code(p));
}
BENCHMARK(BM_HilbertCode);

void BM_MortonCode(benchmark::State& state) {
    const QuantizedCoords p = sample_point();
    for (auto _ : state) benchmark::DoNotOptimize(morton_code(p));
}
BENCHMARK(BM_MortonCode);

}  // namespace
