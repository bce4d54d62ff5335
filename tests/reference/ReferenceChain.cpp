#include "reference/ReferenceChain.h"

#include "dsp/ChannelTolerance.h"
#include "processor/OrvaneChannelProcessor.h"
#include "processor/ParameterLayout.h"

namespace reference
{
namespace
{
    constexpr double rampSeconds = 0.02;
    constexpr float on = 0.5f;
}

Chain::Chain (juce::AudioProcessorValueTreeState& s) : state (s) {}

float Chain::value (const char* id) const
{
    return state.getRawParameterValue (id)->load();
}

void Chain::prepare (double sampleRate, int numChannels, int maximumBlockSize, bool isNonRealtime)
{
    namespace id = orvane::ParamIDs;
    nonRealtime = isNonRealtime;
    numChannels = std::max (numChannels, 1);

    filters.prepare (sampleRate, numChannels);
    equaliser.prepare (sampleRate, std::min (numChannels, 2));
    compressor.prepare (sampleRate);
    silk.prepare (sampleRate, numChannels >= 2 ? 2 : 1, maximumBlockSize);

    channelTrim.reset (sampleRate, rampSeconds);
    channelTrim.setCurrentAndTargetValue (
        juce::Decibels::decibelsToGain (ChannelTolerance::computeTolerance (value (id::tmtChannel)).trimOffsetDb));

    stereo.prepare (sampleRate);
    inputGain.reset (sampleRate, rampSeconds);
    outputGain.reset (sampleRate, rampSeconds);

    const auto index = OrvaneChannelProcessor::chooseOversamplingIndex (value (id::osRealtime), value (id::osOffline),
                                                                        nonRealtime);
    if (index != silk.getOsIndex())
        silk.applyOsIndex (index);
}

void Chain::updateParameters()
{
    namespace id = orvane::ParamIDs;

    inputGain.setTargetValue (juce::Decibels::decibelsToGain (value (id::inputGain)));
    const auto outputDb = value (id::outputGain);
    outputGain.setTargetValue (outputDb <= orvane::outputSilenceDb ? 0.0f : juce::Decibels::decibelsToGain (outputDb));
    polaritySign = value (id::polarity) > on ? -1.0f : 1.0f;

    const auto t = ChannelTolerance::computeTolerance (value (id::tmtChannel));
    equaliser.setTolerance ({ t.lfFreqMultiplier, t.mfFreqMultiplier, t.hfFreqMultiplier },
                            { t.lfGainMultiplier, t.mfGainMultiplier, t.hfGainMultiplier });
    compressor.setTolerance (t.thresholdOffsetDb, t.releaseMultiplier);
    channelTrim.setTargetValue (juce::Decibels::decibelsToGain (t.trimOffsetDb));

    filters.setHighPass (value (id::hpfFreq));
    equaliser.update (EqSettings::fromParameters (value (id::lfFreqHi) > on, value (id::hfFreqHi) > on,
                                                  value (id::mfGain), value (id::lfGain), value (id::hfGain),
                                                  value (id::mfFreq)));
    compressor.setParameters (value (id::compThresh), value (id::compRelease), value (id::compMakeup),
                              value (id::compLink) > on, value (id::compScHpf));

    silk.setMode (juce::roundToInt (value (id::bloomMode)));
    silk.setAmount (value (id::silkTexture));

    const auto index = OrvaneChannelProcessor::chooseOversamplingIndex (value (id::osRealtime), value (id::osOffline),
                                                                        nonRealtime);
    if (index != silk.getOsIndex())
        silk.applyOsIndex (index);

    stereo.update (value (id::stWidth), value (id::monoMakerHz));
}

void Chain::process (juce::AudioBuffer<float>& buffer)
{
    namespace id = orvane::ParamIDs;
    juce::ScopedNoDenormals noDenormals;
    updateParameters();

    const auto numChannels = buffer.getNumChannels();
    const auto numSamples = buffer.getNumSamples();

    // Input trim and polarity, one smoother step per sample.
    for (int i = 0; i < numSamples; ++i)
    {
        const auto g = inputGain.getNextValue() * polaritySign;
        for (int ch = 0; ch < numChannels; ++ch)
            buffer.getWritePointer (ch)[i] *= g;
    }

    juce::dsp::AudioBlock<float> block (buffer);
    filters.process (block);

    const bool eqOn = value (id::eqOn) > on, compOn = value (id::compOn) > on;

    if (value (id::compPreEq) > on)
    {
        if (compOn)
            compressor.process (block);
        if (eqOn)
            equaliser.process (block);
    }
    else
    {
        if (eqOn)
            equaliser.process (block);
        if (compOn)
            compressor.process (block);
    }

    silk.process (block);

    // Channel trim on the first two channels.
    for (int i = 0; i < numSamples; ++i)
    {
        const auto g = channelTrim.getNextValue();
        for (int ch = 0; ch < std::min (numChannels, 2); ++ch)
            buffer.getWritePointer (ch)[i] *= g;
    }

    if (numChannels >= 2)
        stereo.process (block);

    for (int i = 0; i < numSamples; ++i)
    {
        const auto g = outputGain.getNextValue();
        for (int ch = 0; ch < numChannels; ++ch)
            buffer.getWritePointer (ch)[i] *= g;
    }
}
} // namespace reference
