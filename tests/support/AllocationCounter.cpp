#include "AllocationCounter.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
// Plain thread-locals of the executable: reading them never allocates.
thread_local bool counting = false;
thread_local int allocations = 0;

void noteAllocation() {
    if (counting) {
        ++allocations;
    }
}
} // namespace

AllocationCounter::AllocationCounter() : start_(allocations) {
    counting = true;
}
AllocationCounter::~AllocationCounter() {
    counting = false;
}
int AllocationCounter::count() const {
    return allocations - start_;
}
AllocationCounter::Pause::Pause() : was_(counting) {
    counting = false;
}
AllocationCounter::Pause::~Pause() {
    counting = was_;
}

#if defined(__SANITIZE_ADDRESS__)
#define VQ_SANITIZER_OWNS_MALLOC 1
#elif defined(__SANITIZE_THREAD__)
#define VQ_SANITIZER_OWNS_MALLOC 1
#define VQ_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VQ_SANITIZER_OWNS_MALLOC 1
#elif __has_feature(thread_sanitizer)
#define VQ_SANITIZER_OWNS_MALLOC 1
#define VQ_THREAD_SANITIZER 1
#endif
#endif

#ifdef VQ_SANITIZER_OWNS_MALLOC

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void onMalloc(const volatile void*, size_t) {
    noteAllocation();
}
void onFree(const volatile void*) {}
// The hook sees malloc and operator new alike; installed before main.
[[maybe_unused]] const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
} // namespace

#ifdef VQ_THREAD_SANITIZER
// ThreadSanitizer runs no hook for the aligned C allocations: count them on the way to its own
// entry points.
extern "C" {
void* __interceptor_memalign(size_t alignment, size_t size);
void* __interceptor_aligned_alloc(size_t alignment, size_t size);
int __interceptor_posix_memalign(void** out, size_t alignment, size_t size);

void* memalign(size_t alignment, size_t size) {
    noteAllocation();
    return __interceptor_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    noteAllocation();
    return __interceptor_aligned_alloc(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    noteAllocation();
    return __interceptor_posix_memalign(out, alignment, size);
}
}
#endif

#else

// glibc's allocator under its own names; the entry points below count and hand on to it.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    noteAllocation();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    noteAllocation();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}
void free(void* p) {
    __libc_free(p);
}
}

// Every form of operator new ends in the counted malloc or aligned_alloc above, so each counts
// once whichever form the standard library would otherwise route elsewhere.
namespace {
void* allocate(size_t size) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* allocateAligned(size_t size, std::align_val_t alignment) {
    const auto a = static_cast<size_t>(alignment);
    // aligned_alloc wants a multiple of the alignment.
    const size_t rounded = (size + a - 1) / a * a;
    if (void* p = std::aligned_alloc(a, rounded == 0 ? a : rounded)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace

void* operator new(size_t size) {
    return allocate(size);
}
void* operator new[](size_t size) {
    return allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return allocateAligned(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return allocateAligned(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}

#endif
