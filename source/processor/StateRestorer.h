#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    Hands a whole parameter tree to a parameter state, keeping the current value
    of every parameter the tree does not mention.

    The framework's replaceState gives parameters without a matching child their
    default value. A plug-in state or a user preset file that lacks some
    parameters (an older version's file, or one edited by hand) must leave those
    parameters alone instead, so the missing children are filled in with the
    current values before the tree replaces the state.
*/
class StateRestorer
{
public:
    /** Drops children whose value is not a finite number, adds a "PARAM" child
        holding the current value for each parameter the tree then lacks, and calls
        replaceState with it. The tree's other contents are kept. */
    static void replaceKeepingMissing (juce::AudioProcessorValueTreeState& state, juce::ValueTree tree);

private:
    StateRestorer() = delete;
};
