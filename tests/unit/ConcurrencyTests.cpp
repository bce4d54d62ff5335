// The processor as a host's threads use it at once: an audio thread processing
// without pause, another thread saving and restoring the state, a third moving
// parameters, and the test's own thread acting as the message thread, where the
// parameter state's timer writes parameter values into its tree. Built with
// ThreadSanitizer (the "tsan" label) this must produce no report; in every build
// the audio must stay sane throughout.

#include <gtest/gtest.h>

#include "support/HostHabits.h"
#include "unit/ProcessorTestAccess.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int maxBlock = 256;
    constexpr auto runTime = std::chrono::seconds (3);

    /** Several different states to restore, made before the threads start. */
    std::vector<juce::MemoryBlock> makeStates (OrvaneChannelProcessor& p, int count)
    {
        std::vector<juce::MemoryBlock> states;
        juce::Random random (7);

        for (int i = 0; i < count; ++i)
        {
            for (auto* param : p.getParameters())
                if (orvane::test::habits::automationOf (*param) != orvane::test::habits::Automation::never)
                    param->setValueNotifyingHost (random.nextFloat());

            p.compactView = (i % 2) == 1;
            states.emplace_back();
            p.getStateInformation (states.back());
        }

        return states;
    }
}

TEST (Concurrency, StateAndParametersChangeWhileAudioPlays)
{
    OrvaneChannelProcessor p;
    const auto states = makeStates (p, 4);
    p.prepareToPlay (sampleRate, maxBlock);

    std::atomic<bool> stop { false };
    std::atomic<long> blocks { 0 }, stateCalls { 0 }, parameterChanges { 0 };
    std::string audioFault;

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> io (2, maxBlock);
        juce::MidiBuffer midi;
        juce::Random random (1);
        const auto bound = orvane::test::habits::outputBound();
        long n = 0;

        while (! stop.load())
        {
            const auto length = random.nextInt (maxBlock + 1);
            juce::AudioBuffer<float> block (io.getArrayOfWritePointers(), 2, 0, length);

            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < length; ++i)
                    block.setSample (ch, i, 0.5f * std::sin (0.05f * static_cast<float> (n + i)) + 0.1f * (random.nextFloat() - 0.5f));

            p.processBlock (block, midi);
            n += length;

            if (audioFault.empty())
                audioFault = orvane::test::habits::findBadSample (block, bound);

            blocks.fetch_add (1);
        }
    });

    std::thread stateThread ([&]
    {
        size_t next = 0;

        while (! stop.load())
        {
            juce::MemoryBlock saved;
            p.getStateInformation (saved);
            const auto& state = states[next++ % states.size()];
            p.setStateInformation (state.getData(), static_cast<int> (state.getSize()));
            stateCalls.fetch_add (1);
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });

    std::thread parameterThread ([&]
    {
        juce::Random random (3);
        const auto& parameters = p.getParameters();

        while (! stop.load())
        {
            // Gestures as an editor or a control surface makes them, oversampling too.
            auto* param = parameters[random.nextInt (parameters.size())];

            if (orvane::test::habits::automationOf (*param) == orvane::test::habits::Automation::never)
                continue;

            param->beginChangeGesture();
            for (int step = 0; step < 8; ++step)
                param->setValueNotifyingHost (random.nextFloat());
            param->endChangeGesture();

            parameterChanges.fetch_add (1);
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });

    // This thread is the message thread: the parameter state's timer flushes the
    // parameter values into its tree here, as it would in a host.
    const auto end = std::chrono::steady_clock::now() + runTime;
    while (std::chrono::steady_clock::now() < end)
    {
        juce::Timer::callPendingTimersSynchronously();
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }

    stop = true;
    audio.join();
    stateThread.join();
    parameterThread.join();

    EXPECT_TRUE (audioFault.empty()) << audioFault;

    // All three really ran, many times over, alongside each other.
    EXPECT_GT (blocks.load(), 100);
    EXPECT_GT (stateCalls.load(), 100);
    EXPECT_GT (parameterChanges.load(), 100);

    // And the instance still works afterwards: a state restores to the same bytes.
    juce::MemoryBlock first, second;
    p.setStateInformation (states[0].getData(), static_cast<int> (states[0].getSize()));
    p.getStateInformation (first);
    p.setStateInformation (first.getData(), static_cast<int> (first.getSize()));
    p.getStateInformation (second);
    EXPECT_EQ (first, second);
}
