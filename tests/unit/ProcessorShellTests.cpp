#include <gtest/gtest.h>

#include "processor/OrvaneChannelProcessor.h"

namespace
{
    using Set = juce::AudioChannelSet;

    juce::AudioProcessor::BusesLayout layoutOf (const Set& in, const Set& out)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.outputBuses.add (out);
        return layout;
    }
}

TEST (ProcessorShell, AnswersHostQuestions)
{
    OrvaneChannelProcessor p;
    EXPECT_EQ (p.getName(), "Orvane Channel");
    EXPECT_EQ (p.getParameters().size(), 28);
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "");
    EXPECT_DOUBLE_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_TRUE (p.hasEditor());
    EXPECT_FALSE (p.compactView);

    ASSERT_EQ (p.getBusCount (true), 1);
    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getBus (true, 0)->getCurrentLayout(), Set::stereo());
    EXPECT_EQ (p.getBus (false, 0)->getCurrentLayout(), Set::stereo());
    EXPECT_TRUE (p.getBus (true, 0)->isEnabled());
}

TEST (ProcessorShell, AcceptsOnlyMatchingMonoOrStereo)
{
    OrvaneChannelProcessor p;

    struct Case { Set in, out; bool accepted; };
    const std::vector<Case> cases {
        { Set::mono(), Set::mono(), true },
        { Set::stereo(), Set::stereo(), true },
        { Set::mono(), Set::stereo(), false },
        { Set::stereo(), Set::mono(), false },
        { Set::disabled(), Set::disabled(), false },
        { Set::stereo(), Set::disabled(), false },
        { Set::createLCR(), Set::createLCR(), false },
        { Set::quadraphonic(), Set::quadraphonic(), false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ((c.in.getDescription() + " -> " + c.out.getDescription()).toStdString());
        EXPECT_EQ (p.checkBusesLayoutSupported (layoutOf (c.in, c.out)), c.accepted);
    }

    EXPECT_TRUE (p.setBusesLayout (layoutOf (Set::mono(), Set::mono())));
    EXPECT_EQ (p.getTotalNumOutputChannels(), 1);
}

TEST (ProcessorShell, EditorOpensHeadless)
{
    OrvaneChannelProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
    ASSERT_NE (editor, nullptr);
    EXPECT_GT (editor->getWidth(), 0);
}
