#pragma once

#include <juce_dsp/juce_dsp.h>

#include "dsp/SilkStage.h"

#include <array>
#include <memory>
#include <vector>

namespace reference
{

/**
    The console's colouring block: a biased tanh saturator with a little feedback,
    mixed in parallel with the dry signal at 1x, 2x, 4x or 8x the host rate, followed
    by two fixed console shelves, a DC blocker and an output compensation gain.

    In the "Air" and "Body" modes a frequency region is pushed into the saturator
    (+6 dB before, -6 dB after) and the amount sets drive and mix; in "Off" the stage
    still runs with its base drive and mix. It also produces the added signal: its
    output minus its latency-aligned input, for the editor's spectrum display.

    The stage owns the three oversamplers and so decides the plug-in's latency.
    Everything runs on the audio thread; nothing allocates after prepare().
*/
class SilkStage
{
public:
    /** The emphasis modes, as the bloomMode choice indexes them. */
    enum Mode
    {
        modeOff = 0,
        modeAir = 1,
        modeBody = 2
    };

    /** Number of samples the dry delay ring holds; far more than the 8x latency. */
    static constexpr int dryDelaySize = 8192;

    /** Highest oversampling index: 3 is 8x. */
    static constexpr int maximumOsIndex = 3;

    /** Unprepared: no oversamplers, process() does nothing until prepare(). */
    SilkStage();

    /** Releases the oversamplers. */
    ~SilkStage();

    /** Sets the stage up for a rate, a channel count (2 for two or more channels,
        else 1) and the largest block the host will send. Rebuilds the three
        oversamplers and clears every state. Allocates: call outside the audio path. */
    void prepare (double newSampleRate, int numChannels, int maximumBlockSize);

    /** Sets the emphasis mode (bloomMode index, clamped to 0 .. 2); the emphasis
        coefficients are recomputed only when it changes. */
    void setMode (int newMode) noexcept;

    /** Sets the amount from silkTexture in percent; clamped to 0 .. 100. */
    void setAmount (float silkTexturePercent) noexcept;

    /** Switches the oversampling factor: 0 off, 1 = 2x, 2 = 4x, 3 = 8x (clamped).
        Selects and resets an oversampler built by prepare(); safe on the audio thread. */
    void applyOsIndex (int index) noexcept;

    /** Processes the first one or two channels of the block in place. */
    void process (juce::dsp::AudioBlock<float>& block) noexcept;

    /** Latency of the active oversampler at the host rate, in whole samples. */
    int getLatencySamples() const noexcept { return latency; }

    /** The oversampling index in use, 0 .. 3. */
    int getOsIndex() const noexcept { return osIndex; }

    /** The emphasis mode in use. */
    int getMode() const noexcept { return mode; }

    /** The amount in use, 0 .. 1. */
    float getAmount() const noexcept { return amount; }

    /** The rate the saturator runs at. */
    double getOversampledRate() const noexcept { return oversampledRate; }

    /** Whether prepare() has built the oversamplers; until then process() does nothing. */
    bool isPrepared() const noexcept { return oversamplers[0] != nullptr; }

    /** What the last block added to the sound, as a mono signal: its output minus its
        latency-aligned input. All zeros when the amount in use is 0. */
    const float* getAddedSignal() const noexcept { return added.data(); }

    /** Number of valid values in getAddedSignal(): the last block's sample count. */
    int getAddedSignalLength() const noexcept { return addedLength; }

private:
    void updateEmphasis() noexcept;
    void processChunk (juce::dsp::AudioBlock<float>& block) noexcept;
    void saturate (juce::dsp::AudioBlock<float>& block, size_t numChannelsToProcess,
                   float drive, float mix) noexcept;

    using Filter = juce::dsp::IIR::Filter<double>;
    using Coefficients = juce::dsp::IIR::Coefficients<double>;

    double sampleRate = 44100.0;
    double oversampledRate = 88200.0;
    int latency = 0;
    int mode = modeOff;
    float amount = 0.3f;
    double dcBlockerCoefficient = 0.999;
    static constexpr float feedbackAmount = 0.08f;
    static constexpr float feedbackSmoothing = 0.6f;
    double dcTrackerCoefficient = 0.0;
    std::array<double, 2> dcTrackerState {};

    std::array<std::unique_ptr<juce::dsp::Oversampling<float>>, maximumOsIndex> oversamplers;
    juce::dsp::Oversampling<float>* activeOversampler = nullptr;
    int osIndex = 1;
    int channelCount = 2;
    size_t maxBlockSize = 512;

    // Both channels of a filter kind share one coefficient set; updating it in
    // place changes both without allocating.
    Coefficients::Ptr preEmphasisCoefficients, deEmphasisCoefficients;
    Coefficients::Ptr lowShelfCoefficients, highShelfCoefficients;
    std::array<Filter, 2> preEmphasis, deEmphasis, lowShelf, highShelf;

    std::array<double, 2> feedbackState {};
    std::array<double, 2> dcBlockerX1 {}, dcBlockerY1 {};

    std::array<float, dryDelaySize> dryDelay {};
    int dryDelayPos = 0;
    std::vector<float> alignedDry;
    std::vector<float> added;
    int addedLength = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SilkStage)
};
} // namespace reference
