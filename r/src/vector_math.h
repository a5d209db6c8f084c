// What the program's build gives the probability kernels, which a package's
// Makevars cannot pass: -O3 (R's usual -O2 leaves them at half the speed)
// and -fno-math-errno -fno-trapping-math (errno is never read and
// floating-point traps are off, so square roots, divisions and selections can
// go into vector lanes). None of them changes a value. tools/r_package.sh
// includes this in the kernels' sources, after strict_fp.h.
#ifndef SELQUANT_VECTOR_MATH_H
#define SELQUANT_VECTOR_MATH_H
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3", "no-math-errno", "no-trapping-math")
#endif
#endif
