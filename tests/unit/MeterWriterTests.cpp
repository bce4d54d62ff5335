#include <gtest/gtest.h>

#include "dsp/MeterWriter.h"

#include <cmath>

namespace
{
    juce::AudioBuffer<float> bufferOf (const std::vector<std::vector<float>>& channels)
    {
        const auto numSamples = channels.empty() ? 0 : static_cast<int> (channels[0].size());
        juce::AudioBuffer<float> buffer (static_cast<int> (channels.size()), numSamples);

        for (size_t ch = 0; ch < channels.size(); ++ch)
            for (int i = 0; i < numSamples; ++i)
                buffer.setSample (static_cast<int> (ch), i, channels[ch][static_cast<size_t> (i)]);

        return buffer;
    }

    std::vector<float> square (int numSamples, int halfPeriod, float level)
    {
        std::vector<float> out (static_cast<size_t> (numSamples));
        for (int i = 0; i < numSamples; ++i)
            out[static_cast<size_t> (i)] = (i / halfPeriod) % 2 == 0 ? level : -level;
        return out;
    }

    std::vector<float> ramp (int numSamples, float first, float step)
    {
        std::vector<float> out (static_cast<size_t> (numSamples));
        for (int i = 0; i < numSamples; ++i)
            out[static_cast<size_t> (i)] = first + step * static_cast<float> (i);
        return out;
    }

    // The ring read the way the displays read it: oldest sample first.
    std::vector<float> ringContents (const std::array<std::atomic<float>, MeterState::ringSize>& ring, int position)
    {
        std::vector<float> out;
        for (int i = 0; i < MeterState::ringSize; ++i)
            out.push_back (ring[static_cast<size_t> ((position + i) & MeterState::ringMask)].load());
        return out;
    }
}

TEST (MeterWriter, MeasuresPeaksAndRmsPerChannel)
{
    struct Case
    {
        const char* name;
        std::vector<std::vector<float>> channels;
        MeterWriter::Levels expected;
    };

    const auto sine = [] (float amplitude)
    {
        std::vector<float> out (480);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = amplitude * static_cast<float> (std::sin (2.0 * M_PI * static_cast<double> (i) / 48.0));
        return out;
    };

    const std::vector<Case> cases {
        // Left-only full-scale square: the average RMS counts the silent right channel.
        { "left-only square", { square (512, 16, 1.0f), std::vector<float> (512, 0.0f) }, { 1.0f, 1.0f, 0.0f, 0.5f, 1.0f, 0.0f } },
        // Whole periods of a sine: RMS = amplitude / sqrt 2.
        { "sines", { sine (0.5f), sine (-0.8f) }, { 0.8f, 0.5f, 0.8f, 0.4596194f, 0.3535534f, 0.5656854f } },
        { "mono", { square (100, 5, 0.25f) }, { 0.25f, 0.25f, 0.0f, 0.25f, 0.25f, 0.0f } },
        { "negative peak", { { 0.1f, -0.9f, 0.3f }, { 0.2f, 0.2f, 0.2f } }, { 0.9f, 0.9f, 0.2f, 0.3753785f, 0.5507571f, 0.2f } },
        { "no samples", { {}, {} }, {} },
        { "no channels", {}, {} },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto buffer = bufferOf (c.channels);
        const auto m = MeterWriter::measure (buffer);
        EXPECT_NEAR (m.peak, c.expected.peak, 1.0e-6f);
        EXPECT_NEAR (m.peakLeft, c.expected.peakLeft, 1.0e-6f);
        EXPECT_NEAR (m.peakRight, c.expected.peakRight, 1.0e-6f);
        EXPECT_NEAR (m.rms, c.expected.rms, 1.0e-6f);
        EXPECT_NEAR (m.rmsLeft, c.expected.rmsLeft, 1.0e-6f);
        EXPECT_NEAR (m.rmsRight, c.expected.rmsRight, 1.0e-6f);
    }
}

TEST (MeterWriter, RmsStaysExactOverLongBlocks)
{
    // A long block of a small value next to a few large ones: a float running sum
    // loses the small contributions, a double one does not.
    // Here a float sum would stay at 10000 and read 0.03 % low.
    std::vector<float> x (1 << 16, 0.01f);
    x[0] = 100.0f;
    const auto buffer = bufferOf ({ x });

    const auto small = static_cast<double> (0.01f);
    const auto expected = std::sqrt ((100.0 * 100.0 + static_cast<double> (x.size() - 1) * small * small) / static_cast<double> (x.size()));
    EXPECT_NEAR (MeterWriter::measure (buffer).rms, expected, expected * 1.0e-6);
}

TEST (MeterWriter, EndOfBlockWritesGainReductionOnlyWhileCompressing)
{
    MeterState meters;
    const auto block = bufferOf ({ { 0.5f, -0.5f }, { 0.25f, 0.25f } });
    const MeterWriter::GainReduction reduction { 6.0f, 5.0f, 7.0f };

    EXPECT_FLOAT_EQ (MeterWriter::writeEndOfBlock (meters, true, reduction, {}, {}, block), 6.0f);
    EXPECT_FLOAT_EQ (meters.grDb.load(), 6.0f);
    EXPECT_FLOAT_EQ (meters.grLeftDb.load(), 5.0f);
    EXPECT_FLOAT_EQ (meters.grRightDb.load(), 7.0f);

    EXPECT_FLOAT_EQ (MeterWriter::writeEndOfBlock (meters, false, reduction, {}, {}, block), 0.0f);
    EXPECT_FLOAT_EQ (meters.grDb.load(), 0.0f);
    EXPECT_FLOAT_EQ (meters.grLeftDb.load(), 0.0f);
    EXPECT_FLOAT_EQ (meters.grRightDb.load(), 0.0f);
}

TEST (MeterWriter, EndOfBlockWritesEveryLevelField)
{
    MeterState meters;
    const MeterWriter::Levels in { 1.0f, 0.9f, 0.8f, 0.7f, 0.6f, 0.5f };
    const MeterWriter::Levels out { 0.11f, 0.12f, 0.13f, 0.14f, 0.15f, 0.16f };
    MeterWriter::writeEndOfBlock (meters, false, {}, in, out, bufferOf ({ { 0.0f } }));

    EXPECT_FLOAT_EQ (meters.inPeak.load(), 1.0f);
    EXPECT_FLOAT_EQ (meters.inPeakL.load(), 0.9f);
    EXPECT_FLOAT_EQ (meters.inPeakR.load(), 0.8f);
    EXPECT_FLOAT_EQ (meters.inRms.load(), 0.7f);
    EXPECT_FLOAT_EQ (meters.inRmsL.load(), 0.6f);
    EXPECT_FLOAT_EQ (meters.inRmsR.load(), 0.5f);
    EXPECT_FLOAT_EQ (meters.outPeak.load(), 0.11f);
    EXPECT_FLOAT_EQ (meters.outPeakL.load(), 0.12f);
    EXPECT_FLOAT_EQ (meters.outPeakR.load(), 0.13f);
    EXPECT_FLOAT_EQ (meters.outRms.load(), 0.14f);
    EXPECT_FLOAT_EQ (meters.outRmsL.load(), 0.15f);
    EXPECT_FLOAT_EQ (meters.outRmsR.load(), 0.16f);

    // An empty block writes zeros for every level.
    const juce::AudioBuffer<float> empty (2, 0);
    MeterWriter::writeEndOfBlock (meters, false, {}, MeterWriter::measure (empty), MeterWriter::measure (empty), empty);
    EXPECT_EQ (meters.inPeak.load(), 0.0f);
    EXPECT_EQ (meters.outRmsR.load(), 0.0f);
    EXPECT_EQ (meters.outputRingPos.load(), 1);
}

TEST (MeterWriter, OutputRingTakesTheMonoMixAndWraps)
{
    MeterState meters;

    // Five stereo blocks of 512 (2560 samples): the ring wraps once and ends 512 on.
    const auto left = ramp (2560, 0.0f, 1.0f);
    const auto right = ramp (2560, 1.0f, 1.0f);

    for (int b = 0; b < 5; ++b)
    {
        const auto first = static_cast<long> (b * 512);
        const auto block = bufferOf ({ { left.begin() + first, left.begin() + first + 512 },
                                       { right.begin() + first, right.begin() + first + 512 } });
        MeterWriter::writeEndOfBlock (meters, false, {}, {}, {}, block);
        EXPECT_EQ (meters.outputRingPos.load(), ((b + 1) * 512) % 2048);
    }

    const auto contents = ringContents (meters.outputRing, meters.outputRingPos.load());
    for (int i = 0; i < 2048; ++i)
        ASSERT_FLOAT_EQ (contents[static_cast<size_t> (i)], static_cast<float> (512 + i) + 0.5f) << "at " << i;

    // A mono block goes into the ring unchanged.
    MeterWriter::writeEndOfBlock (meters, false, {}, {}, {}, bufferOf ({ { -0.25f, 0.75f } }));
    EXPECT_EQ (meters.outputRingPos.load(), 514);
    EXPECT_FLOAT_EQ (meters.outputRing[512].load(), -0.25f);
    EXPECT_FLOAT_EQ (meters.outputRing[513].load(), 0.75f);
}

TEST (MeterWriter, SilkRingAdvancesBySamplesWithZerosWhenNothingWasAdded)
{
    MeterState meters;
    meters.silkRing[0].store (9.0f);

    const std::vector<float> added { 0.5f, -0.5f, 0.25f };
    MeterWriter::appendSilkRing (meters, added.data(), 3, 3);
    EXPECT_EQ (meters.silkRingPos.load(), 3);
    EXPECT_FLOAT_EQ (meters.silkRing[0].load(), 0.5f);
    EXPECT_FLOAT_EQ (meters.silkRing[2].load(), 0.25f);

    // Nothing added: as many zeros as the block has samples, over old values too.
    for (int i = 3; i < 2048 + 3; ++i)
        meters.silkRing[static_cast<size_t> (i & MeterState::ringMask)].store (7.0f);

    for (int b = 0; b < 4; ++b)
        MeterWriter::appendSilkRing (meters, nullptr, 0, 512);
    EXPECT_EQ (meters.silkRingPos.load(), 3);
    EXPECT_TRUE (std::all_of (meters.silkRing.begin(), meters.silkRing.end(), [] (const auto& v) { return v.load() == 0.0f; }));

    MeterWriter::appendSilkRing (meters, added.data(), 0, 2);
    EXPECT_EQ (meters.silkRingPos.load(), 5);

    // A block without samples does not advance the ring.
    MeterWriter::appendSilkRing (meters, nullptr, 0, 0);
    EXPECT_EQ (meters.silkRingPos.load(), 5);
}

TEST (MeterWriter, ChannelCountAndRateFollowTheHost)
{
    MeterState meters;
    EXPECT_EQ (meters.numChannels.load(), 1);
    EXPECT_DOUBLE_EQ (meters.sampleRate.load(), 44100.0);

    for (const auto& [given, written] : std::vector<std::pair<int, int>> { { 2, 2 }, { 1, 1 }, { 0, 1 }, { 6, 2 } })
    {
        MeterWriter::writeChannelCount (meters, given);
        EXPECT_EQ (meters.numChannels.load(), written) << given;
    }

    MeterWriter::writePrepare (meters, 96000.0, 2);
    EXPECT_DOUBLE_EQ (meters.sampleRate.load(), 96000.0);
    EXPECT_EQ (meters.numChannels.load(), 2);
    MeterWriter::writePrepare (meters, 48000.0, 1);
    EXPECT_EQ (meters.numChannels.load(), 1);
}
