#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "host/PluginLoader.h"

#include <cmath>

namespace
{
    struct NamedText
    {
        const char* name;
        float normalised;
        const char* text;
    };

    juce::AudioProcessorParameter* findByName (juce::AudioPluginInstance& plugin, const juce::String& name)
    {
        for (auto* p : plugin.getParameters())
            if (p->getName (100) == name)
                return p;
        return nullptr;
    }

    // The 27 names of the channel strip and the meter, in the order the host must list them.
    const std::vector<const char*> expectedNames {
        "Input Trim", "Polarity", "Output Trim", "HPF", "EQ On", "LF Gain", "LF Freq", "MF Freq",
        "MF Gain", "HF Gain", "HF Freq", "Comp On", "Comp Threshold", "Comp Release", "Comp Makeup",
        "Comp SC HPF", "Comp Pre-EQ", "Comp Stereo Link", "Bloom", "Amount", "Channel", "Width",
        "Mono Maker", "VU Source", "VU Calibration", "Oversampling", "Oversampling (Offline)", "Comp GR"
    };

    class HostedPlugin : public ::testing::TestWithParam<orvane::test::PluginFormat>
    {
    protected:
        void SetUp() override
        {
            plugin = orvane::test::loadPlugin (GetParam(), 48000.0, 512, error);
            ASSERT_NE (plugin, nullptr) << error;
        }

        juce::String error;
        std::unique_ptr<juce::AudioPluginInstance> plugin;
    };
}

TEST_P (HostedPlugin, ShowsTheParametersInOrder)
{
    const auto& params = plugin->getParameters();
    std::vector<juce::String> ours;
    for (auto* p : params)
    {
        const auto name = p->getName (100);
        // The wrappers add their own host bypass parameter; everything else must be ours.
        if (name != "Bypass" && name != "Enabled")
            ours.push_back (name);
    }

    std::vector<juce::String> expected (expectedNames.begin(), expectedNames.end());

    // JUCE's LV2 host lists patch parameters in its own order (the LV2 parameter list
    // is unordered); the VST3 host must keep ours.
    if (GetParam() == orvane::test::PluginFormat::lv2)
    {
        std::sort (ours.begin(), ours.end());
        std::sort (expected.begin(), expected.end());
    }

    ASSERT_EQ (ours.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ (ours[i], expected[i]) << "at index " << i;
}

TEST_P (HostedPlugin, ShowsTheValueTexts)
{
    // Normalised positions chosen so that the plain values are exact: range start, end and
    // round points in between.
    const std::vector<NamedText> cases {
        { "Input Trim", 0.0f, "-12.0 dB" },           { "Input Trim", 1.0f, "+24.0 dB" },
        { "Input Trim", 12.0f / 36.0f, "0.0 dB" },    { "Output Trim", 0.0f, "-inf dB" },
        { "Output Trim", 1.0f, "+10.0 dB" },          { "HPF", 0.0f, "OFF" },
        { "HPF", 1.0f, "250 Hz" },                    { "MF Freq", 1.0f, "7.00 kHz" },
        { "MF Freq", 0.0f, "220 Hz" },                { "Comp Release", 1.0f, "500 ms" },
        { "Comp SC HPF", 0.0f, "0 Hz" },              { "Amount", 0.3f, "30 %" },
        { "Channel", 1.0f, "72" },                    { "Bloom", 0.5f, "Air" },
        { "VU Calibration", 1.0f, "-14 dBFS" },       { "Oversampling", 1.0f / 3.0f, "2x" },
        { "Oversampling (Offline)", 0.0f, "Same as Realtime" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.name) + " at " + juce::String (c.normalised));
        auto* p = findByName (*plugin, c.name);
        ASSERT_NE (p, nullptr);

        // LV2 hosts format plain numbers themselves and map choices through their own
        // scale points; the choice names are checked for both formats below.
        if (GetParam() == orvane::test::PluginFormat::lv2)
            continue;

        EXPECT_EQ (p->getText (c.normalised, 100), c.text);
    }

    const std::vector<std::pair<const char*, juce::StringArray>> choices {
        { "Bloom", { "Off", "Air", "Body" } },
        { "VU Source", { "In", "Out", "GR" } },
        { "VU Calibration", { "-18 dBFS", "-20 dBFS", "-14 dBFS" } },
        { "Oversampling", { "Off", "2x", "4x", "8x" } },
        { "Oversampling (Offline)", { "Same as Realtime", "Off", "2x", "4x", "8x" } },
    };

    for (const auto& [name, names] : choices)
    {
        SCOPED_TRACE (name);
        auto* p = findByName (*plugin, name);
        ASSERT_NE (p, nullptr);
        juce::StringArray shown;
        for (int i = 0; i < names.size(); ++i)
            shown.add (p->getText (static_cast<float> (i) / static_cast<float> (names.size() - 1), 100));
        EXPECT_EQ (shown.joinIntoString ("|"), names.joinIntoString ("|"));
    }
}

TEST_P (HostedPlugin, ExposesRangesAndDefaults)
{
    struct Expected { const char* name; float defaultNormalised; };
    // Defaults as normalised values: 0 dB of -12..24, 2x of four choices, 100 % of 0..200 ...
    const std::vector<Expected> cases {
        { "Input Trim", 12.0f / 36.0f }, { "EQ On", 1.0f }, { "Comp Threshold", 1.0f },
        { "Oversampling", 1.0f / 3.0f }, { "Width", 0.5f }, { "Channel", 0.0f }, { "HPF", 0.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto* p = findByName (*plugin, c.name);
        ASSERT_NE (p, nullptr);
        EXPECT_NEAR (p->getDefaultValue(), c.defaultNormalised, 1.0e-4);
        EXPECT_NEAR (p->getValue(), c.defaultNormalised, 1.0e-4);
    }
}

TEST_P (HostedPlugin, ProcessesAudio)
{
    constexpr int blockSize = 512;
    constexpr double sampleRate = 48000.0;
    plugin->prepareToPlay (sampleRate, blockSize);

    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    double peakOut = 0.0;

    for (int block = 0; block < 40; ++block)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                buffer.setSample (ch, i, 0.5f * std::sin (2.0 * juce::MathConstants<double>::pi * 440.0 * (block * blockSize + i) / sampleRate));

        plugin->processBlock (buffer, midi);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
            {
                const auto y = buffer.getSample (ch, i);
                ASSERT_TRUE (std::isfinite (y));
                peakOut = std::max (peakOut, (double) std::abs (y));
            }
    }

    // Default settings colour the sound only slightly: a 0.5 sine stays near 0.5.
    EXPECT_GT (peakOut, 0.4);
    EXPECT_LT (peakOut, 0.6);
    plugin->releaseResources();
}

TEST_P (HostedPlugin, RoundTripsStateThroughTheHost)
{
    auto* gain = findByName (*plugin, "MF Gain");
    auto* bloom = findByName (*plugin, "Bloom");
    auto* channel = findByName (*plugin, "Channel");
    ASSERT_TRUE (gain != nullptr && bloom != nullptr && channel != nullptr);

    gain->setValueNotifyingHost (0.75f);    // +6 dB
    bloom->setValueNotifyingHost (1.0f);    // Body
    channel->setValueNotifyingHost (39.0f / 71.0f); // channel 40

    // LV2 delivers parameter changes with the next processed block, as in a running host.
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    plugin->prepareToPlay (48000.0, 512);
    buffer.clear();
    plugin->processBlock (buffer, midi);

    juce::MemoryBlock state;
    plugin->getStateInformation (state);
    ASSERT_GT (state.getSize(), 0u);

    auto second = orvane::test::loadPlugin (GetParam(), 48000.0, 512, error);
    ASSERT_NE (second, nullptr) << error;
    second->setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    second->prepareToPlay (48000.0, 512);
    buffer.clear();
    second->processBlock (buffer, midi);

    EXPECT_NEAR (findByName (*second, "MF Gain")->getValue(), 0.75f, 1.0e-4);
    EXPECT_NEAR (findByName (*second, "Bloom")->getValue(), 1.0f, 1.0e-4);
    EXPECT_NEAR (findByName (*second, "Channel")->getValue(), 39.0f / 71.0f, 1.0e-4);

    if (GetParam() == orvane::test::PluginFormat::vst3)
    {
        EXPECT_EQ (findByName (*second, "MF Gain")->getText (findByName (*second, "MF Gain")->getValue(), 100), "+6.0 dB");
        EXPECT_EQ (findByName (*second, "Channel")->getText (findByName (*second, "Channel")->getValue(), 100), "40");
    }

    juce::MemoryBlock again;
    second->getStateInformation (again);
    EXPECT_EQ (again, state);
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedPlugin,
                          ::testing::Values (orvane::test::PluginFormat::vst3, orvane::test::PluginFormat::lv2),
                          [] (const auto& info) { return orvane::test::formatName (info.param); });
