// The distance scan of the Hamming index: which stored codes lie within a
// bound of one query. Codes are 8 or 16 bytes (one or two 64-bit words,
// stored byte for byte as given), the distance is the number of differing
// bits. Three kernels give the same answers: plain code, AVX2 (popcount by a
// nibble table) and AVX-512 with VPOPCNTDQ; the wider ones only where the
// processor has them, chosen at run time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace mivo::collections {

enum class HammingKernel : std::uint8_t { Portable, Avx2, Avx512 };

// The widest kernel this processor runs (found once, then only read).
HammingKernel hamming_best_kernel();
bool hamming_kernel_available(HammingKernel kernel);

// Scans codes[0, n) (`words` words each: 1 or 2) against `query` (as many
// words). For every code whose distance is at most `bound`, in order, writes
// its position to `index` and its distance to `distance`; returns how many
// (at most n, which must fit 32 bits). The kernel must be available.
std::size_t hamming_within(HammingKernel kernel, unsigned words, const std::uint64_t* codes, std::size_t n,
                           const std::uint64_t* query, std::uint32_t bound, std::uint32_t* index,
                           std::uint8_t* distance);

// The kernels themselves, one set per instruction set (same contract as
// hamming_within for one code size).
using HammingScanFn = std::size_t(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                  std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance);
HammingScanFn hamming_within8_portable;
HammingScanFn hamming_within16_portable;

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define MIVO_HAMMING_X86 1
HammingScanFn hamming_within8_avx2;
HammingScanFn hamming_within16_avx2;
HammingScanFn hamming_within8_avx512;
HammingScanFn hamming_within16_avx512;
#else
#define MIVO_HAMMING_X86 0
#endif

// The loop of a wide kernel, which ends its function: STEP codes at a time,
// DISTANCES (an expression of `p`, the step's first code) giving a pair
// {low, high} of distance vectors that the kernel's within_mask and emit
// test against `limit` and write out; the rest by PLAIN.
#define MIVO_HAMMING_WIDE_LOOP(WORDS, STEP, PLAIN, DISTANCES)             \
    std::size_t found = 0, i = 0;                                         \
    for (; i + (STEP) <= n; i += (STEP)) {                                \
        const std::uint64_t* p = codes + (WORDS) * i;                     \
        const auto d = DISTANCES;                                         \
        if (const unsigned mask = within_mask(d.low, d.high, limit))      \
            found = emit(mask, d.low, d.high, i, index, distance, found); \
    }                                                                     \
    return within_rest(PLAIN, WORDS, codes, n, i, query, bound, index, distance, found)

// For the wide kernels: writes the codes of `mask` (bit j: code base + j)
// with their distances d[j]; returns the new count.
inline std::size_t emit_within(unsigned mask, const std::uint64_t* d, std::size_t base, std::uint32_t* index,
                               std::uint8_t* distance, std::size_t found) {
    while (mask != 0) {
        const unsigned j = static_cast<unsigned>(std::countr_zero(mask));
        index[found] = static_cast<std::uint32_t>(base + j);
        distance[found] = static_cast<std::uint8_t>(d[j]);
        ++found;
        mask &= mask - 1;
    }
    return found;
}

// For the wide kernels: the codes from `base` on (fewer than a step's) by
// the plain kernel; returns the new count.
inline std::size_t within_rest(HammingScanFn* plain, unsigned words, const std::uint64_t* codes, std::size_t n,
                               std::size_t base, const std::uint64_t* query, std::uint32_t bound, std::uint32_t* index,
                               std::uint8_t* distance, std::size_t found) {
    const std::size_t more = plain(codes + base * words, n - base, query, bound, index + found, distance + found);
    for (std::size_t j = found; j < found + more; ++j) index[j] += static_cast<std::uint32_t>(base);
    return found + more;
}

}  // namespace mivo::collections
