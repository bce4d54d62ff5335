#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The toolbar's compact-view button: two stacked chevrons that point down in
    the compact view and up in the full view.

    Drawn in the same colours as MenuButton. The editor sets compact to its
    compact-view state and repaints the button.
*/
class AdvancedButton : public juce::Button
{
public:
    /** Builds the button with an empty name. */
    AdvancedButton();

    /** Draws the highlight and the two chevrons. */
    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    /** True while the editor shows its compact view. */
    bool compact = false;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AdvancedButton)
};
