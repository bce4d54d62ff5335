#include <gtest/gtest.h>

#include "dsp/CompressorLimiter.h"
#include "unit/DspTestUtils.h"

#include <cmath>

using namespace orvane::test;

namespace
{
    constexpr double fs = 44100.0;

    // Feeds a constant (DC) value per channel for a number of samples, in 512-sample blocks,
    // and returns the last block.
    juce::AudioBuffer<float> feed (CompressorLimiter& c, std::vector<float> values, int samples, int blockSize = 512)
    {
        const auto numChannels = static_cast<int> (values.size());
        juce::AudioBuffer<float> buffer (numChannels, blockSize);
        for (int done = 0; done < samples; done += blockSize)
        {
            const auto n = std::min (blockSize, samples - done);
            buffer.setSize (numChannels, n, false, false, true);
            for (int ch = 0; ch < numChannels; ++ch)
                for (int i = 0; i < n; ++i)
                    buffer.setSample (ch, i, values[static_cast<size_t> (ch)]);
            juce::dsp::AudioBlock<float> block (buffer);
            c.process (block);
        }
        return buffer;
    }

    int last (const juce::AudioBuffer<float>& b) { return b.getNumSamples() - 1; }

    double reductionDb (float out, float in) { return -20.0 * std::log10 ((double) out / (double) in); }

    // Inverse of the static curve (slope 0.5) for reductions above 0: dB over the threshold.
    double overFromReduction (double gr)
    {
        return gr >= 2.5 ? gr / 0.5 : std::sqrt (gr * 20.0 / 0.5) - 5.0;
    }
}

TEST (Compressor, StaticCurveFromSteadyLevels)
{
    // A DC level v gives a detector level of exactly 20 log10(v).
    constexpr float v = 0.5f;
    const double level = 20.0 * std::log10 ((double) v);

    struct Point { double over, reduction; };
    const std::vector<Point> curve { { -20.0, 0.0 }, { -5.5, 0.0 }, { -5.0, 0.0 }, { -2.5, 0.15625 },
                                     { 0.0, 0.625 }, { 2.5, 1.40625 }, { 5.0, 2.5 }, { 15.0, 7.5 }, { 30.0, 15.0 } };

    for (const auto& p : curve)
    {
        SCOPED_TRACE ("over " + std::to_string (p.over));
        CompressorLimiter c;
        c.prepare (fs);
        c.setParameters (static_cast<float> (level - p.over), 200.0f, 0.0f, false, 0.0f);
        const auto out = feed (c, { v }, static_cast<int> (3 * fs));
        EXPECT_NEAR (reductionDb (out.getSample (0, out.getNumSamples() - 1), v), p.reduction, 1.0e-3);
        EXPECT_NEAR (CompressorLimiter::gainReductionForOver (static_cast<float> (p.over)), p.reduction, 1.0e-5);

        // The smoothed outputs settle on the same value (0.7 / 0.3 per block).
        EXPECT_NEAR (c.getGainReductionDb(), p.reduction, 1.0e-3);
        EXPECT_NEAR (c.getGainReductionChannel0Db(), p.reduction, 1.0e-3);
        EXPECT_NEAR (c.getGainReductionChannel1Db(), p.reduction, 1.0e-3); // mono: copy of channel 0
    }

    // Below the knee the gain is exactly 1: the signal passes bit for bit.
    CompressorLimiter c;
    c.prepare (fs);
    c.setParameters (static_cast<float> (level + 5.5), 200.0f, 0.0f, false, 0.0f);
    const auto out = feed (c, { v }, 44100);
    for (int i = 0; i < out.getNumSamples(); ++i)
        ASSERT_EQ (out.getSample (0, i), v);
    EXPECT_EQ (c.getGainReductionDb(), 0.0f);
}

TEST (Compressor, ThresholdOffsetShiftsTheCurve)
{
    CompressorLimiter c;
    c.prepare (fs);
    c.setTolerance (-0.2f, 1.0f);
    // Level -6.0206, threshold -6.0206 + 0.2 - 0.2 offset: exactly at the effective threshold.
    const double level = 20.0 * std::log10 (0.5);
    c.setParameters (static_cast<float> (level + 0.2), 200.0f, 0.0f, false, 0.0f);
    const auto out = feed (c, { 0.5f }, static_cast<int> (3 * fs));
    EXPECT_NEAR (reductionDb (out.getSample (0, last (out)), 0.5f), 0.625, 1.0e-3);
}

TEST (Compressor, FullScaleSineAtTheDefaultThresholdIsUntouched)
{
    CompressorLimiter c;
    c.prepare (48000);
    c.setParameters (20.0f, 200.0f, 0.0f, true, 0.0f);
    juce::AudioBuffer<float> buffer (2, 48000);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 48000; ++i)
            buffer.setSample (ch, i, (float) std::sin (2 * pi * 1000 * i / 48000.0));
    juce::AudioBuffer<float> copy (buffer);
    juce::dsp::AudioBlock<float> block (buffer);
    c.process (block);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 48000; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), copy.getSample (ch, i));
    EXPECT_EQ (c.getGainReductionDb(), 0.0f);
}

TEST (Compressor, TimeConstantsFollowTheSettings)
{
    // A one-pole coefficient c has time constant tau when c^(tau fs) = 1/e. The
    // coefficients are floats just below 1, good to about 0.03 % in tau.
    constexpr double rate = 48000.0;
    const auto timeConstant = [] (float c) { return -1.0 / (rate * std::log ((double) c)); };
    const auto near = [] (double value, double expected) { return std::abs (value / expected - 1.0) < 5.0e-4; };

    CompressorLimiter c;
    c.prepare (rate);
    c.setTolerance (0.1f, 1.02f);
    c.setParameters (-10.0f, 100.0f, 6.0f, true, 80.0f);
    EXPECT_PRED2 (near, timeConstant (c.getAttackCoefficient()), 0.020);
    EXPECT_PRED2 (near, timeConstant (c.getDetectorCoefficient()), 0.010);
    EXPECT_PRED2 (near, timeConstant (c.getFastReleaseCoefficient()), 0.102); // 100 ms x 1.02
    EXPECT_PRED2 (near, timeConstant (c.getSlowReleaseCoefficient()), 0.408); // four times slower
    // The detector high-pass: k = e^(-2 pi f / fs), so -ln k fs / 2 pi is its frequency.
    EXPECT_PRED2 (near, -std::log ((double) c.getSideChainCoefficient()) * rate / (2 * pi), 80.0);
    EXPECT_NEAR (c.getMakeupGain(), 1.9952623, 1.0e-6); // +6 dB
    EXPECT_TRUE (c.isLinked());

    // A new release multiplier recomputes the release coefficients at once.
    c.setTolerance (0.1f, 0.98f);
    EXPECT_PRED2 (near, timeConstant (c.getFastReleaseCoefficient()), 0.098);

    // The release time times the multiplier is floored at 1 ms.
    c.setParameters (-10.0f, 0.5f, 0.0f, false, 0.0f);
    EXPECT_PRED2 (near, timeConstant (c.getFastReleaseCoefficient()), 0.001);
    EXPECT_FALSE (c.isLinked());

    // Before the first prepare the compressor runs at 44.1 kHz, linked, threshold +20 dB.
    CompressorLimiter fresh;
    EXPECT_PRED2 (near, -1.0 / (44100.0 * std::log ((double) fresh.getAttackCoefficient())), 0.020);
    EXPECT_TRUE (fresh.isLinked());
    EXPECT_EQ (fresh.getThresholdDb(), 20.0f);
}

TEST (Compressor, TwoStageReleaseAfterABurst)
{
    // Left: a loud burst, then silence. Right: a probe 60 dB down that never compresses by
    // itself; linked, its gain shows the left channel's reduction sample by sample.
    constexpr float threshold = -30.0f, release = 200.0f, probe = 1.0e-3f;
    CompressorLimiter c;
    c.prepare (fs);
    c.setParameters (threshold, release, 0.0f, true, 0.0f);
    feed (c, { 1.0f, probe }, static_cast<int> (2 * fs));
    ASSERT_NEAR (c.getEnvelope (0), 1.0f, 1.0e-4f);

    const int total = static_cast<int> (1.6 * fs);
    juce::AudioBuffer<float> buffer (2, total);
    for (int i = 0; i < total; ++i)
    {
        buffer.setSample (0, i, 0.0f);
        buffer.setSample (1, i, probe);
    }
    juce::dsp::AudioBlock<float> whole (buffer);
    for (int start = 0; start < total; start += 512)
    {
        auto sub = whole.getSubBlock ((size_t) start, (size_t) std::min (512, total - start));
        c.process (sub);
    }

    // Continuous-time model: the detector (10 ms on the square, so 20 ms on the RMS)
    // feeds a 200 ms fast envelope (60 %) and an 800 ms slow one (40 %).
    const auto cascade = [] (double tMs, double tau, double detector)
    {
        return (tau * std::exp (-tMs / tau) - detector * std::exp (-tMs / detector)) / (tau - detector);
    };

    for (double tMs : { 100.0, 200.0, 400.0, 700.0, 1000.0, 1500.0 })
    {
        SCOPED_TRACE ("t = " + std::to_string (tMs) + " ms");
        const auto i = static_cast<int> (tMs * 0.001 * fs);
        const auto gr = reductionDb (buffer.getSample (1, i), probe);
        const auto envelope = std::pow (10.0, (overFromReduction (gr) + threshold) / 20.0);
        const auto expected = 0.6 * cascade (tMs, release, 20.0) + 0.4 * cascade (tMs, 4.0 * release, 20.0);
        EXPECT_NEAR (envelope / expected, 1.0, 0.01);

        // A single-stage release at the release time would be far below.
        if (tMs >= 700.0)
            EXPECT_GT (envelope, 5.0 * cascade (tMs, release, 20.0));
    }
}

TEST (Compressor, LinkedAndUnlinkedOnALeftOnlySignal)
{
    constexpr float probe = 1.0e-3f;

    for (bool linked : { false, true })
    {
        SCOPED_TRACE (linked ? "linked" : "unlinked");
        CompressorLimiter c;
        c.prepare (fs);
        c.setParameters (-30.0f, 200.0f, 0.0f, linked, 0.0f);
        const auto out = feed (c, { 1.0f, probe }, static_cast<int> (2 * fs));

        const auto grLeft = reductionDb (out.getSample (0, last (out)), 1.0f);
        EXPECT_NEAR (grLeft, 15.0, 1.0e-3);
        EXPECT_NEAR (c.getGainReductionChannel0Db(), 15.0, 1.0e-3);
        EXPECT_NEAR (c.getGainReductionDb(), 15.0, 1.0e-3);

        if (linked)
        {
            EXPECT_NEAR (reductionDb (out.getSample (1, last (out)), probe), grLeft, 1.0e-4);
            EXPECT_NEAR (c.getGainReductionChannel1Db(), 15.0, 1.0e-3);
        }
        else
        {
            for (int i = 0; i < out.getNumSamples(); ++i)
                ASSERT_EQ (out.getSample (1, i), probe);
            EXPECT_EQ (c.getGainReductionChannel1Db(), 0.0f);
        }
    }
}

TEST (Compressor, SideChainHighPassSwitchesOnAboveTenHertz)
{
    // A DC signal 20 dB over the threshold: seen by an unfiltered detector, removed from a filtered one.
    for (float scHz : { 0.0f, 10.0f, 11.0f, 150.0f })
    {
        SCOPED_TRACE ("compScHpf " + std::to_string (scHz));
        CompressorLimiter c;
        c.prepare (fs);
        c.setParameters (-20.0f, 200.0f, 0.0f, false, scHz);
        const bool filtered = scHz > 10.0f;
        EXPECT_EQ (c.isSideChainFilterOn(), filtered);

        const auto out = feed (c, { 1.0f }, static_cast<int> (8 * fs));
        if (filtered)
        {
            // The detector filter never touches the audio: DC passes bit for bit once the
            // envelope of the switch-on transient has gone.
            for (int i = 0; i < out.getNumSamples(); ++i)
                ASSERT_EQ (out.getSample (0, i), 1.0f);
            EXPECT_NEAR (c.getGainReductionDb(), 0.0f, 1.0e-6f);
        }
        else
        {
            EXPECT_NEAR (reductionDb (out.getSample (0, last (out)), 1.0f), 10.0, 1.0e-3);
        }
    }

    // The coefficient is recomputed only while the filter is on.
    CompressorLimiter c;
    c.prepare (fs);
    c.setParameters (0.0f, 200.0f, 0.0f, false, 50.0f);
    const auto k = c.getSideChainCoefficient();
    c.setParameters (0.0f, 200.0f, 0.0f, false, 5.0f);
    EXPECT_EQ (c.getSideChainCoefficient(), k);
}

TEST (Compressor, MakeUpGainScalesTheCompressedSignal)
{
    for (float makeup : { -6.0f, 0.0f, 6.0f, 20.0f })
    {
        CompressorLimiter c;
        c.prepare (fs);
        c.setParameters (20.0f, 200.0f, makeup, false, 0.0f);
        const auto out = feed (c, { 0.25f }, 4096);
        EXPECT_EQ (out.getSample (0, 100), 0.25f * juce::Decibels::decibelsToGain (makeup));

        // With reduction: make-up times the reduced gain (15 dB of reduction here).
        CompressorLimiter d;
        d.prepare (fs);
        d.setParameters (-30.0f, 200.0f, makeup, false, 0.0f);
        const auto reduced = feed (d, { 1.0f }, static_cast<int> (2 * fs));
        EXPECT_NEAR (reductionDb (reduced.getSample (0, last (reduced)), 1.0f), 15.0 - makeup, 1.0e-3);
    }
}

TEST (Compressor, HundredDecibelsOfReductionIsExactSilence)
{
    // 1e9 is 180 dBFS: 210 dB over a -30 dB threshold, 105 dB of reduction.
    CompressorLimiter c;
    c.prepare (fs);
    c.setParameters (-30.0f, 200.0f, 20.0f, false, 0.0f);
    const auto out = feed (c, { 1.0e9f }, static_cast<int> (fs));
    for (int i = 0; i < out.getNumSamples(); ++i)
    {
        ASSERT_EQ (std::fpclassify (out.getSample (0, i)), FP_ZERO);
    }
    // The reported reduction is clamped to 40 dB.
    for (int i = 0; i < 100; ++i)
        feed (c, { 1.0e9f }, 512);
    EXPECT_NEAR (c.getGainReductionDb(), 40.0f, 1.0e-4f);

    // Just under 100 dB of reduction (99.8 dB) the gain is small but not zero.
    CompressorLimiter d;
    d.prepare (fs);
    d.setParameters (-30.0f, 200.0f, 0.0f, false, 0.0f);
    const auto near = feed (d, { 3.0e8f }, static_cast<int> (fs));
    EXPECT_GT (near.getSample (0, last (near)), 0.0f);
    EXPECT_NEAR (reductionDb (near.getSample (0, last (near)), 3.0e8f), 0.5 * (20 * std::log10 (3.0e8) + 30), 1.0e-2);
}

TEST (Compressor, SilenceAndEmptyBlocks)
{
    CompressorLimiter c;
    c.prepare (fs);
    c.setParameters (-30.0f, 200.0f, 0.0f, true, 0.0f);

    // A silent detector reads -120 dB: no reduction, silence stays silence.
    const auto silent = feed (c, { 0.0f, 0.0f }, 4096);
    EXPECT_EQ (silent.getSample (0, 0), 0.0f);
    EXPECT_EQ (c.getGainReductionDb(), 0.0f);

    feed (c, { 1.0f, 1.0f }, static_cast<int> (fs));
    const auto before = c.getGainReductionDb();
    ASSERT_GT (before, 10.0f);

    // Empty blocks (no samples, or no channels) let the outputs decay by 0.7 per block.
    juce::AudioBuffer<float> empty (2, 0);
    juce::dsp::AudioBlock<float> emptyBlock (empty);
    c.process (emptyBlock);
    EXPECT_FLOAT_EQ (c.getGainReductionDb(), 0.7f * before);
    juce::AudioBuffer<float> none (0, 64);
    juce::dsp::AudioBlock<float> noneBlock (none);
    c.process (noneBlock);
    EXPECT_FLOAT_EQ (c.getGainReductionDb(), 0.49f * before);
    EXPECT_FLOAT_EQ (c.getGainReductionChannel1Db(), c.getGainReductionChannel0Db());

    // prepare zeroes states and outputs.
    c.prepare (fs);
    EXPECT_EQ (c.getGainReductionDb(), 0.0f);
    EXPECT_EQ (c.getGainReductionChannel0Db(), 0.0f);
    EXPECT_EQ (c.getGainReductionChannel1Db(), 0.0f);
    EXPECT_EQ (c.getEnvelope (0), 0.0f);
    EXPECT_EQ (c.getEnvelope (1), 0.0f);
}

TEST (Compressor, MonoBlockCopiesChannelZeroIntoChannelOne)
{
    CompressorLimiter c;
    c.prepare (fs);
    c.setParameters (-30.0f, 200.0f, 0.0f, false, 0.0f);
    feed (c, { 0.5f }, static_cast<int> (fs));
    EXPECT_GT (c.getGainReductionChannel0Db(), 5.0f);
    EXPECT_EQ (c.getGainReductionChannel1Db(), c.getGainReductionChannel0Db());
    EXPECT_EQ (c.getGainReductionDb(), c.getGainReductionChannel0Db());
}
