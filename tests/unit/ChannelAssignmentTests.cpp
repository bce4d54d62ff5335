#include <gtest/gtest.h>

#include "presets/TirrelToolbar.h"
#include "processor/OrvaneChannelProcessor.h"
#include "unit/PresetTestSupport.h"

#include <cstdlib>
#include <set>
#include <thread>

using namespace presettest;

namespace
{
    // Child positions of the channel controls in the toolbar.
    constexpr int channelDownChild = 8;
    constexpr int channelUpChild = 9;
    constexpr int randomChild = 10;
    constexpr int autoChild = 11;
    constexpr int labelChild = 12;

    constexpr int tmtChannelIndex = 20; // host index of the channel parameter

    struct Instance
    {
        explicit Instance (bool stereo, bool withMeters = true)
        {
            if (stereo)
                processor.meterState->numChannels = 2;

            toolbar = std::make_unique<TirrelToolbar> (processor.valueTreeState, processor,
                                                       withMeters ? processor.meterState : nullptr);
            toolbar->refreshChannelDisplay();
        }

        void click (int index) { dynamic_cast<juce::Button*> (toolbar->getChildComponent (index))->onClick(); }
        int channel() { return static_cast<int> (value (processor, "tmtChannel")); }
        juce::String label() { return dynamic_cast<juce::Label*> (toolbar->getChildComponent (labelChild))->getText(); }

        OrvaneChannelProcessor processor;
        std::unique_ptr<TirrelToolbar> toolbar;
    };
}

TEST (ChannelAssignment, StepsAndClampsWithinTheConsole)
{
    enum Action { down, up, set };

    struct Case
    {
        bool stereo;
        int start;
        Action action;
        int argument;
        int channel;
        const char* label;
    };

    const std::vector<Case> cases {
        { false, 72, up, 0, 72, "CH 72" },
        { false, 71, up, 0, 72, "CH 72" },
        { false, 5, up, 0, 6, "CH 6" },
        { false, 5, down, 0, 4, "CH 4" },
        { false, 1, down, 0, 1, "CH 1" },
        { false, 2, down, 0, 1, "CH 1" },
        { true, 71, up, 0, 71, "L71 R72" },
        { true, 70, up, 0, 71, "L71 R72" },
        { true, 1, down, 0, 1, "L1 R2" },
        { true, 12, up, 0, 13, "L13 R14" },
        { false, 5, set, 0, 1, "CH 1" },
        { false, 5, set, -5, 1, "CH 1" },
        { false, 5, set, 100, 72, "CH 72" },
        { false, 5, set, 72, 72, "CH 72" },
        { true, 5, set, 72, 71, "L71 R72" },
        { true, 5, set, 30, 30, "L30 R31" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.stereo ? "stereo " : "mono ") + juce::String (c.start) + " action "
                      + juce::String (static_cast<int> (c.action)) + " " + juce::String (c.argument));
        Instance instance (c.stereo);
        setValue (instance.processor, "tmtChannel", static_cast<float> (c.start));
        HostRecorder recorder (instance.processor);

        if (c.action == down)
            instance.click (channelDownChild);
        else if (c.action == up)
            instance.click (channelUpChild);
        else
            instance.toolbar->setChannel (c.argument);

        EXPECT_EQ (instance.channel(), c.channel);
        EXPECT_EQ (instance.label(), c.label);
        EXPECT_TRUE (recorder.saw (tmtChannelIndex));
    }
}

// A stereo instance found on the last channel (restored from a mono session)
// still steps down from there.
TEST (ChannelAssignment, StereoInstanceOnTheLastChannelStepsIntoRange)
{
    for (const auto down : { true, false })
    {
        Instance instance (true);
        setValue (instance.processor, "tmtChannel", 72.0f);
        instance.click (down ? channelDownChild : channelUpChild);
        EXPECT_EQ (instance.channel(), 71);
    }
}

TEST (ChannelAssignment, TurningStereoOnTheLastChannelMovesDownOne)
{
    Instance instance (false);
    instance.toolbar->setChannel (72);
    EXPECT_EQ (instance.label(), "CH 72");

    HostRecorder recorder (instance.processor);
    instance.processor.meterState->numChannels = 2;
    instance.toolbar->refreshChannelDisplay();
    EXPECT_EQ (instance.channel(), 71);
    EXPECT_EQ (instance.label(), "L71 R72");
    EXPECT_TRUE (recorder.saw (tmtChannelIndex));

    // Back to mono: the channel stays where it is, only the label changes.
    instance.processor.meterState->numChannels = 1;
    instance.toolbar->refreshChannelDisplay();
    EXPECT_EQ (instance.channel(), 71);
    EXPECT_EQ (instance.label(), "CH 71");
}

TEST (ChannelAssignment, LabelFollowsTheLayoutWithoutChangingTheChannel)
{
    Instance instance (false);
    instance.toolbar->setChannel (5);
    EXPECT_EQ (instance.label(), "CH 5");

    HostRecorder recorder (instance.processor);
    instance.processor.meterState->numChannels = 2;
    instance.toolbar->refreshChannelDisplay();
    EXPECT_EQ (instance.label(), "L5 R6");
    EXPECT_EQ (instance.channel(), 5);
    EXPECT_TRUE (recorder.changed.empty());
}

TEST (ChannelAssignment, WithoutAMeterRecordTheInstanceCountsAsMono)
{
    Instance instance (true, false);
    instance.toolbar->setChannel (72);
    instance.toolbar->refreshChannelDisplay();
    EXPECT_EQ (instance.channel(), 72);
    EXPECT_EQ (instance.label(), "CH 72");
}

TEST (ChannelAssignment, RandomStaysWithinTheConsoleAndReachesBothEnds)
{
    // With this many draws every channel turns up with near certainty, so a
    // range that is one too short or too long shows.
    constexpr int draws = 5000;

    for (const auto stereo : { false, true })
    {
        SCOPED_TRACE (stereo ? "stereo" : "mono");
        Instance instance (stereo);
        std::set<int> seen;

        for (int i = 0; i < draws; ++i)
        {
            instance.click (randomChild);
            seen.insert (instance.channel());
        }

        EXPECT_EQ (*seen.begin(), 1);
        EXPECT_EQ (*seen.rbegin(), stereo ? 71 : 72);
        EXPECT_EQ (seen.size(), stereo ? 71u : 72u);
    }
}

// The counter is shared by the whole process, so the sequence is checked
// relative to wherever earlier tests left it.
TEST (ChannelAssignment, AutoCountsThroughAllChannelsAcrossInstances)
{
    Instance first (false);
    Instance second (false);

    first.click (autoChild);
    const auto start = first.channel();

    for (int k = 1; k <= 72; ++k)
    {
        auto& instance = (k % 2 == 0) ? first : second;
        instance.click (autoChild);
        EXPECT_EQ (instance.channel(), (start - 1 + k) % 72 + 1) << k;
    }
}

TEST (ChannelAssignment, AutoOnAStereoInstanceClampsChannel72To71)
{
    while (TirrelToolbar::nextAutoChannel() != 71)
    {
    }

    Instance instance (true);
    instance.click (autoChild);
    EXPECT_EQ (instance.channel(), 71);
    EXPECT_EQ (instance.label(), "L71 R72");
    EXPECT_EQ (TirrelToolbar::nextAutoChannel(), 1);
}

TEST (ChannelAssignment, AutoNeverHandsOutTheSameNumberTwiceAtOnce)
{
    constexpr int threads = 4;
    constexpr int rounds = 72 * 100;

    // Line the counter up at channel 1 so every channel is drawn equally often.
    while (TirrelToolbar::nextAutoChannel() != 72)
    {
    }

    std::vector<std::vector<int>> drawn (threads);
    std::vector<std::thread> workers;

    for (auto& mine : drawn)
        workers.emplace_back ([&mine]
        {
            for (int i = 0; i < rounds; ++i)
                mine.push_back (TirrelToolbar::nextAutoChannel());
        });

    for (auto& worker : workers)
        worker.join();

    std::map<int, int> counts;
    for (const auto& mine : drawn)
        for (const auto channel : mine)
            ++counts[channel];

    ASSERT_EQ (counts.size(), 72u);
    for (const auto& [channel, count] : counts)
        EXPECT_EQ (count, threads * rounds / 72) << channel;
}

// Re-runs this test in a fresh process, where no one has pressed AUTO yet.
TEST (ChannelAssignmentDeathTest, FirstAutoAfterStartGivesChannel1ThenCountsOn)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    EXPECT_EXIT (
        {
            int failures = 0;
            {
                Instance instance (false);

                for (int k = 1; k <= 73; ++k)
                {
                    instance.click (autoChild);
                    if (instance.channel() != (k - 1) % 72 + 1)
                        ++failures;
                }
            }

            // This child skips the test main's clean-up of its private home.
            juce::File (juce::SystemStats::getEnvironmentVariable ("HOME", {})).deleteRecursively();
            std::_Exit (failures);
        },
        ::testing::ExitedWithCode (0), "");
}
