#pragma once

// Marks a host-side function that loops over samples as left out of the sanitizers' and the
// fuzzer's instrumentation: it touches only memory the host owns and checks, its
// comparisons would tell the fuzzer only about the host itself, and instrumented on every
// sample of every call it would cost more than the module under test. Never inlined, as the
// caller's instrumentation would apply to the inlined copy; for the same reason it calls no
// library function that is not a compiler builtin (std::bit_cast is not inlined into it,
// __builtin_bit_cast is).
#if defined(__clang__)
#define UNINSTRUMENTED __attribute__((no_sanitize("coverage", "address"), noinline))
#else
#define UNINSTRUMENTED
#endif
