#include <gtest/gtest.h>

#include "unit/AllocationCounter.h"
#include "unit/ProcessorTestAccess.h"

#include <cmath>
#include <limits>
#include <random>

// What hosts do that the plug-in contract does not allow, or that only some hosts
// do: blocks longer than announced, bypass, and samples that are not audio.

using namespace orvane::test;
namespace id = orvane::ParamIDs;

namespace
{
    constexpr double fs = 48000.0;

    juce::AudioBuffer<float> noise (int channels, int numSamples, unsigned int seed)
    {
        std::mt19937 rng (seed);
        std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
        juce::AudioBuffer<float> b (channels, numSamples);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < numSamples; ++i)
                b.setSample (ch, i, dist (rng));
        return b;
    }

    // Settings that exercise every stage, with the 8x oversampler.
    void engageEverything (OrvaneChannelProcessor& p)
    {
        setParam (p, id::hpfFreq, 80.0f);
        setParam (p, id::mfGain, 6.0f);
        setParam (p, id::compOn, 1.0f);
        setParam (p, id::compThresh, -20.0f);
        setParam (p, id::bloomMode, 1.0f);
        setParam (p, id::silkTexture, 80.0f);
        setParam (p, id::monoMakerHz, 120.0f);
        setParam (p, id::osRealtime, 3.0f);
    }

    float largestDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int from = 0)
    {
        float d = 0.0f;
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            for (int i = from; i < a.getNumSamples(); ++i)
                d = std::max (d, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));
        return d;
    }
}

TEST (HostContract, BlocksLongerThanAnnouncedAreProcessedAsIfSplit)
{
    constexpr int prepared = 256;
    const auto input = noise (2, prepared * 8 * 3, 11);

    // The reference: a host that keeps its word.
    OrvaneChannelProcessor reference;
    engageEverything (reference);
    reference.prepareToPlay (fs, prepared);
    const auto expected = runBlocks (reference, input, prepared);

    for (int factor : { 2, 8 })
    {
        SCOPED_TRACE ("blocks of " + std::to_string (factor) + "x the announced size");
        OrvaneChannelProcessor p;
        engageEverything (p);
        p.prepareToPlay (fs, prepared);

        juce::AudioBuffer<float> out (input);
        juce::MidiBuffer midi;
        {
            AllocationCounter counter;
            for (int start = 0; start < out.getNumSamples(); start += prepared * factor)
            {
                juce::AudioBuffer<float> view (out.getArrayOfWritePointers(), 2, start, prepared * factor);
                p.processBlock (view, midi);
            }
            EXPECT_EQ (counter.getCount(), 0);
        }

        // Parameters and meters are updated per piece instead of per host block; with
        // settings standing still the audio is the same.
        EXPECT_EQ (largestDifference (out, expected), 0.0f);

        // Both rings advanced by every sample the host sent.
        EXPECT_EQ (p.meterState->outputRingPos.load(), (input.getNumSamples()) & MeterState::ringMask);
        EXPECT_EQ (p.meterState->silkRingPos.load(), (input.getNumSamples()) & MeterState::ringMask);
    }
}

TEST (HostContract, BypassDelaysTheDrySignalByTheLatency)
{
    for (float os : { 0.0f, 1.0f, 2.0f, 3.0f })
    {
        SCOPED_TRACE ("osRealtime index " + std::to_string (static_cast<int> (os)));
        OrvaneChannelProcessor p;
        setParam (p, id::osRealtime, os);
        p.prepareToPlay (fs, 128);
        const auto latency = p.getLatencySamples();

        const auto input = noise (2, 1024, 5);
        juce::AudioBuffer<float> out (input);
        juce::MidiBuffer midi;
        for (int start = 0; start < out.getNumSamples(); start += 128)
        {
            juce::AudioBuffer<float> view (out.getArrayOfWritePointers(), 2, start, 128);
            p.processBlockBypassed (view, midi);
        }

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < out.getNumSamples(); ++i)
                ASSERT_EQ (out.getSample (ch, i), i < latency ? 0.0f : input.getSample (ch, i - latency))
                    << "channel " << ch << ", sample " << i;
    }
}

TEST (HostContract, SwitchingBypassWhilePlayingKeepsTime)
{
    // Processed, bypassed, processed again. While bypassed the output is the input of
    // latency samples ago; once processing resumes it is exactly what an instance that
    // was never bypassed produces, so neither switch jumps in time or glitches.
    constexpr int block = 64;
    constexpr int blocksPerSection = 32;
    const auto input = noise (2, block * blocksPerSection * 3, 21);

    OrvaneChannelProcessor p, neverBypassed;
    engageEverything (p);
    engageEverything (neverBypassed);
    setParam (p, id::osRealtime, 1.0f);
    setParam (neverBypassed, id::osRealtime, 1.0f);
    p.prepareToPlay (fs, block);
    neverBypassed.prepareToPlay (fs, block);
    const auto latency = p.getLatencySamples();
    ASSERT_GT (latency, 0);

    const auto reference = runBlocks (neverBypassed, input, block);
    juce::AudioBuffer<float> out (input);
    juce::MidiBuffer midi;

    for (int b = 0; b < input.getNumSamples() / block; ++b)
    {
        juce::AudioBuffer<float> view (out.getArrayOfWritePointers(), 2, b * block, block);
        if (b / blocksPerSection == 1)
            p.processBlockBypassed (view, midi);
        else
            p.processBlock (view, midi);
    }

    const int bypassStart = block * blocksPerSection;
    const int bypassEnd = 2 * bypassStart;
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < out.getNumSamples(); ++i)
        {
            const bool bypassed = i >= bypassStart && i < bypassEnd;
            const auto expected = bypassed ? input.getSample (ch, i - latency) : reference.getSample (ch, i);
            ASSERT_EQ (out.getSample (ch, i), expected) << "channel " << ch << ", sample " << i;
        }
}

TEST (HostContract, NonFiniteInputNeverPoisonsTheChain)
{
    struct Case { const char* what; float value; };
    const std::vector<Case> cases {
        { "NaN", std::numeric_limits<float>::quiet_NaN() },
        { "+Inf", std::numeric_limits<float>::infinity() },
        { "-Inf", -std::numeric_limits<float>::infinity() },
        { "denormal", std::numeric_limits<float>::denorm_min() },
    };

    constexpr int block = 256;
    const auto input = noise (2, block * 200, 3);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        OrvaneChannelProcessor damaged, fresh;
        engageEverything (damaged);
        engageEverything (fresh);
        damaged.prepareToPlay (fs, block);
        fresh.prepareToPlay (fs, block);

        // The damaged host sends one bad block (a few bad samples in it), then audio again.
        juce::AudioBuffer<float> bad (2, block);
        bad.clear();
        for (int i = 0; i < block; i += 37)
            bad.setSample (i % 2, i, c.value);

        juce::MidiBuffer midi;
        damaged.processBlock (bad, midi);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < block; ++i)
                ASSERT_TRUE (std::isfinite (bad.getSample (ch, i)));

        // From the next block on: finite at once, and after the filters have settled
        // the output matches an instance that never saw the bad block.
        const auto out = runBlocks (damaged, input, block);
        const auto expected = runBlocks (fresh, input, block);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < out.getNumSamples(); ++i)
                ASSERT_TRUE (std::isfinite (out.getSample (ch, i)));

        // The slowest memory in the chain is the compressor's slow release (4 x 200 ms)
        // and the 8 Hz DC blocker; after 0.9 s they have forgotten the bad block.
        const int settled = static_cast<int> (0.9 * fs);
        EXPECT_LT (largestDifference (out, expected, settled), 1.0e-4f);
    }
}
