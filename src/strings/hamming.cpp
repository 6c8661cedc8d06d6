#include "strings/hamming.hpp"

#include <bit>
#include <cstddef>
#include <cstring>

#include "strings/utf8.hpp"

#if defined(__SSE2__) && !defined(MIVO_STRINGS_PORTABLE_ONLY)
#include <emmintrin.h>
#define MIVO_HAMMING_SSE2 1
#else
#define MIVO_HAMMING_SSE2 0
#endif

// AVX2 kernels compiled for that target alone and chosen at run time.
#if MIVO_HAMMING_SSE2 && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MIVO_HAMMING_AVX2 1
#else
#define MIVO_HAMMING_AVX2 0
#endif

namespace mivo::strings {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes, the first one lowest.
std::uint64_t load64(const unsigned char* p) {
    std::uint64_t w;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&w, p, 8);
    } else {
        w = 0;
        for (int i = 7; i >= 0; --i) w = (w << 8) | p[i];
    }
    return w;
}

#if !MIVO_HAMMING_SSE2
// Bit k set where byte k of w has its high bit set.
unsigned high_bits_of_bytes(std::uint64_t w) {
    return static_cast<unsigned>((((w >> 7) & 0x0101010101010101ull) * 0x0102040810204080ull) >> 56);
}
#endif

#if MIVO_HAMMING_AVX2

bool have_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

// Units of Bytes bytes that are equal in a and b, from unit k on while 128
// bytes remain; k is left at the first unit not compared. Four accumulators
// of lane counters, emptied before a lane could overflow.
template <int Bytes>
[[gnu::target("avx2")]] std::uint64_t equal_units_avx2(const unsigned char* a, const unsigned char* b, std::size_t n,
                                                       std::size_t& k) {
    constexpr std::size_t lanes = 32 / Bytes;
    constexpr std::size_t max_rounds = Bytes == 1 ? 63 : Bytes == 2 ? 8191 : (std::size_t{1} << 29);
    std::uint64_t same = 0;
    while (n - k >= 4 * lanes) {
        __m256i e[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
        const std::size_t rounds = std::min<std::size_t>((n - k) / (4 * lanes), max_rounds);
        for (std::size_t r = 0; r < rounds; ++r, k += 4 * lanes) {
            for (int q = 0; q < 4; ++q) {
                const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + Bytes * (k + q * lanes)));
                const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + Bytes * (k + q * lanes)));
                if constexpr (Bytes == 1) e[q] = _mm256_sub_epi8(e[q], _mm256_cmpeq_epi8(u, v));
                if constexpr (Bytes == 2) e[q] = _mm256_sub_epi16(e[q], _mm256_cmpeq_epi16(u, v));
                if constexpr (Bytes == 4) e[q] = _mm256_sub_epi32(e[q], _mm256_cmpeq_epi32(u, v));
            }
        }
        __m256i sum;
        if constexpr (Bytes == 1) {
            sum = _mm256_add_epi8(_mm256_add_epi8(e[0], e[1]), _mm256_add_epi8(e[2], e[3]));  // at most 252
            sum = _mm256_sad_epu8(sum, _mm256_setzero_si256());
        } else if constexpr (Bytes == 2) {
            sum = _mm256_add_epi16(_mm256_add_epi16(e[0], e[1]), _mm256_add_epi16(e[2], e[3]));
            sum = _mm256_madd_epi16(sum, _mm256_set1_epi16(1));  // lanes below 2^15, summed in pairs
        } else {
            sum = _mm256_add_epi32(_mm256_add_epi32(e[0], e[1]), _mm256_add_epi32(e[2], e[3]));
        }
        alignas(32) std::uint32_t words[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(words), sum);
        for (std::uint32_t w : words) same += w;  // sad: high halves of its 64-bit sums are 0
    }
    return same;
}

#endif  // MIVO_HAMMING_AVX2

// Bytes that differ between a and b (n bytes each).
std::uint64_t differing_bytes(const unsigned char* a, const unsigned char* b, std::size_t n) {
    std::uint64_t diff = 0;
    std::size_t k = 0;
#if MIVO_HAMMING_AVX2
    if (have_avx2()) {
        const std::uint64_t same = equal_units_avx2<1>(a, b, n, k);
        diff = k - same;
    }
#endif
#if MIVO_HAMMING_SSE2
    // Equal bytes counted per lane (at most 255 rounds), then summed.
    while (n - k >= 16) {
        __m128i equal = _mm_setzero_si128();
        const std::size_t rounds = std::min<std::size_t>((n - k) / 16, 255);
        for (std::size_t r = 0; r < rounds; ++r, k += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
            equal = _mm_sub_epi8(equal, _mm_cmpeq_epi8(x, y));
        }
        const __m128i sums = _mm_sad_epu8(equal, _mm_setzero_si128());
        // Two sums below 2^16, in the low 32 bits of each half.
        const auto same = static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
                          static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        diff += 16 * rounds - same;
    }
#endif
    // Eight bytes at a time: a byte of the exclusive or is nonzero when its
    // low seven bits plus 0x7F, or its own high bit, reach the high bit.
    for (; n - k >= 8; k += 8) {
        const std::uint64_t x = load64(a + k) ^ load64(b + k);
        const std::uint64_t nonzero = (((x & ~kHighBits) + ~kHighBits) | x) & kHighBits;
        diff += static_cast<std::uint64_t>(std::popcount(nonzero));
    }
    for (; k < n; ++k) diff += a[k] != b[k];
    return diff;
}

// The first bytes of a string's scalar values, in order, read 64 bytes at a
// time through a mask of the bytes that are not continuation bytes. Four
// bytes can be read at every position handed out (the last chunk is copied
// into a zero-padded buffer).
class ScalarStarts {
public:
    explicit ScalarStarts(std::string_view s)
        : data_(reinterpret_cast<const unsigned char*>(s.data())), size_(s.size()) {}

    const unsigned char* next() {
        while (mask_ == 0) refill();
        const int k = std::countr_zero(mask_);
        mask_ &= mask_ - 1;
        return chunk_ + k;
    }

private:
    void refill() {
        const std::size_t left = size_ - pos_;
        std::size_t valid = 64;
        if (left >= 64 + 3) {
            chunk_ = data_ + pos_;
        } else {
            valid = std::min<std::size_t>(left, 64);
            std::memset(tail_, 0, sizeof tail_);
            std::memcpy(tail_, data_ + pos_, std::min(left, sizeof tail_));
            chunk_ = tail_;
        }
        std::uint64_t continuation = 0;
#if MIVO_HAMMING_SSE2
        for (int q = 0; q < 4; ++q) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk_ + 16 * q));
            const __m128i cont = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xC0))),
                                                _mm_set1_epi8(static_cast<char>(0x80)));
            continuation |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(cont))) << (16 * q);
        }
#else
        for (int q = 0; q < 8; ++q) {
            const std::uint64_t w = load64(chunk_ + 8 * q);
            // High bit set and bit 6 clear: 10xxxxxx.
            continuation |= static_cast<std::uint64_t>(high_bits_of_bytes(w & ~(w << 1) & kHighBits)) << (8 * q);
        }
#endif
        mask_ = ~continuation;
        if (valid < 64) mask_ &= (std::uint64_t{1} << valid) - 1;
        pos_ += valid;
    }

    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    const unsigned char* chunk_ = nullptr;
    std::uint64_t mask_ = 0;
    unsigned char tail_[64 + 8];
};

// Masks of the bytes a scalar value takes, by the high four bits of its
// first byte, applied to four bytes loaded in memory order.
constexpr std::uint32_t sequence_mask(unsigned lead_high) {
    const unsigned len = lead_high < 0xC ? 1 : lead_high < 0xE ? 2 : lead_high == 0xE ? 3 : 4;
    const std::uint32_t low = len == 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * len)) - 1;
    if constexpr (std::endian::native == std::endian::little) return low;
    return len == 4 ? low : low << (32 - 8 * len);
}

constexpr std::uint32_t kSequenceMasks[16] = {
    sequence_mask(0),  sequence_mask(1),  sequence_mask(2),  sequence_mask(3), sequence_mask(4),  sequence_mask(5),
    sequence_mask(6),  sequence_mask(7),  sequence_mask(8),  sequence_mask(9), sequence_mask(10), sequence_mask(11),
    sequence_mask(12), sequence_mask(13), sequence_mask(14), sequence_mask(15)};

// Scalar values that differ between a and b, both n values long: two values
// are equal exactly when their UTF-8 sequences are, so the sequences are
// compared as masked four-byte words without decoding them.
std::uint64_t differing_scalars(std::string_view a, std::string_view b, std::size_t n) {
    ScalarStarts sa(a), sb(b);
    std::uint64_t diff = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const unsigned char* pa = sa.next();
        const unsigned char* pb = sb.next();
        std::uint32_t wa, wb;
        std::memcpy(&wa, pa, 4);
        std::memcpy(&wb, pb, 4);
        diff += ((wa ^ wb) & kSequenceMasks[*pa >> 4]) != 0;
    }
    return diff;
}

// Positions where the units of a and b (n each) differ, compared as values.
template <class A, class B>
std::uint64_t differing_units(const void* pa, const void* pb, std::size_t n) {
    const A* a = static_cast<const A*>(pa);
    const B* b = static_cast<const B*>(pb);
    std::uint64_t diff = 0;
    std::size_t k = 0;
#if MIVO_HAMMING_AVX2
    if constexpr (sizeof(A) == sizeof(B) && sizeof(A) > 1) {
        if (have_avx2()) {
            const std::uint64_t same = equal_units_avx2<sizeof(A)>(static_cast<const unsigned char*>(pa),
                                                                   static_cast<const unsigned char*>(pb), n, k);
            diff = k - same;
        }
    }
#endif
#if MIVO_HAMMING_SSE2
    if constexpr (sizeof(A) == sizeof(B) && sizeof(A) > 1) {
        // Equal units counted per lane in four accumulators, 16 or 32 bits
        // wide (at most 16383 rounds), then summed.
        constexpr std::size_t lanes = 16 / sizeof(A);
        auto count = [](__m128i acc, const A* x, const B* y) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
            return sizeof(A) == 2 ? _mm_sub_epi16(acc, _mm_cmpeq_epi16(u, v))
                                  : _mm_sub_epi32(acc, _mm_cmpeq_epi32(u, v));
        };
        while (n - k >= 4 * lanes) {
            __m128i e0 = _mm_setzero_si128(), e1 = e0, e2 = e0, e3 = e0;
            const std::size_t rounds = std::min<std::size_t>((n - k) / (4 * lanes), 16383);
            for (std::size_t r = 0; r < rounds; ++r, k += 4 * lanes) {
                e0 = count(e0, a + k, b + k);
                e1 = count(e1, a + k + lanes, b + k + lanes);
                e2 = count(e2, a + k + 2 * lanes, b + k + 2 * lanes);
                e3 = count(e3, a + k + 3 * lanes, b + k + 3 * lanes);
            }
            const __m128i sum = sizeof(A) == 2 ? _mm_add_epi16(_mm_add_epi16(e0, e1), _mm_add_epi16(e2, e3))
                                               : _mm_add_epi32(_mm_add_epi32(e0, e1), _mm_add_epi32(e2, e3));
            alignas(16) std::uint16_t counts[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(counts), sum);
            std::uint64_t same = 0;
            for (std::uint16_t c : counts) same += c;  // 32-bit lanes: the high halves are 0
            diff += 4 * lanes * rounds - same;
        }
    }
#endif
    for (; k < n; ++k) diff += static_cast<std::uint32_t>(a[k]) != static_cast<std::uint32_t>(b[k]);
    return diff;
}

template <class A>
std::uint64_t differing_units_to(const void* a, const void* b, unsigned width_b, std::size_t n) {
    if (width_b == 1) return differing_units<A, std::uint8_t>(a, b, n);
    if (width_b == 2) return differing_units<A, std::uint16_t>(a, b, n);
    return differing_units<A, std::uint32_t>(a, b, n);
}

}  // namespace

std::optional<std::uint64_t> hamming(FixedWidthText a, FixedWidthText b) {
    if (a.size != b.size) return std::nullopt;
    const std::size_t n = a.size;
    if (a.width == 1 && b.width == 1)
        return differing_bytes(static_cast<const unsigned char*>(a.data), static_cast<const unsigned char*>(b.data), n);
    if (a.width == 1) return differing_units_to<std::uint8_t>(a.data, b.data, b.width, n);
    if (a.width == 2) return differing_units_to<std::uint16_t>(a.data, b.data, b.width, n);
    return differing_units_to<std::uint32_t>(a.data, b.data, b.width, n);
}

std::optional<std::uint64_t> hamming(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    const auto* ua = reinterpret_cast<const unsigned char*>(a.data());
    const auto* ub = reinterpret_cast<const unsigned char*>(b.data());
    if (a.size() == b.size() && is_ascii(a) && is_ascii(b)) return differing_bytes(ua, ub, a.size());
    const std::size_t n = count_scalars(a);
    if (count_scalars(b) != n) return std::nullopt;
    return differing_scalars(a, b, n);
}

}  // namespace mivo::strings
