#pragma once

#include <juce_dsp/juce_dsp.h>

#include "dsp/BiquadCoefficients.h"
#include "dsp/EqSettings.h"
#include "dsp/ParametricEQ.h"
#include "reference/SmoothedBiquad.h"

#include <array>

namespace reference
{

/**
    The three-band console equaliser: a low shelf, a mid bell whose Q grows with
    its gain, a high shelf, and beside each shelf a small companion bell of the
    opposite sign, as on the console band set it is modelled on. The channel
    tolerance scales the band frequencies and gains. Coefficients are recomputed
    only when the settings change and then glide per sample with a 5 ms time
    constant.
*/
class ParametricEQ
{
public:
    /** Number of bands in the cascade. */
    static constexpr int numBands = 5;

    /** Channels with their own filter states. */
    static constexpr int maxChannels = 2;

    /** Band indices in cascade order. */
    enum Band
    {
        lowShelf = 0,
        midBell,
        highShelf,
        lfCompanion,
        hfCompanion
    };

    /** Every band frequency is clamped to this range after the tolerance scaling. */
    static constexpr float minFrequencyHz = 20.0f, maxFrequencyHz = 20000.0f;

    /**
        A band whose angular frequency lies within this many radians of the Nyquist
        frequency, or above it, is the unity filter (see bandTerms in the source).
        At 32 kHz this is the top 5 Hz below Nyquist.
    */
    static constexpr double nyquistGuardRadians = 1.0e-3;

    /** Set up for 44.1 kHz and two channels, unity bands. */
    ParametricEQ() = default;

    /** Rate, channel count min(channels, 2), multipliers 1, every band reset and not set, settings invalid. */
    void prepare (double sampleRate, int channels) noexcept;

    /** The tolerance multipliers of the LF, MF and HF bands: frequencies, then gains. */
    void setTolerance (const std::array<float, 3>& frequencyMultipliers,
                       const std::array<float, 3>& gainMultipliers) noexcept;

    /**
        Takes the block's settings. Their multiplier fields are replaced by the current
        tolerance; all five bands are recomputed only when the result differs from the
        stored settings (or none are stored). Returns true when it recomputed.
    */
    bool update (const EqSettings& settings) noexcept;

    /** Filters the first min(channel count, block channels) channels in place. */
    void process (juce::dsp::AudioBlock<float>& block) noexcept;

    /** One band on one channel. */
    const SmoothedBiquad& getBand (int band, int channel) const noexcept
    {
        return bands[static_cast<size_t> (band * maxChannels + channel)];
    }

    /** The rate of the last prepare (44.1 kHz before). */
    double getSampleRate() const noexcept { return sampleRate; }

    /** Channels filtered: 1 or 2. */
    int getNumChannels() const noexcept { return channelCount; }

    /** The current tolerance multipliers. */
    const std::array<float, 3>& getFrequencyMultipliers() const noexcept { return freqMultipliers; }

    /** See getFrequencyMultipliers. */
    const std::array<float, 3>& getGainMultipliers() const noexcept { return gainMultipliers; }

private:
    void recompute (const EqSettings& settings) noexcept;

    double sampleRate = 44100.0;
    int channelCount = maxChannels;
    std::array<float, 3> freqMultipliers { 1.0f, 1.0f, 1.0f };
    std::array<float, 3> gainMultipliers { 1.0f, 1.0f, 1.0f };
    EqSettings snapshot;
    bool snapshotValid = false;

    /** Stored band by band: band 1 channel 0, band 1 channel 1, band 2 channel 0, ... */
    std::array<SmoothedBiquad, numBands * maxChannels> bands;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ParametricEQ)
};
} // namespace reference
