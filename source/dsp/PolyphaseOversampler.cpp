#include "dsp/PolyphaseOversampler.h"

#include <cmath>

namespace
{
    using FloatPair = SimdPair<float>;
    using Structure = juce::dsp::FilterDesign<float>::IIRPolyphaseAllpassStructure;

    // The framework's maximum-quality settings for its polyphase IIR oversampler:
    // the first stage has the narrowest transition band, each further stage (at a
    // higher rate, with more room) a wider one and 10 dB less attenuation needed.
    constexpr float transitionUp = 0.10f, transitionDown = 0.12f, firstStageTransitionScale = 0.5f;
    constexpr float stopbandUpDb = -90.0f, stopbandDownDb = -75.0f, stopbandStepDb = 10.0f;

    // Below this fractional delay the first-order Thiran allpass's phase is poor; a
    // whole sample more is added instead.
    constexpr float thiranMinimumDelay = 0.618f;

    // The phase delay at a frequency close to 0 (in cycles per sample) gives the
    // stage's latency in its own samples.
    constexpr double latencyProbeFrequency = 0.0001;

    // The equivalent high-order filter of the two paths: direct(z) + delayed(z), both
    // products of their sections' numerators over denominators, and its latency.
    float latencyOf (const Structure& structure)
    {
        using Polynomial = juce::dsp::Polynomial<float>;
        Polynomial numerator1 ({ 1.0f }), denominator1 ({ 1.0f }), numerator2 ({ 1.0f }), denominator2 ({ 1.0f });

        const auto multiplyIn = [] (const auto& path, Polynomial& numerator, Polynomial& denominator)
        {
            for (auto* section : path)
            {
                auto* c = section->getRawCoefficients();

                if (section->getFilterOrder() == 1)
                {
                    numerator = numerator.getProductWith (Polynomial ({ c[0], c[1] }));
                    denominator = denominator.getProductWith (Polynomial ({ 1.0f, c[2] }));
                }
                else
                {
                    numerator = numerator.getProductWith (Polynomial ({ c[0], c[1], c[2] }));
                    denominator = denominator.getProductWith (Polynomial ({ 1.0f, c[3], c[4] }));
                }
            }
        };

        multiplyIn (structure.directPath, numerator1, denominator1);
        multiplyIn (structure.delayedPath, numerator2, denominator2);

        auto numerator = numerator1.getProductWith (denominator2).getSumWith (numerator2.getProductWith (denominator1));
        auto denominator = denominator1.getProductWith (denominator2);

        juce::dsp::IIR::Coefficients<float> filter;
        filter.coefficients.clear();
        const auto inversion = 1.0f / denominator[0];

        for (int i = 0; i <= numerator.getOrder(); ++i)
            filter.coefficients.add (numerator[i] * inversion);

        for (int i = 1; i <= denominator.getOrder(); ++i)
            filter.coefficients.add (denominator[i] * inversion);

        return static_cast<float> (-(filter.getPhaseForFrequency (latencyProbeFrequency, 1.0))
                                   / (latencyProbeFrequency * juce::MathConstants<double>::twoPi));
    }

    // The allpass coefficient of each section: the direct path's sections, and the
    // delayed path's after its leading one-sample delay.
    void coefficientsOf (const Structure& structure, std::vector<float>& direct, std::vector<float>& delayed)
    {
        direct.clear();
        delayed.clear();

        for (int i = 0; i < structure.directPath.size(); ++i)
            direct.push_back (structure.directPath.getObjectPointer (i)->coefficients[0]);

        for (int i = 1; i < structure.delayedPath.size(); ++i)
            delayed.push_back (structure.delayedPath.getObjectPointer (i)->coefficients[0]);
    }

    // Values within 1e-8 of zero become zero, as the framework's oversampler does
    // with its states after every block to keep them out of the denormal range.
    void snapToZero (std::vector<FloatPair>& states) noexcept
    {
        constexpr float tiny = 1.0e-8f;
        const auto above = FloatPair::broadcast (tiny), below = FloatPair::broadcast (-tiny);
        const auto zero = FloatPair::broadcast (0.0f);

        for (auto& x : states)
            x = FloatPair::select (FloatPair::greaterThan (x, above), x,
                                   FloatPair::select (FloatPair::greaterThan (below, x), x, zero));
    }

    // One sample through a cascade of allpass sections y = a x + v, v' = x - a y.
    inline FloatPair allpassCascade (FloatPair x, const float* coefficients, FloatPair* state, size_t count) noexcept
    {
        for (size_t n = 0; n < count; ++n)
        {
            const auto alpha = FloatPair::broadcast (coefficients[n]);
            const auto y = alpha * x + state[n];
            state[n] = x - alpha * y;
            x = y;
        }

        return x;
    }
}

float PolyphaseOversampler::designStage (Stage& stage, float twUp, float stopUp, float twDown, float stopDown)
{
    const auto up = juce::dsp::FilterDesign<float>::designIIRLowpassHalfBandPolyphaseAllpassMethod (twUp, stopUp);
    const auto down = juce::dsp::FilterDesign<float>::designIIRLowpassHalfBandPolyphaseAllpassMethod (twDown, stopDown);

    coefficientsOf (up, stage.upDirect, stage.upDelayed);
    coefficientsOf (down, stage.downDirect, stage.downDelayed);
    stage.upState.assign (stage.upDirect.size() + stage.upDelayed.size(), FloatPair::broadcast (0.0f));
    stage.downState.assign (stage.downDirect.size() + stage.downDelayed.size(), FloatPair::broadcast (0.0f));

    auto latency = latencyOf (up);
    latency += latencyOf (down);
    return latency;
}

void PolyphaseOversampler::prepare (int numStages, size_t maximumBlockSize)
{
    stages.clear();
    stages.resize (static_cast<size_t> (std::clamp (numStages, 1, 3)));

    auto uncompensated = 0.0f;
    size_t order = 1, frames = std::max (maximumBlockSize, size_t (1));

    for (size_t n = 0; n < stages.size(); ++n)
    {
        const auto scale = n == 0 ? firstStageTransitionScale : 1.0f;
        const auto steps = stopbandStepDb * static_cast<float> (n);
        const auto stageLatency = designStage (stages[n], transitionUp * scale, stopbandUpDb + steps,
                                               transitionDown * scale, stopbandDownDb + steps);

        order *= 2;
        frames *= 2;
        uncompensated += stageLatency / static_cast<float> (order);
        stages[n].buffer.assign (frames * 2, 0.0f);
    }

    // The delay that makes the latency whole, between 0.618 and 1.618 samples (or
    // none when it is whole already).
    auto fractional = 1.0f - (uncompensated - std::floor (uncompensated));

    if (fractional == 1.0f)
        fractional = 0.0f;
    else if (fractional < thiranMinimumDelay)
        fractional += 1.0f;

    useThiran = fractional > 0.0f;
    latency = uncompensated + fractional;

    // A first-order Thiran allpass for the whole delay d: (1 - d) / (1 + d).
    thiranAlpha = (1.0f - fractional) / (1.0f + fractional);

    reset();
}

void PolyphaseOversampler::reset() noexcept
{
    for (auto& stage : stages)
    {
        std::fill (stage.upState.begin(), stage.upState.end(), FloatPair::broadcast (0.0f));
        std::fill (stage.downState.begin(), stage.downState.end(), FloatPair::broadcast (0.0f));
        stage.downDelay = FloatPair::broadcast (0.0f);
    }

    thiranInput = FloatPair::broadcast (0.0f);
    thiranOutput = FloatPair::broadcast (0.0f);
}

float* PolyphaseOversampler::processUp (const float* left, const float* right, size_t n) noexcept
{
    if (stages.empty())
        return nullptr;

    // The first stage reads the host's channels, each further stage the interleaved
    // output of the one before.
    const float* source = nullptr;
    size_t count = n;

    for (size_t s = 0; s < stages.size(); ++s)
    {
        auto& stage = stages[s];
        const auto directCount = stage.upDirect.size();
        const auto delayedCount = stage.upDelayed.size();
        auto* direct = stage.upState.data();
        auto* delayed = direct + directCount;
        auto* out = stage.buffer.data();

        for (size_t i = 0; i < count; ++i)
        {
            const auto x = s == 0 ? FloatPair::load (left + i, right + i) : FloatPair::loadFrame (source + 2 * i);
            allpassCascade (x, stage.upDirect.data(), direct, directCount).storeFrame (out + 4 * i);
            allpassCascade (x, stage.upDelayed.data(), delayed, delayedCount).storeFrame (out + 4 * i + 2);
        }

        snapToZero (stage.upState);
        source = out;
        count *= 2;
    }

    return stages.back().buffer.data();
}

void PolyphaseOversampler::processDown (float* left, float* right, size_t n) noexcept
{
    if (stages.empty())
        return;

    const auto half = FloatPair::broadcast (0.5f);
    const auto alpha = FloatPair::broadcast (thiranAlpha);

    // From the last stage down: each reads its own buffer and writes the buffer of
    // the stage before it, the first stage the host's channels.
    for (size_t s = stages.size(); s-- > 0;)
    {
        auto& stage = stages[s];
        const auto directCount = stage.downDirect.size();
        const auto delayedCount = stage.downDelayed.size();
        auto* direct = stage.downState.data();
        auto* delayed = direct + directCount;
        const auto* in = stage.buffer.data();
        auto* out = s > 0 ? stages[s - 1].buffer.data() : nullptr;
        const auto count = n << s;
        auto delay = stage.downDelay;

        for (size_t i = 0; i < count; ++i)
        {
            const auto directOut = allpassCascade (FloatPair::loadFrame (in + 4 * i), stage.downDirect.data(), direct,
                                                   directCount);
            const auto delayedOut = allpassCascade (FloatPair::loadFrame (in + 4 * i + 2), stage.downDelayed.data(),
                                                    delayed, delayedCount);
            auto y = (delay + directOut) * half;
            delay = delayedOut;

            if (out != nullptr)
            {
                y.storeFrame (out + 2 * i);
            }
            else
            {
                if (useThiran)
                {
                    // The previous input plus alpha times (this input - the previous output).
                    const auto z = thiranInput + alpha * (y - thiranOutput);
                    thiranInput = y;
                    thiranOutput = z;
                    y = z;
                }

                y.store (left + i, right + i);
            }
        }

        stage.downDelay = delay;
        snapToZero (stage.downState);
    }
}
