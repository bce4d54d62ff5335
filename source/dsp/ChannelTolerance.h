#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

/**
    The small component deviations of one analog console channel.

    Every channel number 1 to 72 maps to a fixed set of values, derived from an
    integer hash of the number rather than a stored table or a random source, so
    that two instances on the same channel behave identically on every machine and
    every time they are loaded. Recomputed every block from the channel parameter.
*/
struct ChannelTolerance
{
    /** Frequency multipliers of the LF, MF and HF equaliser bands, 1 +/- 0.003. */
    float lfFreqMultiplier = 1.0f;
    float mfFreqMultiplier = 1.0f;
    float hfFreqMultiplier = 1.0f;

    /** Gain multipliers of the LF, MF and HF band gains in dB, 1 +/- 0.015. */
    float lfGainMultiplier = 1.0f;
    float mfGainMultiplier = 1.0f;
    float hfGainMultiplier = 1.0f;

    /** Added to the compressor threshold, in dB, +/- 0.2. */
    float thresholdOffsetDb = 0.0f;

    /** Scales the compressor release time, 0.98 to 1.02. */
    float releaseMultiplier = 1.0f;

    /** Output level deviation of the channel trim, in dB, +/- 0.05. */
    float trimOffsetDb = 0.0f;

    /** The deviation generator: a value in -1 .. +1 for the given channel and key.
        The channel is truncated to a whole number and clamped to 1 .. 72. */
    static float toleranceValue (float channel, std::uint32_t key);

    /** Fills all nine values for the given channel parameter value. */
    static ChannelTolerance computeTolerance (float tmtChannel);

    /** The lowest and highest analog channel numbers. */
    static constexpr int firstChannel = 1;
    static constexpr int lastChannel = 72;

    JUCE_LEAK_DETECTOR (ChannelTolerance)
};
