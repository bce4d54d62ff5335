// The one replacement of the global operator new and delete in this test binary,
// and, outside sanitizer builds, of the C allocation functions (the framework's
// HeapBlock and Array allocate with malloc and realloc). Every replacement forwards
// to the ordinary allocator; it counts only while an AllocationCounter is alive on
// the calling thread.

#include "unit/AllocationCounter.h"

#include <algorithm>
#include <cstdlib>
#include <new>

// Sanitizer runtimes own malloc and friends; there only operator new is replaced.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define ORVANE_HOOK_MALLOC 0
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  #define ORVANE_HOOK_MALLOC 0
 #endif
#endif
#ifndef ORVANE_HOOK_MALLOC
 #define ORVANE_HOOK_MALLOC 1
#endif

#if ORVANE_HOOK_MALLOC
// glibc's own entry points, which the replacements forward to.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);
extern "C" void* __libc_memalign (std::size_t, std::size_t);
#endif

namespace
{
    // Per thread, so that a framework thread allocating in the background does not
    // make a measurement on the test thread fail.
    thread_local int activeCounters = 0;
    thread_local long allocationCount = 0;

    inline void noteAllocation() noexcept
    {
        if (activeCounters > 0)
            ++allocationCount;
    }

    // The uncounted allocators, so that one operator new counts once.
    void* rawMalloc (std::size_t size) noexcept
    {
#if ORVANE_HOOK_MALLOC
        return __libc_malloc (size);
#else
        return std::malloc (size);
#endif
    }

    void* rawAlignedMalloc (std::size_t alignment, std::size_t size) noexcept
    {
#if ORVANE_HOOK_MALLOC
        return __libc_memalign (alignment, size);
#else
        void* p = nullptr;
        return posix_memalign (&p, alignment, size) == 0 ? p : nullptr;
#endif
    }

    void* allocateOrThrow (std::size_t size)
    {
        noteAllocation();
        if (auto* p = rawMalloc (size == 0 ? 1 : size))
            return p;
        throw std::bad_alloc();
    }

    void* allocateAlignedOrThrow (std::size_t size, std::align_val_t alignment)
    {
        noteAllocation();
        const auto align = std::max (static_cast<std::size_t> (alignment), sizeof (void*));
        if (auto* p = rawAlignedMalloc (align, size == 0 ? 1 : size))
            return p;
        throw std::bad_alloc();
    }
}

namespace orvane::test
{
    AllocationCounter::AllocationCounter() noexcept : startCount (allocationCount)
    {
        ++activeCounters;
    }

    AllocationCounter::~AllocationCounter()
    {
        --activeCounters;
    }

    long AllocationCounter::getCount() const noexcept
    {
        return allocationCount - startCount;
    }

    bool AllocationCounter::seesMalloc() noexcept
    {
        return ORVANE_HOOK_MALLOC != 0;
    }
}

void* operator new (std::size_t size) { return allocateOrThrow (size); }
void* operator new[] (std::size_t size) { return allocateOrThrow (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { noteAllocation(); return rawMalloc (size == 0 ? 1 : size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { noteAllocation(); return rawMalloc (size == 0 ? 1 : size); }
void* operator new (std::size_t size, std::align_val_t a) { return allocateAlignedOrThrow (size, a); }
void* operator new[] (std::size_t size, std::align_val_t a) { return allocateAlignedOrThrow (size, a); }
void* operator new (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    try { return allocateAlignedOrThrow (size, a); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    try { return allocateAlignedOrThrow (size, a); } catch (...) { return nullptr; }
}

void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free (p); }

#if ORVANE_HOOK_MALLOC
extern "C" void* malloc (std::size_t size) { noteAllocation(); return __libc_malloc (size); }
extern "C" void* calloc (std::size_t n, std::size_t size) { noteAllocation(); return __libc_calloc (n, size); }
extern "C" void* realloc (void* p, std::size_t size) { noteAllocation(); return __libc_realloc (p, size); }
extern "C" void* aligned_alloc (std::size_t alignment, std::size_t size) { noteAllocation(); return __libc_memalign (alignment, size); }
extern "C" void* memalign (std::size_t alignment, std::size_t size) { noteAllocation(); return __libc_memalign (alignment, size); }
extern "C" int posix_memalign (void** out, std::size_t alignment, std::size_t size)
{
    noteAllocation();
    if (alignment % sizeof (void*) != 0 || (alignment & (alignment - 1)) != 0)
        return 22; // EINVAL
    auto* p = __libc_memalign (alignment, size);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
#endif
