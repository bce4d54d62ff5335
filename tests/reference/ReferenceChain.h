#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "reference/CompressorLimiter.h"
#include "reference/Filters.h"
#include "reference/ParametricEQ.h"
#include "reference/SilkStage.h"
#include "dsp/StereoStage.h"

namespace reference
{
/**
    The channel strip's signal path written the straightforward way: every stage
    sample by sample with the framework's filters, oversamplers and the standard
    library's tanh, log10 and pow, exactly as the product first shipped it. The
    optimised processor must keep producing the same audio (to within 1e-6), and
    this is what it is compared with.

    It reads the parameters from a processor's value tree state, once per block, the
    way the processor does. Meters and bypass are not modelled. The stereo stage and
    the channel tolerances were never rewritten, so it uses the product's own.
*/
class Chain
{
public:
    /** Reads its parameters from this state (the IDs of the product's layout). */
    explicit Chain (juce::AudioProcessorValueTreeState& state);

    /** As the processor's prepareToPlay: channel count 1 or 2, the host's largest
        block, and whether the render is offline (osOffline then applies). */
    void prepare (double sampleRate, int numChannels, int maximumBlockSize, bool nonRealtime);

    /** Processes one block in place; at most the prepared block size. */
    void process (juce::AudioBuffer<float>& buffer);

    /** The latency of the oversampler in use, in samples. */
    int getLatencySamples() const noexcept { return silk.getLatencySamples(); }

private:
    void updateParameters();
    float value (const char* id) const;

    juce::AudioProcessorValueTreeState& state;
    bool nonRealtime = false;

    reference::Filters filters;
    reference::ParametricEQ equaliser;
    reference::CompressorLimiter compressor;
    reference::SilkStage silk;
    StereoStage stereo;

    juce::SmoothedValue<float> inputGain { 1.0f }, outputGain { 1.0f };
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Multiplicative> channelTrim { 1.0f };
    float polaritySign = 1.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Chain)
};
} // namespace reference
