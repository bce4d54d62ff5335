#pragma once

#include <juce_dsp/juce_dsp.h>

#include <array>

namespace reference
{

/**
    The dynamics block of the chain: a feed-forward RMS compressor with a fixed 2:1
    ratio and a 10 dB soft knee, a two-stage release (60 % with the release time,
    40 % four times slower), an optional high-pass filter in the detector path,
    stereo link and make-up gain. There is no separate limiter: the ratio is 2:1 at
    every level above the knee. It produces three smoothed gain-reduction values
    (overall, channel 0, channel 1) for the meters and the host.
*/
class CompressorLimiter
{
public:
    /** Channels with their own detector. */
    static constexpr int maxChannels = 2;

    static constexpr float slopeFor2to1 = 0.5f;     ///< 1 - 1/ratio
    static constexpr float kneeWidthDb = 10.0f;
    static constexpr float attackSeconds = 0.02f;
    static constexpr float detectorSeconds = 0.01f;
    static constexpr float slowReleaseFactor = 4.0f;
    static constexpr float fastReleaseShare = 0.6f, slowReleaseShare = 0.4f;
    static constexpr float floorDb = -120.0f;
    static constexpr float muteReductionDb = 100.0f;    ///< at or above this the gain is exactly 0
    static constexpr float sideChainOffHz = 10.0f;      ///< at or below this the detector is unfiltered
    static constexpr float outputSmoothing = 0.7f;      ///< per-block smoothing of the three outputs
    static constexpr float maxReportedDb = 40.0f;       ///< the outputs are clamped to 0..40 dB

    /** Threshold +20 dB, release 200 ms, linked, make-up 0 dB, at 44.1 kHz. */
    CompressorLimiter() noexcept;

    /** Stores the rate, computes the detector coefficient, zeroes all states and outputs. */
    void prepare (double sampleRate) noexcept;

    /**
        The per-block settings, made every block, also while the compressor is off:
        threshold, slope, make-up, link, attack, release time and both release
        coefficients, side-chain frequency, on/off and coefficient.
    */
    void setParameters (float thresholdDb, float releaseMs, float makeupDb, bool link, float sideChainHz) noexcept;

    /** The analog channel's threshold offset (dB) and release multiplier; the release coefficients follow at once. */
    void setTolerance (float thresholdOffsetDb, float releaseMultiplier) noexcept;

    /** Compresses the first min(N, 2) channels in place and updates the three outputs. */
    void process (juce::dsp::AudioBlock<float>& block) noexcept;

    /** The static curve: gain reduction in dB for a level this far over the threshold. */
    static float gainReductionForOver (float overDb, float slope = slopeFor2to1) noexcept
    {
        if (overDb <= -0.5f * kneeWidthDb)
            return 0.0f;

        if (overDb < 0.5f * kneeWidthDb)
        {
            const auto k = overDb + 0.5f * kneeWidthDb;
            return slope * k * k / (2.0f * kneeWidthDb);
        }

        return slope * overDb;
    }

    //==============================================================================
    /** Smoothed gain reduction over all channels, dB >= 0. */
    float getGainReductionDb() const noexcept { return grAll; }

    /** Smoothed gain reduction of channel 0, dB >= 0. */
    float getGainReductionChannel0Db() const noexcept { return grChannel[0]; }

    /** Smoothed gain reduction of channel 1 (channel 0's for mono blocks), dB >= 0. */
    float getGainReductionChannel1Db() const noexcept { return grChannel[1]; }

    /** The rate of the last prepare (44.1 kHz before). */
    double getSampleRate() const noexcept { return sampleRate; }

    /** The threshold without the channel's offset. */
    float getThresholdDb() const noexcept { return thresholdDb; }

    /** The channel's threshold offset. */
    float getThresholdOffsetDb() const noexcept { return thresholdOffsetDb; }

    /** Linear make-up gain. */
    float getMakeupGain() const noexcept { return makeupGain; }

    /** Whether both channels get the larger reduction. */
    bool isLinked() const noexcept { return link; }

    /** One-pole coefficients of the attack (20 ms), the two releases and the detector (10 ms). */
    float getAttackCoefficient() const noexcept { return attackCoeff; }

    /** See getAttackCoefficient. */
    float getFastReleaseCoefficient() const noexcept { return fastReleaseCoeff; }

    /** See getAttackCoefficient. */
    float getSlowReleaseCoefficient() const noexcept { return slowReleaseCoeff; }

    /** See getAttackCoefficient. */
    float getDetectorCoefficient() const noexcept { return detectorCoeff; }

    /** Whether the detector is high-passed. */
    bool isSideChainFilterOn() const noexcept { return sideChainOn; }

    /** The detector high-pass coefficient, recomputed only while the filter is on. */
    float getSideChainCoefficient() const noexcept { return sideChainCoeff; }

    /** A channel's detector envelope (linear). */
    float getEnvelope (int channel) const noexcept { return envelope[static_cast<size_t> (channel)]; }

private:
    float fs() const noexcept { return static_cast<float> (sampleRate); }
    void updateReleaseCoefficients() noexcept;

    double sampleRate = 44100.0;
    float thresholdDb = 20.0f;
    float slope = slopeFor2to1;
    float makeupGain = 1.0f;
    float attackCoeff = 0.0f;
    float fastReleaseCoeff = 0.0f;
    float slowReleaseCoeff = 0.0f;
    float releaseMs = 200.0f;
    bool link = true;
    float thresholdOffsetDb = 0.0f;
    float releaseMultiplier = 1.0f;
    bool sideChainOn = false;
    float sideChainHz = 0.0f;
    float sideChainCoeff = 0.0f;

    std::array<float, maxChannels> sideChainLowPass {};
    std::array<float, maxChannels> envelope {};
    std::array<float, maxChannels> fastEnvelope {};
    std::array<float, maxChannels> slowEnvelope {};
    std::array<float, maxChannels> meanSquare {};
    float detectorCoeff = 0.0f;

    float grAll = 0.0f;
    std::array<float, maxChannels> grChannel {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CompressorLimiter)
};
} // namespace reference
