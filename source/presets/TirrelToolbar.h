#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "dsp/MeterState.h"
#include "presets/AdvancedButton.h"
#include "presets/MenuButton.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

/**
    The strip along the top of the editor: the preset browser on the left, the
    analog channel selector, the reset button and the two icon buttons on the
    right.

    It keeps one preset list, the factory presets followed by the user's preset
    files, and the record of the preset last applied or saved. Everything here
    runs on the message thread; parameters change only through
    setValueNotifyingHost and the parameter state's replaceState, which the audio
    thread picks up at its next block.
*/
class TirrelToolbar : public juce::Component
{
public:
    /** One element of the preset list. */
    struct Entry
    {
        /** The factory preset's name, or the file name without its extension. */
        juce::String name;

        /** The factory preset's category, or "User" for a file. */
        juce::String category;

        /** For a user preset, the file's whole text as read when the list was
            built; empty for a factory preset. */
        juce::String content;

        /** True for a user preset. */
        bool isUser = false;

        /** Index into the factory table; -1 for a user preset. */
        int factoryIndex = -1;
    };

    /** Highest channel number of a mono instance. */
    static constexpr int lastChannel = 72;

    /** Highest channel number of a stereo instance, which also uses the next channel. */
    static constexpr int lastStereoChannel = lastChannel - 1;

    /** Builds the buttons and labels, shows the current channel and reads the
        preset list. The meter record, when there is one, tells mono from stereo. */
    TirrelToolbar (juce::AudioProcessorValueTreeState& parameterState,
                   juce::AudioProcessor& audioProcessor,
                   std::shared_ptr<MeterState> meters);

    //==============================================================================
    /** Leaves the editor's panel to show through. */
    void paint (juce::Graphics& g) override;

    /** Children keep the bounds they have; the editor's layout places them. */
    void resized() override;

    //==============================================================================
    /** The folder the user's presets live in; it is not created here. */
    juce::File dir() const;

    /** Rebuilds the list: the factory presets, then every preset file of the
        folder. The current index and name are kept. */
    void reload();

    /** Saves the current parameters as a user preset, rebuilds the list and
        makes the new entry current. The name is stored as
        PresetFile::storedNameFor makes it; an existing preset of that name is
        overwritten. Returns false when nothing was written (a name of only white
        space, or a failed write); a failed write still shows the name. */
    bool writePreset (const juce::String& name);

    /** Saves under the trimmed text of the name editor, unless that is empty,
        and leaves naming mode either way. */
    void commitSaveAs();

    /** Applies entry index of the list and makes it current. An index outside
        the list does nothing; an entry whose file could not be read or parsed
        changes no parameter but still becomes current. */
    void loadEntry (int index);

    /** The index of the preset last applied or saved, or -1. */
    int getCurrentIndex() const noexcept { return currentIndex; }

    /** The name shown on the preset button; empty when there is none. */
    const juce::String& getCurrentName() const noexcept { return currentName; }

    /** The preset list: the factory presets first, then the user presets. */
    const std::vector<Entry>& getEntries() const noexcept { return entries; }

    /** True while the name editor is shown. */
    bool isNaming() const noexcept { return naming; }

    //==============================================================================
    /** Sets the analog channel, clamped to 1 .. the highest channel (71 for a
        stereo instance, 72 otherwise), notifying the host, and updates the label. */
    void setChannel (int channel);

    /** Shows the channel as "CH 12", or as the pair "L12 R13" on a stereo instance. */
    void updateChannelLabel();

    /** Follows the instance between mono and stereo; called from the editor's
        timer. An instance that turns stereo on the last channel moves down one,
        so its pair stays within the console. */
    void refreshChannelDisplay();

    /** Hands out channels 1, 2, ... 72, 1, ... from one counter shared by every
        instance in the process; safe to call from any thread. */
    static int nextAutoChannel();

    //==============================================================================
    /** Asked to change the interface size to the given percentage. */
    std::function<void (int)> onUiScale;

    /** Asked to toggle the editor's compact view. */
    std::function<void()> onAdvancedToggle;

private:
    int currentChannel() const;
    int highestChannel() const;
    bool isStereo() const;
    void setChannelParameter (int channel);

    void previousPreset();
    void nextPreset();
    void save();
    void resetAll();
    void channelDown();
    void channelUp();
    void randomChannel();
    void autoChannel();
    void enterNaming();
    void leaveNaming();
    void updatePresetButton();

    juce::AudioProcessorValueTreeState& state;
    juce::AudioProcessor& processor;

    juce::TextButton previousPresetButton { "<" };
    juce::TextButton nextPresetButton { ">" };
    juce::TextButton presetButton { "PRESET" };
    juce::TextButton saveButton { "SAVE" };
    juce::TextButton saveAsButton { "SAVE AS" };
    juce::TextButton resetButton { "RESET" };
    juce::TextButton channelDownButton { "<" };
    juce::TextButton channelUpButton { ">" };
    juce::TextButton randomChannelButton { "RAND" };
    juce::TextButton autoChannelButton { "AUTO" };
    juce::Label channelLabel;
    MenuButton optionsButton;
    AdvancedButton advancedButton;

    std::shared_ptr<MeterState> meterState;
    bool lastStereo = false;

    juce::TextEditor nameEditor;
    juce::TextButton confirmButton { "OK" };
    juce::TextButton cancelButton { "X" };
    bool naming = false;

    std::vector<Entry> entries;
    std::map<int, int> menuIdToEntry;
    int currentIndex = -1;
    juce::String currentName;

public:
    /** The interface size ticked in the options menu; the editor writes it
        when it applies a size. */
    int uiScalePercent = 100;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TirrelToolbar)
};
