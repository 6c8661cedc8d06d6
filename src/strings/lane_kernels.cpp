#include "strings/lane_kernels.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "strings/lane_kernels_x86.hpp"

namespace mivo::strings::lanes {
namespace portable {

// 16-byte vectors of plain lanes: loops that compilers turn into the
// processor's own vector instructions where it has them.
constexpr std::size_t kBytes = 16;
struct V {
    alignas(16) unsigned char b[kBytes];
};
#define MIVO_LANE_FN
#define MIVO_LANE_OP inline

template <class T, class F>
inline V lanewise(V a, V c, F f) {
    T x[kBytes / sizeof(T)], y[kBytes / sizeof(T)];
    std::memcpy(x, a.b, kBytes);
    std::memcpy(y, c.b, kBytes);
    for (std::size_t k = 0; k < kBytes / sizeof(T); ++k) x[k] = f(x[k], y[k]);
    V r;
    std::memcpy(r.b, x, kBytes);
    return r;
}

template <int E>
using Uint = std::conditional_t<
    E == 8, std::uint8_t,
    std::conditional_t<E == 16, std::uint16_t, std::conditional_t<E == 32, std::uint32_t, std::uint64_t>>>;

inline V vzero() { return V{}; }
inline V vones() {
    V r;
    std::memset(r.b, 0xFF, kBytes);
    return r;
}
inline V vload(const void* p) {
    V r;
    std::memcpy(r.b, p, kBytes);
    return r;
}
inline void vstore(void* p, V v) { std::memcpy(p, v.b, kBytes); }
template <int E>
inline V vset1(std::uint64_t x) {
    using T = Uint<E>;
    T lanes[kBytes / sizeof(T)];
    for (T& l : lanes) l = static_cast<T>(x);
    V r;
    std::memcpy(r.b, lanes, kBytes);
    return r;
}
inline V vand(V a, V c) {
    return lanewise<std::uint64_t>(a, c, [](auto x, auto y) { return x & y; });
}
inline V vor(V a, V c) {
    return lanewise<std::uint64_t>(a, c, [](auto x, auto y) { return x | y; });
}
inline V vxor(V a, V c) {
    return lanewise<std::uint64_t>(a, c, [](auto x, auto y) { return x ^ y; });
}
inline V vandnot(V a, V c) {
    return lanewise<std::uint64_t>(a, c, [](auto x, auto y) { return ~x & y; });
}
template <int E>
inline V vadd(V a, V c) {
    return lanewise<Uint<E>>(a, c, [](auto x, auto y) { return static_cast<Uint<E>>(x + y); });
}
template <int E>
inline V vsub(V a, V c) {
    return lanewise<Uint<E>>(a, c, [](auto x, auto y) { return static_cast<Uint<E>>(x - y); });
}
template <int E>
inline V vcmpeq(V a, V c) {
    return lanewise<Uint<E>>(a, c, [](auto x, auto y) { return static_cast<Uint<E>>(x == y ? ~Uint<E>{0} : 0); });
}
template <int E>
inline V vpopcnt(V a) {
    return lanewise<Uint<E>>(a, a, [](auto x, auto) { return static_cast<Uint<E>>(std::popcount(x)); });
}
inline V vsrl63(V a) {
    return lanewise<std::uint64_t>(a, a, [](auto x, auto) { return x >> 63; });
}

#include "strings/lane_kernels.inc"

#undef MIVO_LANE_FN
#undef MIVO_LANE_OP

}  // namespace portable

namespace {

constexpr KernelSet kPortableKernels{portable::kBytes, portable::edit_short_any, portable::edit_long_any,
                                     portable::jaro_short_any};

LaneKernel detect_best() {
#if MIVO_LANES_X86
    return best_x86_lane_kernel();
#else
    return LaneKernel::Portable;
#endif
}

}  // namespace

LaneKernel best_lane_kernel() {
    static const LaneKernel best = detect_best();
    return best;
}

bool lane_kernel_available(LaneKernel kernel) {
    return static_cast<int>(kernel) <= static_cast<int>(best_lane_kernel());
}

const KernelSet& lane_kernels(LaneKernel kernel) {
#if MIVO_LANES_X86
    switch (kernel) {
        case LaneKernel::Avx512: return kAvx512Kernels;
        case LaneKernel::Avx2: return kAvx2Kernels;
        case LaneKernel::Portable: break;
    }
#else
    (void)kernel;
#endif
    return kPortableKernels;
}

}  // namespace mivo::strings::lanes
