#include "reference/SilkStage.h"

#include <algorithm>
#include <cmath>

namespace reference
{

namespace
{
    constexpr float percent = 0.01f;

    // Below this amount the stage counts as adding nothing audible to the display.
    constexpr float addedSignalThreshold = 0.0001f;

    // The saturator curve: tanh of a scaled, biased input. The bias makes the curve
    // asymmetric (even harmonics); subtracting its value at zero and dividing by the
    // scale gives a curve through 0 with a slope close to the drive.
    constexpr float curveScale = 0.6f;
    constexpr float curveBias = 0.25f;

    // The curve's value at zero input. Computed once at load time, not on first use,
    // so that the audio thread never waits on a static initialisation guard.
    const double curveOffset = std::tanh (static_cast<double> (curveScale) * static_cast<double> (curveBias));

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
    // order b0, b1, b2, a0, a1, a2 the framework's coefficient sets normalise.
    std::array<double, 6> shelf (ShelfKind kind, float frequency, float q, float gainDb, double rate) noexcept
    {
        const auto gain = juce::Decibels::decibelsToGain (static_cast<double> (gainDb));
        const auto a = std::sqrt (gain);
        const auto w = juce::MathConstants<double>::twoPi * static_cast<double> (std::max (frequency, lowestShelfHz)) / rate;
        const auto cs = std::cos (w);
        const auto beta = std::sin (w) * std::sqrt (a) / static_cast<double> (q);

        if (kind == ShelfKind::low)
            return { a * ((a + 1.0f) - (a - 1.0f) * cs + beta),
                     2.0f * a * ((a - 1.0f) - (a + 1.0f) * cs),
                     a * ((a + 1.0f) - (a - 1.0f) * cs - beta),
                     (a + 1.0f) + (a - 1.0f) * cs + beta,
                     -2.0f * ((a - 1.0f) + (a + 1.0f) * cs),
                     (a + 1.0f) + (a - 1.0f) * cs - beta };

        return { a * ((a + 1.0f) + (a - 1.0f) * cs + beta),
                 -2.0f * a * ((a - 1.0f) + (a + 1.0f) * cs),
                 a * ((a + 1.0f) + (a - 1.0f) * cs - beta),
                 (a + 1.0f) - (a - 1.0f) * cs + beta,
                 2.0f * ((a - 1.0f) - (a + 1.0f) * cs),
                 (a + 1.0f) - (a - 1.0f) * cs - beta };
    }

    juce::dsp::IIR::Coefficients<double>::Ptr makeIdentity()
    {
        return new juce::dsp::IIR::Coefficients<double> (1.0, 0.0, 0.0, 1.0, 0.0, 0.0);
    }

    double dcTrackerCoefficientFor (double rate) noexcept
    {
        return std::exp (-juce::MathConstants<double>::twoPi * dcTrackerHz / rate);
    }
}

//==============================================================================

SilkStage::SilkStage() :
    dcTrackerCoefficient (dcTrackerCoefficientFor (oversampledRate)),
    preEmphasisCoefficients (makeIdentity()),
    deEmphasisCoefficients (makeIdentity()),
    lowShelfCoefficients (makeIdentity()),
    highShelfCoefficients (makeIdentity())
{
    for (size_t ch = 0; ch < 2; ++ch)
    {
        preEmphasis[ch].coefficients = preEmphasisCoefficients;
        deEmphasis[ch].coefficients = deEmphasisCoefficients;
        lowShelf[ch].coefficients = lowShelfCoefficients;
        highShelf[ch].coefficients = highShelfCoefficients;

        for (auto* f : { &preEmphasis[ch], &deEmphasis[ch], &lowShelf[ch], &highShelf[ch] })
            f->reset();
    }
}

SilkStage::~SilkStage() = default;

void SilkStage::prepare (double newSampleRate, int numChannels, int maximumBlockSize)
{
    sampleRate = newSampleRate;
    channelCount = numChannels >= 2 ? 2 : 1;

    // A host that announces no block size still gets working (if chunked) processing.
    maxBlockSize = static_cast<size_t> (std::max (maximumBlockSize, 1));

    alignedDry.reserve (maxBlockSize);
    added.reserve (maxBlockSize);
    alignedDry.clear();
    added.clear();
    addedLength = 0;

    activeOversampler = nullptr;

    for (size_t i = 0; i < oversamplers.size(); ++i)
    {
        oversamplers[i] = std::make_unique<juce::dsp::Oversampling<float>> (
            static_cast<size_t> (channelCount), i + 1,
            juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR, true, true);
        oversamplers[i]->initProcessing (maxBlockSize);
    }

    if (sampleRate > 0.0)
    {
        dcBlockerCoefficient = 1.0 - juce::MathConstants<double>::twoPi * dcBlockerHz / sampleRate;

        const auto fs = sampleRate;
        const auto highHz = std::max (lowestShelfHz, std::min (consoleHighRateFraction * static_cast<float> (fs), consoleHighMaxHz));
        *lowShelfCoefficients = shelf (ShelfKind::low, consoleLowHz, consoleLowQ, consoleLowDb, fs);
        *highShelfCoefficients = shelf (ShelfKind::high, highHz, consoleHighQ, consoleHighDb, fs);
    }

    applyOsIndex (osIndex);

    dcTrackerState.fill (0.0);
    feedbackState.fill (0.0);
    dcBlockerX1.fill (0.0);
    dcBlockerY1.fill (0.0);

    for (size_t ch = 0; ch < 2; ++ch)
        for (auto* f : { &preEmphasis[ch], &deEmphasis[ch], &lowShelf[ch], &highShelf[ch] })
            f->reset();

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
        activeOversampler = oversamplers[static_cast<size_t> (osIndex - 1)].get();
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

    for (size_t ch = 0; ch < 2; ++ch)
    {
        preEmphasis[ch].reset();
        deEmphasis[ch].reset();
    }

    dcTrackerState.fill (0.0);
}

void SilkStage::updateEmphasis() noexcept
{
    if (oversampledRate <= 0.0 || mode == modeOff)
        return;

    const auto fo = oversampledRate;
    const auto kind = mode == modeAir ? ShelfKind::high : ShelfKind::low;
    const auto frequency = mode == modeAir ? airHz : bodyHz;

    *preEmphasisCoefficients = shelf (kind, frequency, emphasisQ, emphasisDb, fo);
    *deEmphasisCoefficients = shelf (kind, frequency, emphasisQ, -emphasisDb, fo);
}

//==============================================================================
void SilkStage::process (juce::dsp::AudioBlock<float>& block) noexcept
{
    if (! isPrepared())
        return;

    const auto numSamples = block.getNumSamples();

    if (numSamples == 0)
    {
        added.clear();
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

void SilkStage::processChunk (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto numSamples = block.getNumSamples();

    // Never more channels than the oversamplers were built for.
    const auto k = std::min (block.getNumChannels(), static_cast<size_t> (channelCount));
    const auto monoScale = 1.0f / static_cast<float> (std::max (k, static_cast<size_t> (1)));

    // Within the capacity reserved in prepare(): no allocation.
    alignedDry.assign (numSamples, 0.0f);

    for (size_t i = 0; i < numSamples; ++i)
    {
        auto sum = 0.0f;

        for (size_t ch = 0; ch < k; ++ch)
            sum += block.getSample (static_cast<int> (ch), static_cast<int> (i));

        dryDelay[static_cast<size_t> (dryDelayPos & dryDelayMask)] = sum * monoScale;
        alignedDry[i] = dryDelay[static_cast<size_t> ((dryDelayPos - latency) & dryDelayMask)];
        dryDelayPos = (dryDelayPos + 1) & dryDelayMask;
    }

    const auto constants = ::SilkStage::computeBlockConstants (mode, amount);

    if (k > 0)
    {
        auto channels = block.getSubsetChannelBlock (0, k);

        if (activeOversampler != nullptr)
        {
            auto up = activeOversampler->processSamplesUp (channels);
            saturate (up, k, constants.drive, constants.mix);
            activeOversampler->processSamplesDown (channels);
        }
        else
        {
            saturate (channels, k, constants.drive, constants.mix);
        }
    }

    for (size_t ch = 0; ch < k; ++ch)
    {
        auto* data = block.getChannelPointer (ch);
        auto x1 = dcBlockerX1[ch];
        auto y1 = dcBlockerY1[ch];

        for (size_t i = 0; i < numSamples; ++i)
        {
            auto y = lowShelf[ch].processSample (static_cast<double> (data[i]));
            y = highShelf[ch].processSample (y);

            const auto z = y - x1 + dcBlockerCoefficient * y1;
            x1 = y;
            y1 = z;

            data[i] = static_cast<float> (z * static_cast<double> (constants.compensation));
        }

        dcBlockerX1[ch] = x1;
        dcBlockerY1[ch] = y1;
    }

    added.assign (numSamples, 0.0f);
    addedLength = static_cast<int> (numSamples);

    if (constants.amount > addedSignalThreshold)
    {
        for (size_t i = 0; i < numSamples; ++i)
        {
            auto sum = 0.0f;

            for (size_t ch = 0; ch < k; ++ch)
                sum += block.getSample (static_cast<int> (ch), static_cast<int> (i));

            added[i] = sum * monoScale - alignedDry[i];
        }
    }
}

void SilkStage::saturate (juce::dsp::AudioBlock<float>& block, size_t numChannelsToProcess,
                          float drive, float mix) noexcept
{
    const auto emphasised = mode != modeOff;
    const auto d = dcTrackerCoefficient;
    const auto numSamples = block.getNumSamples();

    for (size_t ch = 0; ch < numChannelsToProcess; ++ch)
    {
        auto* data = block.getChannelPointer (ch);
        auto fb = feedbackState[ch];
        auto dc = dcTrackerState[ch];

        for (size_t i = 0; i < numSamples; ++i)
        {
            const auto x = static_cast<double> (data[i]);
            const auto h = emphasised ? preEmphasis[ch].processSample (x) : x;

            const auto scale = static_cast<double> (curveScale);
            auto s = (std::tanh (scale * (static_cast<double> (feedbackAmount) * fb + static_cast<double> (drive) * h
                                          + static_cast<double> (curveBias)))
                      - curveOffset)
                     / scale;
            fb = static_cast<double> (feedbackSmoothing) * fb + (1.0 - static_cast<double> (feedbackSmoothing)) * s;

            // What the asymmetric curve leaves as a slow offset is tracked and removed.
            dc = d * dc + (1.0 - d) * s;
            s -= dc;

            const auto w = emphasised ? deEmphasis[ch].processSample (s) : s;
            data[i] = static_cast<float> ((1.0 - static_cast<double> (mix)) * x + static_cast<double> (mix) * w);
        }

        feedbackState[ch] = fb;
        dcTrackerState[ch] = dc;
    }
}
} // namespace reference
