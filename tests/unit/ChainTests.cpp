#include <gtest/gtest.h>

#include "dsp/ChannelTolerance.h"
#include "unit/DspTestUtils.h"
#include "unit/ProcessorTestAccess.h"

#include <iostream>

// The signal chain through processBlock. The expected outputs are built from the
// chain's own blocks run by hand (the Reference below), or from a second processor
// that differs from the first only in the property under test. The Silk stage and
// the channel trim colour every signal, so nothing here expects the input back.

using namespace orvane::test;
using Access = OrvaneChannelProcessorTestAccess;
namespace id = orvane::ParamIDs;

namespace
{
    constexpr double fs = 48000.0;
    constexpr int blockSize = 512;

    struct LatencyListener : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
        {
            if (details.latencyChanged)
                ++latencyChanges;
        }
        int latencyChanges = 0;
    };

    // Which sections the reference runs, and in which order.
    struct Sections
    {
        bool hpf = false;
        bool eqFirst = true;
        bool eqOn = true;
        bool compOn = false;
    };

    // The blocks of the chain, set up from the processor's parameter values and its
    // channel's tolerance, run by hand in chain order: the front (high-pass,
    // equaliser, compressor) and the back (Silk stage, channel trim, stereo stage),
    // each prepared as prepareToPlay prepares it. The channel trim holds its gain (it
    // ramps only when the channel changes); input and output trims stay at 0 dB.
    struct Reference
    {
        Filters filters;
        ParametricEQ eq;
        CompressorLimiter comp;
        SilkStage silk;
        float channelTrim = 1.0f;
        StereoStage stereo;

        Reference (OrvaneChannelProcessor& p, int numChannels)
        {
            const auto tolerance = ChannelTolerance::computeTolerance (rawParam (p, id::tmtChannel));

            filters.prepare (fs, numChannels);
            filters.setHighPass (rawParam (p, id::hpfFreq));

            eq.prepare (fs, numChannels);
            eq.setTolerance ({ tolerance.lfFreqMultiplier, tolerance.mfFreqMultiplier, tolerance.hfFreqMultiplier },
                             { tolerance.lfGainMultiplier, tolerance.mfGainMultiplier, tolerance.hfGainMultiplier });
            eq.update (EqSettings::fromParameters (rawParam (p, id::lfFreqHi) > 0.5f, rawParam (p, id::hfFreqHi) > 0.5f,
                                                   rawParam (p, id::mfGain), rawParam (p, id::lfGain),
                                                   rawParam (p, id::hfGain), rawParam (p, id::mfFreq)));

            comp.prepare (fs);
            comp.setTolerance (tolerance.thresholdOffsetDb, tolerance.releaseMultiplier);
            comp.setParameters (rawParam (p, id::compThresh), rawParam (p, id::compRelease), rawParam (p, id::compMakeup),
                                rawParam (p, id::compLink) > 0.5f, rawParam (p, id::compScHpf));

            silk.applyOsIndex (juce::roundToInt (rawParam (p, id::osRealtime)));
            silk.setMode (juce::roundToInt (rawParam (p, id::bloomMode)));
            silk.setAmount (rawParam (p, id::silkTexture));
            silk.prepare (fs, numChannels, blockSize);

            channelTrim = juce::Decibels::decibelsToGain (tolerance.trimOffsetDb);

            stereo.prepare (fs);
            stereo.update (rawParam (p, id::stWidth), rawParam (p, id::monoMakerHz));
        }

        juce::AudioBuffer<float> run (const juce::AudioBuffer<float>& input, Sections sections)
        {
            juce::ScopedNoDenormals noDenormals;
            juce::AudioBuffer<float> out (input);
            juce::dsp::AudioBlock<float> whole (out);
            const auto trimmedChannels = std::min (out.getNumChannels(), 2);

            for (int start = 0; start < out.getNumSamples(); start += blockSize)
            {
                const auto n = std::min (blockSize, out.getNumSamples() - start);
                auto block = whole.getSubBlock ((size_t) start, (size_t) n);

                if (sections.hpf)
                    filters.process (block);
                if (sections.eqFirst)
                {
                    if (sections.eqOn) eq.process (block);
                    if (sections.compOn) comp.process (block);
                }
                else
                {
                    if (sections.compOn) comp.process (block);
                    if (sections.eqOn) eq.process (block);
                }

                silk.process (block);

                for (int ch = 0; ch < trimmedChannels; ++ch)
                    juce::FloatVectorOperations::multiply (out.getWritePointer (ch, start), channelTrim, n);

                if (out.getNumChannels() >= 2)
                    stereo.process (block);
            }
            return out;
        }
    };

    juce::AudioBuffer<float> scaled (const juce::AudioBuffer<float>& input, const std::vector<float>& gains, float sign = 1.0f)
    {
        juce::AudioBuffer<float> out (input);
        for (int ch = 0; ch < out.getNumChannels(); ++ch)
            for (int i = 0; i < out.getNumSamples(); ++i)
                out.setSample (ch, i, out.getSample (ch, i) * (gains[(size_t) i] * sign));
        return out;
    }

    // What a linear 20 ms smoother does on its way from 1 to the target: one equal
    // step per sample, the 960th value exactly the target, then the target.
    std::vector<float> linearRamp (float target, int rampLength, int numSamples)
    {
        std::vector<float> gains ((size_t) numSamples, target);
        const auto step = (target - 1.0f) / (float) rampLength;
        auto value = 1.0f;
        for (int i = 0; i + 1 < rampLength && i < numSamples; ++i)
            gains[(size_t) i] = (value += step);
        return gains;
    }

    void engageSections (OrvaneChannelProcessor& p)
    {
        setParam (p, id::hpfFreq, 60.0f);
        setParam (p, id::lfGain, 5.0f);
        setParam (p, id::mfGain, 9.0f);
        setParam (p, id::mfFreq, 2000.0f);
        setParam (p, id::hfGain, -4.0f);
        setParam (p, id::compOn, 1.0f);
        setParam (p, id::compThresh, -22.0f);
        setParam (p, id::compRelease, 120.0f);
        setParam (p, id::compMakeup, 3.0f);
        setParam (p, id::compLink, 1.0f);
    }

    // Settings under which every stage at the back of the chain does something: a
    // Silk mode at 4x, another channel's tolerance, a wide image, the mono maker.
    void engageBackOfChain (OrvaneChannelProcessor& p)
    {
        setParam (p, id::bloomMode, 1.0f);
        setParam (p, id::silkTexture, 70.0f);
        setParam (p, id::osRealtime, 2.0f);
        setParam (p, id::tmtChannel, 17.0f);
        setParam (p, id::stWidth, 150.0f);
        setParam (p, id::monoMakerHz, 120.0f);
    }
}

TEST (Chain, DefaultsColourTheSoundThroughTheSilkStageAndTheChannelTrim)
{
    OrvaneChannelProcessor p;
    p.prepareToPlay (fs, blockSize);
    const auto input = testSignal (2, 8 * blockSize, fs);
    const auto out = runBlocks (p, input, blockSize);

    // Not the input, not even the input delayed by the oversampling latency.
    EXPECT_GT (maxDifference (out, input), 0.1f);
    const auto latency = p.getLatencySamples();
    auto fromDelayedInput = 0.0f;
    for (int ch = 0; ch < 2; ++ch)
        for (int i = latency; i < input.getNumSamples(); ++i)
            fromDelayedInput = std::max (fromDelayedInput, std::abs (out.getSample (ch, i) - input.getSample (ch, i - latency)));
    EXPECT_GT (fromDelayedInput, 0.01f);

    // What the Silk stage in its default setting (mode "Off", amount 30 %, 2x) and
    // channel 1's level trim of +0.036868 dB make of the input. The equaliser is on
    // with all gains at 0 dB and the stereo stage at 100 % without mono maker, both
    // unity up to float rounding (a few 1e-8 on this signal); the trim's printed
    // value is rounded to 1e-6 dB, 6e-8 of the gain.
    // A missing or wrong trim alone would be off by more than 1e-3.
    SilkStage silk;
    silk.setMode (SilkStage::modeOff);
    silk.setAmount (30.0f);
    silk.applyOsIndex (1);
    silk.prepare (fs, 2, blockSize);
    auto expected = input;
    juce::dsp::AudioBlock<float> whole (expected);
    for (int start = 0; start < expected.getNumSamples(); start += blockSize)
    {
        auto block = whole.getSubBlock ((size_t) start, (size_t) blockSize);
        silk.process (block);
    }
    expected.applyGain ((float) std::pow (10.0, 0.036868 / 20.0));

    const auto difference = maxDifference (out, expected);
    std::cout << "[ measure ] defaults against Silk stage and channel 1 trim: largest difference " << difference << "\n";
    EXPECT_LT (difference, 5.0e-7f);
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
}

TEST (Chain, CompressorBeforeOrAfterTheEqualiser)
{
    const auto input = testSignal (2, 40 * blockSize, fs);

    juce::AudioBuffer<float> outputs[2];
    for (int preEq = 0; preEq < 2; ++preEq)
    {
        OrvaneChannelProcessor p;
        engageSections (p);
        engageBackOfChain (p);
        setParam (p, id::compPreEq, (float) preEq);
        p.prepareToPlay (fs, blockSize);
        outputs[preEq] = runBlocks (p, input, blockSize);

        Reference ref (p, 2);
        expectIdentical (outputs[preEq], ref.run (input, { true, preEq == 0, true, true }));
    }

    // The two orders really differ.
    EXPECT_GT (maxDifference (outputs[0], outputs[1]), 1.0e-2f);
}

TEST (Chain, OrderSwitchWithTheCompressorOffChangesNothing)
{
    const auto input = testSignal (2, 20 * blockSize, fs);
    juce::AudioBuffer<float> outputs[2];
    for (int preEq = 0; preEq < 2; ++preEq)
    {
        OrvaneChannelProcessor p;
        engageSections (p);
        setParam (p, id::compOn, 0.0f);
        setParam (p, id::compPreEq, (float) preEq);
        p.prepareToPlay (fs, blockSize);
        outputs[preEq] = runBlocks (p, input, blockSize);
    }
    expectIdentical (outputs[0], outputs[1]);
}

TEST (Chain, SectionSwitches)
{
    const auto input = testSignal (2, 30 * blockSize, fs);

    // A processor with the equaliser off and nothing else in front: only the back of the chain.
    OrvaneChannelProcessor plain;
    engageBackOfChain (plain);
    setParam (plain, id::eqOn, 0.0f);
    plain.prepareToPlay (fs, blockSize);
    const auto backOnly = runBlocks (plain, input, blockSize);

    for (int eqOn = 0; eqOn < 2; ++eqOn)
        for (int compOn = 0; compOn < 2; ++compOn)
        {
            SCOPED_TRACE ("eqOn " + std::to_string (eqOn) + ", compOn " + std::to_string (compOn));
            OrvaneChannelProcessor p;
            engageSections (p);
            engageBackOfChain (p);
            setParam (p, id::hpfFreq, 20.0f); // off
            setParam (p, id::eqOn, (float) eqOn);
            setParam (p, id::compOn, (float) compOn);
            p.prepareToPlay (fs, blockSize);
            const auto out = runBlocks (p, input, blockSize);

            Reference ref (p, 2);
            expectIdentical (out, ref.run (input, { false, true, eqOn == 1, compOn == 1 }));

            // Both off: their settings leave no trace at all.
            if (eqOn == 0 && compOn == 0)
                expectIdentical (out, backOnly);
        }

    // The high-pass filter on at 60 Hz, nothing else.
    OrvaneChannelProcessor p;
    setParam (p, id::hpfFreq, 60.0f);
    p.prepareToPlay (fs, blockSize);
    const auto out = runBlocks (p, input, blockSize);
    EXPECT_TRUE (Access::filters (p).isHighPassOn());
    Reference ref (p, 2);
    expectIdentical (out, ref.run (input, { true, true, true, false }));
}

TEST (Chain, EqualiserOffPassesUntouchedWhileItsTargetsFollow)
{
    OrvaneChannelProcessor p;
    setParam (p, id::mfGain, 6.0f);
    p.prepareToPlay (fs, blockSize);
    Reference ref (p, 2);
    const auto input = testSignal (2, blockSize, fs);
    expectIdentical (runBlocks (p, input, blockSize), ref.run (input, { false, true, true, false }));

    const auto& eq = Access::equaliser (p);
    const auto stood = eq.getBand (ParametricEQ::midBell, 0).getCurrent();

    // Off: the block goes on to the Silk stage as it came, while the targets follow.
    setParam (p, id::eqOn, 0.0f);
    setParam (p, id::mfGain, -9.0f);
    const auto out = runBlocks (p, input, blockSize);
    expectIdentical (out, ref.run (input, { false, true, false, false }));

    // The targets followed the parameter (scaled by channel 1's tolerance); the
    // current coefficients stood still.
    const auto tolerance = ChannelTolerance::computeTolerance (rawParam (p, id::tmtChannel));
    const auto expectedTarget = ParametricEQ::peakCoefficients (fs, 1000.0f * tolerance.mfFreqMultiplier,
                                                                0.5f + 0.9f * (9.0f / 12.0f),
                                                                rawParam (p, id::mfGain) * tolerance.mfGainMultiplier);
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getTarget(), expectedTarget);
    EXPECT_EQ (eq.getBand (ParametricEQ::midBell, 0).getCurrent(), stood);

    // Back on: the coefficients glide from where they stood.
    setParam (p, id::eqOn, 1.0f);
    juce::AudioBuffer<float> one (2, 1);
    one.clear();
    juce::MidiBuffer midi;
    p.processBlock (one, midi);
    const auto& now = eq.getBand (ParametricEQ::midBell, 0).getCurrent();
    const auto c = eq.getBand (ParametricEQ::midBell, 0).getSmoothing();
    EXPECT_DOUBLE_EQ (now.b0, c * stood.b0 + (1.0 - c) * expectedTarget.b0);
}

TEST (Chain, CompressorOffKeepsItsStateAndSettingsFollow)
{
    OrvaneChannelProcessor p;
    setParam (p, id::eqOn, 0.0f);
    setParam (p, id::compOn, 1.0f);
    setParam (p, id::compThresh, -30.0f);
    p.prepareToPlay (fs, blockSize);
    Reference ref (p, 2);
    const auto input = testSignal (2, 20 * blockSize, fs);
    expectIdentical (runBlocks (p, input, blockSize), ref.run (input, { false, true, false, true }));

    const auto& comp = Access::compressor (p);
    const auto gr = comp.getGainReductionDb();
    const auto env = comp.getEnvelope (0);
    ASSERT_GT (gr, 1.0f);

    // Off: the block goes on to the Silk stage as it came.
    setParam (p, id::compOn, 0.0f);
    setParam (p, id::compThresh, -10.0f);
    setParam (p, id::compMakeup, 6.0f);
    const auto out = runBlocks (p, input, blockSize);
    expectIdentical (out, ref.run (input, { false, true, false, false }));
    EXPECT_EQ (comp.getGainReductionDb(), gr);
    EXPECT_EQ (comp.getEnvelope (0), env);
    EXPECT_FLOAT_EQ (comp.getThresholdDb(), -10.0f);
    EXPECT_FLOAT_EQ (comp.getMakeupGain(), juce::Decibels::decibelsToGain (6.0f));
}

TEST (Chain, InputAndOutputTrimsRampOverTwentyMilliseconds)
{
    const int ramp = static_cast<int> (std::floor (0.02 * fs)); // 960 samples
    const auto input = testSignal (2, 4 * blockSize, fs);

    for (const char* param : { id::inputGain, id::outputGain })
    {
        SCOPED_TRACE (param);
        const bool atInput = juce::String (param) == id::inputGain;

        // p changes the trim; q stays at 0 dB and gets the ramp from outside: before
        // the chain for the input trim, after it for the output trim.
        OrvaneChannelProcessor p, q;
        for (auto* processor : { &p, &q })
        {
            processor->prepareToPlay (fs, blockSize);
            runBlocks (*processor, input, blockSize);
        }

        setParam (p, param, 6.0f);
        const auto target = juce::Decibels::decibelsToGain (rawParam (p, param));
        const auto gains = linearRamp (target, ramp, input.getNumSamples());

        // The ramp itself: 20 ms of equal steps from 1 to the target (the float steps
        // add up to a few 1e-5 of rounding by the end).
        for (int i : { 0, 1, ramp / 2, ramp - 2 })
            EXPECT_NEAR (gains[(size_t) i], 1.0f + (target - 1.0f) * (float) (i + 1) / (float) ramp, 4.0e-5f) << i;
        EXPECT_LT (gains[(size_t) ramp - 2], target);

        const auto out = runBlocks (p, input, blockSize);
        const auto expected = atInput ? runBlocks (q, scaled (input, gains), blockSize)
                                      : scaled (runBlocks (q, input, blockSize), gains);

        // Sample for sample, on both channels: the smoother advances once per sample,
        // lands on the target after exactly 960 samples and stays there.
        expectIdentical (out, expected);
    }
}

TEST (Chain, OutputOffIsSilenceAfterTheRamp)
{
    const int ramp = static_cast<int> (std::floor (0.02 * fs));
    const auto input = testSignal (2, 6 * blockSize, fs);

    // The same chain without the output trim.
    OrvaneChannelProcessor q;
    q.prepareToPlay (fs, blockSize);
    const auto untrimmed = runBlocks (q, input, blockSize);

    for (float db : { -59.5f, -60.0f, -59.4f })
    {
        SCOPED_TRACE (db);
        OrvaneChannelProcessor p;
        p.prepareToPlay (fs, blockSize);
        setParam (p, id::outputGain, db);
        const auto out = runBlocks (p, input, blockSize);
        const auto target = db <= -59.5f ? 0.0f : juce::Decibels::decibelsToGain (rawParam (p, id::outputGain));

        // It ramps: halfway through the output is still about half of the untrimmed one.
        EXPECT_GT (peakOf (out, 0, ramp / 2 - 50, ramp / 2), 0.1f);

        // Sample for sample the untrimmed output times the 20 ms ramp, which ends
        // exactly on the target gain: silence for "OFF".
        expectIdentical (out, scaled (untrimmed, linearRamp (target, ramp, out.getNumSamples())));
        if (db <= -59.5f)
            EXPECT_EQ (peakOf (out, 0, ramp, out.getNumSamples()), 0.0f);
        else
            EXPECT_GT (peakOf (out, 0, ramp, out.getNumSamples()), 0.0f);
    }
}

TEST (Chain, PolarityFlipsAtTheNextBlockWithoutARamp)
{
    // p inverts with its polarity switch; q never does and gets the inverted input
    // instead. The Silk curve is asymmetric, so this holds only if the sign is
    // applied at the input trim.
    OrvaneChannelProcessor p, q;
    for (auto* processor : { &p, &q })
    {
        processor->prepareToPlay (fs, blockSize);
        setParam (*processor, id::eqOn, 0.0f);
    }

    const auto input = testSignal (2, blockSize, fs);
    std::vector<float> unity ((size_t) blockSize, 1.0f);
    const auto inverted = scaled (input, unity, -1.0f);
    expectIdentical (runBlocks (p, input, blockSize), runBlocks (q, input, blockSize));

    // The very next block is inverted from its first sample on.
    setParam (p, id::polarity, 1.0f);
    const auto flipped = runBlocks (p, input, blockSize);
    expectIdentical (flipped, runBlocks (q, inverted, blockSize));

    // The outputs are not simply negated: the sign goes through the Silk stage.
    auto fromNegated = 0.0f;
    {
        OrvaneChannelProcessor r;
        r.prepareToPlay (fs, blockSize);
        setParam (r, id::eqOn, 0.0f);
        runBlocks (r, input, blockSize);
        const auto plain = runBlocks (r, input, blockSize);
        for (int i = 0; i < blockSize; ++i)
            fromNegated = std::max (fromNegated, std::abs (flipped.getSample (0, i) + plain.getSample (0, i)));
    }
    EXPECT_GT (fromNegated, 1.0e-4f);

    // With a gain ramp running, the sign multiplies the ramp.
    setParam (p, id::inputGain, -6.0f);
    setParam (q, id::inputGain, -6.0f);
    expectIdentical (runBlocks (p, input, blockSize), runBlocks (q, inverted, blockSize));

    setParam (p, id::polarity, 0.0f);
    setParam (p, id::inputGain, 0.0f);
    setParam (q, id::inputGain, 0.0f);
    expectIdentical (runBlocks (p, input, blockSize), runBlocks (q, input, blockSize));
}

TEST (Chain, OversamplingIndexRule)
{
    // The rule on its own.
    for (int nonRealtime = 0; nonRealtime < 2; ++nonRealtime)
        for (int r = 0; r <= 3; ++r)
            for (int o = 0; o <= 4; ++o)
            {
                const auto expected = (nonRealtime == 1 && o >= 1) ? o - 1 : r;
                EXPECT_EQ (OrvaneChannelProcessor::chooseOversamplingIndex ((float) r, (float) o, nonRealtime == 1), expected);
            }
    EXPECT_EQ (OrvaneChannelProcessor::chooseOversamplingIndex (7.0f, 0.0f, false), 3);
    EXPECT_EQ (OrvaneChannelProcessor::chooseOversamplingIndex (-1.0f, 0.0f, false), 0);
    EXPECT_EQ (OrvaneChannelProcessor::chooseOversamplingIndex (1.0f, 9.0f, true), 3);

    // Through the processor, in prepareToPlay and in the first block that reads the choice.
    OrvaneChannelProcessor p;
    EXPECT_EQ (p.getCurrentOsIndex(), 1); // construction default, "2x"
    p.prepareToPlay (fs, blockSize);
    EXPECT_EQ (p.getCurrentOsIndex(), 1);

    juce::AudioBuffer<float> buffer (2, 64);
    juce::MidiBuffer midi;
    for (int nonRealtime = 0; nonRealtime < 2; ++nonRealtime)
        for (int r = 0; r <= 3; ++r)
            for (int o = 0; o <= 4; ++o)
            {
                SCOPED_TRACE ("nonRealtime " + std::to_string (nonRealtime) + ", osRealtime " + std::to_string (r)
                              + ", osOffline " + std::to_string (o));
                p.setNonRealtime (nonRealtime == 1);
                setParam (p, id::osRealtime, (float) r);
                setParam (p, id::osOffline, (float) o);
                buffer.clear();
                p.processBlock (buffer, midi);
                EXPECT_EQ (p.getCurrentOsIndex(), (nonRealtime == 1 && o >= 1) ? o - 1 : r);

                OrvaneChannelProcessor q;
                q.setNonRealtime (nonRealtime == 1);
                setParam (q, id::osRealtime, (float) r);
                setParam (q, id::osOffline, (float) o);
                q.prepareToPlay (fs, blockSize);
                EXPECT_EQ (q.getCurrentOsIndex(), (nonRealtime == 1 && o >= 1) ? o - 1 : r);
            }
}

TEST (Chain, LatencyIsReportedInPrepareAndReReportedWhenTheChoiceChanges)
{
    OrvaneChannelProcessor p;
    EXPECT_EQ (Access::lastLatencySamples (p), -1);

    // The oversamplers' whole-sample latencies at this rate, from a separate Silk stage.
    std::array<int, 4> latency {};
    {
        SilkStage silk;
        silk.prepare (fs, 2, blockSize);
        for (int i = 0; i < 4; ++i)
        {
            silk.applyOsIndex (i);
            latency[static_cast<size_t> (i)] = silk.getLatencySamples();
        }
    }
    ASSERT_EQ (latency[0], 0);
    ASSERT_TRUE (latency[1] > 0 && latency[3] != latency[1]);

    LatencyListener listener;
    p.addListener (&listener);
    p.prepareToPlay (fs, blockSize);
    EXPECT_EQ (p.getLatencySamples(), latency[1]); // "2x" by default
    EXPECT_EQ (Access::lastLatencySamples (p), latency[1]);
    EXPECT_EQ (listener.latencyChanges, 1);

    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    buffer.clear();
    p.processBlock (buffer, midi);
    EXPECT_EQ (listener.latencyChanges, 1); // nothing changed

    // "2x" to "Off" while playing: the first block that reads it reports latency 0.
    setParam (p, id::osRealtime, 0.0f);
    EXPECT_EQ (p.getLatencySamples(), latency[1]);
    p.processBlock (buffer, midi);
    EXPECT_EQ (p.getLatencySamples(), 0);
    EXPECT_EQ (Access::lastLatencySamples (p), 0);
    EXPECT_EQ (listener.latencyChanges, 2);
    p.processBlock (buffer, midi);
    EXPECT_EQ (listener.latencyChanges, 2);

    // osOffline only counts while rendering offline.
    setParam (p, id::osOffline, 4.0f); // "8x"
    p.processBlock (buffer, midi);
    EXPECT_EQ (p.getLatencySamples(), 0);
    p.setNonRealtime (true);
    p.processBlock (buffer, midi);
    EXPECT_EQ (p.getCurrentOsIndex(), 3);
    EXPECT_EQ (p.getLatencySamples(), latency[3]);
    EXPECT_EQ (listener.latencyChanges, 3);

    // Back to realtime, at "2x".
    p.setNonRealtime (false);
    setParam (p, id::osRealtime, 1.0f);
    p.processBlock (buffer, midi);
    EXPECT_EQ (p.getLatencySamples(), latency[1]);
    EXPECT_EQ (listener.latencyChanges, 4);
    p.removeListener (&listener);
}

TEST (Chain, EmptyBlocksAndReleaseResources)
{
    OrvaneChannelProcessor p;
    engageSections (p);
    p.prepareToPlay (fs, blockSize);
    juce::MidiBuffer midi;

    juce::AudioBuffer<float> empty (2, 0);
    p.processBlock (empty, midi);
    juce::AudioBuffer<float> noChannels (0, 64);
    p.processBlock (noChannels, midi);

    // releaseResources keeps everything: processing goes on as if nothing happened.
    OrvaneChannelProcessor q;
    engageSections (q);
    q.prepareToPlay (fs, blockSize);
    q.processBlock (empty, midi);
    q.processBlock (noChannels, midi);

    const auto input = testSignal (2, 10 * blockSize, fs);
    const auto a = runBlocks (p, input, blockSize);
    q.releaseResources();
    const auto b = runBlocks (q, input, blockSize);
    expectIdentical (a, b);
    for (int i = 0; i < a.getNumSamples(); ++i)
        ASSERT_TRUE (std::isfinite (a.getSample (0, i)));
}

TEST (Chain, UnpreparedProcessorRunsAtTheConstructionDefaults)
{
    OrvaneChannelProcessor p;
    setParam (p, id::mfGain, 6.0f);
    setParam (p, id::outputGain, -6.0f);
    const auto input = testSignal (2, 4 * blockSize, 44100.0);
    const auto out = runBlocks (p, input, blockSize);
    EXPECT_DOUBLE_EQ (Access::equaliser (p).getSampleRate(), 44100.0);
    // No ramps before prepareToPlay: the output trim is in place from the first sample.
    EXPECT_FALSE (Access::outputGain (p).isSmoothing());
    EXPECT_FLOAT_EQ (Access::outputGain (p).getTargetValue(), juce::Decibels::decibelsToGain (rawParam (p, id::outputGain)));
    for (int i = 0; i < out.getNumSamples(); ++i)
        ASSERT_TRUE (std::isfinite (out.getSample (0, i)));
}

TEST (Chain, MonoAndStereoBookkeeping)
{
    OrvaneChannelProcessor p;
    ASSERT_TRUE (p.setBusesLayout ({ { juce::AudioChannelSet::mono() }, { juce::AudioChannelSet::mono() } }));
    engageSections (p);
    p.prepareToPlay (44100.0, 256);
    EXPECT_EQ (p.meterState->numChannels.load(), 1);
    EXPECT_DOUBLE_EQ (p.meterState->sampleRate.load(), 44100.0);
    EXPECT_EQ (Access::equaliser (p).getNumChannels(), 1);

    const auto input = testSignal (1, 8 * 256, 44100.0);
    const auto out = runBlocks (p, input, 256);
    EXPECT_EQ (p.meterState->numChannels.load(), 1);
    EXPECT_GT (Access::compressor (p).getGainReductionDb(), 0.5f);
    EXPECT_EQ (Access::compressor (p).getGainReductionChannel1Db(), Access::compressor (p).getGainReductionChannel0Db());
    EXPECT_GT (maxDifference (out, input), 0.01f);

    OrvaneChannelProcessor s;
    s.prepareToPlay (96000.0, 128);
    EXPECT_EQ (s.meterState->numChannels.load(), 2);
    EXPECT_DOUBLE_EQ (s.meterState->sampleRate.load(), 96000.0);
    juce::AudioBuffer<float> monoBuffer (1, 128);
    monoBuffer.clear();
    juce::MidiBuffer midi;
    s.processBlock (monoBuffer, midi);
    EXPECT_EQ (s.meterState->numChannels.load(), 1);
    juce::AudioBuffer<float> stereoBuffer (2, 128);
    stereoBuffer.clear();
    s.processBlock (stereoBuffer, midi);
    EXPECT_EQ (s.meterState->numChannels.load(), 2);
}

TEST (Chain, PrepareResetsTheSmoothersAndBlocks)
{
    OrvaneChannelProcessor p;
    p.prepareToPlay (fs, blockSize);
    setParam (p, id::inputGain, 12.0f);
    juce::AudioBuffer<float> buffer (2, 100);
    buffer.clear();
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);
    ASSERT_TRUE (Access::inputGain (p).isSmoothing());

    // A new prepareToPlay: current = target, no ramp; parameters kept.
    p.prepareToPlay (44100.0, blockSize);
    EXPECT_FALSE (Access::inputGain (p).isSmoothing());
    EXPECT_FLOAT_EQ (Access::inputGain (p).getCurrentValue(), juce::Decibels::decibelsToGain (rawParam (p, id::inputGain)));
    EXPECT_DOUBLE_EQ (Access::compressor (p).getSampleRate(), 44100.0);
    EXPECT_DOUBLE_EQ (Access::filters (p).getSampleRate(), 44100.0);
    EXPECT_NEAR (rawParam (p, id::inputGain), 12.0f, 1.0e-5f);
}
