#pragma once

#include <juce_dsp/juce_dsp.h>

#include "dsp/SimdPair.h"

#include <array>
#include <vector>

/**
    2x, 4x or 8x oversampling for one or two channels: a cascade of 2x stages, each a
    half-band low-pass made of two polyphase paths of first-order allpass sections,
    designed by the framework's polyphase IIR method at its maximum quality, with the
    framework's first-order Thiran delay after the last down-sampling stage that
    rounds the latency up to a whole number of samples.

    It computes what the framework's own oversampler computes with these settings,
    bit for bit, but runs both channels in the lanes of one register and keeps the
    oversampled signal interleaved (left, right, left, right, ...), which halves the
    work for a stereo track and lets the saturator read both channels at once.
    A mono stage runs its channel in both lanes.

    prepare() allocates; everything else is safe on the audio thread.
*/
class PolyphaseOversampler
{
public:
    /** Unprepared; prepare() before use. */
    PolyphaseOversampler() = default;

    /** Designs the filters for 2^numStages oversampling (1 .. 3 stages) and sizes the
        buffers for blocks of up to maximumBlockSize host samples. Clears every state. */
    void prepare (int numStages, size_t maximumBlockSize);

    /** Clears the filter and delay states. */
    void reset() noexcept;

    /** The oversampling factor, 2, 4 or 8 (1 before prepare()). */
    size_t getFactor() const noexcept { return size_t (1) << stages.size(); }

    /** The latency at the host rate, in samples: a whole number. */
    float getLatencyInSamples() const noexcept { return latency; }

    /**
        Up-samples n host samples of left and right (the same pointer for mono) and
        returns the interleaved oversampled signal: n * factor frames of two floats,
        valid until the next call. n is at most the prepared block size.
    */
    float* processUp (const float* left, const float* right, size_t n) noexcept;

    /** Down-samples the interleaved signal processUp() returned (processed in place)
        into n host samples of left and right; for mono (left == right) left gets its
        channel. */
    void processDown (float* left, float* right, size_t n) noexcept;

private:
    /**
        One 2x stage. Its two allpass cascades (the direct and the delayed path) run
        side by side, section n of one beside section n of the other, so that the
        left and right channels of both paths share one four-lane register; the direct
        path's last section (it may have one more) runs in two lanes.
    */
    struct Stage
    {
        std::vector<float> upDirect, upDelayed, downDirect, downDelayed;   // allpass coefficients per path
        std::vector<float> upPaired, downPaired;      // per shared section: direct, direct, delayed, delayed
        std::vector<float> upState, downState;        // per shared section: four lanes, as above
        std::vector<float> upExtraState, downExtraState; // the direct path's remaining sections: two lanes each
        std::array<float, 2> downDelay {};            // the delayed path's last output, per channel
        std::vector<float> buffer;                    // this stage's interleaved output
    };

    static float designStage (Stage& stage, float transitionUp, float stopbandUpDb, float transitionDown,
                              float stopbandDownDb);

    std::vector<Stage> stages;
    float latency = 0.0f;
    float thiranAlpha = 0.0f;
    bool useThiran = false;
    SimdPair<float> thiranInput, thiranOutput;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PolyphaseOversampler)
};
