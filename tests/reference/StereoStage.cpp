#include "reference/StereoStage.h"

#include <algorithm>
#include <cmath>

namespace reference
{

namespace
{
    constexpr float percent = 0.01f;
    constexpr float maximumWidth = 2.0f;

    // The filter stays well-behaved over this range, which contains the parameter's.
    constexpr float coefficientMinHz = 20.0f;
    constexpr float coefficientMaxHz = 2000.0f;
}

StereoStage::StereoStage()
{
    updateCoefficient();
}

void StereoStage::prepare (double newSampleRate)
{
    sampleRate = newSampleRate;
    updateCoefficient();
    monoMakerState = 0.0f;
}

void StereoStage::update (float widthPercent, float monoMakerFrequencyHz)
{
    width = std::clamp (widthPercent * percent, 0.0f, maximumWidth);
    monoMakerHz = monoMakerFrequencyHz;
    monoMakerOn = monoMakerFrequencyHz > monoMakerOffHz;
    updateCoefficient();
}

void StereoStage::updateCoefficient() noexcept
{
    // A rate of 0 or below would make the exponent meaningless; keep the old value.
    if (sampleRate <= 0.0)
        return;

    const auto f = static_cast<double> (std::clamp (monoMakerHz, coefficientMinHz, coefficientMaxHz));
    monoMakerCoefficient = static_cast<float> (std::exp (-juce::MathConstants<double>::twoPi * f / sampleRate));
}

void StereoStage::process (float* left, float* right, int numSamples) noexcept
{
    if (left == nullptr || right == nullptr || numSamples <= 0)
        return;

    const auto p = monoMakerCoefficient;

    for (int i = 0; i < numSamples; ++i)
    {
        const auto mid = (left[i] + right[i]) * 0.5f;
        auto side = (left[i] - right[i]) * 0.5f * width;

        // Subtracting the one-pole low-pass of the side leaves its first-order
        // high-pass. The state stands still while the mono maker is off.
        if (monoMakerOn)
        {
            monoMakerState = p * monoMakerState + (1.0f - p) * side;
            side -= monoMakerState;
        }

        left[i] = mid + side;
        right[i] = mid - side;
    }
}

void StereoStage::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    if (block.getNumChannels() < 2)
        return;

    process (block.getChannelPointer (0), block.getChannelPointer (1), static_cast<int> (block.getNumSamples()));
}
} // namespace reference
