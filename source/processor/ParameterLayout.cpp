#include "processor/ParameterLayout.h"

#include <cmath>

namespace orvane
{
namespace
{
    // Rounds half-way values to the even neighbour (the FPU's default mode).
    juce::String roundedText (float value)
    {
        return juce::String (static_cast<long long> (std::nearbyint (value)));
    }

    using StringFromValue = juce::String (*) (float, int);

    std::unique_ptr<juce::AudioParameterFloat> floatParam (const char* id, const char* name,
                                                           float start, float end, float interval, float skew,
                                                           float defaultValue, StringFromValue text)
    {
        return std::make_unique<juce::AudioParameterFloat> (
            juce::ParameterID { id, parameterVersionHint }, name,
            juce::NormalisableRange<float> (start, end, interval, skew), defaultValue,
            juce::AudioParameterFloatAttributes().withStringFromValueFunction (text));
    }

    std::unique_ptr<juce::AudioParameterBool> boolParam (const char* id, const char* name, bool defaultValue)
    {
        return std::make_unique<juce::AudioParameterBool> (juce::ParameterID { id, parameterVersionHint },
                                                           name, defaultValue);
    }

    std::unique_ptr<juce::AudioParameterChoice> choiceParam (const char* id, const char* name,
                                                             const juce::StringArray& choices,
                                                             int defaultIndex, bool automatable = true)
    {
        return std::make_unique<juce::AudioParameterChoice> (
            juce::ParameterID { id, parameterVersionHint }, name, choices, defaultIndex,
            juce::AudioParameterChoiceAttributes().withAutomatable (automatable));
    }
}

juce::String signedDbText (float value, int)
{
    constexpr int decimals = 1;
    return (value > 0.0f ? "+" : "") + juce::String (value, decimals) + " dB";
}

juce::String outputDbText (float value, int maximumLength)
{
    if (value <= outputSilenceDb)
        return "-inf dB";

    return signedDbText (value, maximumLength);
}

juce::String offOrHzText (float value, int)
{
    if (value <= frequencyOffHz)
        return "OFF";

    return roundedText (value) + " Hz";
}

juce::String hzOrKhzText (float value, int)
{
    constexpr float hzPerKhz = 1000.0f;
    constexpr int decimals = 2;

    if (value >= hzPerKhz)
        return juce::String (value / hzPerKhz, decimals) + " kHz";

    return roundedText (value) + " Hz";
}

juce::String msText (float value, int)      { return roundedText (value) + " ms"; }
juce::String percentText (float value, int) { return roundedText (value) + " %"; }
juce::String integerText (float value, int) { return roundedText (value); }

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    namespace id = ParamIDs;
    juce::AudioProcessorValueTreeState::ParameterLayout layout;

    // Skew 0.25 gives the frequency controls a roughly logarithmic travel.
    layout.add (floatParam (id::inputGain, "Input Trim", -12.0f, 24.0f, 0.1f, 1.0f, 0.0f, signedDbText));
    layout.add (boolParam (id::polarity, "Polarity", false));
    layout.add (floatParam (id::outputGain, "Output Trim", -60.0f, 10.0f, 0.1f, 1.0f, 0.0f, outputDbText));
    layout.add (floatParam (id::hpfFreq, "HPF", 20.0f, 250.0f, 0.1f, 0.25f, 20.0f, offOrHzText));
    layout.add (boolParam (id::eqOn, "EQ On", true));
    layout.add (floatParam (id::lfGain, "LF Gain", -12.0f, 12.0f, 0.1f, 1.0f, 0.0f, signedDbText));
    layout.add (boolParam (id::lfFreqHi, "LF Freq", false));
    layout.add (floatParam (id::mfFreq, "MF Freq", 220.0f, 7000.0f, 0.1f, 0.25f, 1000.0f, hzOrKhzText));
    layout.add (floatParam (id::mfGain, "MF Gain", -12.0f, 12.0f, 0.1f, 1.0f, 0.0f, signedDbText));
    layout.add (floatParam (id::hfGain, "HF Gain", -12.0f, 12.0f, 0.1f, 1.0f, 0.0f, signedDbText));
    layout.add (boolParam (id::hfFreqHi, "HF Freq", false));
    layout.add (boolParam (id::compOn, "Comp On", false));
    layout.add (floatParam (id::compThresh, "Comp Threshold", -30.0f, 20.0f, 0.1f, 1.0f, 20.0f, signedDbText));
    layout.add (floatParam (id::compRelease, "Comp Release", 50.0f, 500.0f, 1.0f, 0.6f, 200.0f, msText));
    layout.add (floatParam (id::compMakeup, "Comp Makeup", -6.0f, 20.0f, 0.1f, 1.0f, 0.0f, signedDbText));
    layout.add (floatParam (id::compScHpf, "Comp SC HPF", 0.0f, 300.0f, 1.0f, 1.0f, 0.0f, hzOrKhzText));
    layout.add (boolParam (id::compPreEq, "Comp Pre-EQ", false));
    layout.add (boolParam (id::compLink, "Comp Stereo Link", false));
    layout.add (choiceParam (id::bloomMode, "Bloom", { "Off", "Air", "Body" }, 0));
    layout.add (floatParam (id::silkTexture, "Amount", 0.0f, 100.0f, 1.0f, 1.0f, 30.0f, percentText));
    layout.add (floatParam (id::tmtChannel, "Channel", 1.0f, 72.0f, 1.0f, 1.0f, 1.0f, integerText));
    layout.add (floatParam (id::stWidth, "Width", 0.0f, 200.0f, 1.0f, 1.0f, 100.0f, percentText));
    layout.add (floatParam (id::monoMakerHz, "Mono Maker", 20.0f, 500.0f, 0.1f, 0.25f, 20.0f, offOrHzText));
    layout.add (choiceParam (id::vuSource, "VU Source", { "In", "Out", "GR" }, 0));
    // Stored by index: this order is part of every saved state and must not be sorted.
    layout.add (choiceParam (id::vuCalibration, "VU Calibration", { "-18 dBFS", "-20 dBFS", "-14 dBFS" }, 0));
    layout.add (choiceParam (id::osRealtime, "Oversampling", { "Off", "2x", "4x", "8x" }, 1, false));
    layout.add (choiceParam (id::osOffline, "Oversampling (Offline)",
                             { "Same as Realtime", "Off", "2x", "4x", "8x" }, 0, false));
    return layout;
}

std::unique_ptr<juce::AudioParameterFloat> createGainReductionMeterParameter()
{
    constexpr float maximumReductionDb = 40.0f;
    constexpr float intervalDb = 0.01f;

    return std::make_unique<juce::AudioParameterFloat> (
        juce::ParameterID { ParamIDs::compGrMeter, parameterVersionHint }, "Comp GR",
        juce::NormalisableRange<float> (0.0f, maximumReductionDb, intervalDb, 1.0f), 0.0f,
        juce::AudioParameterFloatAttributes()
            .withLabel ("dB")
            .withCategory (juce::AudioProcessorParameter::compressorLimiterGainReductionMeter)
            .withAutomatable (false));
}

} // namespace orvane
