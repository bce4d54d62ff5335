// The processor driven directly through the habits of demanding hosts, at every
// common sample rate and maximum block size, with an allocation counter around every
// processBlock. The same habits drive the built binaries in tests/host.

#include <gtest/gtest.h>

#include "support/HostHabits.h"
#include "unit/AllocationCounter.h"
#include "unit/ProcessorTestAccess.h"

#include <deque>

using namespace orvane::test::habits;
namespace id = orvane::ParamIDs;

namespace
{
    constexpr double sampleRates[] = { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 };
    constexpr int maximumBlockSizes[] = { 1, 16, 64, 512, 4096 };
    constexpr int numOversamplingChoices = 4;

    /** The processor under test, with its allocations on the audio path counted. */
    struct CountedProcessor
    {
        OrvaneChannelProcessor processor;
        long allocations = 0;

        ProcessFunction processFunction()
        {
            return [this] (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
            {
                orvane::test::AllocationCounter counter;
                processor.processBlock (buffer, midi);
                allocations += counter.getCount();
            };
        }

        int reportedLatency() const { return processor.getLatencySamples(); }
    };

    /** A stretch of audio per habit: the given time, but at least eight and at most
        a thousand blocks, so that tiny blocks stay affordable and huge ones are still
        many. */
    int stretchFor (double sampleRate, int maxBlock, double seconds)
    {
        constexpr int fewestBlocks = 8, mostBlocks = 1000;
        return std::clamp (static_cast<int> (seconds * sampleRate), fewestBlocks * maxBlock, mostBlocks * maxBlock);
    }

    /** A whole-sample delay line per channel: the probe's reference. */
    struct DelayLine
    {
        explicit DelayLine (int delaySamples) : delay (static_cast<size_t> (delaySamples)) {}

        void operator() (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
        {
            lines.resize (static_cast<size_t> (buffer.getNumChannels()), std::deque<float> (delay, 0.0f));

            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            {
                auto& line = lines[static_cast<size_t> (ch)];
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                {
                    line.push_back (buffer.getSample (ch, i));
                    buffer.setSample (ch, i, line.front());
                    line.pop_front();
                }
            }
        }

        size_t delay;
        std::vector<std::deque<float>> lines;
    };
}

//==============================================================================
TEST (LatencyProbe, MeasuresWholeSampleDelays)
{
    struct Case { double rate; int delay; int blockSize; };
    // Delays beyond one period of the tone (22 samples at 22.05 kHz) need the noise
    // burst to find the whole samples.
    const Case cases[] = { { 22050.0, 0, 512 }, { 22050.0, 1, 64 }, { 44100.0, 37, 1 }, { 48000.0, 5, 4096 },
                           { 96000.0, 300, 512 }, { 192000.0, 1000, 16 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.rate) + " Hz, " + juce::String (c.delay) + " samples");
        DelayLine line (c.delay);
        EXPECT_NEAR (measureLatency (std::ref (line), 2, c.rate, c.blockSize), c.delay, 0.01);
    }

    // Beyond what it can see, the probe says so instead of guessing.
    DelayLine tooLong (1500);
    EXPECT_TRUE (std::isnan (measureLatency (std::ref (tooLong), 1, 48000.0, 512)));
}

TEST (LatencyProbe, SeesTheFrameworksOversamplersAsTheyReportThemselves)
{
    // The Silk stage's oversamplers (polyphase IIR half-bands at maximum quality,
    // integer latency) are not linear-phase: at 1 kHz their delay is not exactly the
    // one they report. Within half a sample it is, at every rate and factor, which is
    // what the processor's latency checks rely on.
    for (const auto rate : sampleRates)
        for (size_t factor = 1; factor <= 3; ++factor)
        {
            SCOPED_TRACE (juce::String (rate) + " Hz, factor exponent " + juce::String ((int) factor));
            constexpr int blockSize = 512;
            juce::dsp::Oversampling<float> oversampler (1, factor, juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR,
                                                        true, true);
            oversampler.initProcessing (blockSize);

            const auto process = [&] (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
            {
                juce::dsp::AudioBlock<float> block (buffer);
                oversampler.processSamplesUp (block);
                oversampler.processSamplesDown (block);
            };

            const auto reported = oversampler.getLatencyInSamples();
            EXPECT_EQ (reported, std::round (reported));
            EXPECT_NEAR (measureLatency (process, 1, rate, blockSize), reported, HostSession::maximumLatencyError);
        }
}

TEST (LatencyProbe, WaitsForLoudMaterialToDieAway)
{
    // A full-scale offset through +24 dB of input trim, then silence: as the offset
    // stops, the chain's slowest filter (a DC blocker at 8 Hz, time constant 20 ms)
    // swings to minus its level, about 12, and rings on long after the trim is back
    // at 0 dB. Probed at once, that tail drowns the probe's burst; the session's
    // latency check waits for it to die away and then measures what is reported.
    constexpr double rate = 48000.0;
    constexpr int blockSize = 512;
    constexpr double offsetSeconds = 0.2;

    const auto playLoud = [] (OrvaneChannelProcessor& p)
    {
        p.prepareToPlay (rate, blockSize);
        orvane::test::setParam (p, id::inputGain, 24.0f);

        juce::AudioBuffer<float> offset (2, static_cast<int> (offsetSeconds * rate));
        for (int ch = 0; ch < offset.getNumChannels(); ++ch)
            juce::FloatVectorOperations::fill (offset.getWritePointer (ch), 1.0f, offset.getNumSamples());

        orvane::test::runBlocks (p, offset, blockSize);
        orvane::test::setParam (p, id::inputGain, 0.0f);
    };

    const auto process = [] (OrvaneChannelProcessor& p)
    {
        return [&p] (juce::AudioBuffer<float>& b, juce::MidiBuffer& m) { p.processBlock (b, m); };
    };

    OrvaneChannelProcessor probedAtOnce;
    playLoud (probedAtOnce);
    EXPECT_TRUE (std::isnan (measureLatency (process (probedAtOnce), 2, rate, blockSize)))
        << "the loud material no longer drowns an immediate probe: this test has lost its point";

    OrvaneChannelProcessor checked;
    playLoud (checked);
    HostSession session (checked, rate, blockSize, 1, process (checked));
    const auto measured = session.checkLatency ([&] { return checked.getLatencySamples(); });

    for (const auto& fault : session.faults)
        ADD_FAILURE() << fault;

    EXPECT_NEAR (measured, checked.getLatencySamples(), HostSession::maximumLatencyError);
}

//==============================================================================
TEST (Torture, EveryRateAndBlockSize)
{
    // One processor per rate goes through every maximum block size in turn, as when
    // the user changes the host's buffer size between sessions.
    for (const auto rate : sampleRates)
    {
        CountedProcessor counted;
        auto& p = counted.processor;

        for (const auto maxBlock : maximumBlockSizes)
        {
            SCOPED_TRACE (juce::String (rate) + " Hz, blocks up to " + juce::String (maxBlock));
            const auto seed = static_cast<juce::int64> (rate) * 10000 + maxBlock;
            HostSession session (p, rate, maxBlock, seed, counted.processFunction());
            const auto stretch = stretchFor (rate, maxBlock, 0.1);

            // The fuzzer must reach every parameter the host can automate and both
            // oversampling choices; a renamed parameter must not drop out unnoticed.
            ASSERT_EQ (session.getFuzzer().numAutomated(), 25u);
            ASSERT_EQ (session.getFuzzer().numOversamplingChoices(), 2u);

            ASSERT_TRUE (playEveryHabit (session, stretch, [&] { return counted.reportedLatency(); }));

            for (const auto& fault : session.faults)
                ADD_FAILURE() << fault;
        }

        EXPECT_EQ (counted.allocations, 0) << "allocations in processBlock at " << rate << " Hz";
    }
}

TEST (Torture, LongSessions)
{
    // A few cells played for longer, with the state saved and restored again and again.
    struct Cell { double rate; int maxBlock; };
    const Cell cells[] = { { 48000.0, 512 }, { 44100.0, 64 }, { 22050.0, 16 }, { 192000.0, 4096 } };

    for (const auto& cell : cells)
    {
        SCOPED_TRACE (juce::String (cell.rate) + " Hz, blocks up to " + juce::String (cell.maxBlock));
        CountedProcessor counted;
        HostSession session (counted.processor, cell.rate, cell.maxBlock, static_cast<juce::int64> (cell.maxBlock),
                             counted.processFunction());
        const auto stretch = stretchFor (cell.rate, cell.maxBlock, 0.25);

        session.prepare();
        std::vector<juce::MemoryBlock> saved;

        for (int round = 0; round < 8; ++round)
        {
            session.play (stretch, round % 3 == 2 ? Material::extreme : Material::music);
            saved.push_back (session.roundTripState());

            if (round % 2 == 1)
                session.restore (saved[static_cast<size_t> (round / 2)]);
        }

        session.play (stretch, Material::fadeOut);
        session.checkLatency ([&] { return counted.reportedLatency(); });

        for (const auto& fault : session.faults)
            ADD_FAILURE() << fault;

        EXPECT_EQ (counted.allocations, 0);
    }
}

//==============================================================================
TEST (Torture, ReportedLatencyIsTheMeasuredOne)
{
    // Every rate and oversampling choice, chosen before preparing, switched while
    // playing, and through the offline choice while rendering offline.
    constexpr int blockSize = 512;

    for (const auto rate : sampleRates)
        for (int index = 0; index < numOversamplingChoices; ++index)
        {
            SCOPED_TRACE (juce::String (rate) + " Hz, oversampling choice " + juce::String (index));
            CountedProcessor counted;
            auto& p = counted.processor;

            // Measured first: processBlock is where a changed latency is re-reported.
            const auto expectMeasuredIsReported = [&] (const char* when)
            {
                const auto measured = measureLatency (counted.processFunction(), 2, rate, blockSize);
                EXPECT_NEAR (measured, p.getLatencySamples(), HostSession::maximumLatencyError) << when;
            };

            orvane::test::setParam (p, id::osRealtime, static_cast<float> (index));
            p.prepareToPlay (rate, blockSize);
            expectMeasuredIsReported ("prepared");

            orvane::test::setParam (p, id::osRealtime, static_cast<float> ((index + 1) % numOversamplingChoices));
            expectMeasuredIsReported ("switched while playing");

            p.setNonRealtime (true);
            orvane::test::setParam (p, id::osOffline, static_cast<float> (index + 1)); // 0 is "Same as Realtime"
            p.prepareToPlay (rate, blockSize);
            expectMeasuredIsReported ("offline");

            EXPECT_EQ (counted.allocations, 0);
        }
}
