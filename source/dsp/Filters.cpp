#include "dsp/Filters.h"

#include "dsp/SimdPair.h"

#include <algorithm>
#include <cmath>

namespace
{
    using FloatPair = SimdPair<float>;

    // States this close to zero become zero after each block, out of the denormal range.
    constexpr float snapLimit = 1.0e-8f;

    void snapToZero (std::vector<float>& states) noexcept
    {
        for (auto& x : states)
            if (! (x < -snapLimit || x > snapLimit))
                x = 0.0f;
    }
}

Filters::Filters()
{
    // Usable before prepare(): two channels at 44.1 kHz.
    s1.assign (numChannels, 0.0f);
    s2.assign (numChannels, 0.0f);
    updateCoefficients();
}

void Filters::prepare (double newSampleRate, int channels)
{
    sampleRate = newSampleRate;
    numChannels = static_cast<size_t> (std::max (channels, 1));

    // Coefficients for the stored cut-off at the new rate, states zeroed.
    s1.assign (numChannels, 0.0f);
    s2.assign (numChannels, 0.0f);
    updateCoefficients();
}

void Filters::updateCoefficients() noexcept
{
    g = static_cast<float> (std::tan (juce::MathConstants<double>::pi * static_cast<double> (cutoffHz) / sampleRate));
    r2 = static_cast<float> (1.0 / static_cast<double> (resonance));
    h = static_cast<float> (1.0 / (1.0 + static_cast<double> (r2 * g) + static_cast<double> (g * g)));
}

void Filters::setHighPass (float hpfFreq) noexcept
{
    highPassOn = hpfFreq > offHz;

    const auto cutoff = std::clamp (hpfFreq, minCutoffHz, maxCutoffHz);

    // g = tan(pi fc / fs) only when the cut-off moves.
    if (cutoff != cutoffHz)
    {
        cutoffHz = cutoff;
        updateCoefficients();
    }
}

void Filters::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto channelsToRun = std::min ({ block.getNumChannels(), numChannels, s1.size() });
    const auto numSamples = block.getNumSamples();

    if (! highPassOn || channelsToRun == 0)
        return;

    const auto gPair = FloatPair::broadcast (g), hPair = FloatPair::broadcast (h);
    const auto feedback = FloatPair::broadcast (g + r2);

    // Channels 0 and 1 together (a mono block runs channel 0 in both lanes), any
    // further channel on its own with the same arithmetic.
    const auto paired = std::min (channelsToRun, size_t (2));
    auto* left = block.getChannelPointer (0);
    auto* right = paired > 1 ? block.getChannelPointer (1) : left;
    auto z1 = FloatPair::make (s1[0], s1[paired - 1]);
    auto z2 = FloatPair::make (s2[0], s2[paired - 1]);

    for (size_t i = 0; i < numSamples; ++i)
    {
        const auto x = FloatPair::load (left + i, right + i);
        const auto yHP = hPair * (x - z1 * feedback - z2);
        const auto yBP = yHP * gPair + z1;
        z1 = yHP * gPair + yBP;
        const auto yLP = yBP * gPair + z2;
        z2 = yBP * gPair + yLP;
        yHP.store (left + i, right + i);
    }

    s1[0] = z1.lane0();
    s2[0] = z2.lane0();

    if (paired > 1)
    {
        s1[1] = z1.lane1();
        s2[1] = z2.lane1();
    }

    const auto gain = g + r2;

    for (size_t ch = paired; ch < channelsToRun; ++ch)
    {
        auto* data = block.getChannelPointer (ch);
        auto a = s1[ch], b = s2[ch];

        for (size_t i = 0; i < numSamples; ++i)
        {
            const auto yHP = h * (data[i] - a * gain - b);
            const auto yBP = yHP * g + a;
            a = yHP * g + yBP;
            const auto yLP = yBP * g + b;
            b = yBP * g + yLP;
            data[i] = yHP;
        }

        s1[ch] = a;
        s2[ch] = b;
    }

    snapToZero (s1);
    snapToZero (s2);
}
