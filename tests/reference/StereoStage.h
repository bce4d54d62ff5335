#pragma once

#include <juce_dsp/juce_dsp.h>

namespace reference
{

/**
    Mid/side width and a mono maker at the end of the channel.

    The width scales the side signal (0 gives mono, 1 leaves the image unchanged,
    2 doubles the side); the mono maker then high-passes the side signal with a
    first-order filter, so that the bass below its frequency becomes mono. Mono
    blocks are left alone. Audio thread only.
*/
class StereoStage
{
public:
    /** Starts at 44100 Hz with width 100 % and the mono maker off. */
    StereoStage();

    /** Stores the rate, recomputes the mono-maker coefficient when the rate is
        positive and clears the filter state. */
    void prepare (double newSampleRate);

    /** Per-block settings: width in percent (0 .. 200) and the mono-maker frequency
        in Hz (off at 20.5 Hz and below). */
    void update (float widthPercent, float monoMakerFrequencyHz);

    /** Processes one stereo pair in place. Does nothing without samples or when
        either channel is missing. */
    void process (float* left, float* right, int numSamples) noexcept;

    /** Processes channels 0 and 1 of the block; blocks with fewer than two channels
        pass untouched, further channels are not touched. */
    void process (juce::dsp::AudioBlock<float>& block) noexcept;

    /** The width factor in use, 0 .. 2. */
    float getWidth() const noexcept { return width; }

    /** Whether the side signal is high-passed. */
    bool isMonoMakerOn() const noexcept { return monoMakerOn; }

    /** The one-pole coefficient of the side low-pass, e^(-2 pi f / fs). */
    float getMonoMakerCoefficient() const noexcept { return monoMakerCoefficient; }

    /** Frequencies at or below this leave the mono maker off. */
    static constexpr float monoMakerOffHz = 20.5f;

private:
    void updateCoefficient() noexcept;

    double sampleRate = 44100.0;
    float width = 1.0f;
    float monoMakerHz = 20.0f;
    bool monoMakerOn = false;
    float monoMakerCoefficient = 0.0f;
    float monoMakerState = 0.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StereoStage)
};
} // namespace reference
