// The plain distance scan (every processor) and the choice of kernel.
#include <bit>

#include "collections/hamming_kernels.hpp"

namespace mivo::collections {
namespace {

template <unsigned Words>
std::size_t within_portable(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query, std::uint32_t bound,
                            std::uint32_t* index, std::uint8_t* distance) {
    std::size_t found = 0;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned d = 0;
        for (unsigned w = 0; w < Words; ++w) d += static_cast<unsigned>(std::popcount(codes[i * Words + w] ^ query[w]));
        if (d <= bound) {
            index[found] = static_cast<std::uint32_t>(i);
            distance[found] = static_cast<std::uint8_t>(d);
            ++found;
        }
    }
    return found;
}

HammingKernel detect_best() {
#if MIVO_HAMMING_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq")) return HammingKernel::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) return HammingKernel::Avx2;
#endif
    return HammingKernel::Portable;
}

}  // namespace

std::size_t hamming_within8_portable(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                     std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance) {
    return within_portable<1>(codes, n, query, bound, index, distance);
}

std::size_t hamming_within16_portable(const std::uint64_t* codes, std::size_t n, const std::uint64_t* query,
                                      std::uint32_t bound, std::uint32_t* index, std::uint8_t* distance) {
    return within_portable<2>(codes, n, query, bound, index, distance);
}

HammingKernel hamming_best_kernel() {
    static const HammingKernel best = detect_best();
    return best;
}

bool hamming_kernel_available(HammingKernel kernel) {
    return static_cast<int>(kernel) <= static_cast<int>(hamming_best_kernel());
}

std::size_t hamming_within(HammingKernel kernel, unsigned words, const std::uint64_t* codes, std::size_t n,
                           const std::uint64_t* query, std::uint32_t bound, std::uint32_t* index,
                           std::uint8_t* distance) {
    const bool wide = words == 2;
#if MIVO_HAMMING_X86
    switch (kernel) {
        case HammingKernel::Avx512:
            return (wide ? hamming_within16_avx512 : hamming_within8_avx512)(codes, n, query, bound, index, distance);
        case HammingKernel::Avx2:
            return (wide ? hamming_within16_avx2 : hamming_within8_avx2)(codes, n, query, bound, index, distance);
        case HammingKernel::Portable: break;
    }
#else
    (void)kernel;
#endif
    return (wide ? hamming_within16_portable : hamming_within8_portable)(codes, n, query, bound, index, distance);
}

}  // namespace mivo::collections
