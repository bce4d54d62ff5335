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

    using DoublePair = SimdPair<double>;

    // Envelopes are floored here before the logarithm; -600 dB is far below the
    // curve's own floor.
    constexpr double smallestEnvelope = 1.0e-30;

    // The static curve for both channels' envelopes, in double precision: 0 below
    // the knee, the quadratic knee, then the ratio's straight line.
    inline DoublePair reductionFor (DoublePair envelopes, double threshold) noexcept
    {
        using P = DoublePair;
        constexpr auto halfKnee = 0.5 * static_cast<double> (CompressorLimiter::kneeWidthDb);
        constexpr auto slope = static_cast<double> (CompressorLimiter::slopeFor2to1);
        constexpr auto kneeScale = slope / (2.0 * static_cast<double> (CompressorLimiter::kneeWidthDb));

        const auto level = P::max (P::broadcast (dbPerLog2) * FastMath::log2 (P::max (envelopes, P::broadcast (smallestEnvelope))),
                                   P::broadcast (static_cast<double> (CompressorLimiter::floorDb)));
        const auto over = level - P::broadcast (threshold);
        const auto k = over + P::broadcast (halfKnee);
        const auto inKnee = P::greaterThan (P::broadcast (halfKnee), over);
        const auto curve = P::select (inKnee, P::broadcast (kneeScale) * k * k, P::broadcast (slope) * over);
        return P::select (P::greaterThan (over, P::broadcast (-halfKnee)), curve, P::broadcast (0.0));
    }

    // The gains for reductions in dB: 10^(-gr / 20), exactly 0 from the mute point on
    // (as every gain of the chain, at -100 dB), never above 1.
    inline DoublePair gainsFor (DoublePair reductions) noexcept
    {
        using P = DoublePair;
        const auto gains = P::min (FastMath::exp2 (reductions * P::broadcast (-log2PerDb)), P::broadcast (1.0));
        const auto audible = P::greaterThan (P::broadcast (static_cast<double> (CompressorLimiter::muteReductionDb)), reductions);
        return P::select (audible, gains, P::broadcast (0.0));
    }
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
        auto maxima = DoublePair::broadcast (0.0);

        // For a mono block both lanes start from channel 0's states, so that the
        // second lane repeats the first.
        const size_t second = stereo ? 1 : 0;
        auto lowPass = FloatPair::load (&sideChainLowPass[0], &sideChainLowPass[second]);
        auto square = FloatPair::load (&meanSquare[0], &meanSquare[second]);
        auto env = FloatPair::load (&envelope[0], &envelope[second]);
        auto fast = FloatPair::load (&fastEnvelope[0], &fastEnvelope[second]);
        auto slow = FloatPair::load (&slowEnvelope[0], &slowEnvelope[second]);

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

            const auto envelopes = env.toDouble();

            if (! (std::max (envelopes.lane0(), envelopes.lane1()) > kneeStart))
            {
                left[n] *= makeup;
                if (stereo)
                    right[n] *= makeup;
                continue;
            }

            auto reductions = reductionFor (envelopes, threshold);

            // Linked, both channels take the larger reduction.
            if (linked)
                reductions = DoublePair::broadcast (std::max (reductions.lane0(), reductions.lane1()));

            maxima = DoublePair::max (maxima, reductions);
            const auto gains = FloatPair::fromDouble (gainsFor (reductions)) * FloatPair::broadcast (makeup);
            (FloatPair::load (left + n, right + n) * gains).store (left + n, right + n);
        }

        blockMax = { maxima.lane0(), stereo ? maxima.lane1() : maxima.lane0() };
        blockMaxAll = std::max (blockMax[0], blockMax[1]);

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
