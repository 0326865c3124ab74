// Which kernels a build holds besides the portable one. The build system
// defines MARQUILL_X86_KERNELS on x86-64, where it compiles each x86 kernel
// file with that file's instruction set; NEON is in every AArch64 processor.
// MARQUILL_NO_SIMD leaves only the portable kernel.
#pragma once

#if defined(MARQUILL_NO_SIMD)
#undef MARQUILL_X86_KERNELS
#define MARQUILL_X86_KERNELS 0
#define MARQUILL_NEON_KERNEL 0
#else
#if !defined(MARQUILL_X86_KERNELS)
#define MARQUILL_X86_KERNELS 0
#endif
#if (defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_M_ARM64)
#define MARQUILL_NEON_KERNEL 1
#else
#define MARQUILL_NEON_KERNEL 0
#endif
#endif
