#pragma once

// Test access to the processor's processing blocks (friend of OrvaneChannelProcessor),
// and a small rig that prepares a processor and runs audio through it block by block.

#include "processor/OrvaneChannelProcessor.h"
#include "processor/ParameterLayout.h"

#include <functional>

struct OrvaneChannelProcessorTestAccess
{
    static const Filters& filters (const OrvaneChannelProcessor& p) { return p.filters; }
    static const ParametricEQ& equaliser (const OrvaneChannelProcessor& p) { return p.equaliser; }
    static const CompressorLimiter& compressor (const OrvaneChannelProcessor& p) { return p.compressor; }
    static int lastLatencySamples (const OrvaneChannelProcessor& p) { return p.lastLatencySamples; }
    static const juce::SmoothedValue<float>& inputGain (const OrvaneChannelProcessor& p) { return p.inputGain; }
    static const juce::SmoothedValue<float>& outputGain (const OrvaneChannelProcessor& p) { return p.outputGain; }

};

namespace orvane::test
{
    /** Sets a parameter from its plain value, as the editor or host would. */
    inline void setParam (OrvaneChannelProcessor& p, const char* id, float value)
    {
        auto* param = p.valueTreeState.getParameter (id);
        jassert (param != nullptr);
        param->setValueNotifyingHost (param->convertTo0to1 (value));
    }

    /** The plain value the audio thread reads. */
    inline float rawParam (OrvaneChannelProcessor& p, const char* id)
    {
        return p.valueTreeState.getRawParameterValue (id)->load();
    }

    /** Processes a copy of the input in blocks of the given size and returns the output. */
    inline juce::AudioBuffer<float> runBlocks (OrvaneChannelProcessor& p, const juce::AudioBuffer<float>& input,
                                               int blockSize,
                                               const std::function<void (int blockIndex)>& beforeBlock = {})
    {
        juce::AudioBuffer<float> out (input);
        juce::MidiBuffer midi;
        int index = 0;
        for (int start = 0; start < out.getNumSamples(); start += blockSize, ++index)
        {
            if (beforeBlock)
                beforeBlock (index);
            const auto n = std::min (blockSize, out.getNumSamples() - start);
            juce::AudioBuffer<float> view (out.getArrayOfWritePointers(), out.getNumChannels(), start, n);
            p.processBlock (view, midi);
        }
        return out;
    }

    /** Two sines and some noise, different on each channel, peaking near 0.6. */
    inline juce::AudioBuffer<float> testSignal (int numChannels, int numSamples, double sampleRate, int seed = 1)
    {
        juce::AudioBuffer<float> b (numChannels, numSamples);
        juce::Random random (seed);
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < numSamples; ++i)
            {
                const auto t = i / sampleRate;
                b.setSample (ch, i, static_cast<float> (0.3 * std::sin (2 * 3.141592653589793 * (220.0 + 110 * ch) * t)
                                                        + 0.2 * std::sin (2 * 3.141592653589793 * 3100.0 * t)
                                                        + 0.1 * (random.nextDouble() * 2 - 1)));
            }
        return b;
    }
}
