#include "dsp/MeterWriter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace
{
    struct ChannelLevels
    {
        float peak = 0.0f;
        float rms = 0.0f;
    };

    ChannelLevels measureChannel (const float* data, int numSamples) noexcept
    {
        // Four running sums and peaks side by side, so that the additions do not wait
        // on each other; they are combined at the end.
        constexpr int lanes = 4;
        std::array<double, lanes> sums {};
        std::array<float, lanes> peaks {};
        int i = 0;

        for (; i + lanes <= numSamples; i += lanes)
            for (int k = 0; k < lanes; ++k)
            {
                const auto x = data[i + k];
                peaks[(size_t) k] = std::max (peaks[(size_t) k], std::abs (x));
                sums[(size_t) k] += static_cast<double> (x) * static_cast<double> (x);
            }

        for (; i < numSamples; ++i)
        {
            const auto x = data[i];
            peaks[0] = std::max (peaks[0], std::abs (x));
            sums[0] += static_cast<double> (x) * static_cast<double> (x);
        }

        ChannelLevels levels;
        levels.peak = std::max ({ peaks[0], peaks[1], peaks[2], peaks[3] });
        const auto sumOfSquares = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        levels.rms = static_cast<float> (std::sqrt (sumOfSquares / static_cast<double> (numSamples)));
        return levels;
    }

    // The ring positions and values are display data: relaxed stores are enough, a
    // reader tolerates a mix of old and new samples around the write index.
    template <typename ValueAt>
    void appendToRing (std::array<std::atomic<float>, MeterState::ringSize>& ring, std::atomic<int>& position,
                       int count, ValueAt&& valueAt) noexcept
    {
        auto pos = position.load (std::memory_order_relaxed) & MeterState::ringMask;

        for (int i = 0; i < count; ++i)
        {
            ring[static_cast<size_t> (pos)].store (valueAt (i), std::memory_order_relaxed);
            pos = (pos + 1) & MeterState::ringMask;
        }

        position.store (pos, std::memory_order_relaxed);
    }
}

MeterWriter::Levels MeterWriter::measure (const juce::AudioBuffer<float>& buffer) noexcept
{
    Levels levels;
    const auto numChannels = buffer.getNumChannels();
    const auto numSamples = buffer.getNumSamples();

    if (numChannels <= 0 || numSamples <= 0 || buffer.hasBeenCleared())
        return levels;

    auto rmsSum = 0.0f;

    for (int ch = 0; ch < numChannels; ++ch)
    {
        const auto c = measureChannel (buffer.getReadPointer (ch), numSamples);
        levels.peak = std::max (levels.peak, c.peak);
        rmsSum += c.rms;

        if (ch == 0)
        {
            levels.peakLeft = c.peak;
            levels.rmsLeft = c.rms;
        }
        else if (ch == 1)
        {
            levels.peakRight = c.peak;
            levels.rmsRight = c.rms;
        }
    }

    levels.rms = rmsSum / static_cast<float> (numChannels);
    return levels;
}

void MeterWriter::writePrepare (MeterState& meters, double sampleRate, int mainInputChannels) noexcept
{
    meters.sampleRate.store (sampleRate);
    writeChannelCount (meters, mainInputChannels);
}

void MeterWriter::writeChannelCount (MeterState& meters, int numChannels) noexcept
{
    meters.numChannels.store (numChannels >= 2 ? 2 : 1);
}

void MeterWriter::appendSilkRing (MeterState& meters, const float* added, int addedLength, int numSamples) noexcept
{
    if (added != nullptr && addedLength > 0)
        appendToRing (meters.silkRing, meters.silkRingPos, addedLength, [added] (int i) { return added[i]; });
    else if (numSamples > 0)
        appendToRing (meters.silkRing, meters.silkRingPos, numSamples, [] (int) { return 0.0f; });
}

float MeterWriter::writeEndOfBlock (MeterState& meters, bool compOn, const GainReduction& reduction,
                                    const Levels& input, const Levels& output,
                                    const juce::AudioBuffer<float>& outputBuffer) noexcept
{
    const auto grDb = compOn ? reduction.overall : 0.0f;
    meters.grDb.store (grDb);
    meters.grLeftDb.store (compOn ? reduction.left : 0.0f);
    meters.grRightDb.store (compOn ? reduction.right : 0.0f);

    meters.inPeak.store (input.peak);
    meters.outPeak.store (output.peak);
    meters.inRms.store (input.rms);
    meters.outRms.store (output.rms);
    meters.inPeakL.store (input.peakLeft);
    meters.inPeakR.store (input.peakRight);
    meters.outPeakL.store (output.peakLeft);
    meters.outPeakR.store (output.peakRight);
    meters.inRmsL.store (input.rmsLeft);
    meters.inRmsR.store (input.rmsRight);
    meters.outRmsL.store (output.rmsLeft);
    meters.outRmsR.store (output.rmsRight);

    const auto numSamples = outputBuffer.getNumSamples();
    const auto numChannels = outputBuffer.getNumChannels();

    if (numSamples > 0)
    {
        if (numChannels >= 2)
        {
            const auto* left = outputBuffer.getReadPointer (0);
            const auto* right = outputBuffer.getReadPointer (1);
            appendToRing (meters.outputRing, meters.outputRingPos, numSamples,
                          [left, right] (int i) { return (left[i] + right[i]) * 0.5f; });
        }
        else if (numChannels == 1)
        {
            const auto* mono = outputBuffer.getReadPointer (0);
            appendToRing (meters.outputRing, meters.outputRingPos, numSamples, [mono] (int i) { return mono[i]; });
        }
        else
        {
            // No channel to read: keep the ring in step with the Silk ring.
            appendToRing (meters.outputRing, meters.outputRingPos, numSamples, [] (int) { return 0.0f; });
        }
    }

    return grDb;
}
