#include <gtest/gtest.h>

#include "processor/OrvaneChannelProcessor.h"
#include "processor/ParameterLayout.h"

#include <cmath>

namespace
{
    enum class Kind { floating, boolean, choice };

    struct ExpectedParameter
    {
        const char* id;
        Kind kind;
        const char* name;
        float start, end, interval, skew, defaultValue;
        std::vector<const char*> choices;
        bool automatable;
    };

    // Written out from the product's parameter table, independently of the layout code.
    const std::vector<ExpectedParameter> expectedTable {
        { "inputGain",     Kind::floating, "Input Trim",             -12,  24,   0.1f, 1,     0,    {}, true },
        { "polarity",      Kind::boolean,  "Polarity",               0,    1,    1,    1,     0,    {}, true },
        { "outputGain",    Kind::floating, "Output Trim",            -60,  10,   0.1f, 1,     0,    {}, true },
        { "hpfFreq",       Kind::floating, "HPF",                    20,   250,  0.1f, 0.25f, 20,   {}, true },
        { "eqOn",          Kind::boolean,  "EQ On",                  0,    1,    1,    1,     1,    {}, true },
        { "lfGain",        Kind::floating, "LF Gain",                -12,  12,   0.1f, 1,     0,    {}, true },
        { "lfFreqHi",      Kind::boolean,  "LF Freq",                0,    1,    1,    1,     0,    {}, true },
        { "mfFreq",        Kind::floating, "MF Freq",                220,  7000, 0.1f, 0.25f, 1000, {}, true },
        { "mfGain",        Kind::floating, "MF Gain",                -12,  12,   0.1f, 1,     0,    {}, true },
        { "hfGain",        Kind::floating, "HF Gain",                -12,  12,   0.1f, 1,     0,    {}, true },
        { "hfFreqHi",      Kind::boolean,  "HF Freq",                0,    1,    1,    1,     0,    {}, true },
        { "compOn",        Kind::boolean,  "Comp On",                0,    1,    1,    1,     0,    {}, true },
        { "compThresh",    Kind::floating, "Comp Threshold",         -30,  20,   0.1f, 1,     20,   {}, true },
        { "compRelease",   Kind::floating, "Comp Release",           50,   500,  1,    0.6f,  200,  {}, true },
        { "compMakeup",    Kind::floating, "Comp Makeup",            -6,   20,   0.1f, 1,     0,    {}, true },
        { "compScHpf",     Kind::floating, "Comp SC HPF",            0,    300,  1,    1,     0,    {}, true },
        { "compPreEq",     Kind::boolean,  "Comp Pre-EQ",            0,    1,    1,    1,     0,    {}, true },
        { "compLink",      Kind::boolean,  "Comp Stereo Link",       0,    1,    1,    1,     0,    {}, true },
        { "bloomMode",     Kind::choice,   "Bloom",                  0,    2,    1,    1,     0,    { "Off", "Air", "Body" }, true },
        { "silkTexture",   Kind::floating, "Amount",                 0,    100,  1,    1,     30,   {}, true },
        { "tmtChannel",    Kind::floating, "Channel",                1,    72,   1,    1,     1,    {}, true },
        { "stWidth",       Kind::floating, "Width",                  0,    200,  1,    1,     100,  {}, true },
        { "monoMakerHz",   Kind::floating, "Mono Maker",             20,   500,  0.1f, 0.25f, 20,   {}, true },
        { "vuSource",      Kind::choice,   "VU Source",              0,    2,    1,    1,     0,    { "In", "Out", "GR" }, true },
        { "vuCalibration", Kind::choice,   "VU Calibration",         0,    2,    1,    1,     0,    { "-18 dBFS", "-20 dBFS", "-14 dBFS" }, true },
        { "osRealtime",    Kind::choice,   "Oversampling",           0,    3,    1,    1,     1,    { "Off", "2x", "4x", "8x" }, false },
        { "osOffline",     Kind::choice,   "Oversampling (Offline)", 0,    4,    1,    1,     0,    { "Same as Realtime", "Off", "2x", "4x", "8x" }, false },
        { "compGrMeter",   Kind::floating, "Comp GR",                0,    40,   0.01f, 1,    0,    {}, false },
    };
}

TEST (ParameterLayout, HostSeesTheTableInOrder)
{
    OrvaneChannelProcessor processor;
    const auto& params = processor.getParameters();
    ASSERT_EQ (params.size(), static_cast<int> (expectedTable.size()));

    for (size_t i = 0; i < expectedTable.size(); ++i)
    {
        const auto& e = expectedTable[i];
        SCOPED_TRACE (e.id);
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (params[static_cast<int> (i)]);
        ASSERT_NE (ranged, nullptr);

        EXPECT_EQ (ranged->getParameterID(), e.id);
        EXPECT_EQ (ranged->getVersionHint(), 1);
        EXPECT_EQ (ranged->getName (100), e.name);
        EXPECT_EQ (ranged->isAutomatable(), e.automatable);
        EXPECT_FALSE (ranged->isMetaParameter());
        EXPECT_FALSE (ranged->isOrientationInverted());

        const auto& range = ranged->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, e.start);
        EXPECT_FLOAT_EQ (range.end, e.end);
        EXPECT_FLOAT_EQ (range.interval, e.interval);
        EXPECT_FLOAT_EQ (range.skew, e.skew);
        EXPECT_FALSE (range.symmetricSkew);
        EXPECT_NEAR (ranged->convertFrom0to1 (ranged->getDefaultValue()), e.defaultValue, 1.0e-4);

        switch (e.kind)
        {
            case Kind::floating:
                EXPECT_NE (dynamic_cast<juce::AudioParameterFloat*> (ranged), nullptr);
                break;
            case Kind::boolean:
                ASSERT_NE (dynamic_cast<juce::AudioParameterBool*> (ranged), nullptr);
                EXPECT_EQ (ranged->getText (1.0f, 100), "On");
                EXPECT_EQ (ranged->getText (0.0f, 100), "Off");
                break;
            case Kind::choice:
            {
                auto* choice = dynamic_cast<juce::AudioParameterChoice*> (ranged);
                ASSERT_NE (choice, nullptr);
                ASSERT_EQ (choice->choices.size(), static_cast<int> (e.choices.size()));
                for (size_t c = 0; c < e.choices.size(); ++c)
                    EXPECT_EQ (choice->choices[static_cast<int> (c)], e.choices[c]);
                break;
            }
        }

        if (std::string (e.id) == "compGrMeter")
        {
            EXPECT_EQ (ranged->getLabel(), "dB");
            EXPECT_EQ (ranged->getCategory(), juce::AudioProcessorParameter::compressorLimiterGainReductionMeter);
            EXPECT_EQ (processor.valueTreeState.getParameter (e.id), nullptr) << "the meter is not part of the state";
        }
        else
        {
            EXPECT_EQ (ranged->getLabel(), "");
            EXPECT_EQ (ranged->getCategory(), juce::AudioProcessorParameter::genericParameter);
            EXPECT_EQ (processor.valueTreeState.getParameter (e.id), ranged);
        }
    }
}

TEST (ParameterLayout, SkewGivesLowEndMoreTravel)
{
    // With skew 0.25 the middle of the knob's travel lies at start + (end - start) * 0.5^4.
    OrvaneChannelProcessor processor;
    auto* hpf = processor.valueTreeState.getParameter ("hpfFreq");
    EXPECT_NEAR (hpf->convertFrom0to1 (0.5f), 20.0f + 230.0f * 0.0625f, 0.06f);
    auto* release = processor.valueTreeState.getParameter ("compRelease");
    EXPECT_NEAR (release->convertFrom0to1 (0.5f), 50.0f + 450.0f * std::pow (0.5f, 1.0f / 0.6f), 0.51f);
}

namespace
{
    struct TextCase
    {
        const char* id;
        float value;
        const char* text;
    };

    const std::vector<TextCase> textCases {
        { "inputGain", 0.0f, "0.0 dB" },       { "inputGain", 0.1f, "+0.1 dB" },
        { "inputGain", -0.1f, "-0.1 dB" },     { "inputGain", 24.0f, "+24.0 dB" },
        { "inputGain", 3.0f, "+3.0 dB" },      { "lfGain", -12.0f, "-12.0 dB" },
        { "compThresh", 20.0f, "+20.0 dB" },   { "compMakeup", -6.0f, "-6.0 dB" },
        { "outputGain", -60.0f, "-inf dB" },   { "outputGain", -59.5f, "-inf dB" },
        { "outputGain", -59.4f, "-59.4 dB" },  { "outputGain", 10.0f, "+10.0 dB" },
        { "outputGain", 0.0f, "0.0 dB" },
        { "hpfFreq", 20.0f, "OFF" },           { "hpfFreq", 20.5f, "OFF" },
        { "hpfFreq", 20.6f, "21 Hz" },         { "hpfFreq", 80.0f, "80 Hz" },
        { "hpfFreq", 250.0f, "250 Hz" },       { "monoMakerHz", 20.0f, "OFF" },
        { "monoMakerHz", 500.0f, "500 Hz" },
        { "mfFreq", 220.0f, "220 Hz" },        { "mfFreq", 999.9f, "1000 Hz" },
        { "mfFreq", 1000.0f, "1.00 kHz" },     { "mfFreq", 6800.0f, "6.80 kHz" },
        { "mfFreq", 7000.0f, "7.00 kHz" },     { "compScHpf", 0.0f, "0 Hz" },
        { "compScHpf", 300.0f, "300 Hz" },
        { "compRelease", 200.0f, "200 ms" },   { "silkTexture", 30.0f, "30 %" },
        { "stWidth", 200.0f, "200 %" },        { "tmtChannel", 72.0f, "72" },
        { "tmtChannel", 12.0f, "12" },
        { "bloomMode", 1.0f, "Air" },          { "vuCalibration", 2.0f, "-14 dBFS" },
        { "osOffline", 0.0f, "Same as Realtime" },
    };
}

TEST (ParameterLayout, ValueTextsThroughTheHostInterface)
{
    OrvaneChannelProcessor processor;

    for (const auto& c : textCases)
    {
        SCOPED_TRACE (juce::String (c.id) + " " + juce::String (c.value));
        auto* p = processor.valueTreeState.getParameter (c.id);
        ASSERT_NE (p, nullptr);
        EXPECT_EQ (p->getText (p->convertTo0to1 (c.value), 100), c.text);
    }
}

TEST (ParameterLayout, TextRulesRoundHalvesToEven)
{
    EXPECT_EQ (orvane::offOrHzText (80.5f, 0), "80 Hz");
    EXPECT_EQ (orvane::offOrHzText (81.5f, 0), "82 Hz");
    EXPECT_EQ (orvane::percentText (2.5f, 0), "2 %");
    EXPECT_EQ (orvane::msText (50.5f, 0), "50 ms");
    EXPECT_EQ (orvane::integerText (71.5f, 0), "72");
    EXPECT_EQ (orvane::hzOrKhzText (999.4f, 0), "999 Hz");
}

TEST (ParameterLayout, ChoiceTextParsesBackToIndex)
{
    OrvaneChannelProcessor processor;
    auto* cal = processor.valueTreeState.getParameter ("vuCalibration");
    EXPECT_FLOAT_EQ (cal->convertFrom0to1 (cal->getValueForText ("-20 dBFS")), 1.0f);
    auto* gain = processor.valueTreeState.getParameter ("mfGain");
    EXPECT_NEAR (gain->convertFrom0to1 (gain->getValueForText ("3.5 dB")), 3.5f, 1.0e-4);
}
