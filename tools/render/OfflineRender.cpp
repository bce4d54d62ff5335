#include "render/OfflineRender.h"

#include <cmath>

namespace
{
    struct LevelAccumulator
    {
        float peak = 0.0f;
        double sumOfSquares = 0.0;
        juce::int64 count = 0;

        void add (const juce::AudioBuffer<float>& buffer, int start, int numSamples)
        {
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            {
                const auto* data = buffer.getReadPointer (ch, start);

                for (int i = 0; i < numSamples; ++i)
                {
                    peak = std::max (peak, std::abs (data[i]));
                    sumOfSquares += static_cast<double> (data[i]) * static_cast<double> (data[i]);
                }
            }

            count += static_cast<juce::int64> (numSamples) * buffer.getNumChannels();
        }

        double rms() const { return count > 0 ? std::sqrt (sumOfSquares / static_cast<double> (count)) : 0.0; }
    };
}

juce::String OfflineRender::run (OrvaneChannelProcessor& processor, juce::AudioFormatReader& reader,
                                 juce::AudioFormatWriter& writer, const Progress& progress, RenderSummary& summary)
{
    const auto numChannels = static_cast<int> (reader.numChannels);
    const auto set = numChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.outputBuses.add (set);

    if (! processor.setBusesLayout (layout))
        return "the channel strip does not accept " + juce::String (numChannels) + " channels";

    const auto startTime = juce::Time::getMillisecondCounterHiRes();

    processor.setNonRealtime (true);
    processor.setRateAndBufferSizeDetails (reader.sampleRate, blockSize);
    processor.prepareToPlay (reader.sampleRate, blockSize);

    const auto total = reader.lengthInSamples;
    juce::AudioBuffer<float> buffer (numChannels, blockSize);
    juce::MidiBuffer midi;
    LevelAccumulator input, output;

    juce::int64 readPosition = 0;
    juce::int64 written = 0;
    auto toSkip = static_cast<juce::int64> (std::max (0, processor.getLatencySamples()));
    summary.latencySamples = static_cast<int> (toSkip);
    double lastProgress = -1.0;

    while (written < total)
    {
        buffer.clear();
        const auto toRead = static_cast<int> (std::min<juce::int64> (blockSize, total - readPosition));

        if (toRead > 0)
        {
            if (! reader.read (&buffer, 0, toRead, readPosition, true, numChannels > 1))
                return "reading the input failed at sample " + juce::String (readPosition);

            input.add (buffer, 0, toRead);
            readPosition += toRead;
        }

        // Past the end of the input the processor gets silence, which flushes the
        // samples its latency still holds.
        processor.processBlock (buffer, midi);
        summary.largestGainReductionDb = std::max (summary.largestGainReductionDb,
                                                   processor.meterState->grDb.load());

        const auto skipped = static_cast<int> (std::min<juce::int64> (toSkip, blockSize));
        toSkip -= skipped;
        const auto count = static_cast<int> (std::min<juce::int64> (blockSize - skipped, total - written));

        if (count > 0)
        {
            if (! writer.writeFromAudioSampleBuffer (buffer, skipped, count))
                return "writing the output failed (disk full?)";

            output.add (buffer, skipped, count);
            written += count;
        }

        if (progress != nullptr && total > 0)
        {
            const auto fraction = static_cast<double> (written) / static_cast<double> (total);

            if (fraction - lastProgress >= 0.01 || written == total)
            {
                progress (fraction);
                lastProgress = fraction;
            }
        }
    }

    processor.releaseResources();

    summary.inputPeak = input.peak;
    summary.inputRms = input.rms();
    summary.outputPeak = output.peak;
    summary.outputRms = output.rms();
    summary.frames = total;
    summary.sampleRate = reader.sampleRate;
    summary.seconds = (juce::Time::getMillisecondCounterHiRes() - startTime) / 1000.0;
    return {};
}
