#include "dsp/SilkStage.h"

#include "dsp/FastMath.h"

#include <algorithm>
#include <cmath>

namespace
{
    constexpr float percent = 0.01f;

    // Drive and mix grow with the amount; the compensation follows the drive so that
    // the loudness stays roughly constant.
    constexpr float baseDrive = 1.12f;
    constexpr float driveRange = 2.8f;
    constexpr float baseMix = 0.2f;
    constexpr float mixRange = 0.45f;
    constexpr float compensationSlope = 0.45f;

    // Below this amount the stage counts as adding nothing audible to the display.
    constexpr float addedSignalThreshold = 0.0001f;

    // The saturator curve: tanh of a scaled, biased input. The bias makes the curve
    // asymmetric (even harmonics); subtracting its value at zero and dividing by the
    // scale gives a curve through 0 with a slope close to the drive.
    constexpr float curveScale = 0.6f;
    constexpr float curveBias = 0.25f;

    // The curve's value at zero input. Computed once at load time, not on first use,
    // so that the audio thread never waits on a static initialisation guard.
    // With the same tanh as the curve itself, so that silence in is exactly silence out.
    const double curveOffset = FastMath::tanh (static_cast<double> (curveScale) * static_cast<double> (curveBias));

    constexpr double dcTrackerHz = 20.0;
    constexpr double dcBlockerHz = 8.0;

    // Emphasis: a +6 dB shelf in front of the saturator and the mirrored -6 dB shelf
    // after it, so that only the saturation, not the level, of the region changes.
    constexpr float emphasisDb = 6.0f;
    constexpr float emphasisQ = 0.6f;
    constexpr float airHz = 3000.0f;
    constexpr float bodyHz = 300.0f;

    // The fixed console shelves at the host rate.
    constexpr float consoleLowHz = 50.0f;
    constexpr float consoleLowQ = 0.7f;
    constexpr float consoleLowDb = 0.5f;
    constexpr float consoleHighQ = 0.5f;
    constexpr float consoleHighDb = -0.7f;
    constexpr float consoleHighMaxHz = 18000.0f;
    constexpr float consoleHighRateFraction = 0.4f;
    constexpr float lowestShelfHz = 2.0f;

    constexpr int dryDelayMask = SilkStage::dryDelaySize - 1;
    static_assert ((SilkStage::dryDelaySize & dryDelayMask) == 0, "the ring is indexed with a mask");

    enum class ShelfKind { low, high };

    // Audio EQ Cookbook shelves with A the square root of the linear gain, in the
    // order b0, b1, b2, a0, a1, a2. In double precision, like the filters that run
    // them: the 50 Hz shelf's poles sit so close to z = 1 that float arithmetic
    // turns the last bit of every sample into noise about 80 dB below the signal.
    std::array<double, 6> shelf (ShelfKind kind, float frequency, float q, float gainDb, double rate) noexcept
    {
        const auto gain = juce::Decibels::decibelsToGain (static_cast<double> (gainDb));
        const auto a = std::sqrt (gain);
        const auto w = juce::MathConstants<double>::twoPi * static_cast<double> (std::max (frequency, lowestShelfHz)) / rate;
        const auto cs = std::cos (w);
        const auto beta = std::sin (w) * std::sqrt (a) / static_cast<double> (q);

        if (kind == ShelfKind::low)
            return { a * ((a + 1.0) - (a - 1.0) * cs + beta),
                     2.0 * a * ((a - 1.0) - (a + 1.0) * cs),
                     a * ((a + 1.0) - (a - 1.0) * cs - beta),
                     (a + 1.0) + (a - 1.0) * cs + beta,
                     -2.0 * ((a - 1.0) + (a + 1.0) * cs),
                     (a + 1.0) + (a - 1.0) * cs - beta };

        return { a * ((a + 1.0) + (a - 1.0) * cs + beta),
                 -2.0 * a * ((a - 1.0) + (a + 1.0) * cs),
                 a * ((a + 1.0) + (a - 1.0) * cs - beta),
                 (a + 1.0) - (a - 1.0) * cs + beta,
                 2.0 * ((a - 1.0) - (a + 1.0) * cs),
                 (a + 1.0) - (a - 1.0) * cs - beta };
    }

    double dcTrackerCoefficientFor (double rate) noexcept
    {
        return std::exp (-juce::MathConstants<double>::twoPi * dcTrackerHz / rate);
    }
}

//==============================================================================
SilkStage::BlockConstants SilkStage::computeBlockConstants (int mode, float amount) noexcept
{
    const auto t = mode != modeOff ? amount : 0.0f;
    const auto drive = baseDrive + driveRange * t;
    const auto mix = baseMix + mixRange * t;
    const auto compensation = 1.0f / (1.0f + compensationSlope * (driveRange * t + (baseDrive - 1.0f)));
    return { t, drive, mix, compensation };
}

SilkStage::SilkStage() : dcTrackerCoefficient (dcTrackerCoefficientFor (oversampledRate)) {}

SilkStage::Biquad SilkStage::normalised (const std::array<double, 6>& c) noexcept
{
    // Multiplied by 1 / a0, as the framework's coefficient sets do.
    const auto a0 = c[3];
    const auto inverse = a0 != 0.0 ? 1.0 / a0 : 0.0;
    return { c[0] * inverse, c[1] * inverse, c[2] * inverse, c[4] * inverse, c[5] * inverse };
}

void SilkStage::resetEmphasisStates() noexcept
{
    preEmphasisState = {};
    deEmphasisState = {};
}

SilkStage::~SilkStage() = default;

void SilkStage::prepare (double newSampleRate, int numChannels, int maximumBlockSize)
{
    sampleRate = newSampleRate;
    channelCount = numChannels >= 2 ? 2 : 1;

    // A host that announces no block size still gets working (if chunked) processing.
    maxBlockSize = static_cast<size_t> (std::max (maximumBlockSize, 1));

    alignedDry.assign (maxBlockSize, 0.0f);
    added.assign (maxBlockSize, 0.0f);
    addedLength = 0;

    activeOversampler = nullptr;

    for (size_t i = 0; i < oversamplers.size(); ++i)
        oversamplers[i].prepare (static_cast<int> (i + 1), maxBlockSize);

    prepared = true;

    if (sampleRate > 0.0)
    {
        dcBlockerCoefficient = 1.0 - juce::MathConstants<double>::twoPi * dcBlockerHz / sampleRate;

        const auto fs = sampleRate;
        const auto highHz = std::max (lowestShelfHz, std::min (consoleHighRateFraction * static_cast<float> (fs), consoleHighMaxHz));
        lowShelf = normalised (shelf (ShelfKind::low, consoleLowHz, consoleLowQ, consoleLowDb, fs));
        highShelf = normalised (shelf (ShelfKind::high, highHz, consoleHighQ, consoleHighDb, fs));
    }

    applyOsIndex (osIndex);

    dcTrackerState.fill (0.0);
    feedbackState.fill (0.0);
    dcBlockerX1.fill (0.0);
    dcBlockerY1.fill (0.0);

    resetEmphasisStates();
    lowShelfState = {};
    highShelfState = {};

    // A new stream: the old dry history would only misalign the first added samples.
    dryDelay.fill (0.0f);
    dryDelayPos = 0;

    if (activeOversampler != nullptr)
        activeOversampler->reset();
}

void SilkStage::setMode (int newMode) noexcept
{
    newMode = std::clamp (newMode, static_cast<int> (modeOff), static_cast<int> (modeBody));

    if (newMode == mode)
        return;

    mode = newMode;
    updateEmphasis();
}

void SilkStage::setAmount (float silkTexturePercent) noexcept
{
    amount = std::clamp (silkTexturePercent * percent, 0.0f, 1.0f);
}

void SilkStage::applyOsIndex (int index) noexcept
{
    osIndex = std::clamp (index, 0, maximumOsIndex);

    if (osIndex == 0)
    {
        activeOversampler = nullptr;
        oversampledRate = sampleRate;
    }
    else
    {
        activeOversampler = &oversamplers[static_cast<size_t> (osIndex - 1)];
        oversampledRate = sampleRate * static_cast<double> (1 << osIndex);
    }

    if (oversampledRate > 0.0)
        dcTrackerCoefficient = dcTrackerCoefficientFor (oversampledRate);

    updateEmphasis();

    latency = 0;

    if (activeOversampler != nullptr)
    {
        latency = juce::roundToInt (activeOversampler->getLatencyInSamples());
        activeOversampler->reset();
    }

    resetEmphasisStates();
    dcTrackerState.fill (0.0);
}

void SilkStage::updateEmphasis() noexcept
{
    if (oversampledRate <= 0.0 || mode == modeOff)
        return;

    const auto fo = oversampledRate;
    const auto kind = mode == modeAir ? ShelfKind::high : ShelfKind::low;
    const auto frequency = mode == modeAir ? airHz : bodyHz;

    preEmphasis = normalised (shelf (kind, frequency, emphasisQ, emphasisDb, fo));
    deEmphasis = normalised (shelf (kind, frequency, emphasisQ, -emphasisDb, fo));
}

//==============================================================================
void SilkStage::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    if (! isPrepared())
        return;

    const auto numSamples = block.getNumSamples();

    if (numSamples == 0)
    {
        addedLength = 0;
        return;
    }

    // The oversamplers and work arrays hold maxBlockSize samples. A host that sends
    // more than it announced gets its block processed in pieces instead of an
    // overrun; the added signal then describes the last piece.
    for (size_t start = 0; start < numSamples; start += maxBlockSize)
    {
        auto chunk = block.getSubBlock (start, std::min (maxBlockSize, numSamples - start));
        processChunk (chunk);
    }
}

namespace
{
    using DoublePair = SimdPair<double>;

    // One sample of a transposed direct-form II biquad on both channels.
    template <typename Coefficients>
    inline DoublePair biquadStep (const Coefficients& c, DoublePair x, DoublePair& s1, DoublePair& s2) noexcept
    {
        const auto y = DoublePair::broadcast (c.b0) * x + s1;
        s1 = DoublePair::broadcast (c.b1) * x - DoublePair::broadcast (c.a1) * y + s2;
        s2 = DoublePair::broadcast (c.b2) * x - DoublePair::broadcast (c.a2) * y;
        return y;
    }

    inline DoublePair pairOf (const std::array<double, 2>& a) noexcept { return DoublePair::make (a[0], a[1]); }

    inline void storePair (DoublePair p, std::array<double, 2>& a) noexcept { p.store (&a[0], &a[1]); }

    inline DoublePair loadSamples (const float* left, const float* right) noexcept
    {
        return DoublePair::make (static_cast<double> (*left), static_cast<double> (*right));
    }

    // Right first, so that a mono block (left == right) keeps the left lane.
    inline void storeSamples (DoublePair p, float* left, float* right) noexcept
    {
        *right = static_cast<float> (p.lane1());
        *left = static_cast<float> (p.lane0());
    }
}

void SilkStage::processChunk (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto numSamples = block.getNumSamples();

    // Never more channels than the oversamplers were built for.
    const auto k = std::min (block.getNumChannels(), static_cast<size_t> (channelCount));
    const auto monoScale = 1.0f / static_cast<float> (std::max (k, static_cast<size_t> (1)));

    // A mono block runs its one channel in both lanes and keeps the left one.
    float* const left = k > 0 ? block.getChannelPointer (0) : nullptr;
    float* const right = k > 1 ? block.getChannelPointer (1) : left;

    for (size_t i = 0; i < numSamples; ++i)
    {
        const auto sum = k == 0 ? 0.0f : (k == 1 ? left[i] : left[i] + right[i]);
        dryDelay[static_cast<size_t> (dryDelayPos & dryDelayMask)] = sum * monoScale;
        alignedDry[i] = dryDelay[static_cast<size_t> ((dryDelayPos - latency) & dryDelayMask)];
        dryDelayPos = (dryDelayPos + 1) & dryDelayMask;
    }

    addedLength = static_cast<int> (numSamples);

    if (k == 0)
    {
        std::fill (added.begin(), added.begin() + static_cast<std::ptrdiff_t> (numSamples), 0.0f);
        return;
    }

    const auto constants = computeBlockConstants (mode, amount);

    if (activeOversampler != nullptr)
    {
        // Both channels interleaved at the oversampled rate (a mono stage fills both
        // lanes with its channel).
        auto* up = activeOversampler->processUp (left, right, numSamples);
        const auto upSamples = numSamples * activeOversampler->getFactor();

        if (mode != modeOff)
            saturate<true> (up, up + 1, upSamples, 2, constants.drive, constants.mix);
        else
            saturate<false> (up, up + 1, upSamples, 2, constants.drive, constants.mix);

        activeOversampler->processDown (left, right, numSamples);
    }
    else if (mode != modeOff)
    {
        saturate<true> (left, right, numSamples, 1, constants.drive, constants.mix);
    }
    else
    {
        saturate<false> (left, right, numSamples, 1, constants.drive, constants.mix);
    }

    // Console shelves, DC blocker and compensation at the host rate, and what the
    // stage added to the sound.
    auto low1 = pairOf (lowShelfState.s1), low2 = pairOf (lowShelfState.s2);
    auto high1 = pairOf (highShelfState.s1), high2 = pairOf (highShelfState.s2);
    auto x1 = pairOf (dcBlockerX1), y1 = pairOf (dcBlockerY1);
    const auto r = DoublePair::broadcast (dcBlockerCoefficient);
    const auto gain = DoublePair::broadcast (static_cast<double> (constants.compensation));
    const bool describe = constants.amount > addedSignalThreshold;

    for (size_t i = 0; i < numSamples; ++i)
    {
        auto y = biquadStep (lowShelf, loadSamples (left + i, right + i), low1, low2);
        y = biquadStep (highShelf, y, high1, high2);

        const auto z = y - x1 + r * y1;
        x1 = y;
        y1 = z;

        storeSamples (z * gain, left + i, right + i);

        added[i] = describe ? (k == 1 ? left[i] : left[i] + right[i]) * monoScale - alignedDry[i] : 0.0f;
    }

    storePair (low1, lowShelfState.s1);
    storePair (low2, lowShelfState.s2);
    storePair (high1, highShelfState.s1);
    storePair (high2, highShelfState.s2);
    storePair (x1, dcBlockerX1);
    storePair (y1, dcBlockerY1);
}

template <bool emphasised>
void SilkStage::saturate (float* left, float* right, size_t numSamples, size_t stride, float drive, float mix) noexcept
{
    const auto d = DoublePair::broadcast (dcTrackerCoefficient);
    const auto oneMinusD = DoublePair::broadcast (1.0 - dcTrackerCoefficient);
    const auto driveGain = DoublePair::broadcast (static_cast<double> (drive));
    const auto wet = DoublePair::broadcast (static_cast<double> (mix));
    const auto dry = DoublePair::broadcast (1.0 - static_cast<double> (mix));
    const auto scale = DoublePair::broadcast (static_cast<double> (curveScale));
    const auto inverseScale = DoublePair::broadcast (1.0 / static_cast<double> (curveScale));
    const auto bias = DoublePair::broadcast (static_cast<double> (curveBias));
    const auto offset = DoublePair::broadcast (curveOffset);
    const auto keep = DoublePair::broadcast (static_cast<double> (feedbackSmoothing));
    const auto take = DoublePair::broadcast (1.0 - static_cast<double> (feedbackSmoothing));

    // scale (feedback fb + drive h + bias), and take (tanh - offset) / scale, regrouped.
    const auto feedbackIn = scale * DoublePair::broadcast (static_cast<double> (feedbackAmount));
    const auto scaledDrive = scale * driveGain;
    const auto scaledBias = scale * bias;
    const auto feedbackOut = take * inverseScale;
    const auto feedbackOffset = feedbackOut * offset;

    auto fb = pairOf (feedbackState);
    auto dc = pairOf (dcTrackerState);
    auto pre1 = pairOf (preEmphasisState.s1), pre2 = pairOf (preEmphasisState.s2);
    auto de1 = pairOf (deEmphasisState.s1), de2 = pairOf (deEmphasisState.s2);

    for (size_t i = 0; i < numSamples; ++i)
    {
        const auto x = loadSamples (left + i * stride, right + i * stride);
        const auto h = emphasised ? biquadStep (preEmphasis, x, pre1, pre2) : x;

        // The feedback loop waits for each tanh, so the work on it is kept short: the
        // part of the curve's argument that does not depend on the feedback, and the
        // part of the new feedback that does not depend on the curve, are computed
        // beside it.
        const auto t = FastMath::tanh (feedbackIn * fb + (scaledDrive * h + scaledBias));
        fb = (keep * fb - feedbackOffset) + feedbackOut * t;
        auto s = (t - offset) * inverseScale;

        // What the asymmetric curve leaves as a slow offset is tracked and removed.
        dc = d * dc + oneMinusD * s;
        s = s - dc;

        const auto w = emphasised ? biquadStep (deEmphasis, s, de1, de2) : s;
        storeSamples (dry * x + wet * w, left + i * stride, right + i * stride);
    }

    storePair (fb, feedbackState);
    storePair (dc, dcTrackerState);
    storePair (pre1, preEmphasisState.s1);
    storePair (pre2, preEmphasisState.s2);
    storePair (de1, deEmphasisState.s1);
    storePair (de2, deEmphasisState.s2);
}
