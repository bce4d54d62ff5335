#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The toolbar's options button: a vertical "more" mark of three dots.

    It draws itself in the look-and-feel's text-button colours: the dots in the
    text colour, and, while the mouse is over it or it is held down, a faint
    rounded background in the "on" colour.
*/
class MenuButton : public juce::Button
{
public:
    /** Builds the button with an empty name. */
    MenuButton();

    /** Draws the highlight and the three dots. */
    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    /** Fills the rounded highlight the toolbar's icon buttons share, inset by one
        pixel, when the button is highlighted or down; draws nothing otherwise. */
    static void paintHighlight (juce::Graphics& g, const juce::Button& button, bool highlighted, bool down);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MenuButton)
};
