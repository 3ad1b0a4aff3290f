// Linked into the program itself (never into a library, nor into a sanitizer build, whose
// runtime owns these functions): the program's malloc family and pthread_mutex_lock come
// first in symbol lookup, so every module library's calls pass through here and are
// counted while a process() call is watched.

#include <dlfcn.h>
#include <pthread.h>

#include <cstddef>

#include "validate/realtime_monitor.h"

// The program is built with hidden visibility; these must be seen by the libraries it loads.
#pragma GCC visibility push(default)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);

using ovm::validate::realtime::record;

void* malloc(std::size_t size) {
    record(0);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    record(0);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
    record(0);
    return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
    record(0);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    record(0);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    record(0);
    void* memory = __libc_memalign(alignment, size);
    if (memory == nullptr) return 12;  // ENOMEM
    *result = memory;
    return 0;
}

void free(void* pointer) {
    if (pointer != nullptr) record(1);
    __libc_free(pointer);
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    // The C library's own, found once; the dynamic loader locks with its own functions.
    using Lock = int (*)(pthread_mutex_t*);
    static const auto next = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    record(2);
    return next(mutex);
}
}  // extern "C"
#pragma GCC visibility pop

namespace {
const bool installed = (ovm::validate::realtime::hooksInstalled(), true);
}  // namespace
