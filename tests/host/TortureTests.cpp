// The built VST3 and LV2 binaries driven through the habits of demanding hosts, at
// every common sample rate and maximum block size, through the framework's hosting
// classes as a workstation drives them.

#include <gtest/gtest.h>

#include "host/PluginLoader.h"
#include "support/HostHabits.h"

using orvane::test::PluginFormat;
using namespace orvane::test::habits;

namespace
{
    constexpr double sampleRates[] = { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 };
    constexpr int maximumBlockSizes[] = { 1, 16, 64, 512, 4096 };

    /** Shorter stretches than the direct tests: the wrappers add their own cost to
        every block. A twentieth of a second, but at least eight and at most five
        hundred blocks. */
    int stretchFor (double sampleRate, int maxBlock)
    {
        constexpr double seconds = 0.05;
        constexpr int fewestBlocks = 8, mostBlocks = 500;
        return std::clamp (static_cast<int> (seconds * sampleRate), fewestBlocks * maxBlock, mostBlocks * maxBlock);
    }

    /** The latency the host has learnt from the plug-in. A VST3 plug-in announces a
        change with restartComponent, which reaches the host through the host's
        message loop; a workstation runs that loop all the time, this test runs it
        for a moment before asking. An LV2 host reads the latency port after every
        block. */
    int hostLatency (juce::AudioPluginInstance& plugin)
    {
        constexpr int messageLoopMs = 20;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (messageLoopMs);
        return plugin.getLatencySamples();
    }

    juce::AudioProcessorParameter* findByName (juce::AudioPluginInstance& plugin, const juce::String& name)
    {
        for (auto* p : plugin.getParameters())
            if (p->getName (100) == name)
                return p;
        return nullptr;
    }

    class HostTorture : public ::testing::TestWithParam<PluginFormat>
    {
    protected:
        std::unique_ptr<juce::AudioPluginInstance> load (double sampleRate, int blockSize)
        {
            juce::String error;
            auto plugin = orvane::test::loadPlugin (GetParam(), sampleRate, blockSize, error);
            EXPECT_NE (plugin, nullptr) << error;
            return plugin;
        }
    };
}

TEST_P (HostTorture, EveryRateAndBlockSize)
{
    // One instance per rate goes through every maximum block size in turn, as when
    // the user changes the host's buffer size.
    for (const auto rate : sampleRates)
    {
        auto plugin = load (rate, maximumBlockSizes[0]);
        ASSERT_NE (plugin, nullptr);

        for (const auto maxBlock : maximumBlockSizes)
        {
            SCOPED_TRACE (juce::String (rate) + " Hz, blocks up to " + juce::String (maxBlock));
            const auto seed = static_cast<juce::int64> (rate) * 10000 + maxBlock;
            HostSession session (*plugin, rate, maxBlock, seed);

            ASSERT_EQ (session.getFuzzer().numAutomated(), 25u);
            ASSERT_EQ (session.getFuzzer().numOversamplingChoices(), 2u);

            const bool switched = playEveryHabit (session, stretchFor (rate, maxBlock),
                                                  [&] { return hostLatency (*plugin); });

            // JUCE's LV2 wrapper describes one fixed set of ports (the default stereo
            // layout), so an LV2 host cannot switch it to mono; a VST3 host can.
            if (GetParam() == PluginFormat::vst3)
            {
                EXPECT_TRUE (switched);
            }

            for (const auto& fault : session.faults)
                ADD_FAILURE() << fault;
        }
    }
}

TEST_P (HostTorture, ReportedLatencyIsTheMeasuredOne)
{
    // Every rate and oversampling choice, switched through the hosted parameter while
    // playing: the host must learn each new latency, and it must be the real one.
    constexpr int blockSize = 512;
    constexpr int numChoices = 4;

    for (const auto rate : sampleRates)
    {
        SCOPED_TRACE (juce::String (rate) + " Hz");
        auto plugin = load (rate, blockSize);
        ASSERT_NE (plugin, nullptr);
        auto* choice = findByName (*plugin, "Oversampling");
        ASSERT_NE (choice, nullptr);

        plugin->prepareToPlay (rate, blockSize);
        const auto process = [&] (juce::AudioBuffer<float>& b, juce::MidiBuffer& m) { plugin->processBlock (b, m); };

        for (const int index : { 1, 0, 3, 2, 1 })
        {
            SCOPED_TRACE ("oversampling choice " + juce::String (index));
            choice->setValueNotifyingHost (static_cast<float> (index) / (numChoices - 1));
            const auto measured = measureLatency (process, 2, rate, blockSize);
            EXPECT_NEAR (measured, hostLatency (*plugin), HostSession::maximumLatencyError);
        }

        plugin->releaseResources();
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostTorture,
                          ::testing::Values (PluginFormat::vst3, PluginFormat::lv2),
                          [] (const ::testing::TestParamInfo<PluginFormat>& format) { return orvane::test::formatName (format.param); });
