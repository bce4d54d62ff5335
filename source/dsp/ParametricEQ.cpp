#include "dsp/ParametricEQ.h"

#include "dsp/SimdPair.h"

#include <algorithm>
#include <cmath>

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

namespace
{
    using DoublePair = SimdPair<double>;

    // The five coefficients of one band broadcast to both lanes.
    struct PairCoefficients
    {
        DoublePair b0, b1, b2, a1, a2;

        static PairCoefficients of (const BiquadCoefficients& c) noexcept
        {
            return { DoublePair::broadcast (c.b0), DoublePair::broadcast (c.b1), DoublePair::broadcast (c.b2),
                     DoublePair::broadcast (c.a1), DoublePair::broadcast (c.a2) };
        }
    };

    inline DoublePair step (const PairCoefficients& c, DoublePair x, DoublePair& s1, DoublePair& s2) noexcept
    {
        const auto y = c.b0 * x + s1;
        s1 = c.b1 * x - c.a1 * y + s2;
        s2 = c.b2 * x - c.a2 * y;
        return y;
    }

    inline double glide (double current, double target, double k, double m) noexcept { return k * current + m * target; }
}

void ParametricEQ::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto channels = std::min (static_cast<size_t> (channelCount), block.getNumChannels());
    const auto numSamples = block.getNumSamples();

    if (channels == 0 || numSamples == 0)
        return;

    // Both channels run in the lanes of one register, sample by sample through all
    // five bands, so that the bands' short feedback loops overlap in the processor.
    // Both channels' bands always have the same coefficients (the same targets from
    // the same start), so the glide is computed once for both. A mono block runs its
    // channel in both lanes and keeps lane 0.
    auto* const left = block.getChannelPointer (0);
    auto* const right = channels > 1 ? block.getChannelPointer (1) : left;

    std::array<BiquadCoefficients, numBands> current, target;
    std::array<DoublePair, numBands> s1, s2;
    bool gliding = false;

    for (size_t b = 0; b < numBands; ++b)
    {
        const auto& l = bands[b * maxChannels];
        const auto& r = bands[b * maxChannels + (channels > 1 ? 1 : 0)];
        current[b] = l.getCurrent();
        target[b] = l.getTarget();
        gliding = gliding || current[b] != target[b];
        s1[b] = DoublePair::make (l.getState1(), r.getState1());
        s2[b] = DoublePair::make (l.getState2(), r.getState2());
    }

    if (gliding)
    {
        const auto k = bands[0].getSmoothing();
        const auto m = 1.0 - k;

        for (size_t i = 0; i < numSamples; ++i)
        {
            auto x = DoublePair::make (static_cast<double> (left[i]), static_cast<double> (right[i]));

            for (size_t b = 0; b < numBands; ++b)
            {
                auto& c = current[b];
                const auto& t = target[b];
                c = { glide (c.b0, t.b0, k, m), glide (c.b1, t.b1, k, m), glide (c.b2, t.b2, k, m),
                      glide (c.a1, t.a1, k, m), glide (c.a2, t.a2, k, m) };
                x = step (PairCoefficients::of (c), x, s1[b], s2[b]);
            }

            right[i] = static_cast<float> (x.lane1());
            left[i] = static_cast<float> (x.lane0());
        }

        for (size_t b = 0; b < numBands; ++b)
            if (SmoothedBiquad::hasConverged (current[b], target[b]))
                current[b] = target[b];
    }
    else
    {
        std::array<PairCoefficients, numBands> c;
        for (size_t b = 0; b < numBands; ++b)
            c[b] = PairCoefficients::of (current[b]);

        for (size_t i = 0; i < numSamples; ++i)
        {
            auto x = DoublePair::make (static_cast<double> (left[i]), static_cast<double> (right[i]));

            for (size_t b = 0; b < numBands; ++b)
                x = step (c[b], x, s1[b], s2[b]);

            right[i] = static_cast<float> (x.lane1());
            left[i] = static_cast<float> (x.lane0());
        }
    }

    for (size_t b = 0; b < numBands; ++b)
    {
        bands[b * maxChannels].restore (current[b], s1[b].lane0(), s2[b].lane0());

        // The second channel's coefficients follow in every case; its states only
        // when it was processed.
        auto& second = bands[b * maxChannels + 1];
        if (channels > 1)
            second.restore (current[b], s1[b].lane1(), s2[b].lane1());
        else
            second.restore (current[b], second.getState1(), second.getState2());
    }
}
