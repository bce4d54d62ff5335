#include "presets/AdvancedButton.h"

#include "presets/MenuButton.h"

AdvancedButton::AdvancedButton() :
    juce::Button ({})
{
}

void AdvancedButton::paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    MenuButton::paintHighlight (g, *this, shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);

    constexpr float halfWidth = 5.0f;
    constexpr float depth = 3.4f;
    constexpr float chevronOffset = 2.1f;
    constexpr float thickness = 1.6f;

    const auto cx = static_cast<float> (getWidth()) * 0.5f;
    const auto cy = static_cast<float> (getHeight()) * 0.5f;

    // A positive depth puts the tip below the arms: the chevron points down.
    const auto d = compact ? depth : -depth;

    juce::Path chevrons;

    for (const auto y : { cy - chevronOffset, cy + chevronOffset })
    {
        chevrons.startNewSubPath (cx - halfWidth, y - d * 0.5f);
        chevrons.lineTo (cx, y + d * 0.5f);
        chevrons.lineTo (cx + halfWidth, y - d * 0.5f);
    }

    g.setColour (findColour (juce::TextButton::textColourOffId));
    g.strokePath (chevrons, juce::PathStrokeType (thickness, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}
