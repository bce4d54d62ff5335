#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include "processor/OrvaneChannelProcessor.h"

#include <functional>

/** Levels and timing of one render, for the summary line. */
struct RenderSummary
{
    float inputPeak = 0.0f;
    double inputRms = 0.0;
    float outputPeak = 0.0f;
    double outputRms = 0.0;
    float largestGainReductionDb = 0.0f;
    int latencySamples = 0;
    juce::int64 frames = 0;
    double sampleRate = 0.0;
    double seconds = 0.0;
};

/**
    Streams a file through one processor, the way a host bounces a track offline.

    The processor runs in non-realtime mode, so the offline oversampling choice
    applies. Its latency is compensated: the first latency samples of output are
    dropped and the same number of zeros is fed after the input, so the result has
    the input's length and lines up with it sample for sample.
*/
class OfflineRender
{
public:
    /** Block size handed to the processor; results depend on it only through the
        per-block parameter and meter updates. */
    static constexpr int blockSize = 512;

    /** Called with the fraction done, from 0 to 1. */
    using Progress = std::function<void (double)>;

    /** Prepares the processor for the reader's rate and channel count (1 or 2)
        and renders the whole input into the writer. Returns an error message, or
        an empty string on success. */
    static juce::String run (OrvaneChannelProcessor& processor, juce::AudioFormatReader& reader,
                             juce::AudioFormatWriter& writer, const Progress& progress, RenderSummary& summary);

private:
    OfflineRender() = delete;
};
