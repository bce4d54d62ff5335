#include "dsp/CompressorLimiter.h"

#include "dsp/FastMath.h"
#include "dsp/SimdPair.h"

#include <algorithm>
#include <cmath>

namespace
{
    // e^(-1 / (seconds * fs)): a one-pole with the given time constant.
    float onePole (float seconds, float fs) noexcept
    {
        return std::exp (-1.0f / (seconds * fs));
    }

    // 10^(d/20) above -100 dB, else exactly 0, as for every gain of the chain.
    float gainOf (float db) noexcept
    {
        return juce::Decibels::decibelsToGain (db);
    }
}

CompressorLimiter::CompressorLimiter() noexcept
{
    attackCoeff = onePole (attackSeconds, fs());
    updateReleaseCoefficients();
    detectorCoeff = onePole (detectorSeconds, fs());
}

void CompressorLimiter::prepare (double newSampleRate) noexcept
{
    sampleRate = newSampleRate;
    detectorCoeff = onePole (detectorSeconds, fs());

    sideChainLowPass.fill (0.0f);
    envelope.fill (0.0f);
    fastEnvelope.fill (0.0f);
    slowEnvelope.fill (0.0f);
    meanSquare.fill (0.0f);

    grAll = 0.0f;
    grChannel.fill (0.0f);
}

void CompressorLimiter::setParameters (float newThresholdDb, float newReleaseMs, float makeupDb,
                                       bool newLink, float newSideChainHz) noexcept
{
    thresholdDb = newThresholdDb;
    slope = slopeFor2to1;
    makeupGain = gainOf (makeupDb);
    link = newLink;
    attackCoeff = onePole (attackSeconds, fs());
    releaseMs = newReleaseMs;
    updateReleaseCoefficients();
    sideChainHz = newSideChainHz;
    sideChainOn = sideChainHz > sideChainOffHz;

    if (sideChainOn)
        sideChainCoeff = std::exp (-juce::MathConstants<float>::twoPi * sideChainHz / fs());
}

void CompressorLimiter::setTolerance (float newThresholdOffsetDb, float newReleaseMultiplier) noexcept
{
    thresholdOffsetDb = newThresholdOffsetDb;
    releaseMultiplier = newReleaseMultiplier;
    updateReleaseCoefficients();
}

void CompressorLimiter::updateReleaseCoefficients() noexcept
{
    constexpr float minimumReleaseMs = 1.0f, secondsPerMs = 0.001f;
    const auto x = std::max (minimumReleaseMs, releaseMs * releaseMultiplier);
    fastReleaseCoeff = onePole (x * secondsPerMs, fs());
    slowReleaseCoeff = onePole (slowReleaseFactor * x * secondsPerMs, fs());
}

namespace
{
    using FloatPair = SimdPair<float>;

    constexpr double dbPerLog2 = 6.0205999132796239;       // 20 log10(2): dB per octave of level
    constexpr double log2PerDb = 0.16609640474436813;      // log2(10) / 20

    // The gain for a reduction in dB: 10^(-gr / 20), exactly 0 from the mute point on
    // (as every gain of the chain, at -100 dB), never above 1.
    inline float gainFor (double grDb) noexcept
    {
        if (grDb >= static_cast<double> (CompressorLimiter::muteReductionDb))
            return 0.0f;

        if (grDb <= 0.0)
            return 1.0f;

        return static_cast<float> (std::min (FastMath::exp2 (-grDb * log2PerDb), 1.0));
    }
}

double CompressorLimiter::reductionFor (float envelopeValue, double threshold, double kneeStart) noexcept
{
    // Below the knee (the common case) there is nothing to compute.
    if (! (static_cast<double> (envelopeValue) > kneeStart))
        return 0.0;

    const auto level = std::max (dbPerLog2 * FastMath::log2 (static_cast<double> (envelopeValue)),
                                 static_cast<double> (floorDb));
    const auto over = level - threshold;
    constexpr auto halfKnee = 0.5 * static_cast<double> (kneeWidthDb);

    if (over < halfKnee)
    {
        const auto k = over + halfKnee;
        return static_cast<double> (slopeFor2to1) * k * k / (2.0 * static_cast<double> (kneeWidthDb));
    }

    return static_cast<double> (slopeFor2to1) * over;
}

void CompressorLimiter::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto numChannels = std::min (block.getNumChannels(), static_cast<size_t> (maxChannels));
    const auto numSamples = block.getNumSamples();

    double blockMaxAll = 0.0;
    std::array<double, maxChannels> blockMax {};

    if (numChannels > 0 && numSamples > 0)
    {
        // Both channels' detectors run side by side, each lane with the arithmetic of
        // one channel; a mono block runs its channel in both lanes and keeps lane 0.
        auto* const left = block.getChannelPointer (0);
        auto* const right = numChannels > 1 ? block.getChannelPointer (1) : left;
        const bool stereo = numChannels > 1;

        const auto k = FloatPair::broadcast (sideChainCoeff), oneMinusK = FloatPair::broadcast (1.0f - sideChainCoeff);
        const auto d = FloatPair::broadcast (detectorCoeff), oneMinusD = FloatPair::broadcast (1.0f - detectorCoeff);
        const auto a = FloatPair::broadcast (attackCoeff), oneMinusA = FloatPair::broadcast (1.0f - attackCoeff);
        const auto r1 = FloatPair::broadcast (fastReleaseCoeff), oneMinusR1 = FloatPair::broadcast (1.0f - fastReleaseCoeff);
        const auto r2 = FloatPair::broadcast (slowReleaseCoeff), oneMinusR2 = FloatPair::broadcast (1.0f - slowReleaseCoeff);
        const auto fastShare = FloatPair::broadcast (fastReleaseShare), slowShare = FloatPair::broadcast (slowReleaseShare);

        // The level at which the knee begins, as an envelope value: below it the
        // reduction is 0 and no logarithm is needed.
        const auto threshold = static_cast<double> (thresholdDb + thresholdOffsetDb);
        const auto kneeStart = FastMath::exp2 ((threshold - 0.5 * static_cast<double> (kneeWidthDb)) * log2PerDb);
        const auto makeup = makeupGain;
        const bool filterDetector = sideChainOn, linked = link;

        auto lowPass = FloatPair::load (&sideChainLowPass[0], &sideChainLowPass[1]);
        auto square = FloatPair::load (&meanSquare[0], &meanSquare[1]);
        auto env = FloatPair::load (&envelope[0], &envelope[1]);
        auto fast = FloatPair::load (&fastEnvelope[0], &fastEnvelope[1]);
        auto slow = FloatPair::load (&slowEnvelope[0], &slowEnvelope[1]);

        for (size_t n = 0; n < numSamples; ++n)
        {
            auto x = FloatPair::load (left + n, right + n);

            if (filterDetector)
            {
                lowPass = k * lowPass + oneMinusK * x;
                x = x - lowPass;
            }

            square = d * square + oneMinusD * x * x;
            const auto rms = FloatPair::sqrt (square);

            const auto attacking = FloatPair::greaterThan (rms, env);
            const auto attacked = a * fast + oneMinusA * rms;
            const auto releasedFast = r1 * fast + oneMinusR1 * rms;
            const auto releasedSlow = r2 * slow + oneMinusR2 * rms;

            fast = FloatPair::select (attacking, attacked, releasedFast);
            slow = FloatPair::select (attacking, attacked, releasedSlow);
            env = FloatPair::select (attacking, attacked, fastShare * releasedFast + slowShare * releasedSlow);

            const auto env0 = env.lane0();

            if (linked)
            {
                // The reduction grows with the envelope, so the larger reduction of the
                // two channels is the reduction of the larger envelope.
                const auto grLinked = reductionFor (stereo ? std::max (env0, env.lane1()) : env0, threshold, kneeStart);
                const auto g = makeup * gainFor (grLinked);

                left[n] *= g;
                if (stereo)
                    right[n] *= g;

                blockMaxAll = std::max (blockMaxAll, grLinked);
            }
            else
            {
                const auto gr0 = reductionFor (env0, threshold, kneeStart);
                left[n] *= makeup * gainFor (gr0);
                blockMax[0] = std::max (blockMax[0], gr0);
                blockMaxAll = std::max (blockMaxAll, gr0);

                if (stereo)
                {
                    const auto gr1 = reductionFor (env.lane1(), threshold, kneeStart);
                    right[n] *= makeup * gainFor (gr1);
                    blockMax[1] = std::max (blockMax[1], gr1);
                    blockMaxAll = std::max (blockMaxAll, gr1);
                }
            }
        }

        if (linked)
            blockMax = { blockMaxAll, blockMaxAll };

        // A mono block keeps the lane of its own channel only.
        if (stereo)
        {
            lowPass.store (&sideChainLowPass[0], &sideChainLowPass[1]);
            square.store (&meanSquare[0], &meanSquare[1]);
            env.store (&envelope[0], &envelope[1]);
            fast.store (&fastEnvelope[0], &fastEnvelope[1]);
            slow.store (&slowEnvelope[0], &slowEnvelope[1]);
        }
        else
        {
            sideChainLowPass[0] = lowPass.lane0();
            meanSquare[0] = square.lane0();
            envelope[0] = env.lane0();
            fastEnvelope[0] = fast.lane0();
            slowEnvelope[0] = slow.lane0();
        }
    }

    const auto smooth = [] (float previous, double value)
    {
        return outputSmoothing * previous
               + (1.0f - outputSmoothing) * std::clamp (static_cast<float> (value), 0.0f, maxReportedDb);
    };

    grAll = smooth (grAll, blockMaxAll);
    grChannel[0] = smooth (grChannel[0], blockMax[0]);
    grChannel[1] = smooth (grChannel[1], numChannels >= 2 ? blockMax[1] : blockMax[0]);
}
