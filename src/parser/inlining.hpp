// Where the scan's code goes. Its hot path is inlined into one function, whose
// state then lives in registers; the rare paths stay out of it, so that they
// neither crowd its registers nor make it keep its state in memory. Inlined
// always, even unoptimised, a function compiled inside a kernel file is never
// emitted on its own, where the linker could hand a copy built for one
// instruction set to code that runs without it.
#pragma once

#if defined(_MSC_VER) && !defined(__clang__)
#define MARQUILL_HOT __forceinline
#define MARQUILL_COLD __declspec(noinline)
#else
#define MARQUILL_HOT inline __attribute__((always_inline))
#define MARQUILL_COLD __attribute__((noinline))
#endif
