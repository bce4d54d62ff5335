#include "unit/AllocationCounter.h"

// Replaces the global operator new and delete (all forms) and, outside sanitizer
// builds, interposes the C allocation functions too, because the framework's
// HeapBlock and Array allocate with malloc and realloc. Every replacement forwards
// to the ordinary allocator and only counts while a counter is alive on the calling
// thread.

#include <algorithm>
#include <cstdlib>
#include <new>

#if ORVANE_HOOK_MALLOC
// glibc's own entry points, which the replacements forward to, so that an operator
// new is counted once and not again by the malloc it calls.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);
extern "C" void* __libc_memalign (std::size_t, std::size_t);
#endif

namespace
{
    void* rawMalloc (std::size_t size) noexcept
    {
       #if ORVANE_HOOK_MALLOC
        return __libc_malloc (size);
       #else
        return std::malloc (size);
       #endif
    }

    // Per thread, so that a framework thread allocating in the background does not
    // make a measurement on the test thread fail.
    thread_local int activeCounters = 0;
    thread_local long allocationCount = 0;

    inline void noteAllocation() noexcept
    {
        if (activeCounters > 0)
            ++allocationCount;
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
       #if ORVANE_HOOK_MALLOC
        if (auto* p = __libc_memalign (align, size == 0 ? 1 : size))
            return p;
       #else
        void* p = nullptr;
        if (posix_memalign (&p, align, size == 0 ? 1 : size) == 0)
            return p;
       #endif
        throw std::bad_alloc();
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
}
