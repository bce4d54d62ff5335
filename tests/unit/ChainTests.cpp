#include <gtest/gtest.h>

#include "unit/DspTestUtils.h"
#include "unit/ProcessorTestAccess.h"

// The signal chain through processBlock. The Silk stage, the channel trim and the
// stereo stage are not wired in yet and pass the signal, so the expected outputs below
// are the front of the chain (trim, polarity, high-pass, equaliser, compressor) and the
// output trim. Tests that compare two processors with each other hold with those
// stages in place as well.

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

    void expectIdentical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        ASSERT_EQ (a.getNumChannels(), b.getNumChannels());
        ASSERT_EQ (a.getNumSamples(), b.getNumSamples());
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            for (int i = 0; i < a.getNumSamples(); ++i)
                ASSERT_EQ (a.getSample (ch, i), b.getSample (ch, i)) << "channel " << ch << ", sample " << i;
    }

    float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        float m = 0.0f;
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            for (int i = 0; i < a.getNumSamples(); ++i)
                m = std::max (m, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));
        return m;
    }

    // The blocks of the chain, set up from the processor's parameter values, run by hand.
    struct Reference
    {
        Filters filters;
        ParametricEQ eq;
        CompressorLimiter comp;

        Reference (OrvaneChannelProcessor& p, int numChannels)
        {
            filters.prepare (fs, numChannels);
            eq.prepare (fs, numChannels);
            comp.prepare (fs);
            filters.setHighPass (rawParam (p, id::hpfFreq));
            eq.update (EqSettings::fromParameters (rawParam (p, id::lfFreqHi) > 0.5f, rawParam (p, id::hfFreqHi) > 0.5f,
                                                   rawParam (p, id::mfGain), rawParam (p, id::lfGain),
                                                   rawParam (p, id::hfGain), rawParam (p, id::mfFreq)));
            comp.setParameters (rawParam (p, id::compThresh), rawParam (p, id::compRelease), rawParam (p, id::compMakeup),
                                rawParam (p, id::compLink) > 0.5f, rawParam (p, id::compScHpf));
        }

        juce::AudioBuffer<float> run (const juce::AudioBuffer<float>& input, bool hpf, bool eqFirst, bool eqOn, bool compOn)
        {
            juce::AudioBuffer<float> out (input);
            juce::dsp::AudioBlock<float> whole (out);
            for (int start = 0; start < out.getNumSamples(); start += blockSize)
            {
                auto block = whole.getSubBlock ((size_t) start, (size_t) std::min (blockSize, out.getNumSamples() - start));
                if (hpf)
                    filters.process (block);
                if (eqFirst)
                {
                    if (eqOn) eq.process (block);
                    if (compOn) comp.process (block);
                }
                else
                {
                    if (compOn) comp.process (block);
                    if (eqOn) eq.process (block);
                }
            }
            return out;
        }
    };

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
}

TEST (Chain, DefaultsLeaveTheFrontOfTheChainTransparent)
{
    OrvaneChannelProcessor p;
    p.prepareToPlay (fs, blockSize);
    const auto input = testSignal (2, 8 * blockSize, fs);
    const auto out = runBlocks (p, input, blockSize);
    // eqOn with all gains at 0 dB: exact unity filters apart from rounding.
    EXPECT_LT (maxDifference (out, input), 1.0e-6f);
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
        setParam (p, id::compPreEq, (float) preEq);
        p.prepareToPlay (fs, blockSize);
        outputs[preEq] = runBlocks (p, input, blockSize);

        Reference ref (p, 2);
        expectIdentical (outputs[preEq], ref.run (input, true, preEq == 0, true, true));
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

    for (int eqOn = 0; eqOn < 2; ++eqOn)
        for (int compOn = 0; compOn < 2; ++compOn)
        {
            SCOPED_TRACE ("eqOn " + std::to_string (eqOn) + ", compOn " + std::to_string (compOn));
            OrvaneChannelProcessor p;
            engageSections (p);
            setParam (p, id::hpfFreq, 20.0f); // off
            setParam (p, id::eqOn, (float) eqOn);
            setParam (p, id::compOn, (float) compOn);
            p.prepareToPlay (fs, blockSize);
            const auto out = runBlocks (p, input, blockSize);

            Reference ref (p, 2);
            expectIdentical (out, ref.run (input, false, true, eqOn == 1, compOn == 1));
            if (eqOn == 0 && compOn == 0)
                expectIdentical (out, input);
        }

    // The high-pass filter on at 60 Hz, nothing else.
    OrvaneChannelProcessor p;
    setParam (p, id::hpfFreq, 60.0f);
    p.prepareToPlay (fs, blockSize);
    const auto out = runBlocks (p, input, blockSize);
    EXPECT_TRUE (Access::filters (p).isHighPassOn());
    Reference ref (p, 2);
    EXPECT_LT (maxDifference (out, ref.run (input, true, true, true, false)), 1.0e-6f);
}

TEST (Chain, EqualiserOffPassesUntouchedWhileItsTargetsFollow)
{
    OrvaneChannelProcessor p;
    setParam (p, id::mfGain, 6.0f);
    p.prepareToPlay (fs, blockSize);
    const auto input = testSignal (2, blockSize, fs);
    runBlocks (p, input, blockSize);

    const auto& eq = Access::equaliser (p);
    const auto stood = eq.getBand (ParametricEQ::midBell, 0).getCurrent();

    setParam (p, id::eqOn, 0.0f);
    setParam (p, id::mfGain, -9.0f);
    const auto out = runBlocks (p, input, blockSize);
    expectIdentical (out, input);

    // The targets followed the parameter; the current coefficients stood still.
    const auto expectedTarget = ParametricEQ::peakCoefficients (fs, 1000.0f,
                                                                0.5f + 0.9f * (9.0f / 12.0f), rawParam (p, id::mfGain));
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
    const auto input = testSignal (2, 20 * blockSize, fs);
    runBlocks (p, input, blockSize);

    const auto& comp = Access::compressor (p);
    const auto gr = comp.getGainReductionDb();
    const auto env = comp.getEnvelope (0);
    ASSERT_GT (gr, 1.0f);

    setParam (p, id::compOn, 0.0f);
    setParam (p, id::compThresh, -10.0f);
    setParam (p, id::compMakeup, 6.0f);
    const auto out = runBlocks (p, input, blockSize);
    expectIdentical (out, input);
    EXPECT_EQ (comp.getGainReductionDb(), gr);
    EXPECT_EQ (comp.getEnvelope (0), env);
    EXPECT_FLOAT_EQ (comp.getThresholdDb(), -10.0f);
    EXPECT_FLOAT_EQ (comp.getMakeupGain(), juce::Decibels::decibelsToGain (6.0f));
}

TEST (Chain, InputAndOutputTrimsRampOverTwentyMilliseconds)
{
    const int ramp = static_cast<int> (std::floor (0.02 * fs)); // 960 samples

    for (const char* param : { id::inputGain, id::outputGain })
    {
        SCOPED_TRACE (param);
        OrvaneChannelProcessor p;
        setParam (p, id::eqOn, 0.0f);
        p.prepareToPlay (fs, blockSize);
        juce::AudioBuffer<float> dc (2, 4 * blockSize);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < dc.getNumSamples(); ++i)
                dc.setSample (ch, i, 0.25f);
        runBlocks (p, dc, blockSize);

        setParam (p, param, 6.0f);
        const auto target = juce::Decibels::decibelsToGain (rawParam (p, param));
        const auto out = runBlocks (p, dc, blockSize);
        const auto step = (target - 1.0f) / (float) ramp;

        for (int i : { 0, 1, ramp / 2, ramp - 2 })
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_NEAR (out.getSample (ch, i), 0.25f * (1.0f + step * (float) (i + 1)), 1.0e-5f) << i;

        // The ramp lands on the target after exactly 960 samples and stays there.
        for (int i = ramp - 1; i < out.getNumSamples(); ++i)
            ASSERT_EQ (out.getSample (0, i), 0.25f * target) << i;
        EXPECT_LT (out.getSample (0, ramp - 2), 0.25f * target);
        EXPECT_EQ (out.getSample (0, ramp - 1), out.getSample (1, ramp - 1));
    }
}

TEST (Chain, OutputOffIsSilenceAfterTheRamp)
{
    const int ramp = static_cast<int> (std::floor (0.02 * fs));

    for (float db : { -59.5f, -60.0f, -59.4f })
    {
        SCOPED_TRACE (db);
        OrvaneChannelProcessor p;
        p.prepareToPlay (fs, blockSize);
        setParam (p, id::outputGain, db);
        const auto input = testSignal (2, 6 * blockSize, fs);
        const auto out = runBlocks (p, input, blockSize);

        // It ramps: halfway through the output is still about half the input.
        EXPECT_GT (peakOf (out, 0, ramp / 2 - 50, ramp / 2), 0.1f);

        const auto tail = peakOf (out, 0, ramp, out.getNumSamples());
        if (db <= -59.5f)
            EXPECT_EQ (tail, 0.0f);
        else
            EXPECT_NEAR (tail, peakOf (input, 0, ramp, out.getNumSamples()) * juce::Decibels::decibelsToGain (rawParam (p, id::outputGain)), 1.0e-6f);
    }
}

TEST (Chain, PolarityFlipsAtTheNextBlockWithoutARamp)
{
    OrvaneChannelProcessor p;
    p.prepareToPlay (fs, blockSize);
    setParam (p, id::eqOn, 0.0f);
    const auto input = testSignal (2, blockSize, fs);
    expectIdentical (runBlocks (p, input, blockSize), input);

    setParam (p, id::polarity, 1.0f);
    const auto inverted = runBlocks (p, input, blockSize);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < blockSize; ++i)
            ASSERT_EQ (inverted.getSample (ch, i), -input.getSample (ch, i)) << i;

    // With a gain ramp running, the sign multiplies the ramp.
    setParam (p, id::inputGain, -6.0f);
    const auto both = runBlocks (p, input, blockSize);
    EXPECT_LT (both.getSample (0, 10) * input.getSample (0, 10), 0.0f);

    setParam (p, id::polarity, 0.0f);
    setParam (p, id::inputGain, 0.0f);
    const auto back = runBlocks (p, input, blockSize);
    EXPECT_GT (back.getSample (0, 10) * input.getSample (0, 10), 0.0f);
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
