#include "processor/StateRestorer.h"

#include <cmath>

void StateRestorer::replaceKeepingMissing (juce::AudioProcessorValueTreeState& state, juce::ValueTree tree)
{
    static const juce::Identifier paramType { "PARAM" };
    static const juce::Identifier idProperty { "id" };
    static const juce::Identifier valueProperty { "value" };

    // A value such as NaN would reach the parameter unclamped (a range cannot clamp
    // NaN) and from there the audio path and every later save; such a child is
    // dropped, so its parameter is treated as missing and keeps its value.
    for (int i = tree.getNumChildren(); --i >= 0;)
    {
        const auto child = tree.getChild (i);

        if (child.hasProperty (valueProperty) && ! std::isfinite (static_cast<double> (child.getProperty (valueProperty))))
            tree.removeChild (i, nullptr);
    }

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
