// The two-lane oversampler against the framework's own polyphase IIR oversampler
// with the same settings (maximum quality, whole-sample latency): the same design,
// so the same numbers, bit for bit, up and down, for every factor, stereo and mono,
// blocks of changing size, with a reset in the middle.

#include <gtest/gtest.h>

#include "dsp/PolyphaseOversampler.h"

namespace
{
    constexpr size_t maxBlock = 256;
}

TEST (PolyphaseOversampler, ComputesWhatTheFrameworksOversamplerComputes)
{
    for (int stages = 1; stages <= 3; ++stages)
        for (size_t channels = 1; channels <= 2; ++channels)
        {
            juce::dsp::Oversampling<float> framework (channels, static_cast<size_t> (stages),
                                                      juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR,
                                                      true, true);
            framework.initProcessing (maxBlock);

            PolyphaseOversampler ours;
            ours.prepare (stages, maxBlock);

            EXPECT_EQ (ours.getLatencyInSamples(), framework.getLatencyInSamples()) << stages << " stages";
            ASSERT_EQ (ours.getFactor(), framework.getOversamplingFactor());

            juce::Random random (stages * 10 + static_cast<int> (channels));
            juce::AudioBuffer<float> a (static_cast<int> (channels), static_cast<int> (maxBlock));
            juce::AudioBuffer<float> b (a.getNumChannels(), a.getNumSamples());
            size_t upDifferences = 0, downDifferences = 0;

            for (int block = 0; block < 60; ++block)
            {
                if (block == 30)
                {
                    framework.reset();
                    ours.reset();
                }

                const auto n = static_cast<size_t> (1 + random.nextInt (static_cast<int> (maxBlock)));
                for (int ch = 0; ch < a.getNumChannels(); ++ch)
                    for (size_t i = 0; i < n; ++i)
                        a.setSample (ch, static_cast<int> (i), random.nextFloat() * 2.0f - 1.0f);
                b.makeCopyOf (a, true);

                juce::dsp::AudioBlock<float> frameworkBlock (a.getArrayOfWritePointers(), channels, n);
                auto frameworkUp = framework.processSamplesUp (frameworkBlock);

                auto* left = b.getWritePointer (0);
                auto* right = channels > 1 ? b.getWritePointer (1) : left;
                auto* up = ours.processUp (left, right, n);

                for (size_t i = 0; i < n * ours.getFactor(); ++i)
                    for (size_t ch = 0; ch < channels; ++ch)
                        upDifferences += frameworkUp.getSample (static_cast<int> (ch), static_cast<int> (i)) != up[2 * i + ch];

                framework.processSamplesDown (frameworkBlock);
                ours.processDown (left, right, n);

                for (int ch = 0; ch < a.getNumChannels(); ++ch)
                    for (size_t i = 0; i < n; ++i)
                        downDifferences += a.getSample (ch, static_cast<int> (i)) != b.getSample (ch, static_cast<int> (i));
            }

            EXPECT_EQ (upDifferences, 0u) << stages << " stages, " << channels << " channels";
            EXPECT_EQ (downDifferences, 0u) << stages << " stages, " << channels << " channels";
        }
}
