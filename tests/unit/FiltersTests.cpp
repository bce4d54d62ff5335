#include <gtest/gtest.h>

#include "dsp/Filters.h"
#include "unit/DspTestUtils.h"

using namespace orvane::test;

TEST (HighPassFilter, FrequencyResponsesMatchTheBilinearButterworth)
{
    struct Case { double fs; float hpf; };
    const std::vector<Case> cases { { 44100, 20.6f }, { 48000, 80 }, { 48000, 250 }, { 96000, 120 },
                                    { 32000, 40 }, { 192000, 250 } };
    const std::vector<double> freqs { 10, 20, 31.5, 50, 80, 100, 120, 250, 500, 1000, 5000, 12000 };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("fs " + std::to_string (c.fs) + ", hpfFreq " + std::to_string (c.hpf));
        Filters filters;
        filters.prepare (c.fs, 2);
        filters.setHighPass (c.hpf);
        ASSERT_TRUE (filters.isHighPassOn());

        const auto h = impulseResponse ([&] (auto& block) { filters.process (block); }, 1 << 18, 2);
        for (auto f : freqs)
            EXPECT_NEAR (responseDb (h, f, c.fs), highPassMagnitudeDb (c.hpf, Filters::resonance, f, c.fs), 0.02) << f;

        // Butterworth: -3.01 dB at the cut-off.
        EXPECT_NEAR (responseDb (h, c.hpf, c.fs), -3.0103, 0.01);
    }
}

TEST (HighPassFilter, OnOffRuleAndCutOffClamp)
{
    Filters filters;
    filters.prepare (48000, 1);

    filters.setHighPass (20.0f);
    EXPECT_FALSE (filters.isHighPassOn());
    filters.setHighPass (20.5f);
    EXPECT_FALSE (filters.isHighPassOn());
    filters.setHighPass (20.6f);
    EXPECT_TRUE (filters.isHighPassOn());
    EXPECT_FLOAT_EQ (filters.getCutoffFrequency(), 20.6f);

    filters.setHighPass (5000.0f);
    EXPECT_FLOAT_EQ (filters.getCutoffFrequency(), 1000.0f);
    filters.setHighPass (3.0f);
    EXPECT_FALSE (filters.isHighPassOn());
    EXPECT_FLOAT_EQ (filters.getCutoffFrequency(), 10.0f);

    // Off: the block is not touched at all.
    filters.setHighPass (20.0f);
    juce::AudioBuffer<float> buffer (1, 256);
    for (int i = 0; i < 256; ++i)
        buffer.setSample (0, i, 0.25f + 0.001f * (float) i);
    juce::AudioBuffer<float> copy (buffer);
    juce::dsp::AudioBlock<float> block (buffer);
    filters.process (block);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ (buffer.getSample (0, i), copy.getSample (0, i));
}

TEST (HighPassFilter, StatesStandStillWhileOffAndAreKeptWhenSwitchedOn)
{
    // Reference: on all the time, fed a DC step in two halves.
    Filters a, b;
    for (auto* f : { &a, &b })
    {
        f->prepare (44100, 1);
        f->setHighPass (100.0f);
    }

    auto run = [] (Filters& f, float value, int n)
    {
        juce::AudioBuffer<float> buffer (1, n);
        for (int i = 0; i < n; ++i)
            buffer.setSample (0, i, value);
        juce::dsp::AudioBlock<float> block (buffer);
        f.process (block);
        return buffer;
    };

    run (a, 1.0f, 300);
    run (b, 1.0f, 300);

    // b is off for a while (its states stand still), then on again: it continues exactly where a does.
    b.setHighPass (20.0f);
    const auto passed = run (b, 0.5f, 1000);
    EXPECT_EQ (passed.getSample (0, 999), 0.5f);
    b.setHighPass (100.0f);

    const auto ya = run (a, 1.0f, 200);
    const auto yb = run (b, 1.0f, 200);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ (ya.getSample (0, i), yb.getSample (0, i)) << i;
}

TEST (HighPassFilter, PrepareZeroesStatesAndHandlesFewerOrMoreChannels)
{
    Filters f;
    f.setHighPass (200.0f);
    f.prepare (48000, 1);

    // A stereo block on a mono-prepared filter: channel 0 filtered, channel 1 untouched.
    juce::AudioBuffer<float> buffer (2, 64);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 64; ++i)
            buffer.setSample (ch, i, 1.0f);
    juce::dsp::AudioBlock<float> block (buffer);
    f.process (block);
    EXPECT_LT (buffer.getSample (0, 63), 1.0f);
    EXPECT_EQ (buffer.getSample (1, 63), 1.0f);

    // After a second prepare the first sample of a step is h * x, as from zero states.
    f.prepare (48000, 2);
    juce::AudioBuffer<float> step (2, 1);
    step.setSample (0, 0, 1.0f);
    step.setSample (1, 0, 1.0f);
    juce::dsp::AudioBlock<float> sb (step);
    f.process (sb);
    const double g = std::tan (pi * 200.0 / 48000.0), r2 = 1.0 / Filters::resonance;
    EXPECT_NEAR (step.getSample (0, 0), 1.0 / (1.0 + r2 * g + g * g), 1.0e-6);
    EXPECT_EQ (step.getSample (0, 0), step.getSample (1, 0));
}

TEST (Filters, SameNumbersAsTheFrameworksStateVariableFilter)
{
    // Two channels in one register must change nothing: bit for bit the framework's
    // filter, mono and stereo, while the cut-off moves between blocks.
    for (int channels = 1; channels <= 2; ++channels)
    {
        Filters ours;
        ours.prepare (48000.0, channels);

        juce::dsp::StateVariableTPTFilter<float> framework;
        framework.setType (juce::dsp::StateVariableTPTFilterType::highpass);
        framework.setResonance (Filters::resonance);
        framework.prepare ({ 48000.0, 512, static_cast<juce::uint32> (channels) });

        juce::Random random (channels);
        juce::AudioBuffer<float> a (channels, 300), b (channels, 300);
        int differences = 0;

        for (int blockIndex = 0; blockIndex < 40; ++blockIndex)
        {
            const auto cutoff = 25.0f + 900.0f * random.nextFloat();
            ours.setHighPass (cutoff);
            framework.setCutoffFrequency (cutoff);

            for (int ch = 0; ch < channels; ++ch)
                for (int i = 0; i < a.getNumSamples(); ++i)
                    a.setSample (ch, i, random.nextFloat() * 2.0f - 1.0f);
            b.makeCopyOf (a, true);

            juce::dsp::AudioBlock<float> blockA (a), blockB (b);
            ours.process (blockA);
            framework.process (juce::dsp::ProcessContextReplacing<float> (blockB));

            for (int ch = 0; ch < channels; ++ch)
                for (int i = 0; i < a.getNumSamples(); ++i)
                    differences += a.getSample (ch, i) != b.getSample (ch, i);
        }

        EXPECT_EQ (differences, 0) << channels << " channels";
    }
}
