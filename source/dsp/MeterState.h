#pragma once

#include <array>
#include <atomic>

/**
    What the audio thread measured in its last block, for the editor and the host.

    One writer (the audio thread, and prepareToPlay) and any number of readers; no
    locks. Each field is consistent on its own, but the record as a whole is not a
    snapshot: a reader may see fields from two neighbouring blocks. Levels are linear
    amplitudes (1.0 is full scale), gain reduction is a positive number of decibels.
*/
struct MeterState
{
    /** Number of samples in each of the two rings (the spectrum analysis window). */
    static constexpr int ringSize = 2048;

    /** Mask that keeps a ring index inside 0 .. ringSize - 1. */
    static constexpr int ringMask = ringSize - 1;

    std::atomic<float> grDb { 0.0f };      ///< compressor reduction over all channels; 0 while compOn is off
    std::atomic<float> grLeftDb { 0.0f };  ///< reduction of channel 0
    std::atomic<float> grRightDb { 0.0f }; ///< reduction of channel 1 (a copy of channel 0's for mono)

    std::atomic<float> inPeak { 0.0f };    ///< largest input sample of the block, before the input trim
    std::atomic<float> outPeak { 0.0f };   ///< largest output sample of the finished block
    std::atomic<float> inPeakL { 0.0f };
    std::atomic<float> inPeakR { 0.0f };   ///< 0 for a mono block
    std::atomic<float> outPeakL { 0.0f };
    std::atomic<float> outPeakR { 0.0f };  ///< 0 for a mono block

    std::atomic<float> inRms { 0.0f };     ///< sum of the channels' block RMS divided by the channel count
    std::atomic<float> outRms { 0.0f };
    std::atomic<float> inRmsL { 0.0f };
    std::atomic<float> inRmsR { 0.0f };    ///< 0 for a mono block
    std::atomic<float> outRmsL { 0.0f };
    std::atomic<float> outRmsR { 0.0f };   ///< 0 for a mono block

    std::atomic<int> numChannels { 1 };          ///< 2 when the last block had two or more channels, else 1
    std::atomic<double> sampleRate { 44100.0 };  ///< host rate of the last prepareToPlay

    std::array<std::atomic<float>, ringSize> outputRing {}; ///< recent output samples, mono mix
    std::atomic<int> outputRingPos { 0 };                   ///< next write index into outputRing

    std::array<std::atomic<float>, ringSize> silkRing {};   ///< recent samples of what the Silk stage added
    std::atomic<int> silkRingPos { 0 };                     ///< next write index into silkRing
};
