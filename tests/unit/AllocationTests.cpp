// No allocation on the audio thread: processBlock runs with an AllocationCounter
// alive on the calling thread, which sees operator new and, outside sanitizer
// builds, malloc and its relatives (see AllocationCounter.cpp).

#include <gtest/gtest.h>

#include "unit/AllocationCounter.h"
#include "unit/ProcessorTestAccess.h"

#include <cstdlib>

using namespace orvane::test;
namespace id = orvane::ParamIDs;

TEST (NoAllocation, TheCounterSeesAllocations)
{
    AllocationCounter counter;
    // A direct call: a new-expression paired with its delete may be optimised away.
    auto* p = ::operator new (16);
    ::operator delete (p);
    std::vector<float> v (100);
    EXPECT_GE (counter.getCount(), 2);
    if (AllocationCounter::seesMalloc())
    {
        // The framework's HeapBlock calls malloc. Called through a pointer the
        // optimiser cannot see through: it may remove an unused malloc and free pair.
        void* (*volatile cAllocate) (std::size_t) = std::malloc;
        std::free (cAllocate (64));
        EXPECT_GE (counter.getCount(), 3);
    }
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
                        total += counter.getCount();
                    }
                }
            }

        EXPECT_EQ (total, 0);
        EXPECT_EQ (p.getCurrentOsIndex(), 3);
    }
}
