#pragma once

#include <cfenv>
#ifdef _WIN32
#include <xmmintrin.h>
#endif

namespace testing_support {

// Unmasks division by zero, invalid operations and overflow, as debug hosts do, so that
// one of them in a module stops the program. Windows' C library has no feenableexcept;
// there the SSE unit's mask is cleared, as it does all of x86-64's float and double
// arithmetic.
inline void unmaskFloatingPointExceptions() {
#ifdef _WIN32
    _mm_setcsr(_mm_getcsr() & ~(_MM_EXCEPT_MASK | _MM_MASK_DIV_ZERO | _MM_MASK_INVALID | _MM_MASK_OVERFLOW));
#else
    feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
#endif
}

inline void maskFloatingPointExceptions() {
#ifdef _WIN32
    _mm_setcsr(_mm_getcsr() | _MM_MASK_MASK);
#else
    fedisableexcept(FE_ALL_EXCEPT);
#endif
}

}  // namespace testing_support
