#include "unit/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
    // Per thread, so that a framework thread allocating in the background does not
    // make a measurement on the test thread fail.
    thread_local int activeCounters = 0;
    thread_local long allocationCount = 0;

    void* allocate (std::size_t size)
    {
        if (activeCounters > 0)
            ++allocationCount;

        if (auto* p = std::malloc (size == 0 ? 1 : size))
            return p;

        throw std::bad_alloc();
    }

    void* allocateAligned (std::size_t size, std::align_val_t alignment)
    {
        if (activeCounters > 0)
            ++allocationCount;

        const auto align = static_cast<std::size_t> (alignment);
        const auto rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;

        if (auto* p = std::aligned_alloc (align, rounded))
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
}

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void* operator new (std::size_t size, std::align_val_t alignment) { return allocateAligned (size, alignment); }
void* operator new[] (std::size_t size, std::align_val_t alignment) { return allocateAligned (size, alignment); }

void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}

void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}

void* operator new (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    try { return allocateAligned (size, alignment); } catch (...) { return nullptr; }
}

void* operator new[] (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    try { return allocateAligned (size, alignment); } catch (...) { return nullptr; }
}

void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free (p); }
