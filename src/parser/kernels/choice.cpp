// Which kernels the processor runs, and the fastest of them, found once.
#include <string_view>

#include "parser/kernel.hpp"
#include "parser/kernels/targets.hpp"

#if MARQUILL_X86_KERNELS && defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace marquill {

extern const Kernel portableKernel;
#if MARQUILL_X86_KERNELS
extern const Kernel avx512Kernel, avx2Kernel, sse2Kernel;
#endif
#if MARQUILL_NEON_KERNEL
extern const Kernel neonKernel;
#endif

namespace {

#if MARQUILL_X86_KERNELS
struct X86Features {
    bool avx2;    // with BMI1 and BMI2, and the system saving the YMM registers
    bool avx512;  // F, BW and VL, and the system saving the ZMM and mask registers
};

#if defined(_MSC_VER) && !defined(__clang__)
X86Features detect() noexcept {
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7) return {false, false};
    __cpuid(info, 1);
    const bool osxsave = (info[2] & (1 << 27)) != 0;
    const bool avx = (info[2] & (1 << 28)) != 0;
    if (!osxsave || !avx) return {false, false};
    const unsigned long long xcr0 = _xgetbv(0);
    __cpuidex(info, 7, 0);
    const auto has = [&](int bit) { return (info[1] & (1 << bit)) != 0; };
    const bool ymm = (xcr0 & 0x6) == 0x6;
    const bool zmm = (xcr0 & 0xe6) == 0xe6;
    const bool avx2 = ymm && has(5) && has(3) && has(8);
    return {avx2, avx2 && zmm && has(16) && has(30) && has(31)};
}
#else
// The compiler's runtime checks the system's register support as well.
X86Features detect() noexcept {
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return {avx2, avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512vl")};
}
#endif
#endif

KernelList find_runnable() noexcept {
    KernelList list{{}, 0};
#if MARQUILL_X86_KERNELS
    const X86Features features = detect();
    if (features.avx512) list.items[list.count++] = &avx512Kernel;
    if (features.avx2) list.items[list.count++] = &avx2Kernel;
    list.items[list.count++] = &sse2Kernel;
#endif
#if MARQUILL_NEON_KERNEL
    list.items[list.count++] = &neonKernel;
#endif
    list.items[list.count++] = &portableKernel;
    return list;
}

}  // namespace

KernelList runnable_kernels() noexcept {
    static const KernelList list = find_runnable();
    return list;
}

const Kernel& best_kernel() noexcept {
    static const Kernel& best = *runnable_kernels().items[0];
    return best;
}

const Kernel* runnable_kernel(std::string_view name) noexcept {
    for (const Kernel* kernel : runnable_kernels()) {
        if (name == kernel->name) return kernel;
    }
    return nullptr;
}

}  // namespace marquill
