// The x86 lane kernels (lane_kernels.hpp): AVX2 and AVX-512BW, which the
// dispatcher uses only where the processor has them.
#pragma once

#include "strings/lane_kernels.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(MIVO_STRINGS_PORTABLE_ONLY)
#define MIVO_LANES_X86 1
#else
#define MIVO_LANES_X86 0
#endif

#if MIVO_LANES_X86
namespace mivo::strings::lanes {

extern const KernelSet kAvx2Kernels;
extern const KernelSet kAvx512Kernels;
LaneKernel best_x86_lane_kernel();

}  // namespace mivo::strings::lanes
#endif
