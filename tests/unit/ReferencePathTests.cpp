// The optimised signal path against the straightforward one it replaced
// (tests/reference): for every factory preset and oversampling factor, and for
// random settings that move while audio plays, the two must agree to 1e-6
// (-120 dBFS) on every output sample.

#include <gtest/gtest.h>

#include "presets/FactoryPresets.h"
#include "reference/ReferenceChain.h"
#include "unit/DspTestUtils.h"
#include "unit/ProcessorTestAccess.h"

#include <cmath>

using namespace orvane::test;
namespace id = orvane::ParamIDs;

namespace
{
    constexpr float tolerance = 1.0e-6f;

    // Quiet passages, loud ones and a hot burst, so that the compressor runs below,
    // inside and above its knee and the saturator is driven hard.
    juce::AudioBuffer<float> programme (int numChannels, int numSamples, double sampleRate, int seed)
    {
        auto b = testSignal (numChannels, numSamples, sampleRate, seed);
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < numSamples; ++i)
            {
                const auto t = i / sampleRate;
                constexpr double swellHz = 1.7; // a few swells per second
                const auto envelope = 0.05 + 1.6 * std::pow (std::sin (juce::MathConstants<double>::pi * swellHz * t), 2.0);
                b.setSample (ch, i, static_cast<float> (b.getSample (ch, i) * envelope));
            }
        return b;
    }

    struct Session
    {
        double sampleRate = 48000.0;
        int numChannels = 2;
        int maxBlock = 128;
        bool varyBlocks = false;
        double seconds = 1.0;
    };

    struct Comparison
    {
        float difference; ///< the largest difference between the two outputs
        float peak;       ///< the reference's largest output magnitude
    };

    // Drives the processor and the reference block by block with the same
    // parameters; `beforeBlock` may change them (on the processor, which both read).
    Comparison compare (OrvaneChannelProcessor& p, const Session& run,
                             const std::function<void (int block)>& beforeBlock = {})
    {
        reference::Chain chain (p.valueTreeState);
        p.setPlayConfigDetails (run.numChannels, run.numChannels, run.sampleRate, run.maxBlock);
        p.prepareToPlay (run.sampleRate, run.maxBlock);
        chain.prepare (run.sampleRate, run.numChannels, run.maxBlock, p.isNonRealtime());

        const auto total = static_cast<int> (run.seconds * run.sampleRate);
        auto optimised = programme (run.numChannels, total, run.sampleRate, 7);
        auto straightforward = optimised;

        juce::Random sizes (11);
        juce::MidiBuffer midi;
        int block = 0;

        for (int start = 0; start < total; ++block)
        {
            if (beforeBlock)
                beforeBlock (block);

            const auto n = std::min (total - start, run.varyBlocks ? 1 + sizes.nextInt (run.maxBlock) : run.maxBlock);
            juce::AudioBuffer<float> a (optimised.getArrayOfWritePointers(), run.numChannels, start, n);
            juce::AudioBuffer<float> b (straightforward.getArrayOfWritePointers(), run.numChannels, start, n);
            p.processBlock (a, midi);
            chain.process (b);
            start += n;
        }

        EXPECT_EQ (p.getLatencySamples(), chain.getLatencySamples());
        float peak = 0.0f;
        for (int ch = 0; ch < run.numChannels; ++ch)
            peak = std::max (peak, straightforward.getMagnitude (ch, 0, total));

        return { maxDifference (optimised, straightforward), peak };
    }

    const char* const factorNames[] = { "Off", "2x", "4x", "8x" };
}

TEST (ReferencePath, EveryPresetAtEveryFactor)
{
    const auto presets = FactoryPresets::getPresets();

    for (int preset = 0; preset < static_cast<int> (presets.size()); ++preset)
        for (int factor = 0; factor < 4; ++factor)
        {
            OrvaneChannelProcessor p;
            FactoryPresets::apply (p, p.valueTreeState, preset);
            setParam (p, id::osRealtime, static_cast<float> (factor));

            // Halfway through, the controls move, so that the glides, ramps and
            // recomputations run as well as the steady state.
            const auto result = compare (p, {}, [&] (int block)
            {
                if (block == 180)
                {
                    setParam (p, id::inputGain, rawParam (p, id::inputGain) + 4.0f);
                    setParam (p, id::mfGain, rawParam (p, id::mfGain) - 5.0f);
                    setParam (p, id::hfGain, rawParam (p, id::hfGain) + 3.0f);
                    setParam (p, id::compThresh, rawParam (p, id::compThresh) - 8.0f);
                    setParam (p, id::silkTexture, 75.0f);
                }
            });

            EXPECT_LE (result.difference, tolerance) << presets[(size_t) preset].name << " at " << factorNames[factor]
                                                     << ", peak " << result.peak;
        }
}

TEST (ReferencePath, RandomSettingsMovingWhilePlaying)
{
    // Each case: a rate, a layout and a block pattern; every parameter gets a new
    // random value every 40 blocks, switches and choices included.
    const Session runs[] = {
        { 44100.0, 2, 128, false, 1.5 },
        { 48000.0, 1, 256, false, 1.5 },
        { 96000.0, 2, 512, true, 1.0 },
        { 22050.0, 2, 64, true, 1.5 },
        { 192000.0, 1, 1024, true, 0.5 },
    };

    int seed = 1;
    for (const auto& run : runs)
        for (int factor = 0; factor < 4; ++factor, ++seed)
        {
            OrvaneChannelProcessor p;
            juce::Random random (seed);

            const auto result = compare (p, run, [&] (int block)
            {
                if (block % 40 != 0)
                    return;

                for (auto* param : p.getParameters())
                    if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (param);
                        ranged != nullptr && ranged->isAutomatable())
                        ranged->setValueNotifyingHost (random.nextFloat());

                // Keep the level sane and the factor under test.
                setParam (p, id::inputGain, juce::jlimit (-12.0f, 12.0f, rawParam (p, id::inputGain)));
                setParam (p, id::osRealtime, static_cast<float> (factor));
            });

            // Random settings reach +30 dBFS and more, where a float's own resolution
            // is coarser than 1e-6: there the bound is 120 dB below the signal's peak.
            EXPECT_LE (result.difference, tolerance * std::max (1.0f, result.peak))
                << "peak " << result.peak << ", " << run.sampleRate << " Hz, " << run.numChannels << " channels, "
                                              << factorNames[factor];
        }
}
