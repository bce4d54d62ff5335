#include "dsp/PolyphaseOversampler.h"

#include <cmath>

namespace
{
    using FloatPair = SimdPair<float>;

    // Four floats processed as one: the left and right channel of the direct path and
    // of the delayed path.
   #if ORVANE_SIMD_PAIR_SSE2
    struct Quad
    {
        __m128 v;

        static Quad load (const float* p) noexcept { return { _mm_loadu_ps (p) }; }
        void store (float* p) const noexcept { _mm_storeu_ps (p, v); }

        // Both channels of one frame in the low and the high half.
        static Quad twice (const float* frame) noexcept
        {
            const auto pair = _mm_castpd_ps (_mm_load_sd (reinterpret_cast<const double*> (frame)));
            return { _mm_movelh_ps (pair, pair) };
        }

        static Quad twice (const float* a, const float* b) noexcept
        {
            const auto pair = _mm_unpacklo_ps (_mm_load_ss (a), _mm_load_ss (b));
            return { _mm_movelh_ps (pair, pair) };
        }

        friend Quad operator+ (Quad a, Quad b) noexcept { return { _mm_add_ps (a.v, b.v) }; }
        friend Quad operator- (Quad a, Quad b) noexcept { return { _mm_sub_ps (a.v, b.v) }; }
        friend Quad operator* (Quad a, Quad b) noexcept { return { _mm_mul_ps (a.v, b.v) }; }

        FloatPair low() const noexcept { return { v }; }
        FloatPair high() const noexcept { return { _mm_movehl_ps (v, v) }; }

        Quad withLow (FloatPair p) const noexcept { return { _mm_shuffle_ps (p.v, v, _MM_SHUFFLE (3, 2, 1, 0)) }; }
    };
   #else
    struct Quad
    {
        float x[4];

        static Quad load (const float* p) noexcept { return { { p[0], p[1], p[2], p[3] } }; }
        void store (float* p) const noexcept { std::copy (x, x + 4, p); }
        static Quad twice (const float* f) noexcept { return { { f[0], f[1], f[0], f[1] } }; }
        static Quad twice (const float* a, const float* b) noexcept { return { { *a, *b, *a, *b } }; }

        friend Quad operator+ (Quad a, Quad b) noexcept { return { { a.x[0] + b.x[0], a.x[1] + b.x[1], a.x[2] + b.x[2], a.x[3] + b.x[3] } }; }
        friend Quad operator- (Quad a, Quad b) noexcept { return { { a.x[0] - b.x[0], a.x[1] - b.x[1], a.x[2] - b.x[2], a.x[3] - b.x[3] } }; }
        friend Quad operator* (Quad a, Quad b) noexcept { return { { a.x[0] * b.x[0], a.x[1] * b.x[1], a.x[2] * b.x[2], a.x[3] * b.x[3] } }; }

        FloatPair low() const noexcept { return FloatPair::make (x[0], x[1]); }
        FloatPair high() const noexcept { return FloatPair::make (x[2], x[3]); }
        Quad withLow (FloatPair p) const noexcept { return { { p.lane0(), p.lane1(), x[2], x[3] } }; }
    };
   #endif

    // One sample through both paths: the shared sections in four lanes, then the
    // direct path's remaining sections in the low two.
    inline Quad bothPaths (Quad x, const float* paired, float* state, size_t pairedCount, const float* extra,
                           float* extraState, size_t extraCount) noexcept
    {
        for (size_t n = 0; n < pairedCount; ++n)
        {
            const auto alpha = Quad::load (paired + 4 * n);
            const auto y = alpha * x + Quad::load (state + 4 * n);
            (x - alpha * y).store (state + 4 * n);
            x = y;
        }

        auto direct = x.low();

        for (size_t n = 0; n < extraCount; ++n)
        {
            const auto alpha = FloatPair::broadcast (extra[n]);
            const auto v = FloatPair::loadFrame (extraState + 2 * n);
            const auto y = alpha * direct + v;
            (direct - alpha * y).storeFrame (extraState + 2 * n);
            direct = y;
        }

        return x.withLow (direct);
    }
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
    void snapToZero (std::vector<float>& states) noexcept
    {
        constexpr float tiny = 1.0e-8f;

        for (auto& x : states)
            if (! (x < -tiny || x > tiny))
                x = 0.0f;
    }

}

float PolyphaseOversampler::designStage (Stage& stage, float twUp, float stopUp, float twDown, float stopDown)
{
    const auto up = juce::dsp::FilterDesign<float>::designIIRLowpassHalfBandPolyphaseAllpassMethod (twUp, stopUp);
    const auto down = juce::dsp::FilterDesign<float>::designIIRLowpassHalfBandPolyphaseAllpassMethod (twDown, stopDown);

    coefficientsOf (up, stage.upDirect, stage.upDelayed);
    coefficientsOf (down, stage.downDirect, stage.downDelayed);

    // The design gives the direct path as many sections as the delayed one, or one more.
    jassert (stage.upDirect.size() >= stage.upDelayed.size() && stage.downDirect.size() >= stage.downDelayed.size());

    const auto pairUp = [] (const std::vector<float>& direct, const std::vector<float>& delayed, std::vector<float>& paired)
    {
        paired.clear();
        for (size_t n = 0; n < delayed.size(); ++n)
            paired.insert (paired.end(), { direct[n], direct[n], delayed[n], delayed[n] });
    };

    pairUp (stage.upDirect, stage.upDelayed, stage.upPaired);
    pairUp (stage.downDirect, stage.downDelayed, stage.downPaired);
    stage.upState.assign (stage.upPaired.size(), 0.0f);
    stage.downState.assign (stage.downPaired.size(), 0.0f);
    stage.upExtraState.assign (2 * (stage.upDirect.size() - stage.upDelayed.size()), 0.0f);
    stage.downExtraState.assign (2 * (stage.downDirect.size() - stage.downDelayed.size()), 0.0f);

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
        for (auto* states : { &stage.upState, &stage.downState, &stage.upExtraState, &stage.downExtraState })
            std::fill (states->begin(), states->end(), 0.0f);

        stage.downDelay = {};
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
        const auto pairedCount = stage.upDelayed.size();
        const auto extraCount = stage.upDirect.size() - pairedCount;
        const auto* extra = stage.upDirect.data() + pairedCount;
        auto* out = stage.buffer.data();

        // Each input frame feeds both paths; their outputs are the frames 2i and 2i + 1.
        for (size_t i = 0; i < count; ++i)
        {
            const auto x = s == 0 ? Quad::twice (left + i, right + i) : Quad::twice (source + 2 * i);
            bothPaths (x, stage.upPaired.data(), stage.upState.data(), pairedCount, extra, stage.upExtraState.data(),
                       extraCount)
                .store (out + 4 * i);
        }

        snapToZero (stage.upState);
        snapToZero (stage.upExtraState);
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
        const auto pairedCount = stage.downDelayed.size();
        const auto extraCount = stage.downDirect.size() - pairedCount;
        const auto* extra = stage.downDirect.data() + pairedCount;
        const auto* in = stage.buffer.data();
        auto* out = s > 0 ? stages[s - 1].buffer.data() : nullptr;
        const auto count = n << s;
        auto delay = FloatPair::loadFrame (stage.downDelay.data());

        // Frames 2i and 2i + 1 go through the direct and the delayed path together.
        for (size_t i = 0; i < count; ++i)
        {
            const auto paths = bothPaths (Quad::load (in + 4 * i), stage.downPaired.data(), stage.downState.data(),
                                          pairedCount, extra, stage.downExtraState.data(), extraCount);
            auto y = (delay + paths.low()) * half;
            delay = paths.high();

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

        delay.storeFrame (stage.downDelay.data());
        snapToZero (stage.downState);
        snapToZero (stage.downExtraState);
    }
}
