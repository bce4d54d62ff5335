#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/**
    A short synthetic clip for trying the channel strip: a sung-vowel-like voice
    over a simple drum pattern, made from oscillators, noise and resonant filters
    (nothing recorded, nothing downloaded). The random source has a fixed seed, so
    every run writes the same samples.
*/
class DemoSignal
{
public:
    /** Renders a stereo clip of the given length. */
    static juce::AudioBuffer<float> generate (double sampleRate, double seconds);

private:
    DemoSignal() = delete;
};
