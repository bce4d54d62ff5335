#include <gtest/gtest.h>

#include "dsp/ChannelTolerance.h"
#include "dsp/MeterWriter.h"
#include "dsp/SilkStage.h"
#include "dsp/StereoStage.h"
#include "processor/GainReductionReporter.h"
#include "processor/HostMeterUpdater.h"
#include "processor/ParameterLayout.h"
#include "unit/AllocationCounter.h"
#include "unit/SignalTools.h"

namespace
{
    constexpr int maxBlock = 512;
}

TEST (RealtimeAllocation, CounterSeesAllocations)
{
    // The replaced operator new must really count, or every check below is empty.
    orvane::test::AllocationCounter counter;
    auto* single = ::operator new (64);
    auto* array = ::operator new[] (64);
    auto* aligned = ::operator new (64, std::align_val_t { 64 });
    ::operator delete (single);
    ::operator delete[] (array);
    ::operator delete (aligned, std::align_val_t { 64 });
    EXPECT_EQ (counter.getCount(), 3);
}

TEST (RealtimeAllocation, SilkStageNeverAllocatesWhilePlaying)
{
    SilkStage stage;
    stage.prepare (48000.0, 2, maxBlock);

    auto signal = orvane::test::sine (maxBlock, 2500.0, 48000.0, 0.9);
    juce::AudioBuffer<float> buffer (2, maxBlock);
    juce::ScopedNoDenormals noDenormals;

    // Every factor and mode, switched while playing, full and partial and empty
    // blocks, and an oversized one.
    long allocations = 0;
    for (int index : { 1, 3, 0, 2, 3, 1, 0 })
    {
        for (int mode : { 0, 1, 2, 1 })
        {
            for (int n : { maxBlock, 128, 0, 1, maxBlock })
            {
                for (int ch = 0; ch < 2; ++ch)
                    buffer.copyFrom (ch, 0, signal.data(), maxBlock);

                juce::dsp::AudioBlock<float> block (buffer);
                auto part = block.getSubBlock (0, static_cast<size_t> (n));

                orvane::test::AllocationCounter counter;
                stage.applyOsIndex (index);
                stage.setMode (mode);
                stage.setAmount (static_cast<float> (25 * (mode + 1)));
                stage.process (part);
                allocations += counter.getCount();
            }
        }
    }

    juce::AudioBuffer<float> oversized (2, 3 * maxBlock + 5);
    oversized.clear();
    juce::dsp::AudioBlock<float> big (oversized);
    {
        orvane::test::AllocationCounter counter;
        stage.process (big);
        allocations += counter.getCount();
    }

    EXPECT_EQ (allocations, 0);
}

TEST (RealtimeAllocation, StereoStageMetersAndHostReportingNeverAllocate)
{
    StereoStage stereo;
    stereo.prepare (48000.0);
    MeterState meters;
    auto parameter = orvane::createGainReductionMeterParameter();
    auto lastGrSent = -1.0f;
    auto* reporter = new GainReductionReporter (std::make_shared<MeterState>());

    auto signal = orvane::test::sine (maxBlock, 300.0, 48000.0, 0.5);
    juce::AudioBuffer<float> buffer (2, maxBlock);
    buffer.copyFrom (0, 0, signal.data(), maxBlock);
    buffer.copyFrom (1, 0, signal.data(), maxBlock, -0.5f);

    orvane::test::AllocationCounter counter;

    for (int block = 0; block < 8; ++block)
    {
        const auto tolerance = ChannelTolerance::computeTolerance (static_cast<float> (block + 1));
        const auto in = MeterWriter::measure (buffer);
        MeterWriter::writeChannelCount (meters, buffer.getNumChannels());

        stereo.update (static_cast<float> (block * 25), block % 2 == 0 ? 20.0f : 150.0f);
        juce::dsp::AudioBlock<float> audio (buffer);
        stereo.process (audio);

        MeterWriter::appendSilkRing (meters, signal.data(), block % 2 == 0 ? maxBlock : 0, maxBlock);
        const auto out = MeterWriter::measure (buffer);
        const auto gr = MeterWriter::writeEndOfBlock (meters, block % 2 == 1, { 1.0f + tolerance.trimOffsetDb, 1.0f, 2.0f },
                                                      in, out, buffer);
        HostMeterUpdater::update (parameter.get(), lastGrSent, gr);
        juce::ignoreUnused (reporter->getGainReductionValueInDb());
    }

    EXPECT_EQ (counter.getCount(), 0);
    reporter->release();
}
