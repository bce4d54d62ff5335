#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    Sends the compressor's gain reduction to the host meter parameter at the end of
    a block, but only when it moved by more than a dead band, so that a steady
    reduction does not flood the host with notifications.
*/
class HostMeterUpdater
{
public:
    /** Changes of this size or less are not sent, in dB. */
    static constexpr float deadBandDb = 0.005f;

    /** The meter parameter's range, in dB. */
    static constexpr float minimumDb = 0.0f;
    static constexpr float maximumDb = 40.0f;

    /** Sends grDb (clamped to the meter's range) to the parameter with
        setValueNotifyingHost when it differs from lastGrSent by more than the dead
        band, and then remembers the unclamped value in lastGrSent. Does nothing
        without a parameter. Returns whether a value was sent. */
    static bool update (juce::RangedAudioParameter* parameter, float& lastGrSent, float grDb);

private:
    HostMeterUpdater() = delete;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HostMeterUpdater)
};
