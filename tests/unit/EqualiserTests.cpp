#include <gtest/gtest.h>

#include "dsp/ParametricEQ.h"
#include "unit/DspTestUtils.h"

#include <algorithm>

using namespace orvane::test;

namespace
{
    struct EqCase
    {
        const char* name;
        double sampleRate;
        bool lfHi, hfHi;
        float lfGain, mfGain, mfFreq, hfGain;
        std::array<float, 3> fm { 1.0f, 1.0f, 1.0f };
        std::array<float, 3> gm { 1.0f, 1.0f, 1.0f };
    };

    // The multipliers of analog channel 1 and a set at the edges of their range.
    constexpr std::array<float, 3> channel1Fm { 0.997836f, 1.001605f, 1.002694f };
    constexpr std::array<float, 3> channel1Gm { 0.991065f, 1.006654f, 1.002575f };
    constexpr std::array<float, 3> wideFm { 1.003f, 0.997f, 0.997f };
    constexpr std::array<float, 3> wideGm { 0.985f, 1.015f, 1.015f };

    // Expected response in dB: the band table (shelf and companion frequencies, the
    // proportional Q, the tolerance scaling and the clamp) worked out here afresh.
    double expectedDb (const EqCase& c, double f)
    {
        const double fs = c.sampleRate;
        const double lfBase = c.lfHi ? 150.0 : 60.0, hfBase = c.hfHi ? 16000.0 : 8000.0;
        const auto clampHz = [] (double x) { return std::clamp (x, 20.0, 20000.0); };
        const double mfQ = 0.5 + 0.9 * std::min (1.0, std::abs ((double) c.mfGain) / 12.0);

        double db = 0.0;
        db += lowShelfD (fs, clampHz (lfBase * c.fm[0]), 0.7, c.lfGain * (double) c.gm[0]).magnitudeDb (f, fs);
        db += peakD (fs, clampHz (c.mfFreq * (double) c.fm[1]), mfQ, c.mfGain * (double) c.gm[1]).magnitudeDb (f, fs);
        db += highShelfD (fs, clampHz (hfBase * c.fm[2]), 0.7, c.hfGain * (double) c.gm[2]).magnitudeDb (f, fs);
        db += peakD (fs, 3.0 * lfBase, 1.0, -0.2 * c.lfGain).magnitudeDb (f, fs);
        db += peakD (fs, 0.4 * hfBase, 1.0, -0.2 * c.hfGain).magnitudeDb (f, fs);
        return db;
    }

    std::vector<float> eqImpulse (const EqCase& c, int length)
    {
        ParametricEQ eq;
        eq.prepare (c.sampleRate, 2);
        eq.setTolerance (c.fm, c.gm);
        eq.update (EqSettings::fromParameters (c.lfHi, c.hfHi, c.mfGain, c.lfGain, c.hfGain, c.mfFreq));
        return impulseResponse ([&] (auto& block) { eq.process (block); }, length, 2);
    }

    const std::vector<EqCase> eqCases {
        { "flat", 48000, false, false, 0, 0, 1000, 0 },
        { "LF +12 at 60 Hz with its -2.4 dB companion", 48000, false, false, 12, 0, 1000, 0 },
        { "LF -7.5 at 150 Hz", 44100, true, false, -7.5f, 0, 1000, 0 },
        { "MF +6 at 1 kHz, Q 0.95", 48000, false, false, 0, 6, 1000, 0 },
        { "MF -12 at 220 Hz, Q 1.4", 44100, false, false, 0, -12, 220, 0 },
        { "MF +3 at 7 kHz, Q 0.725", 96000, false, false, 0, 3, 7000, 0 },
        { "HF -6 at 16 kHz with its +1.2 dB companion", 48000, false, true, 0, 0, 1000, -6 },
        { "HF +9.3 at 8 kHz", 44100, false, false, 0, 0, 1000, 9.3f },
        { "every band, channel-1 tolerance", 48000, false, true, 4.5f, -3.2f, 2500, 7 },
        { "every band, wide tolerance, both switches high", 96000, true, true, -10, 12, 450, -12, wideFm, wideGm },
        { "every band, wide tolerance, both switches low", 44100, false, false, 12, -6, 3300, 12, wideFm, wideGm },
        { "LF +12 channel-1 tolerance at 88.2 kHz", 88200, false, false, 12, 0, 1000, 0, channel1Fm, channel1Gm },
        { "32 kHz, HF +12 at 16 kHz = Nyquist", 32000, false, true, 0, 0, 1000, 12 },
        { "32 kHz, HF -6 at 16 kHz = Nyquist", 32000, false, true, 0, 0, 1000, -6 },
        { "32 kHz, HF +8 just below Nyquist (fm 0.997)", 32000, false, true, 0, 0, 1000, 8, { 1.0f, 1.0f, 0.997f } },
        { "32 kHz, HF +6 at 8 kHz with MF", 32000, true, false, 3, 5, 4000, 6, channel1Fm, channel1Gm },
    };

    const std::vector<double> testFrequencies { 20, 31.5, 45, 60, 90, 150, 180, 220, 450, 1000, 2500,
                                                3200, 6400, 8000, 10000, 12500, 15000, 16000, 20000 };
}

TEST (Equaliser, FrequencyResponsesMatchTheClosedForms)
{
    constexpr int length = 1 << 17;

    for (const auto& c : eqCases)
    {
        SCOPED_TRACE (c.name);
        const auto h = eqImpulse (c, length);

        // The response has decayed completely: the spectrum of the truncated impulse is exact.
        float tail = 0.0f;
        for (size_t n = h.size() - 4096; n < h.size(); ++n)
            tail = std::max (tail, std::abs (h[n]));
        EXPECT_LT (tail, 1.0e-9f);

        for (auto f : testFrequencies)
        {
            if (f >= c.sampleRate / 2)
                continue;
            SCOPED_TRACE ("at " + std::to_string (f) + " Hz");
            EXPECT_NEAR (responseDb (h, f, c.sampleRate), expectedDb (c, f), 0.02);
        }
    }
}

TEST (Equaliser, ZeroGainsAreExactUnity)
{
    for (bool lfHi : { false, true })
        for (bool hfHi : { false, true })
        {
            ParametricEQ eq;
            eq.prepare (44100, 2);
            eq.setTolerance (channel1Fm, channel1Gm);
            eq.update (EqSettings::fromParameters (lfHi, hfHi, 0, 0, 0, 1234));

            for (int b = 0; b < ParametricEQ::numBands; ++b)
            {
                const auto& t = eq.getBand (b, 0).getTarget();
                // A = 1 makes the numerator equal the denominator; a0 normalisation keeps b_i == a_i.
                EXPECT_DOUBLE_EQ (t.b1, t.a1);
                EXPECT_DOUBLE_EQ (t.b0 + t.b2, 1.0 + t.a2);
            }

            const auto h = impulseResponse ([&] (auto& block) { eq.process (block); }, 8192);
            EXPECT_NEAR (h[0], 1.0f, 1.0e-7f);
            for (size_t n = 1; n < h.size(); ++n)
                ASSERT_NEAR (h[n], 0.0f, 1.0e-7f) << n;
        }
}

TEST (Equaliser, BandSettingsFromTheControls)
{
    const auto s = EqSettings::fromParameters (false, true, -12.0f, 12.0f, -6.0f, 800.0f);
    EXPECT_FLOAT_EQ (s.lfFreq, 60.0f);
    EXPECT_FLOAT_EQ (s.lfCompanionFreq, 180.0f);
    EXPECT_FLOAT_EQ (s.lfCompanionGain, -2.4f);
    EXPECT_FLOAT_EQ (s.lfCompanionQ, 1.0f);
    EXPECT_FLOAT_EQ (s.mfQ, 1.4f);
    EXPECT_FLOAT_EQ (s.hfFreq, 16000.0f);
    EXPECT_FLOAT_EQ (s.hfCompanionFreq, 6400.0f);
    EXPECT_FLOAT_EQ (s.hfCompanionGain, 1.2f);

    const auto t = EqSettings::fromParameters (true, false, 3.0f, 0, 0, 1000);
    EXPECT_FLOAT_EQ (t.mfQ, 0.725f);
    EXPECT_FLOAT_EQ (t.lfFreq, 150.0f);
    EXPECT_FLOAT_EQ (t.lfCompanionFreq, 450.0f);
    EXPECT_FLOAT_EQ (t.hfFreq, 8000.0f);
    EXPECT_FLOAT_EQ (t.hfCompanionFreq, 3200.0f);
    EXPECT_FLOAT_EQ (EqSettings::fromParameters (false, false, 6.0f, 0, 0, 1000).mfQ, 0.95f);
    EXPECT_FLOAT_EQ (EqSettings::fromParameters (false, false, -24.0f, 0, 0, 1000).mfQ, 1.4f);
    EXPECT_FLOAT_EQ (EqSettings::fromParameters (false, false, 0.0f, 0, 0, 1000).mfQ, 0.5f);
}

TEST (Equaliser, FrequenciesAreClampedAfterScaling)
{
    // 20 kHz clamp: a 19.99 kHz bell scaled up by 1.003 still sits at 20 kHz.
    ParametricEQ eq;
    eq.prepare (96000, 1);
    eq.setTolerance ({ 1, 1.003f, 1 }, { 1, 1, 1 });
    auto s = EqSettings::fromParameters (false, false, 6, 0, 0, 19990);
    eq.update (s);
    const auto expected = ParametricEQ::peakCoefficients (96000.0f, 20000.0f, s.mfQ, 6.0f);
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getTarget(), expected);

    // 20 Hz floor.
    s.mfFreq = 5.0f;
    eq.update (s);
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getTarget(),
               ParametricEQ::peakCoefficients (96000.0f, 20.0f, s.mfQ, 6.0f));
}

TEST (Equaliser, RecomputesOnlyWhenTheSnapshotChanges)
{
    ParametricEQ eq;
    eq.prepare (48000, 2);
    const auto s = EqSettings::fromParameters (false, false, 4, 2, -3, 1500);

    EXPECT_TRUE (eq.update (s));   // the first block after prepare always computes
    EXPECT_FALSE (eq.update (s));  // identical settings: one comparison, no recomputation
    EXPECT_FALSE (eq.update (s));

    auto moved = s;
    moved.mfFreq = 1500.1f;
    EXPECT_TRUE (eq.update (moved));
    EXPECT_FALSE (eq.update (moved));

    // New multipliers (a new analog channel) force a recomputation with untouched controls.
    eq.setTolerance (channel1Fm, channel1Gm);
    EXPECT_TRUE (eq.update (moved));
    EXPECT_FALSE (eq.update (moved));

    // The multiplier fields of the incoming settings are ignored: the tolerance is what counts.
    auto withOtherMultipliers = moved;
    withOtherMultipliers.freqMultipliers = { 2, 2, 2 };
    EXPECT_FALSE (eq.update (withOtherMultipliers));

    // prepareToPlay invalidates the snapshot and resets the multipliers.
    eq.prepare (48000, 2);
    EXPECT_EQ (eq.getFrequencyMultipliers(), (std::array<float, 3> { 1, 1, 1 }));
    EXPECT_TRUE (eq.update (moved));
}

TEST (Equaliser, CoefficientsGlideWithAFiveMillisecondTimeConstant)
{
    constexpr double fs = 48000.0;
    ParametricEQ eq;
    eq.prepare (fs, 2);
    eq.update (EqSettings::fromParameters (false, false, 9, 0, 0, 500));

    // First block after prepare: no glide, current == target at once.
    juce::AudioBuffer<float> buffer (2, 256);
    buffer.clear();
    juce::dsp::AudioBlock<float> block (buffer);
    const auto before = eq.getBand (ParametricEQ::midBell, 0).getTarget();
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getCurrent(), before);
    eq.process (block);
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getCurrent(), before);

    // Step change of the frequency.
    eq.update (EqSettings::fromParameters (false, false, 9, 0, 0, 4000));
    const auto after = eq.getBand (ParametricEQ::midBell, 0).getTarget();
    ASSERT_NE (before, after);
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getCurrent(), before); // nothing jumps

    const double c = std::exp (-1.0 / (0.005 * fs));
    EXPECT_DOUBLE_EQ (eq.getBand (ParametricEQ::midBell, 0).getSmoothing(), c);

    // After n samples the distance to the target is c^n of the step; after 5 ms (240 samples) 1/e.
    const auto tau = static_cast<int> (0.005 * fs);
    juce::AudioBuffer<float> one (2, 1);
    for (int n = 1; n <= 3 * tau; ++n)
    {
        one.clear();
        juce::dsp::AudioBlock<float> b1 (one);
        eq.process (b1);

        if (n == tau / 2 || n == tau || n == 2 * tau || n == 3 * tau)
        {
            const auto& cur = eq.getBand (ParametricEQ::midBell, 0).getCurrent();
            for (const auto& [now, from, to] : { std::tuple { cur.b0, before.b0, after.b0 },
                                                  std::tuple { cur.b1, before.b1, after.b1 },
                                                  std::tuple { cur.a1, before.a1, after.a1 },
                                                  std::tuple { cur.a2, before.a2, after.a2 } })
            {
                const double remaining = (now - to) / (from - to);
                EXPECT_NEAR (remaining, std::pow (c, n), 1.0e-9) << n;
                if (n == tau)
                    EXPECT_NEAR (remaining, std::exp (-1.0), 1.0e-9);
            }
        }
    }

    // Both channels glide alike; the other bands did not move at all.
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 1).getCurrent(), eq.getBand (ParametricEQ::midBell, 0).getCurrent());
    EXPECT_EQ (eq.getBand (ParametricEQ::lowShelf, 0).getCurrent(), eq.getBand (ParametricEQ::lowShelf, 0).getTarget());
}

TEST (Equaliser, PrepareResetsStatesAndTakesTheNextTargetsWithoutGlide)
{
    ParametricEQ eq;
    eq.prepare (44100, 2);
    eq.update (EqSettings::fromParameters (false, false, 12, 12, 12, 300));

    juce::AudioBuffer<float> noise (2, 512);
    juce::Random random (7);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 512; ++i)
            noise.setSample (ch, i, random.nextFloat() * 2 - 1);
    juce::dsp::AudioBlock<float> block (noise);
    eq.process (block);
    ASSERT_NE (eq.getBand (0, 0).getState1(), 0.0f);

    eq.update (EqSettings::fromParameters (false, false, -5, -5, -5, 700));
    eq.prepare (48000, 1);
    for (int b = 0; b < ParametricEQ::numBands; ++b)
        for (int ch = 0; ch < 2; ++ch)
        {
            const auto& rec = eq.getBand (b, ch);
            EXPECT_FALSE (rec.isSet());
            EXPECT_EQ (rec.getState1(), 0.0f);
            EXPECT_EQ (rec.getState2(), 0.0f);
            EXPECT_EQ (rec.getCurrent(), rec.getTarget());
        }

    const auto s = EqSettings::fromParameters (true, true, 2, 3, 4, 5000);
    eq.update (s);
    for (int b = 0; b < ParametricEQ::numBands; ++b)
        EXPECT_EQ (eq.getBand (b, 0).getCurrent(), eq.getBand (b, 0).getTarget());

    // A mono equaliser runs only the channel-0 records: channel 1 of a stereo block passes.
    juce::AudioBuffer<float> stereo (2, 64);
    stereo.clear();
    stereo.setSample (0, 0, 1.0f);
    stereo.setSample (1, 0, 1.0f);
    juce::dsp::AudioBlock<float> sb (stereo);
    eq.process (sb);
    EXPECT_EQ (stereo.getSample (1, 0), 1.0f);
    EXPECT_NE (stereo.getSample (0, 0), 1.0f);
    EXPECT_EQ (eq.getBand (0, 1).getState1(), 0.0f);
}

TEST (Equaliser, RecomputationKeepsTheFilterStates)
{
    ParametricEQ eq;
    eq.prepare (44100, 1);
    eq.update (EqSettings::fromParameters (false, false, 6, 6, 6, 1000));
    juce::AudioBuffer<float> buffer (1, 100);
    buffer.clear();
    buffer.setSample (0, 99, 1.0f);
    juce::dsp::AudioBlock<float> block (buffer);
    eq.process (block);
    const auto s1 = eq.getBand (0, 0).getState1();
    ASSERT_NE (s1, 0.0f);
    eq.update (EqSettings::fromParameters (false, false, -6, -6, -6, 2000));
    EXPECT_EQ (eq.getBand (0, 0).getState1(), s1);
}

// The band frequencies are clamped to 20 kHz, not to half the sample rate. A band at
// or above Nyquist makes the cookbook biquads degenerate (sin w = 0) or
// unstable (sin w < 0): at 32 kHz the 16 kHz shelf with a tolerance multiplier above
// 1 (channel 1 has fm_HF = 1.002694) would blow up to infinity. Such a band is the
// unity filter, the limit the formulas reach at Nyquist.
TEST (Equaliser, BandsAtOrAboveNyquistAreUnityAndStable)
{
    for (float fmHf : { 1.0f, 1.002694f, 1.003f })
        for (float hfGain : { -12.0f, -6.0f, 0.1f, 6.0f, 12.0f })
        {
            SCOPED_TRACE ("fm_HF " + std::to_string (fmHf) + ", HF " + std::to_string (hfGain) + " dB");
            ParametricEQ eq;
            eq.prepare (32000, 1);
            eq.setTolerance ({ 1, 1, fmHf }, { 1, 1, 1 });
            eq.update (EqSettings::fromParameters (false, true, 0, 0, hfGain, 1000));
            EXPECT_EQ (eq.getBand (ParametricEQ::highShelf, 0).getTarget(), BiquadCoefficients::identity());

            // Ten seconds of impulse response: finite, decayed, and only the 6.4 kHz companion acts.
            const auto h = impulseResponse ([&] (auto& block) { eq.process (block); }, 320000);
            for (size_t n = 200000; n < h.size(); n += 97)
                ASSERT_EQ (h[n], 0.0f) << n;

            const auto companion = peakD (32000, 6400, 1.0, -0.2 * hfGain);
            for (double f : { 100.0, 1000.0, 6400.0, 12000.0, 15500.0 })
                EXPECT_NEAR (responseDb (h, f, 32000), companion.magnitudeDb (f, 32000), 0.02) << f;
        }

    // Every band follows the same rule: at 8 kHz the 7 kHz bell (x fm) and 6.4 kHz companion are unity.
    ParametricEQ low;
    low.prepare (8000, 1);
    low.update (EqSettings::fromParameters (true, true, 12, 12, 12, 7000));
    EXPECT_EQ (low.getBand (ParametricEQ::midBell, 0).getTarget(), BiquadCoefficients::identity());
    EXPECT_EQ (low.getBand (ParametricEQ::highShelf, 0).getTarget(), BiquadCoefficients::identity());
    EXPECT_EQ (low.getBand (ParametricEQ::hfCompanion, 0).getTarget(), BiquadCoefficients::identity());
    EXPECT_NE (low.getBand (ParametricEQ::lowShelf, 0).getTarget(), BiquadCoefficients::identity());
    const auto h = impulseResponse ([&] (auto& block) { low.process (block); }, 80000);
    for (size_t n = 60000; n < h.size(); ++n)
        ASSERT_TRUE (std::abs (h[n]) < 1.0e-12f) << n;
}
