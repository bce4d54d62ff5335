#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace orvane
{

/** The string IDs of every parameter, in the order the host sees them. */
namespace ParamIDs
{
    inline constexpr const char* inputGain     = "inputGain";
    inline constexpr const char* polarity      = "polarity";
    inline constexpr const char* outputGain    = "outputGain";
    inline constexpr const char* hpfFreq       = "hpfFreq";
    inline constexpr const char* eqOn          = "eqOn";
    inline constexpr const char* lfGain        = "lfGain";
    inline constexpr const char* lfFreqHi      = "lfFreqHi";
    inline constexpr const char* mfFreq        = "mfFreq";
    inline constexpr const char* mfGain        = "mfGain";
    inline constexpr const char* hfGain        = "hfGain";
    inline constexpr const char* hfFreqHi      = "hfFreqHi";
    inline constexpr const char* compOn        = "compOn";
    inline constexpr const char* compThresh    = "compThresh";
    inline constexpr const char* compRelease   = "compRelease";
    inline constexpr const char* compMakeup    = "compMakeup";
    inline constexpr const char* compScHpf     = "compScHpf";
    inline constexpr const char* compPreEq     = "compPreEq";
    inline constexpr const char* compLink      = "compLink";
    inline constexpr const char* bloomMode     = "bloomMode";
    inline constexpr const char* silkTexture   = "silkTexture";
    inline constexpr const char* tmtChannel    = "tmtChannel";
    inline constexpr const char* stWidth       = "stWidth";
    inline constexpr const char* monoMakerHz   = "monoMakerHz";
    inline constexpr const char* vuSource      = "vuSource";
    inline constexpr const char* vuCalibration = "vuCalibration";
    inline constexpr const char* osRealtime    = "osRealtime";
    inline constexpr const char* osOffline     = "osOffline";

    /** The read-only gain-reduction meter the processor registers after the layout. */
    inline constexpr const char* compGrMeter   = "compGrMeter";
}

/** Version hint every parameter ID carries. */
inline constexpr int parameterVersionHint = 1;

/** At or below this value the output trim is silence. */
inline constexpr float outputSilenceDb = -59.5f;

/** At or below this value the high-pass filter and the mono maker are off. */
inline constexpr float frequencyOffHz = 20.5f;

/** "+3.0 dB", "0.0 dB", "-12.0 dB". */
juce::String signedDbText (float value, int maximumLength);

/** "-inf dB" at or below the silence point, otherwise as signedDbText. */
juce::String outputDbText (float value, int maximumLength);

/** "OFF" at or below 20.5, otherwise the rounded value in Hz. */
juce::String offOrHzText (float value, int maximumLength);

/** Two decimals in kHz from 1000 upwards, the rounded value in Hz below. */
juce::String hzOrKhzText (float value, int maximumLength);

/** The rounded value followed by " ms". */
juce::String msText (float value, int maximumLength);

/** The rounded value followed by " %". */
juce::String percentText (float value, int maximumLength);

/** The rounded value, digits only. */
juce::String integerText (float value, int maximumLength);

/** Builds the 27 user-facing parameters in host order. */
juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

/** Creates the host gain-reduction meter parameter (not part of the layout or the state). */
std::unique_ptr<juce::AudioParameterFloat> createGainReductionMeterParameter();

} // namespace orvane
