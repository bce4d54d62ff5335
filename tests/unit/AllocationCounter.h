#pragma once

// The C allocation functions are interposed too, except under sanitizers, which
// provide their own.
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

namespace orvane::test
{
    /**
        Counts heap allocations made on the current thread while it exists.

        This test binary replaces the global operator new (all its forms) with one
        that counts while a counter is active on the calling thread and otherwise
        behaves like the standard one. It is the only replacement in the binary: a
        second one anywhere in the tests would clash at link time, so every
        allocation check goes through this class.

        @code
        orvane::test::AllocationCounter counter;
        stage.process (block);
        EXPECT_EQ (counter.getCount(), 0);
        @endcode
    */
    class AllocationCounter
    {
    public:
        /** Starts counting on this thread. Counters may nest; each sees the
            allocations made since it was created. */
        AllocationCounter() noexcept;

        /** Stops counting when the outermost counter ends. */
        ~AllocationCounter();

        /** Allocations on this thread since this counter was created. */
        long getCount() const noexcept;

        AllocationCounter (const AllocationCounter&) = delete;
        AllocationCounter& operator= (const AllocationCounter&) = delete;

    private:
        long startCount;
    };
}
