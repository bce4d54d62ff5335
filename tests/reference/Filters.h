#pragma once

#include <juce_dsp/juce_dsp.h>

namespace reference
{

/**
    The switchable high-pass filter that follows the input trim: the framework's
    topology-preserving state-variable filter in high-pass mode with resonance
    0.7071, a second-order (12 dB per octave) Butterworth high-pass.
*/
class Filters
{
public:
    /** At or below this hpfFreq value (the "OFF" position) the filter is off. */
    static constexpr float offHz = 20.5f;

    /** The cut-off is clamped to this range. */
    static constexpr float minCutoffHz = 10.0f, maxCutoffHz = 1000.0f;

    /** Butterworth: R2 = 1 / 0.7071. */
    static constexpr float resonance = 0.7071f;

    /** High-pass, resonance 0.7071, cut-off 1 kHz, off, for 44.1 kHz and two channels. */
    Filters();

    /** Prepares the filter for the rate and channel count; coefficients for the stored cut-off, states zeroed. */
    void prepare (double sampleRate, int channels);

    /** Per block: on when hpfFreq > 20.5 Hz; cut-off clamp(hpfFreq, 10, 1000), recomputed only when it changes. */
    void setHighPass (float hpfFreq) noexcept;

    /** Runs the filter over the block's channels (at most the prepared count) when it is on. */
    void process (juce::dsp::AudioBlock<float>& block) noexcept;

    /** Whether process filters. */
    bool isHighPassOn() const noexcept { return highPassOn; }

    /** The clamped cut-off in Hz. */
    float getCutoffFrequency() const noexcept { return highPass.getCutoffFrequency(); }

    /** The rate of the last prepare (44.1 kHz before). */
    double getSampleRate() const noexcept { return sampleRate; }

private:
    juce::dsp::StateVariableTPTFilter<float> highPass;
    bool highPassOn = false;
    double sampleRate = 44100.0;
    size_t numChannels = 2;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Filters)
};
} // namespace reference
