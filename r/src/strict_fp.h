// Floating-point expressions evaluated as written, with no multiply and add
// fused into one rounding: what the program's own build asks with
// -ffp-contract=off, which a package's Makevars cannot pass. Without it R's
// usual flags (GNU C++) let the compiler fuse them in the functions built for
// wider vector units, and the numbers would differ from the program's in the
// last bits. tools/r_package.sh includes this first in every engine source.
#ifndef SELQUANT_STRICT_FP_H
#define SELQUANT_STRICT_FP_H
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif
#endif
