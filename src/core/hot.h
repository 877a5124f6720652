// Marks the few kernels where the calculations spend their time. On x86-64 they are compiled
// for the baseline instruction set and for processors with AVX2 (ORVEL_HOT), and also with
// AVX-512 where a kernel is long runs of arithmetic on wide vectors (ORVEL_HOT_WIDE); the
// loader picks one. Products and sums are never fused (-ffp-contract=off), so all give the same
// numbers. A kernel marked so calls nothing but inline code: calling code of the baseline set
// from a wide one costs a transition of the vector registers on every call.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ORVEL_HOT __attribute__((target_clones("arch=x86-64-v3", "default")))
#define ORVEL_HOT_WIDE __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define ORVEL_HOT
#define ORVEL_HOT_WIDE
#endif
