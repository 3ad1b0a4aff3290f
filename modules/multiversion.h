#pragma once

// Marks a loop function to be compiled twice, for baseline x86-64 and for AVX2, with the
// version chosen once when the library is loaded. The library stays loadable on any x86-64
// and uses eight-lane instructions where the processor has them. Both versions perform the
// same IEEE operations in the same order, so the output bits do not depend on the choice.
// DYNAMICS_BASELINE_ONLY builds the baseline version alone, so tests can cover it too.
// Mark only functions defined in a .cpp, not inline ones in a header: clang makes the
// version-choosing resolver a strong symbol, so two files including the header would not
// link together.
#if defined(__x86_64__) && !defined(DYNAMICS_BASELINE_ONLY)
#define DYNAMICS_MULTIVERSION [[gnu::target_clones("avx2", "default")]]
#else
#define DYNAMICS_MULTIVERSION
#endif
