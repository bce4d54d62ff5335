#include "presets/MenuButton.h"

MenuButton::MenuButton() :
    juce::Button ({})
{
}

void MenuButton::paintHighlight (juce::Graphics& g, const juce::Button& button, bool highlighted, bool down)
{
    if (! highlighted && ! down)
        return;

    constexpr float inset = 1.0f;
    constexpr float cornerSize = 3.0f;
    constexpr juce::uint8 downAlpha = 0x4c;
    constexpr juce::uint8 highlightAlpha = 0x2e;

    const auto width = static_cast<float> (button.getWidth());
    const auto height = static_cast<float> (button.getHeight());

    g.setColour (button.findColour (juce::TextButton::buttonOnColourId).withAlpha (down ? downAlpha : highlightAlpha));
    g.fillRoundedRectangle (inset, inset, juce::jmax (width - 2.0f * inset, 0.0f),
                            juce::jmax (height - 2.0f * inset, 0.0f), cornerSize);
}

void MenuButton::paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    paintHighlight (g, *this, shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);

    constexpr float dotDiameter = 5.2f;
    constexpr float dotSpacing = 5.5f;

    const auto cx = static_cast<float> (getWidth()) * 0.5f;
    const auto cy = static_cast<float> (getHeight()) * 0.5f;

    g.setColour (findColour (juce::TextButton::textColourOffId));

    for (const auto offset : { -dotSpacing, 0.0f, dotSpacing })
        g.fillEllipse (juce::Rectangle<float> (dotDiameter, dotDiameter).withCentre ({ cx, cy + offset }));
}
