#include "gpu/soft/pixel_kernels.h"

#include <atomic>

namespace qor::gpu::soft {

extern const PixelKernels kBaselineKernels;
#if defined(NORVIK_HAVE_AVX2_KERNELS)
extern const PixelKernels kAvx2Kernels;
#endif

bool CpuRunsAvx2() {
#if defined(NORVIK_HAVE_AVX2_KERNELS)
    static const bool runs = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return runs;
#else
    return false;
#endif
}

const PixelKernels& Kernels(KernelSet set) {
#if defined(NORVIK_HAVE_AVX2_KERNELS)
    if (set == KernelSet::Avx2 && CpuRunsAvx2()) return kAvx2Kernels;
#else
    (void)set;
#endif
    return kBaselineKernels;
}

namespace {
std::atomic<const PixelKernels*> g_active {nullptr};
}  // namespace

const PixelKernels& ActiveKernels() {
    const PixelKernels* active = g_active.load(std::memory_order_acquire);
    return active != nullptr ? *active : Kernels(CpuRunsAvx2() ? KernelSet::Avx2 : KernelSet::Baseline);
}

void UseKernels(KernelSet set) { g_active.store(&Kernels(set), std::memory_order_release); }

}  // namespace qor::gpu::soft
