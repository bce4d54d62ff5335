#include "reference/CompressorLimiter.h"

#include <algorithm>
#include <cmath>

namespace reference
{

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

void CompressorLimiter::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto numChannels = std::min (block.getNumChannels(), static_cast<size_t> (maxChannels));
    const auto numSamples = block.getNumSamples();

    float blockMaxAll = 0.0f;
    std::array<float, maxChannels> blockMax {};

    if (numChannels > 0 && numSamples > 0)
    {
        std::array<float*, maxChannels> data {};
        for (size_t j = 0; j < numChannels; ++j)
            data[j] = block.getChannelPointer (j);

        const auto k = sideChainCoeff, d = detectorCoeff, a = attackCoeff;
        const auto r1 = fastReleaseCoeff, r2 = slowReleaseCoeff;
        const auto threshold = thresholdDb + thresholdOffsetDb;
        const auto s = slope;
        const auto makeup = makeupGain;
        const bool filterDetector = sideChainOn, linked = link;

        for (size_t n = 0; n < numSamples; ++n)
        {
            std::array<float, maxChannels> gr {};

            for (size_t j = 0; j < numChannels; ++j)
            {
                auto x = data[j][n];

                if (filterDetector)
                {
                    sideChainLowPass[j] = k * sideChainLowPass[j] + (1.0f - k) * x;
                    x -= sideChainLowPass[j];
                }

                meanSquare[j] = d * meanSquare[j] + (1.0f - d) * x * x;
                const auto r = std::sqrt (meanSquare[j]);

                if (r > envelope[j])
                {
                    fastEnvelope[j] = a * fastEnvelope[j] + (1.0f - a) * r;
                    slowEnvelope[j] = fastEnvelope[j];
                    envelope[j] = fastEnvelope[j];
                }
                else
                {
                    fastEnvelope[j] = r1 * fastEnvelope[j] + (1.0f - r1) * r;
                    slowEnvelope[j] = r2 * slowEnvelope[j] + (1.0f - r2) * r;
                    envelope[j] = fastReleaseShare * fastEnvelope[j] + slowReleaseShare * slowEnvelope[j];
                }

                constexpr float dbPerDecade = 20.0f;
                const auto level = envelope[j] > 0.0f ? std::max (dbPerDecade * std::log10 (envelope[j]), floorDb)
                                                      : floorDb;
                gr[j] = gainReductionForOver (level - threshold, s);
            }

            if (linked)
            {
                const auto grLinked = numChannels > 1 ? std::max (gr[0], gr[1]) : gr[0];
                const auto g = makeup * std::clamp (gainOf (-grLinked), 0.0f, 1.0f);

                for (size_t j = 0; j < numChannels; ++j)
                {
                    data[j][n] *= g;
                    blockMax[j] = std::max (blockMax[j], grLinked);
                }

                blockMaxAll = std::max (blockMaxAll, grLinked);
            }
            else
            {
                for (size_t j = 0; j < numChannels; ++j)
                {
                    data[j][n] *= makeup * std::clamp (gainOf (-gr[j]), 0.0f, 1.0f);
                    blockMax[j] = std::max (blockMax[j], gr[j]);
                    blockMaxAll = std::max (blockMaxAll, gr[j]);
                }
            }
        }
    }

    const auto smooth = [] (float previous, float value)
    {
        return outputSmoothing * previous + (1.0f - outputSmoothing) * std::clamp (value, 0.0f, maxReportedDb);
    };

    grAll = smooth (grAll, blockMaxAll);
    grChannel[0] = smooth (grChannel[0], blockMax[0]);
    grChannel[1] = smooth (grChannel[1], numChannels >= 2 ? blockMax[1] : blockMax[0]);
}
} // namespace reference
