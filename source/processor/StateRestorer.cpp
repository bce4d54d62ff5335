#include "processor/StateRestorer.h"

void StateRestorer::replaceKeepingMissing (juce::AudioProcessorValueTreeState& state, juce::ValueTree tree)
{
    static const juce::Identifier paramType { "PARAM" };
    static const juce::Identifier idProperty { "id" };
    static const juce::Identifier valueProperty { "value" };

    for (auto* parameter : state.processor.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);

        if (ranged == nullptr)
            continue;

        const auto id = ranged->getParameterID();

        if (state.getParameter (id) == nullptr || tree.getChildWithProperty (idProperty, id).isValid())
            continue;

        juce::ValueTree child (paramType);
        child.setProperty (idProperty, id, nullptr);
        child.setProperty (valueProperty, ranged->convertFrom0to1 (ranged->getValue()), nullptr);
        tree.appendChild (child, nullptr);
    }

    state.replaceState (tree);
}
