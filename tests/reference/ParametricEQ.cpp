#include "reference/ParametricEQ.h"

#include <algorithm>
#include <cmath>

namespace reference
{

// The coefficient formulas were never rewritten: the reference uses the product's.
using ProductEQ = ::ParametricEQ;

void ParametricEQ::prepare (double newSampleRate, int channels) noexcept
{
    sampleRate = newSampleRate;
    channelCount = std::clamp (channels, 1, maxChannels);
    freqMultipliers = { 1.0f, 1.0f, 1.0f };
    gainMultipliers = { 1.0f, 1.0f, 1.0f };

    for (auto& band : bands)
    {
        band.setSmoothing (sampleRate);
        band.reset();
    }

    snapshotValid = false;
}

void ParametricEQ::setTolerance (const std::array<float, 3>& frequencyMultipliers,
                                 const std::array<float, 3>& gainMultipliersIn) noexcept
{
    freqMultipliers = frequencyMultipliers;
    gainMultipliers = gainMultipliersIn;
}

bool ParametricEQ::update (const EqSettings& settings) noexcept
{
    auto next = settings;
    next.freqMultipliers = freqMultipliers;
    next.gainMultipliers = gainMultipliers;

    if (snapshotValid && next == snapshot)
        return false;

    recompute (next);
    snapshot = next;
    snapshotValid = true;
    return true;
}

void ParametricEQ::recompute (const EqSettings& s) noexcept
{
    // The rate as a float, as the coefficient formulas have always taken it.
    const auto fs = static_cast<double> (static_cast<float> (sampleRate));
    const auto clampHz = [] (float f) { return std::clamp (f, minFrequencyHz, maxFrequencyHz); };
    const auto& fm = s.freqMultipliers;
    const auto& gm = s.gainMultipliers;

    const std::array<BiquadCoefficients, numBands> coefficients {
        ProductEQ::lowShelfCoefficients (fs, clampHz (s.lfFreq * fm[0]), EqSettings::shelfQ, s.lfGain * gm[0]),
        ProductEQ::peakCoefficients (fs, clampHz (s.mfFreq * fm[1]), s.mfQ, s.mfGain * gm[1]),
        ProductEQ::highShelfCoefficients (fs, clampHz (s.hfFreq * fm[2]), EqSettings::shelfQ, s.hfGain * gm[2]),
        ProductEQ::peakCoefficients (fs, clampHz (s.lfCompanionFreq), s.lfCompanionQ, s.lfCompanionGain),
        ProductEQ::peakCoefficients (fs, clampHz (s.hfCompanionFreq), s.hfCompanionQ, s.hfCompanionGain),
    };

    for (size_t b = 0; b < numBands; ++b)
        for (size_t ch = 0; ch < maxChannels; ++ch)
            bands[b * maxChannels + ch].setTarget (coefficients[b]);
}

void ParametricEQ::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto channels = std::min (static_cast<size_t> (channelCount), block.getNumChannels());
    const auto numSamples = block.getNumSamples();

    // Each band glides once per sample of its own channel and its output feeds the
    // next band, so running band after band over the whole channel gives exactly the
    // numbers of the sample-by-sample cascade.
    for (size_t ch = 0; ch < channels; ++ch)
    {
        auto* samples = block.getChannelPointer (ch);

        for (size_t b = 0; b < numBands; ++b)
            bands[b * maxChannels + ch].processBlock (samples, numSamples);
    }
}
} // namespace reference
