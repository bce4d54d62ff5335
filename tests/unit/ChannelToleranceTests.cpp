#include <gtest/gtest.h>

#include "dsp/ChannelTolerance.h"

#include <vector>

namespace
{
    constexpr double sixDecimals = 0.5e-6;

    struct ChannelCase
    {
        float channel;
        double fm[3], gm[3], thresholdDb, release, trimDb;
    };

    // Reference deviations of three console channels, to six decimals. They are
    // heard in saved sessions, so the generator must reproduce them exactly.
    const std::vector<ChannelCase> channels {
        { 1.0f, { 0.997836, 1.001605, 1.002694 }, { 0.991065, 1.006654, 1.002575 }, -0.131378, 1.008210, 0.036868 },
        { 2.0f, { 1.002702, 0.997885, 0.999226 }, { 0.986423, 1.006704, 0.995160 }, 0.089882, 0.983182, -0.026271 },
        { 72.0f, { 0.999244, 1.001702, 1.000336 }, { 0.994570, 1.010592, 0.985864 }, 0.090215, 1.011015, 0.036943 },
    };
}

TEST (ChannelTolerance, GeneratorGivesTheReferenceValuesForChannelOne)
{
    struct KeyValue
    {
        std::uint32_t key;
        double value;
    };

    const std::vector<KeyValue> cases {
        { 100, -0.721305 }, { 101, 0.534878 }, { 103, 0.898164 },
        { 200, -0.595688 }, { 201, 0.443573 }, { 203, 0.171685 },
        { 300, -0.656889 }, { 301, 0.410518 }, { 400, 0.737367 },
    };

    for (const auto& c : cases)
        EXPECT_NEAR (ChannelTolerance::toleranceValue (1.0f, c.key), c.value, sixDecimals) << "key " << c.key;
}

TEST (ChannelTolerance, DerivedValuesMatchTheReferenceChannels)
{
    for (const auto& c : channels)
    {
        SCOPED_TRACE ("channel " + std::to_string (static_cast<int> (c.channel)));
        const auto t = ChannelTolerance::computeTolerance (c.channel);

        EXPECT_NEAR (t.lfFreqMultiplier, c.fm[0], sixDecimals);
        EXPECT_NEAR (t.mfFreqMultiplier, c.fm[1], sixDecimals);
        EXPECT_NEAR (t.hfFreqMultiplier, c.fm[2], sixDecimals);
        EXPECT_NEAR (t.lfGainMultiplier, c.gm[0], sixDecimals);
        EXPECT_NEAR (t.mfGainMultiplier, c.gm[1], sixDecimals);
        EXPECT_NEAR (t.hfGainMultiplier, c.gm[2], sixDecimals);
        EXPECT_NEAR (t.thresholdOffsetDb, c.thresholdDb, sixDecimals);
        EXPECT_NEAR (t.releaseMultiplier, c.release, sixDecimals);
        EXPECT_NEAR (t.trimOffsetDb, c.trimDb, sixDecimals);
    }
}

TEST (ChannelTolerance, SameChannelRepeatsAndNeighboursDiffer)
{
    const auto a = ChannelTolerance::computeTolerance (7.0f);
    const auto b = ChannelTolerance::computeTolerance (7.0f);
    const auto c = ChannelTolerance::computeTolerance (8.0f);

    EXPECT_EQ (a.mfFreqMultiplier, b.mfFreqMultiplier);
    EXPECT_EQ (a.trimOffsetDb, b.trimOffsetDb);
    EXPECT_EQ (a.releaseMultiplier, b.releaseMultiplier);

    EXPECT_NE (a.lfFreqMultiplier, c.lfFreqMultiplier);
    EXPECT_NE (a.mfGainMultiplier, c.mfGainMultiplier);
    EXPECT_NE (a.thresholdOffsetDb, c.thresholdOffsetDb);
    EXPECT_NE (a.trimOffsetDb, c.trimOffsetDb);
}

TEST (ChannelTolerance, EveryChannelStaysInsideItsRanges)
{
    for (int ch = 1; ch <= 72; ++ch)
    {
        SCOPED_TRACE ("channel " + std::to_string (ch));
        const auto t = ChannelTolerance::computeTolerance (static_cast<float> (ch));

        for (auto fm : { t.lfFreqMultiplier, t.mfFreqMultiplier, t.hfFreqMultiplier })
            EXPECT_LE (std::abs (fm - 1.0f), 0.003f + 1.0e-6f);

        for (auto gm : { t.lfGainMultiplier, t.mfGainMultiplier, t.hfGainMultiplier })
            EXPECT_LE (std::abs (gm - 1.0f), 0.015f + 1.0e-6f);

        EXPECT_LE (std::abs (t.thresholdOffsetDb), 0.2f);
        EXPECT_GE (t.releaseMultiplier, 0.98f - 1.0e-6f);
        EXPECT_LE (t.releaseMultiplier, 1.02f + 1.0e-6f);
        EXPECT_LE (std::abs (t.trimOffsetDb), 0.05f);
    }
}

TEST (ChannelTolerance, ChannelNumbersAreTruncatedAndClamped)
{
    struct Case
    {
        float given, same;
    };

    const std::vector<Case> cases {
        { 1.9f, 1.0f }, { 71.99f, 71.0f }, { 0.0f, 1.0f }, { -40.0f, 1.0f },
        { 73.0f, 72.0f }, { 1.0e9f, 72.0f }, { std::nanf (""), 1.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.given);
        for (std::uint32_t key : { 100u, 301u, 400u })
            EXPECT_EQ (ChannelTolerance::toleranceValue (c.given, key), ChannelTolerance::toleranceValue (c.same, key));
    }
}
