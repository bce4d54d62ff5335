#pragma once

namespace orvane::test
{
    /**
        Counts heap allocations made on the current thread while it exists.

        This test binary replaces the global operator new (all its forms) and,
        outside sanitizer builds, malloc and its relatives with versions that count
        while a counter is active on the calling thread and otherwise behave like
        the standard ones. It is the only replacement in the binary: a
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

        /** Whether malloc and its relatives are counted as well as operator new (not
            in sanitizer builds, whose runtime owns them). */
        static bool seesMalloc() noexcept;

        AllocationCounter (const AllocationCounter&) = delete;
        AllocationCounter& operator= (const AllocationCounter&) = delete;

    private:
        long startCount;
    };
}
