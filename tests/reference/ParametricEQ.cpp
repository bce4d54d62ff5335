#include "reference/ParametricEQ.h"

#include <algorithm>
#include <cmath>

namespace reference
{

namespace
{
    constexpr double minimumLinearGain = 1.0e-15;
    constexpr double minimumFormulaHz = 2.0;

    struct BandTerms
    {
        double A, cs, sn;
        bool unity;
    };

    // A, cos w and sin w of one band, and whether the band is the unity filter.
    //
    // The band frequencies are clamped to 20 kHz, not to half the sample rate. At
    // Nyquist the shelf and bell formulas degenerate to unity (sin w = 0 makes the
    // numerator equal the denominator, with a double pole on the unit circle at
    // z = -1), and above it (the 16 kHz shelf at 32 kHz with a tolerance multiplier
    // above 1, any band past fs / 2 at low rates) sin w < 0 puts a pole outside the
    // unit circle and the output grows without bound. Unity is the limit the
    // formulas approach at Nyquist, so that is what such a band becomes. The guard
    // never acts at 44.1 kHz and above, where 20 kHz keeps w below 2.85.
    BandTerms bandTerms (double sampleRate, float frequency, float gainDb) noexcept
    {
        const auto gain = juce::Decibels::decibelsToGain (static_cast<double> (gainDb));
        const auto A = std::sqrt (std::max (gain, minimumLinearGain));
        const auto w = juce::MathConstants<double>::twoPi * std::max (static_cast<double> (frequency), minimumFormulaHz)
                       / sampleRate;
        const bool unity = ! (w < juce::MathConstants<double>::pi - ParametricEQ::nyquistGuardRadians);
        return { A, std::cos (w), std::sin (w), unity };
    }

    // Divides by a0 the way the framework's IIR::Coefficients does (multiplying by
    // 1 / a0), without its heap-allocated coefficient array.
    BiquadCoefficients normalise (double b0, double b1, double b2, double a0, double a1, double a2) noexcept
    {
        const auto inv = a0 != 0.0 ? 1.0 / a0 : 0.0;
        return { b0 * inv, b1 * inv, b2 * inv, a1 * inv, a2 * inv };
    }
}

//==============================================================================
BiquadCoefficients ParametricEQ::lowShelfCoefficients (double fs, float frequency, float q, float gainDb) noexcept
{
    const auto t = bandTerms (fs, frequency, gainDb);
    if (t.unity)
        return BiquadCoefficients::identity();

    const auto A = t.A, cs = t.cs;
    const auto beta = t.sn * std::sqrt (A) / static_cast<double> (q);

    return normalise (A * ((A + 1.0) - (A - 1.0) * cs + beta),
                      2.0 * A * ((A - 1.0) - (A + 1.0) * cs),
                      A * ((A + 1.0) - (A - 1.0) * cs - beta),
                      (A + 1.0) + (A - 1.0) * cs + beta,
                      -2.0 * ((A - 1.0) + (A + 1.0) * cs),
                      (A + 1.0) + (A - 1.0) * cs - beta);
}

BiquadCoefficients ParametricEQ::highShelfCoefficients (double fs, float frequency, float q, float gainDb) noexcept
{
    const auto t = bandTerms (fs, frequency, gainDb);
    if (t.unity)
        return BiquadCoefficients::identity();

    const auto A = t.A, cs = t.cs;
    const auto beta = t.sn * std::sqrt (A) / static_cast<double> (q);

    return normalise (A * ((A + 1.0) + (A - 1.0) * cs + beta),
                      -2.0 * A * ((A - 1.0) + (A + 1.0) * cs),
                      A * ((A + 1.0) + (A - 1.0) * cs - beta),
                      (A + 1.0) - (A - 1.0) * cs + beta,
                      2.0 * ((A - 1.0) - (A + 1.0) * cs),
                      (A + 1.0) - (A - 1.0) * cs - beta);
}

BiquadCoefficients ParametricEQ::peakCoefficients (double fs, float frequency, float q, float gainDb) noexcept
{
    const auto t = bandTerms (fs, frequency, gainDb);
    if (t.unity)
        return BiquadCoefficients::identity();

    const auto A = t.A, cs = t.cs;
    const auto alpha = t.sn / (2.0 * static_cast<double> (q));

    return normalise (1.0 + alpha * A,
                      -2.0 * cs,
                      1.0 - alpha * A,
                      1.0 + alpha / A,
                      -2.0 * cs,
                      1.0 - alpha / A);
}

//==============================================================================
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
        lowShelfCoefficients (fs, clampHz (s.lfFreq * fm[0]), EqSettings::shelfQ, s.lfGain * gm[0]),
        peakCoefficients (fs, clampHz (s.mfFreq * fm[1]), s.mfQ, s.mfGain * gm[1]),
        highShelfCoefficients (fs, clampHz (s.hfFreq * fm[2]), EqSettings::shelfQ, s.hfGain * gm[2]),
        peakCoefficients (fs, clampHz (s.lfCompanionFreq), s.lfCompanionQ, s.lfCompanionGain),
        peakCoefficients (fs, clampHz (s.hfCompanionFreq), s.hfCompanionQ, s.hfCompanionGain),
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
