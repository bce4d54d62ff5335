// No allocation on the audio thread: this test source replaces the global operator
// new and delete and, outside sanitizer builds, interposes the C allocation functions
// (the framework's HeapBlock and Array allocate with malloc and realloc). Every
// replacement forwards to the ordinary allocator; it counts only while the counting
// flag of the calling thread is set, which the test sets around processBlock alone.

#include <gtest/gtest.h>

#include "unit/ProcessorTestAccess.h"

#include <atomic>
#include <cstdlib>
#include <new>

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

namespace
{
    thread_local bool countingOnThisThread = false;
    std::atomic<long> allocationCount { 0 };

    inline void noteAllocation() noexcept
    {
        if (countingOnThisThread)
            allocationCount.fetch_add (1, std::memory_order_relaxed);
    }

    void* allocateOrThrow (std::size_t size)
    {
        noteAllocation();
        if (auto* p = std::malloc (size == 0 ? 1 : size))
            return p;
        throw std::bad_alloc();
    }

    void* allocateAlignedOrThrow (std::size_t size, std::align_val_t alignment)
    {
        noteAllocation();
        const auto align = std::max (static_cast<std::size_t> (alignment), sizeof (void*));
        void* p = nullptr;
        if (posix_memalign (&p, align, size == 0 ? 1 : size) == 0)
            return p;
        throw std::bad_alloc();
    }

    /** Counts the allocations of the calling thread while alive. */
    struct AllocationCounter
    {
        AllocationCounter() { allocationCount = 0; countingOnThisThread = true; }
        ~AllocationCounter() { countingOnThisThread = false; }
        long count() const { return allocationCount.load(); }
    };
}

void* operator new (std::size_t size) { return allocateOrThrow (size); }
void* operator new[] (std::size_t size) { return allocateOrThrow (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { noteAllocation(); return std::malloc (size == 0 ? 1 : size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { noteAllocation(); return std::malloc (size == 0 ? 1 : size); }
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
// glibc's own entry points, which these definitions forward to.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);
extern "C" void* __libc_memalign (std::size_t, std::size_t);

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

using namespace orvane::test;
namespace id = orvane::ParamIDs;

TEST (NoAllocation, TheCounterSeesAllocations)
{
    AllocationCounter counter;
    auto* p = new int (3);
    delete p;
    std::vector<float> v (100);
    EXPECT_GE (counter.count(), 2);
#if ORVANE_HOOK_MALLOC
    juce::HeapBlock<float> heap (64);
    EXPECT_GE (counter.count(), 3);
#endif
}

TEST (NoAllocation, ProcessBlockAllocatesNothing)
{
    for (bool mono : { false, true })
    {
        SCOPED_TRACE (mono ? "mono" : "stereo");
        OrvaneChannelProcessor p;
        if (mono)
            ASSERT_TRUE (p.setBusesLayout ({ { juce::AudioChannelSet::mono() }, { juce::AudioChannelSet::mono() } }));
        OrvaneChannelProcessorTestAccess::setStandInLatencies (p, { 0, 3, 6, 9 });
        const int channels = mono ? 1 : 2;
        p.prepareToPlay (48000.0, 512);

        juce::AudioBuffer<float> buffer (channels, 512);
        juce::AudioBuffer<float> empty (channels, 0);
        juce::MidiBuffer midi;
        const auto signal = testSignal (channels, 512, 48000.0);

        // Parameter changes between the blocks (on this thread, outside the measured scope)
        // make every per-block path run: recomputation, glides, ramps, order and section
        // switches, polarity, oversampling choice and latency re-reporting.
        const std::vector<std::vector<std::pair<const char*, float>>> steps {
            {},
            { { id::hpfFreq, 80 }, { id::lfGain, 6 }, { id::mfGain, -4 }, { id::hfGain, 3 }, { id::compOn, 1 },
              { id::compThresh, -25 }, { id::compScHpf, 90 }, { id::compLink, 1 } },
            { { id::mfFreq, 3000 }, { id::inputGain, 6 }, { id::outputGain, -8 }, { id::polarity, 1 } },
            { { id::compPreEq, 1 }, { id::osRealtime, 0 }, { id::tmtChannel, 17 }, { id::lfFreqHi, 1 } },
            { { id::eqOn, 0 }, { id::outputGain, -60 }, { id::osRealtime, 3 }, { id::bloomMode, 2 } },
            { { id::eqOn, 1 }, { id::compOn, 0 }, { id::stWidth, 150 }, { id::monoMakerHz, 120 } },
            { { id::hpfFreq, 20 }, { id::compRelease, 60 }, { id::compMakeup, 12 }, { id::hfFreqHi, 1 } },
        };

        long total = 0;
        for (int round = 0; round < 2; ++round)
            for (const auto& changes : steps)
            {
                for (const auto& [param, value] : changes)
                    setParam (p, param, value);
                p.setNonRealtime (round == 1);

                for (int block = 0; block < 4; ++block)
                {
                    buffer.makeCopyOf (signal, true);
                    {
                        AllocationCounter counter;
                        p.processBlock (buffer, midi);
                        p.processBlock (empty, midi);
                        total += counter.count();
                    }
                }
            }

        EXPECT_EQ (total, 0);
        EXPECT_EQ (p.getCurrentOsIndex(), 3);
    }
}
