#include "reference/Filters.h"

#include <algorithm>

namespace reference
{

Filters::Filters()
{
    highPass.setType (juce::dsp::StateVariableTPTFilterType::highpass);
    highPass.setResonance (resonance);
}

void Filters::prepare (double newSampleRate, int channels)
{
    sampleRate = newSampleRate;
    numChannels = static_cast<size_t> (std::max (channels, 1));

    // prepare() stores the rate, sizes and zeroes the per-channel states and
    // recomputes g, R2 and h for the stored cut-off. The filter ignores the block size.
    constexpr juce::uint32 anyBlockSize = 512;
    highPass.prepare ({ sampleRate, anyBlockSize, static_cast<juce::uint32> (numChannels) });
    highPass.setType (juce::dsp::StateVariableTPTFilterType::highpass);
    highPass.setResonance (resonance);
    highPass.reset();
}

void Filters::setHighPass (float hpfFreq) noexcept
{
    highPassOn = hpfFreq > offHz;

    const auto cutoff = std::clamp (hpfFreq, minCutoffHz, maxCutoffHz);

    // g = tan(pi fc / fs) only when the cut-off moves.
    if (cutoff != highPass.getCutoffFrequency())
        highPass.setCutoffFrequency (cutoff);
}

void Filters::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto channelsToRun = std::min (block.getNumChannels(), numChannels);

    if (! highPassOn || channelsToRun == 0)
        return;

    auto channels = block.getSubsetChannelBlock (0, channelsToRun);
    highPass.process (juce::dsp::ProcessContextReplacing<float> (channels));
}
} // namespace reference
