#pragma once

// Compiles a loop twice, for baseline x86-64 and for AVX2, and picks one version when the
// library is loaded, from one check of the processor. The library stays loadable on any
// x86-64 and uses eight-lane instructions where the processor has them. Both versions perform
// the same IEEE operations in the same order, so the output bits do not depend on the choice.
//
// The choice is an ordinary function pointer set while the library's globals are
// initialised, not an indirect function resolved by the dynamic linker: Windows' loader has
// no such thing, and one mechanism on both systems means the path Windows takes is the one
// Linux tests take. A call through the pointer costs what a call through the linker's table
// did, and it allocates, locks and asks the system nothing.
//
// Usage, in a .cpp:
//     DYNAMICS_VECTOR_LOOP void gainsForLoop(const float* in, float* out, int32_t count) {...}
//     const auto gainsFor = dynamics::chosenAtLoad<gainsForLoop>();
//
// DYNAMICS_BASELINE_ONLY builds the baseline version alone, so tests can cover it too.

#if defined(__x86_64__) && !defined(DYNAMICS_BASELINE_ONLY)
#define DYNAMICS_HAS_AVX2_VERSION 1
#else
#define DYNAMICS_HAS_AVX2_VERSION 0
#endif

// The loop is inlined into each version, so each is compiled for its own instruction set.
#define DYNAMICS_VECTOR_LOOP [[gnu::always_inline]] inline

namespace dynamics {

namespace multiversion_detail {

template <auto loop, class Signature = decltype(loop)>
struct Versions;

template <auto loop, class Result, class... Arguments>
struct Versions<loop, Result (*)(Arguments...)> {
    static Result baseline(Arguments... arguments) { return loop(arguments...); }
#if DYNAMICS_HAS_AVX2_VERSION
    [[gnu::target("avx2")]] static Result avx2(Arguments... arguments) { return loop(arguments...); }
#endif
};

// True when the processor and the operating system (which must save the wide registers
// across thread switches) both support AVX2.
inline bool processorHasAvx2() {
#if DYNAMICS_HAS_AVX2_VERSION
    // The check may run before the runtime's own initialisation of the processor model.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace multiversion_detail

// The version of `loop` for this processor. Call it once, to initialise a global.
template <auto loop>
auto chosenAtLoad() {
    using Versions = multiversion_detail::Versions<loop>;
#if DYNAMICS_HAS_AVX2_VERSION
    if (multiversion_detail::processorHasAvx2()) return &Versions::avx2;
#endif
    return &Versions::baseline;
}

}  // namespace dynamics
