#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include "dsp/MeterState.h"

/**
    The audio thread's side of MeterState: measures blocks and writes the record.

    The chain measures the untouched input at the start of a block and the finished
    output at its end, appends the Silk stage's added signal right after that stage,
    and hands everything to writeEndOfBlock(). Nothing here allocates, locks or
    waits for a reader, so every function may run on the audio thread.
*/
class MeterWriter
{
public:
    /** Peak and RMS levels of one block, as linear amplitudes. */
    struct Levels
    {
        float peak = 0.0f;      ///< largest channel peak
        float peakLeft = 0.0f;  ///< peak of channel 0
        float peakRight = 0.0f; ///< peak of channel 1; 0 for a mono block
        float rms = 0.0f;       ///< sum of the channels' RMS divided by the channel count
        float rmsLeft = 0.0f;   ///< RMS of channel 0
        float rmsRight = 0.0f;  ///< RMS of channel 1; 0 for a mono block
    };

    /** The compressor's three smoothed gain-reduction outputs, in positive dB. */
    struct GainReduction
    {
        float overall = 0.0f;
        float left = 0.0f;
        float right = 0.0f;
    };

    /** Measures every channel of the buffer. A buffer marked as cleared, or one without
        samples or channels, measures 0 everywhere. RMS squares are summed in double. */
    static Levels measure (const juce::AudioBuffer<float>& buffer) noexcept;

    /** Writes the sample rate and channel count (2 for two or more input channels,
        else 1) from prepareToPlay. */
    static void writePrepare (MeterState& meters, double sampleRate, int mainInputChannels) noexcept;

    /** Writes the block's channel count (2 for two or more, else 1) at the start of
        a block. */
    static void writeChannelCount (MeterState& meters, int numChannels) noexcept;

    /** Appends what the Silk stage added to the Silk ring: its values when it holds
        any, otherwise numSamples zeros, so that the ring advances with the audio. */
    static void appendSilkRing (MeterState& meters, const float* added, int addedLength, int numSamples) noexcept;

    /** The end-of-block writes, in this order: gain reduction (0 unless compOn), the
        level fields, the output ring (the block's mono mix). Returns the value
        written to grDb, which the host meter parameter is then updated from. */
    static float writeEndOfBlock (MeterState& meters, bool compOn, const GainReduction& reduction,
                                  const Levels& input, const Levels& output,
                                  const juce::AudioBuffer<float>& outputBuffer) noexcept;

private:
    MeterWriter() = delete;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MeterWriter)
};
