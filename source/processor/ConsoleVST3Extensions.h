#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "dsp/MeterState.h"

#include <memory>

/**
    The processor's VST3-specific answers: the edit controller hands out a
    GainReductionReporter to hosts that ask for Presonus::IGainReductionInfo.

    Holds a share of the meter record, so every reporter it creates can take its own.
*/
class ConsoleVST3Extensions : public juce::VST3ClientExtensions
{
public:
    /** Keeps a share of the processor's meter record. */
    explicit ConsoleVST3Extensions (std::shared_ptr<MeterState> meters);

    /** Releases its share of the meter record; reporters handed out keep theirs. */
    ~ConsoleVST3Extensions() override;

    /** For the IGainReductionInfo identifier: a new reporter with one reference,
        which the caller owns, and the success result. For any other identifier, a
        null identifier too: a null pointer and the no-interface result. */
    int32_t queryIEditController (const Steinberg::TUID iid, void** obj) override;

private:
    std::shared_ptr<MeterState> meterState;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConsoleVST3Extensions)
};
