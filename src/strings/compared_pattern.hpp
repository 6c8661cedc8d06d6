// The bit masks of a pattern of at most 64 values computed on the fly: the
// pattern sits in SSE2 registers and each text character is compared with
// all of it at once, so nothing is built beforehand (no table of masks to
// clear), which pays off for short strings. It serves the one-word kernels
// in place of PatternMasks. Without SSE2 it is not available.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(MIVO_STRINGS_PORTABLE_ONLY)
#include <emmintrin.h>
#define MIVO_COMPARED_PATTERN 1
#else
#define MIVO_COMPARED_PATTERN 0
#endif

namespace mivo::strings {

#if MIVO_COMPARED_PATTERN

// Groups of 16 pattern values, each group one 16-bit slice of the mask
// (Char of 1, 2 or 4 bytes: one, two or four registers per group).
template <class Char, int Groups>
class ComparedPattern {
public:
    static constexpr std::size_t kCapacity = 16 * Groups;
    static constexpr int kRegs = Groups * static_cast<int>(sizeof(Char));

    // m values, 1 <= m <= kCapacity; the lanes past m hold 0 and may set
    // mask bits past m - 1, which the kernels never read back.
    ComparedPattern(const Char* p, std::size_t m) : size_(m) {
        alignas(16) Char buf[kCapacity] = {};
        std::memcpy(buf, p, m * sizeof(Char));
        for (int r = 0; r < kRegs; ++r) regs_[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(buf) + r);
    }

    std::size_t size() const { return size_; }

    std::uint64_t word(Char c) const {
        std::uint64_t mask = 0;
        if constexpr (sizeof(Char) == 1) {
            const __m128i v = _mm_set1_epi8(static_cast<char>(c));
            for (int g = 0; g < Groups; ++g)
                mask |=
                    static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(regs_[g], v))))
                    << (16 * g);
        } else if constexpr (sizeof(Char) == 2) {
            const __m128i v = _mm_set1_epi16(static_cast<short>(c));
            for (int g = 0; g < Groups; ++g) {
                const __m128i e =
                    _mm_packs_epi16(_mm_cmpeq_epi16(regs_[2 * g], v), _mm_cmpeq_epi16(regs_[2 * g + 1], v));
                mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(e))) << (16 * g);
            }
        } else {
            const __m128i v = _mm_set1_epi32(static_cast<int>(c));
            for (int g = 0; g < Groups; ++g) {
                const __m128i lo =
                    _mm_packs_epi32(_mm_cmpeq_epi32(regs_[4 * g], v), _mm_cmpeq_epi32(regs_[4 * g + 1], v));
                const __m128i hi =
                    _mm_packs_epi32(_mm_cmpeq_epi32(regs_[4 * g + 2], v), _mm_cmpeq_epi32(regs_[4 * g + 3], v));
                mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi))))
                        << (16 * g);
            }
        }
        return mask;
    }

private:
    __m128i regs_[kRegs];
    std::size_t size_;
};

#endif  // MIVO_COMPARED_PATTERN

}  // namespace mivo::strings
