// The whole processor as a host drives it: latency, the meter record and its rings,
// the host's gain-reduction parameter and the saved state, all through processBlock.

#include <gtest/gtest.h>

#include "dsp/ChannelTolerance.h"
#include "unit/DspTestUtils.h"
#include "unit/ProcessorTestAccess.h"
#include "unit/SignalTools.h"

#include <iostream>
#include <stdexcept>

using namespace orvane::test;
namespace id = orvane::ParamIDs;

namespace
{
    constexpr double fs = 48000.0;
    constexpr int blockSize = 512;
    constexpr int ringSize = MeterState::ringSize;

    std::vector<float> channelOf (const juce::AudioBuffer<float>& b, int ch)
    {
        return { b.getReadPointer (ch), b.getReadPointer (ch) + b.getNumSamples() };
    }

    juce::AudioBuffer<float> stereoOf (const std::vector<float>& left, const std::vector<float>& right)
    {
        juce::AudioBuffer<float> b (2, (int) left.size());
        b.copyFrom (0, 0, left.data(), (int) left.size());
        b.copyFrom (1, 0, right.data(), (int) right.size());
        return b;
    }

    // The ring oldest value first, as the displays read it.
    std::vector<float> ringContents (const std::array<std::atomic<float>, ringSize>& ring, int writePosition)
    {
        std::vector<float> out;
        for (int i = 0; i < ringSize; ++i)
            out.push_back (ring[(size_t) ((writePosition + i) % ringSize)].load());
        return out;
    }

    juce::RangedAudioParameter& grMeterParameter (OrvaneChannelProcessor& p)
    {
        for (auto* parameter : p.getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
                if (ranged->getParameterID() == id::compGrMeter)
                    return *ranged;

        throw std::runtime_error ("no gain-reduction meter parameter");
    }

    struct ValueRecorder : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int, float newValue) override { values.push_back (newValue); }
        void parameterGestureChanged (int, bool) override {}
        std::vector<float> values;
    };
}

//==============================================================================
TEST (WholeChain, LatencyIsTheDelayOfA1kHzToneThroughTheProcessor)
{
    // 0.5 s of a 1 kHz tone; the second half (250 whole periods) is measured, long
    // after the DC blocker and the shelves have settled.
    constexpr int length = 24000, start = 12000;
    const auto tone = sine (length, 1000.0, fs, 0.25);
    const auto period = fs / 1000.0;

    for (int index = 0; index <= 3; ++index)
    {
        SCOPED_TRACE ("osRealtime " + std::to_string (index));
        OrvaneChannelProcessor p;
        setParam (p, id::osRealtime, (float) index);
        p.prepareToPlay (fs, blockSize);

        // What the host reads after prepareToPlay, before any audio, and what it still reads after.
        const auto reported = p.getLatencySamples();
        const auto out = runBlocks (p, stereoOf (tone, tone), blockSize);
        EXPECT_EQ (p.getLatencySamples(), reported);

        // The delay from the tone's phase. A period is 48 samples, far more than any
        // oversampler delays, so the phase within +-half a period is the delay itself.
        const auto ratio = toneAt (channelOf (out, 0), start, start, 1000.0, fs) / toneAt (tone, start, start, 1000.0, fs);
        const auto delay = -std::arg (ratio) / (2.0 * pi) * period;

        std::cout << "[ measure ] osRealtime " << index << ": reported latency " << reported
                  << ", phase delay of 1 kHz through processBlock " << delay << " samples\n";
        EXPECT_NEAR (delay, reported, 0.5);

        if (index == 0)
            EXPECT_EQ (reported, 0);
        else
            EXPECT_GT (reported, 0);
    }
}

//==============================================================================
TEST (WholeChain, SilkRingHoldsTheAlignedAddedSignalBesideTheOutputRing)
{
    // Exactly one ring of samples, so that each run fills both rings once.
    const auto input = testSignal (2, ringSize, fs);
    ASSERT_EQ (ringSize % blockSize, 0);

    for (int index = 0; index <= 3; ++index)
    {
        SCOPED_TRACE ("osRealtime " + std::to_string (index));

        // Nothing in front of the Silk stage: it sees the input as it comes.
        OrvaneChannelProcessor p;
        setParam (p, id::eqOn, 0.0f);
        setParam (p, id::bloomMode, 1.0f); // "Air"
        setParam (p, id::silkTexture, 100.0f);
        setParam (p, id::osRealtime, (float) index);
        p.prepareToPlay (fs, blockSize);
        const auto out = runBlocks (p, input, blockSize);
        const auto& meters = *p.meterState;

        ASSERT_EQ (meters.silkRingPos.load(), 0);
        ASSERT_EQ (meters.outputRingPos.load(), 0);
        const auto silkRing = ringContents (meters.silkRing, 0);
        const auto outputRing = ringContents (meters.outputRing, 0);

        // A Silk stage of its own, set up alike, fed the same blocks.
        SilkStage silk;
        silk.applyOsIndex (index);
        silk.setMode (SilkStage::modeAir);
        silk.setAmount (100.0f);
        silk.prepare (fs, 2, blockSize);
        auto copy = input;
        juce::dsp::AudioBlock<float> whole (copy);
        std::vector<float> added;
        for (int s = 0; s < ringSize; s += blockSize)
        {
            auto block = whole.getSubBlock ((size_t) s, (size_t) blockSize);
            silk.process (block);
            added.insert (added.end(), silk.getAddedSignal(), silk.getAddedSignal() + silk.getAddedSignalLength());
        }
        ASSERT_EQ (added.size(), (size_t) ringSize);

        // The same values, in the same places.
        for (int i = 0; i < ringSize; ++i)
            ASSERT_EQ (silkRing[(size_t) i], added[(size_t) i]) << i;

        // And what they mean: the output (before the channel trim) minus the input
        // delayed by the latency the processor reports. Off by one sample this would
        // miss by about 0.08 on this signal; the bound covers the stereo stage's
        // rounding of (L + R) / 2.
        const auto trim = juce::Decibels::decibelsToGain (ChannelTolerance::computeTolerance (1.0f).trimOffsetDb);
        const auto latency = p.getLatencySamples();
        auto worst = 0.0f, largest = 0.0f;
        for (int i = 0; i < ringSize; ++i)
        {
            const auto outMono = 0.5f * (out.getSample (0, i) + out.getSample (1, i));
            const auto inMono = i < latency ? 0.0f : 0.5f * (input.getSample (0, i - latency) + input.getSample (1, i - latency));
            worst = std::max (worst, std::abs (silkRing[(size_t) i] - (outMono / trim - inMono)));
            largest = std::max (largest, std::abs (silkRing[(size_t) i]));

            ASSERT_EQ (outputRing[(size_t) i], (out.getSample (0, i) + out.getSample (1, i)) * 0.5f) << i;
        }
        std::cout << "[ measure ] osRealtime " << index << ": Silk ring against output minus delayed input: largest difference "
                  << worst << ", largest value " << largest << "\n";
        EXPECT_LT (worst, 5.0e-7f);
        EXPECT_GT (largest, 0.05f); // "Air" at 100 % really adds something

        // Mode "Off": the Silk ring advances by zeros while the output ring gets audio.
        setParam (p, id::bloomMode, 0.0f);
        const auto offOut = runBlocks (p, input, blockSize);
        EXPECT_EQ (meters.silkRingPos.load(), 0);
        EXPECT_EQ (meters.outputRingPos.load(), 0);
        const auto offRing = ringContents (meters.outputRing, 0);
        for (int i = 0; i < ringSize; ++i)
        {
            ASSERT_EQ (meters.silkRing[(size_t) i].load(), 0.0f) << i;
            ASSERT_EQ (offRing[(size_t) i], (offOut.getSample (0, i) + offOut.getSample (1, i)) * 0.5f) << i;
        }
        EXPECT_GT (peakOf (offOut, 0, 0, ringSize), 0.1f);
    }
}

//==============================================================================
TEST (WholeChain, DefaultsChangeTheSoundAndASavedStateRestoresItExactly)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<const char*, float>> settings;
    };

    const std::vector<Case> cases {
        { "defaults", {} },
        { "every stage engaged",
          { { id::inputGain, 4.5f }, { id::polarity, 1.0f }, { id::hpfFreq, 75.0f }, { id::lfGain, 3.5f },
            { id::lfFreqHi, 1.0f }, { id::mfFreq, 2400.0f }, { id::mfGain, -5.0f }, { id::hfGain, 4.0f },
            { id::compOn, 1.0f }, { id::compThresh, -18.0f }, { id::compRelease, 90.0f }, { id::compMakeup, 2.0f },
            { id::compScHpf, 80.0f }, { id::compPreEq, 1.0f }, { id::compLink, 1.0f }, { id::bloomMode, 2.0f },
            { id::silkTexture, 65.0f }, { id::tmtChannel, 40.0f }, { id::stWidth, 140.0f },
            { id::monoMakerHz, 110.0f }, { id::outputGain, -3.0f }, { id::osRealtime, 3.0f } } },
    };

    const auto input = testSignal (2, 16 * blockSize, fs);

    OrvaneChannelProcessor fresh;
    fresh.prepareToPlay (fs, blockSize);
    const auto freshOut = runBlocks (fresh, input, blockSize);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        OrvaneChannelProcessor original;
        for (const auto& [param, value] : c.settings)
            setParam (original, param, value);
        original.prepareToPlay (fs, blockSize);
        const auto before = runBlocks (original, input, blockSize);

        // Any setting changes the sound; the defaults too.
        EXPECT_GT (maxDifference (before, input), 0.01f);

        juce::MemoryBlock state;
        original.getStateInformation (state);

        // A new session: a fresh instance, the stored block, then prepareToPlay.
        OrvaneChannelProcessor restored;
        restored.setStateInformation (state.getData(), (int) state.getSize());
        restored.prepareToPlay (fs, blockSize);
        expectIdentical (runBlocks (restored, input, blockSize), before);
        EXPECT_EQ (restored.getLatencySamples(), original.getLatencySamples());

        if (! c.settings.empty())
            EXPECT_GT (maxDifference (before, freshOut), 0.01f);
    }
}

//==============================================================================
TEST (WholeChain, MeterRecordThroughTheProcessor)
{
    // A full-scale square wave on the left only, 500 Hz; silence on the right.
    constexpr int halfPeriod = 48;
    juce::AudioBuffer<float> leftOnly (2, 4 * blockSize);
    leftOnly.clear();
    for (int i = 0; i < leftOnly.getNumSamples(); ++i)
        leftOnly.setSample (0, i, (i / halfPeriod) % 2 == 0 ? 1.0f : -1.0f);

    struct Fields
    {
        float inPeak, inPeakL, inPeakR, inRms, inRmsL, inRmsR;
        float outPeak, outPeakL, outPeakR, outRms, outRmsL, outRmsR;
        float grDb, grLeftDb, grRightDb;
        int numChannels;
    };

    const auto read = [] (const MeterState& m)
    {
        return Fields { m.inPeak, m.inPeakL, m.inPeakR, m.inRms, m.inRmsL, m.inRmsR,
                        m.outPeak, m.outPeakL, m.outPeakR, m.outRms, m.outRmsL, m.outRmsR,
                        m.grDb, m.grLeftDb, m.grRightDb, m.numChannels };
    };

    // Run with a trim, the compressor off; read after the last block, long after
    // the 20 ms ramps.
    const auto metersWith = [&] (const char* param, float value)
    {
        OrvaneChannelProcessor p;
        setParam (p, param, value);
        p.prepareToPlay (fs, blockSize);
        runBlocks (p, leftOnly, blockSize);
        return read (*p.meterState);
    };

    const auto plain = metersWith (id::inputGain, 0.0f);
    EXPECT_EQ (plain.numChannels, 2);
    EXPECT_EQ (plain.inPeak, 1.0f);
    EXPECT_EQ (plain.inPeakL, 1.0f);
    EXPECT_EQ (plain.inPeakR, 0.0f);
    EXPECT_EQ (plain.inRmsL, 1.0f);
    EXPECT_EQ (plain.inRmsR, 0.0f);
    EXPECT_EQ (plain.inRms, 0.5f); // the average over two channels
    EXPECT_EQ (plain.grDb, 0.0f);
    EXPECT_EQ (plain.grLeftDb, 0.0f);
    EXPECT_EQ (plain.grRightDb, 0.0f);

    // The right channel stays silent through the chain: a silent channel is not
    // coloured and the stereo stage at 100 % gives R = M - S = 0 exactly.
    EXPECT_EQ (plain.outPeakR, 0.0f);
    EXPECT_EQ (plain.outRmsR, 0.0f);
    EXPECT_GT (plain.outRmsL, 0.8f);
    EXPECT_EQ (plain.outPeak, plain.outPeakL);
    EXPECT_FLOAT_EQ (plain.outRms, 0.5f * plain.outRmsL);

    // +12 dB at the input: the input fields are taken before the trim, the output
    // fields after it. The saturator takes some of the 12 dB, but far from 6.
    const auto hot = metersWith (id::inputGain, 12.0f);
    EXPECT_EQ (hot.inPeak, plain.inPeak);
    EXPECT_EQ (hot.inPeakL, plain.inPeakL);
    EXPECT_EQ (hot.inPeakR, plain.inPeakR);
    EXPECT_EQ (hot.inRms, plain.inRms);
    EXPECT_EQ (hot.inRmsL, plain.inRmsL);
    EXPECT_EQ (hot.inRmsR, plain.inRmsR);
    EXPECT_GT (hot.outPeakL, 2.0f * plain.outPeakL);
    EXPECT_GT (hot.outPeak, 2.0f * plain.outPeak);
    EXPECT_GT (hot.outRmsL, 2.0f * plain.outRmsL);
    EXPECT_GT (hot.outRms, 2.0f * plain.outRms);

    // The output fields come after the output trim: -6 dB scales them exactly.
    const auto quiet = metersWith (id::outputGain, -6.0f);
    const auto g = juce::Decibels::decibelsToGain (-6.0f);
    EXPECT_EQ (quiet.inRmsL, plain.inRmsL);
    EXPECT_NEAR (quiet.outPeakL, g * plain.outPeakL, 1.0e-6f);
    EXPECT_NEAR (quiet.outRmsL, g * plain.outRmsL, 1.0e-6f);
    EXPECT_NEAR (quiet.outRms, g * plain.outRms, 1.0e-6f);

    // A mono buffer after stereo ones: one channel, every R field back to 0, and
    // the output ring takes channel 0 as it is.
    OrvaneChannelProcessor p;
    p.prepareToPlay (fs, blockSize);
    runBlocks (p, testSignal (2, 2 * blockSize, fs), blockSize);
    ASSERT_GT (p.meterState->inPeakR.load(), 0.0f);
    ASSERT_GT (p.meterState->outRmsR.load(), 0.0f);

    const auto monoOut = runBlocks (p, testSignal (1, blockSize, fs, 7), blockSize);
    const auto mono = read (*p.meterState);
    EXPECT_EQ (mono.numChannels, 1);
    EXPECT_EQ (mono.inPeakR, 0.0f);
    EXPECT_EQ (mono.inRmsR, 0.0f);
    EXPECT_EQ (mono.outPeakR, 0.0f);
    EXPECT_EQ (mono.outRmsR, 0.0f);
    EXPECT_GT (mono.inRmsL, 0.1f);
    EXPECT_EQ (mono.inRms, mono.inRmsL);
    EXPECT_EQ (mono.outRms, mono.outRmsL);
    EXPECT_EQ (mono.outPeak, mono.outPeakL);

    const auto position = p.meterState->outputRingPos.load();
    EXPECT_EQ (position, (3 * blockSize) % ringSize);
    for (int i = 0; i < blockSize; ++i)
        ASSERT_EQ (p.meterState->outputRing[(size_t) ((position - blockSize + i + ringSize) % ringSize)].load(),
                   monoOut.getSample (0, i))
            << i;
}

//==============================================================================
TEST (WholeChain, HostMeterParameterFollowsTheCompressor)
{
    OrvaneChannelProcessor p;
    setParam (p, id::compOn, 1.0f);
    setParam (p, id::compThresh, -30.0f);
    p.prepareToPlay (fs, blockSize);

    auto& meter = grMeterParameter (p);
    ValueRecorder recorder;
    meter.addListener (&recorder);

    // The rule, written out: a block sends when its grDb is more than 0.005 dB
    // away from the value last sent (none yet before the first block), clamped to
    // 0..40 dB, on the parameter's 0.01 dB grid, as a share of the 40 dB range.
    float lastSent = 0.0f;
    bool sentBefore = false;
    int quietBlocks = 0, sendingBlocks = 0;

    const auto runAndCheck = [&] (const juce::AudioBuffer<float>& signal, int blocks)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        for (int b = 0; b < blocks; ++b)
        {
            buffer.makeCopyOf (signal, true);
            recorder.values.clear();
            p.processBlock (buffer, midi);

            const auto gr = p.meterState->grDb.load();
            if (! sentBefore || std::abs (gr - lastSent) > 0.005f)
            {
                ASSERT_EQ (recorder.values.size(), 1u) << "block " << b << ", grDb " << gr;
                EXPECT_NEAR (recorder.values[0], std::round (std::clamp (gr, 0.0f, 40.0f) * 100.0f) / 100.0f / 40.0f, 1.0e-6f);
                lastSent = gr;
                sentBefore = true;
                ++sendingBlocks;
            }
            else
            {
                ASSERT_TRUE (recorder.values.empty()) << "block " << b << ", grDb " << gr << ", last sent " << lastSent;
                ++quietBlocks;
            }
        }
    };

    // The first block sends 0, even though the parameter is at 0 already; then silence sends nothing.
    juce::AudioBuffer<float> silence (2, blockSize);
    silence.clear();
    runAndCheck (silence, 1);
    ASSERT_EQ (sendingBlocks, 1);
    EXPECT_EQ (lastSent, 0.0f);
    runAndCheck (silence, 5);
    EXPECT_EQ (sendingBlocks, 1);

    // A steady 1.5 kHz tone of amplitude 0.5 has an RMS of 0.5 / sqrt 2, -9.03 dBFS:
    // 21.10 dB over the threshold of -30 dB moved by channel 1's -0.131 dB, so 10.55 dB
    // of reduction on the 2:1 slope, reached through the 0.7/0.3 block smoothing (the
    // 10 ms detector's ripple at 3 kHz adds up to 0.02 dB). Once it stands still the
    // dead band keeps the parameter quiet. A block holds 16 whole periods, so the
    // same block repeated is a seamless tone.
    const auto tone = stereoOf (sine (blockSize, 1500.0, fs, 0.5), sine (blockSize, 1500.0, fs, 0.5));
    quietBlocks = 0;
    runAndCheck (tone, 80);
    std::cout << "[ measure ] steady tone: grDb " << p.meterState->grDb.load() << " after " << sendingBlocks
              << " sending and " << quietBlocks << " quiet blocks\n";
    EXPECT_NEAR (p.meterState->grDb.load(), 10.55f, 0.03f);
    // The parameter holds the last value sent (within the dead band) on its 0.01 dB grid.
    EXPECT_NEAR (meter.getValue() * 40.0f, p.meterState->grDb.load(), 0.005f + 0.005f);
    EXPECT_GT (quietBlocks, 20);
    EXPECT_GT (sendingBlocks, 10);

    // 3000 at full scale is 66.5 dB RMS, 96.5 dB over: 48 dB of reduction, which
    // the meter shows as its top, 40 dB.
    const auto blast = stereoOf (sine (blockSize, 1500.0, fs, 3000.0), sine (blockSize, 1500.0, fs, 3000.0));
    runAndCheck (blast, 80);
    EXPECT_FLOAT_EQ (p.meterState->grDb.load(), 40.0f);
    EXPECT_FLOAT_EQ (meter.getValue(), 1.0f);

    // The compressor off: 0 at once, and nothing more after that.
    setParam (p, id::compOn, 0.0f);
    sendingBlocks = 0;
    runAndCheck (tone, 4);
    EXPECT_EQ (sendingBlocks, 1);
    EXPECT_EQ (lastSent, 0.0f);
    EXPECT_EQ (meter.getValue(), 0.0f);

    meter.removeListener (&recorder);
}
