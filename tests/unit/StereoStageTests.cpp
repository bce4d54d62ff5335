#include <gtest/gtest.h>

#include "dsp/StereoStage.h"
#include "unit/SignalTools.h"

#include <iostream>

namespace
{
    constexpr double rate = 48000.0;

    // Left and right made of a mid and a side part at different frequencies, so
    // that the two can be measured separately at the output.
    struct StereoSignal
    {
        std::vector<float> left, right;
    };

    StereoSignal midAndSide (int numSamples, double midHz, double sideHz, double amplitude)
    {
        const auto mid = orvane::test::sine (numSamples, midHz, rate, amplitude);
        const auto side = orvane::test::sine (numSamples, sideHz, rate, amplitude);
        StereoSignal s { mid, mid };

        for (size_t i = 0; i < mid.size(); ++i)
        {
            s.left[i] = mid[i] + side[i];
            s.right[i] = mid[i] - side[i];
        }

        return s;
    }

    void processInBlocks (StereoStage& stage, StereoSignal& s, int blockSize)
    {
        const auto total = static_cast<int> (s.left.size());

        for (int start = 0; start < total; start += blockSize)
            stage.process (s.left.data() + start, s.right.data() + start, std::min (blockSize, total - start));
    }
}

TEST (StereoStage, WidthZeroMakesMono)
{
    StereoStage stage;
    stage.prepare (rate);
    stage.update (0.0f, 20.0f);

    auto s = midAndSide (4800, 440.0, 3000.0, 0.4);
    processInBlocks (stage, s, 512);

    for (size_t i = 0; i < s.left.size(); ++i)
        ASSERT_EQ (s.left[i], s.right[i]) << "at " << i;
}

TEST (StereoStage, FullWidthWithMonoMakerOffPassesTheSignal)
{
    // 20 Hz is the "OFF" position and 20.5 is still off.
    for (auto monoHz : { 20.0f, 20.5f })
    {
        SCOPED_TRACE (monoHz);
        StereoStage stage;
        stage.prepare (rate);
        stage.update (100.0f, monoHz);
        EXPECT_FALSE (stage.isMonoMakerOn());

        const auto in = midAndSide (4800, 60.0, 90.0, 0.5);
        auto s = in;
        processInBlocks (stage, s, 256);

        for (size_t i = 0; i < s.left.size(); ++i)
        {
            ASSERT_NEAR (s.left[i], in.left[i], 1.0e-6f) << "at " << i;
            ASSERT_NEAR (s.right[i], in.right[i], 1.0e-6f) << "at " << i;
        }
    }
}

TEST (StereoStage, WidthScalesTheSideOnly)
{
    struct Case
    {
        float widthPercent;
        double sideGain;
    };

    for (const auto& c : { Case { 50.0f, 0.5 }, Case { 200.0f, 2.0 }, Case { 350.0f, 2.0 }, Case { -10.0f, 0.0 } })
    {
        SCOPED_TRACE (c.widthPercent);
        StereoStage stage;
        stage.prepare (rate);
        stage.update (c.widthPercent, 20.0f);

        const auto in = midAndSide (4800, 1000.0, 1500.0, 0.25);
        auto s = in;
        processInBlocks (stage, s, 480);

        for (size_t i = 0; i < s.left.size(); ++i)
        {
            const auto mid = 0.5 * (in.left[i] + in.right[i]);
            const auto side = 0.5 * (in.left[i] - in.right[i]);
            ASSERT_NEAR (s.left[i], mid + c.sideGain * side, 1.0e-6) << "at " << i;
            ASSERT_NEAR (s.right[i], mid - c.sideGain * side, 1.0e-6) << "at " << i;
        }
    }
}

TEST (StereoStage, MonoMakerHighPassesTheSideAndLeavesTheMid)
{
    // A first-order high-pass at 120 Hz: about -3 dB at its frequency, -10 dB
    // an octave and a half below, a trace at 1 kHz.
    struct Case
    {
        double sideHz;
        double expectedDb;
        double toleranceDb;
    };

    const std::vector<Case> cases {
        { 120.0, -3.1, 0.05 },
        { 40.0, -10.0, 0.15 },
        { 1000.0, -0.13, 0.01 },
    };

    constexpr double midHz = 60.0;
    constexpr int total = 48000 * 2;
    constexpr size_t window = 48000; // the last second: whole periods of every tone

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.sideHz);
        StereoStage stage;
        stage.prepare (rate);
        stage.update (100.0f, 120.0f);
        EXPECT_TRUE (stage.isMonoMakerOn());

        const auto in = midAndSide (total, midHz, c.sideHz, 0.3);
        auto s = in;
        processInBlocks (stage, s, 512);

        std::vector<float> midOut (s.left.size()), sideOut (s.left.size());
        for (size_t i = 0; i < s.left.size(); ++i)
        {
            midOut[i] = 0.5f * (s.left[i] + s.right[i]);
            sideOut[i] = 0.5f * (s.left[i] - s.right[i]);
        }

        const auto start = s.left.size() - window;
        const auto sideDb = orvane::test::toDb (std::abs (orvane::test::toneAt (sideOut, start, window, c.sideHz, rate)) / 0.3);
        const auto midDb = orvane::test::toDb (std::abs (orvane::test::toneAt (midOut, start, window, midHz, rate)) / 0.3);

        std::cout << "[ measure ] mono maker at 120 Hz: side " << sideDb << " dB at " << c.sideHz << " Hz, mid " << midDb << " dB\n";
        EXPECT_NEAR (sideDb, c.expectedDb, c.toleranceDb);
        EXPECT_NEAR (midDb, 0.0, 0.001);

        // The mid passes sample for sample, not just in level.
        for (size_t i = 0; i < midOut.size(); ++i)
            ASSERT_NEAR (midOut[i], 0.5f * (in.left[i] + in.right[i]), 1.0e-6f) << "at " << i;
    }
}

TEST (StereoStage, MonoMakerCoefficientFollowsRateAndClamp)
{
    struct Case
    {
        double rate;
        float hz;
        double expected; // e^(-2 pi f / fs), f clamped to 20 .. 2000
    };

    const std::vector<Case> cases {
        { 48000.0, 120.0f, 0.984415 },
        { 44100.0, 500.0f, 0.931240 },
        { 48000.0, 5000.0f, 0.769665 }, // clamped to 2000 Hz
        { 48000.0, 10.0f, 0.997385 },   // clamped to 20 Hz
    };

    for (const auto& c : cases)
    {
        StereoStage stage;
        stage.prepare (c.rate);
        stage.update (100.0f, c.hz);
        EXPECT_NEAR (stage.getMonoMakerCoefficient(), c.expected, 1.0e-6) << c.hz << " Hz at " << c.rate;
    }

    // A rate of 0 keeps the coefficient it had.
    StereoStage stage;
    stage.prepare (48000.0);
    stage.update (100.0f, 120.0f);
    stage.prepare (0.0);
    stage.update (100.0f, 300.0f);
    EXPECT_NEAR (stage.getMonoMakerCoefficient(), 0.984415, 1.0e-6);
}

TEST (StereoStage, MonoBlocksAndEmptyBlocksAreUntouched)
{
    StereoStage stage;
    stage.prepare (rate);
    stage.update (0.0f, 200.0f);

    std::vector<float> mono { 0.1f, -0.2f, 0.3f, 0.4f };
    const auto copy = mono;
    float* channels[] = { mono.data() };
    juce::dsp::AudioBlock<float> block (channels, 1, mono.size());
    stage.process (block);
    EXPECT_EQ (mono, copy);

    std::vector<float> left { 1.0f }, right { -1.0f };
    stage.process (left.data(), right.data(), 0);
    EXPECT_EQ (left[0], 1.0f);
    EXPECT_EQ (right[0], -1.0f);
}

TEST (StereoStage, PrepareClearsTheMonoMakerState)
{
    const auto in = midAndSide (2000, 50.0, 30.0, 0.5);

    StereoStage fresh;
    fresh.prepare (rate);
    fresh.update (100.0f, 200.0f);
    auto expected = in;
    processInBlocks (fresh, expected, 500);

    StereoStage reused;
    reused.prepare (rate);
    reused.update (100.0f, 200.0f);
    auto first = in;
    processInBlocks (reused, first, 500);
    reused.prepare (rate);
    auto second = in;
    processInBlocks (reused, second, 500);

    EXPECT_EQ (second.left, expected.left);
    EXPECT_EQ (second.right, expected.right);
}
