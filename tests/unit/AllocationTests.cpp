// No allocation on the audio thread: processBlock runs with an AllocationCounter
// alive on the calling thread, which sees operator new and, outside sanitizer
// builds, malloc and its relatives (see AllocationCounter.cpp).

#include <gtest/gtest.h>

#include "unit/AllocationCounter.h"
#include "unit/ProcessorTestAccess.h"

#include <set>
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

TEST (NoAllocation, WholeChainAtEveryOversamplingFactorAndWhileSwitching)
{
    // Every stage engaged, the Silk stage at its heaviest ("Air" at 100 %).
    const std::vector<std::pair<const char*, float>> engaged {
        { id::hpfFreq, 90 }, { id::lfGain, 4 }, { id::mfGain, 6 }, { id::hfGain, -3 }, { id::compOn, 1 },
        { id::compThresh, -24 }, { id::compScHpf, 60 }, { id::bloomMode, 1 }, { id::silkTexture, 100 },
        { id::tmtChannel, 33 }, { id::stWidth, 160 }, { id::monoMakerHz, 140 }, { id::inputGain, 3 },
    };

    // The factor for each block while playing: every change between the four.
    const std::vector<int> factors { 0, 1, 2, 3, 2, 1, 0, 3, 1, 3, 0, 2, 0 };

    for (bool mono : { false, true })
        for (int prepared = 0; prepared <= 3; ++prepared)
        {
            SCOPED_TRACE (std::string (mono ? "mono" : "stereo") + ", prepared at osRealtime " + std::to_string (prepared));
            OrvaneChannelProcessor p;
            if (mono)
                ASSERT_TRUE (p.setBusesLayout ({ { juce::AudioChannelSet::mono() }, { juce::AudioChannelSet::mono() } }));
            const int channels = mono ? 1 : 2;

            for (const auto& [param, value] : engaged)
                setParam (p, param, value);
            setParam (p, id::osRealtime, (float) prepared);
            p.prepareToPlay (48000.0, 512);
            ASSERT_EQ (p.getCurrentOsIndex(), prepared);

            juce::AudioBuffer<float> buffer (channels, 512);
            juce::MidiBuffer midi;
            const auto signal = testSignal (channels, 512, 48000.0);
            long total = 0;
            std::set<int> latencies;

            const auto play = [&] (int blocks)
            {
                for (int block = 0; block < blocks; ++block)
                {
                    buffer.makeCopyOf (signal, true);
                    AllocationCounter counter;
                    p.processBlock (buffer, midi);
                    total += counter.getCount();
                }
                latencies.insert (p.getLatencySamples());
            };

            // Some blocks at the prepared factor, then a switch before every few blocks,
            // with the mode changing too.
            play (3);
            for (size_t i = 0; i < factors.size(); ++i)
            {
                setParam (p, id::osRealtime, (float) factors[i]);
                setParam (p, id::bloomMode, (float) (i % 3));
                play (i % 2 == 0 ? 1 : 3);
                ASSERT_EQ (p.getCurrentOsIndex(), factors[i]);
            }

            // Offline rendering switches through osOffline.
            p.setNonRealtime (true);
            for (int offline : { 4, 1, 3, 2, 0 })
            {
                setParam (p, id::osOffline, (float) offline);
                play (2);
            }
            p.setNonRealtime (false);

            EXPECT_EQ (total, 0);
            EXPECT_GE (latencies.size(), 3u); // the factors really changed: 0, 4 and 6 samples at 48 kHz
        }
}
