#include "embeddings/vector_simhash.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <vector>

#include "embeddings/encode.hpp"
#include "embeddings/seeded_stream.hpp"
#include "embeddings/sign_pass.hpp"
#include "embeddings/tables.hpp"

namespace mivo::embeddings {

// acc = +0.0f, then acc = acc + embedding[j] * g_j in index order, drawn and
// accumulated in one pass over the hyperplane's stream.
float simhash_hyperplane_dot(std::span<const float> embedding, std::uint64_t seed, std::uint8_t h) {
    SeededStream stream = SeededStream::for_hyperplane(seed, h);
    return stream.dot_standard_normal_f32(embedding, 0.0f);
}

u128 simhash_128_streamed(std::span<const float> embedding, std::uint64_t seed) {
    if (embedding.empty()) return 0;
    u128 out = 0;
    for (unsigned h = 0; h < 128; ++h) {
        const float acc = simhash_hyperplane_dot(embedding, seed, static_cast<std::uint8_t>(h));
        if (acc > 0.0f) out |= static_cast<u128>(1) << h;
    }
    return out;
}

namespace {

struct Counters {
    std::atomic<std::uint64_t> vectors{0}, literal_vectors{0}, literal_rows{0};
};
Counters& counters() {
    static Counters c;
    return c;
}
void tally(std::atomic<std::uint64_t>& counter, std::uint64_t n) {
    if (n) counter.fetch_add(n, std::memory_order_relaxed);
}

std::uint64_t popcount(u128 x) {
    return static_cast<std::uint64_t>(std::popcount(static_cast<std::uint64_t>(x)) +
                                      std::popcount(static_cast<std::uint64_t>(x >> 64)));
}

// The values the literal sums are taken over: the embedding as given, or a
// copy scaled to unit length as the encode driver scales it.
std::span<const float> literal_input(std::span<const float> x, SignInput input, std::vector<float>& copy) {
    if (input == SignInput::AsGiven) return x;
    copy.assign(x.begin(), x.end());
    scale_to_unit_length(copy);
    return copy;
}

// Every bit from the literal sums.
u128 literal_hash(const RowTable& table, std::span<const float> w) {
    alignas(64) float dots[kSignRows];
    dot_table(table, w, 0.0f, dots);
    u128 out = 0;
    for (unsigned h = 0; h < kSignRows; ++h)
        if (dots[h] > 0.0f) out |= static_cast<u128>(1) << h;
    return out;
}

// The bits of `rows` from the literal sums (the kernel takes the groups of
// kDotRowGroup rows holding them); the other bits of `out` stay.
void literal_rows(const RowTable& table, std::span<const float> w, u128 rows, u128& out) {
    alignas(64) float dots[kDotRowGroup];
    for (std::size_t g = 0; g < kSignRows; g += kDotRowGroup) {
        if (!static_cast<std::uint16_t>(rows >> g)) continue;
        dot_rows_with(dot_best_kernel(), table.data + g, table.stride, kDotRowGroup, w, 0.0f, dots);
        for (std::size_t k = 0; k < kDotRowGroup; ++k) {
            const u128 bit = static_cast<u128>(1) << (g + k);
            if (!(rows & bit)) continue;
            out = dots[k] > 0.0f ? out | bit : out & ~bit;
        }
    }
}

// The bits the pass (f, c) proves, and the literal sums for the rows it
// leaves in doubt.
u128 finish(const RowTable& table, std::span<const float> x, SignInput input, const SignVector& v, const float* f,
            const float* c) {
    const std::size_t n = x.size();
    const float* norm_rows = table.norm_rows + ((n + kNormStep - 1) / kNormStep - 1) * kSignRows;
    SignBits bits = decide_signs(f, c, norm_rows, sign_threshold(input, v, n));
    if (!bits.doubtful) return bits.positive;
    tally(counters().literal_rows, popcount(bits.doubtful));
    std::vector<float> copy;
    literal_rows(table, literal_input(x, input, copy), bits.doubtful, bits.positive);
    return bits.positive;
}

bool has_norms(const RowTable& table) { return table.norm_rows && sign_pass_pays(); }

u128 hash_one(std::span<const float> x, std::uint64_t seed, SignInput input) {
    if (x.empty()) return 0;
    std::vector<float> copy;
    const TableRef table = hyperplane_table(seed, x.size());
    if (!table) return simhash_128_streamed(literal_input(x, input, copy), seed);
    tally(counters().vectors, 1);
    const SignKernel kernel = sign_best_kernel();
    alignas(64) float xs[kSignMaxLength];
    SignVector v;
    if (has_norms(*table)) v = prepare_sign_vector(kernel, x, xs);
    if (!v.covered) {
        tally(counters().literal_vectors, 1);
        return literal_hash(*table, literal_input(x, input, copy));
    }
    alignas(64) float f[kSignRows], c[kSignRows];
    sign_pass_one(kernel, table->data, xs, x.size(), f, c);
    return finish(*table, x, input, v, f, c);
}

void hash_rows(const float* rows, std::size_t count, std::size_t length, std::uint64_t seed, SignInput input, u128* out,
               SimhashRowsMemory* memory) {
    const auto row = [&](std::size_t i) { return std::span<const float>(rows + i * length, length); };
    const TableRef table = length ? hyperplane_table(seed, length) : nullptr;
    if (!table || !has_norms(*table)) {
        for (std::size_t i = 0; i < count; ++i) out[i] = hash_one(row(i), seed, input);
        return;
    }
    tally(counters().vectors, count);
    // The covered rows, scaled, side by side for the pass; the others whole
    // by the literal sums.
    const SignKernel kernel = sign_best_kernel();
    const std::size_t padded = (length + kSignPad - 1) / kSignPad * kSignPad;
    SimhashRowsMemory own;
    SimhashRowsMemory& m = memory ? *memory : own;
    std::vector<float>& xs = m.scaled;
    std::vector<SignVector>& vectors = m.vectors;
    std::vector<std::size_t>& covered = m.covered;
    xs.resize(std::max(xs.size(), count * padded));
    vectors.resize(std::max(vectors.size(), count));
    covered.clear();
    std::vector<float> copy;
    for (std::size_t i = 0; i < count; ++i) {
        vectors[i] = prepare_sign_vector(kernel, row(i), xs.data() + covered.size() * padded);
        if (vectors[i].covered) {
            covered.push_back(i);
        } else {
            tally(counters().literal_vectors, 1);
            out[i] = literal_hash(*table, literal_input(row(i), input, copy));
        }
    }
    std::vector<float>& f = m.sums;
    std::vector<float>& c = m.checkpoints;
    f.resize(std::max(f.size(), covered.size() * kSignRows));
    c.resize(std::max(c.size(), covered.size() * kSignRows));
    sign_pass_many(kernel, table->data, xs.data(), padded, covered.size(), length, f.data(), c.data());
    for (std::size_t k = 0; k < covered.size(); ++k) {
        const std::size_t i = covered[k];
        out[i] = finish(*table, row(i), input, vectors[i], f.data() + k * kSignRows, c.data() + k * kSignRows);
    }
}

}  // namespace

u128 simhash_128(std::span<const float> embedding, std::uint64_t seed) {
    return hash_one(embedding, seed, SignInput::AsGiven);
}

u128 simhash_128_unit(std::span<const float> embedding, std::uint64_t seed) {
    return hash_one(embedding, seed, SignInput::UnitLength);
}

void simhash_128_rows(const float* rows, std::size_t count, std::size_t length, std::uint64_t seed, u128* out,
                      SimhashRowsMemory* memory) {
    hash_rows(rows, count, length, seed, SignInput::AsGiven, out, memory);
}

void simhash_128_unit_rows(const float* rows, std::size_t count, std::size_t length, std::uint64_t seed, u128* out,
                           SimhashRowsMemory* memory) {
    hash_rows(rows, count, length, seed, SignInput::UnitLength, out, memory);
}

SignPathCounts sign_path_counts() {
    Counters& c = counters();
    return {c.vectors.load(std::memory_order_relaxed), c.literal_vectors.load(std::memory_order_relaxed),
            c.literal_rows.load(std::memory_order_relaxed)};
}

}  // namespace mivo::embeddings
