// Which kernels the processor runs, and the fastest of them, found once.
#include <cstdint>
#include <string_view>

#include "parser/kernel.hpp"
#include "parser/kernels/targets.hpp"

#if MARQUILL_X86_KERNELS
#if defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#else
#include <cpuid.h>
#endif
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
// The processor is asked directly, with CPUID and XGETBV, rather than through
// the compiler's runtime (__builtin_cpu_supports), which some C libraries
// leave without the answers (a static musl build by zig saw no AVX at all): every
// compiler and C library then chooses the same kernel on the same processor.
struct CpuidLeaf {
    uint32_t eax, ebx, ecx, edx;
};

#if defined(_MSC_VER) && !defined(__clang__)
CpuidLeaf cpuid(uint32_t leaf) noexcept {
    int registers[4];
    __cpuidex(registers, static_cast<int>(leaf), 0);
    return {static_cast<uint32_t>(registers[0]), static_cast<uint32_t>(registers[1]),
            static_cast<uint32_t>(registers[2]), static_cast<uint32_t>(registers[3])};
}
// The register states the system saves (XCR0); only once CPUID says OSXSAVE.
uint64_t saved_states() noexcept { return _xgetbv(0); }
#else
CpuidLeaf cpuid(uint32_t leaf) noexcept {
    CpuidLeaf registers{};
    __cpuid_count(leaf, 0, registers.eax, registers.ebx, registers.ecx, registers.edx);
    return registers;
}
// Inline assembly, as _xgetbv would need the file compiled for XSAVE.
uint64_t saved_states() noexcept {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t{high} << 32) | low;
}
#endif

constexpr bool has(uint32_t bits, int bit) { return ((bits >> bit) & 1) != 0; }

struct X86Features {
    bool avx2;    // with BMI1 and BMI2, and the system saving the YMM registers
    bool avx512;  // F, BW and VL, and the system saving the ZMM and mask registers
};

X86Features detect() noexcept {
    if (cpuid(0).eax < 7) return {false, false};
    const uint32_t features1 = cpuid(1).ecx;
    const bool osxsave = has(features1, 27), avx = has(features1, 28);
    if (!osxsave || !avx) return {false, false};
    const uint64_t states = saved_states();
    const bool ymm = (states & 0x6) == 0x6;    // SSE and AVX state
    const bool zmm = (states & 0xe6) == 0xe6;  // and the opmask and both halves of every ZMM register
    const uint32_t features7 = cpuid(7).ebx;
    const bool avx2 = has(features7, 5), bmi1 = has(features7, 3), bmi2 = has(features7, 8);
    const bool avx512 = has(features7, 16) && has(features7, 30) && has(features7, 31);  // F, BW, VL
    const bool runsAvx2 = ymm && avx2 && bmi1 && bmi2;
    return {runsAvx2, runsAvx2 && zmm && avx512};
}
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
