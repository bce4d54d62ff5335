#include "presets/TirrelToolbar.h"

#include "presets/FactoryPresets.h"
#include "presets/PresetFile.h"
#include "processor/ParameterLayout.h"

#include <atomic>
#include <cstdint>

namespace
{
    const juce::Identifier compactProperty { "compact" };

    // The look-and-feel draws buttons carrying this property in its smaller font.
    void makeCompact (juce::Component& component)
    {
        component.getProperties().set (compactProperty, true);
    }
}

TirrelToolbar::TirrelToolbar (juce::AudioProcessorValueTreeState& parameterState,
                              juce::AudioProcessor& audioProcessor,
                              std::shared_ptr<MeterState> meters) :
    state (parameterState),
    processor (audioProcessor),
    meterState (std::move (meters))
{
    previousPresetButton.onClick = [this] { previousPreset(); };
    nextPresetButton.onClick = [this] { nextPreset(); };
    addAndMakeVisible (previousPresetButton);
    addAndMakeVisible (nextPresetButton);
    addAndMakeVisible (presetButton);

    saveButton.onClick = [this] { save(); };
    saveAsButton.onClick = [this] { enterNaming(); };
    resetButton.onClick = [this] { resetAll(); };

    for (auto* button : { &saveButton, &saveAsButton, &resetButton })
    {
        makeCompact (*button);
        addAndMakeVisible (*button);
    }

    optionsButton.setTooltip ("Options");
    addAndMakeVisible (optionsButton);

    advancedButton.onClick = [this]
    {
        if (onAdvancedToggle != nullptr)
            onAdvancedToggle();
    };
    advancedButton.setTooltip ("Advanced Mode: show/hide the upper display rack");
    addAndMakeVisible (advancedButton);

    channelDownButton.onClick = [this] { channelDown(); };
    channelUpButton.onClick = [this] { channelUp(); };
    randomChannelButton.onClick = [this] { randomChannel(); };
    autoChannelButton.onClick = [this] { autoChannel(); };
    randomChannelButton.setTooltip ("Assign a random channel to this instance");
    autoChannelButton.setTooltip ("Auto-assign the next channel number");

    for (auto* button : { &channelDownButton, &channelUpButton, &randomChannelButton, &autoChannelButton })
    {
        makeCompact (*button);
        addAndMakeVisible (*button);
    }

    channelLabel.setJustificationType (juce::Justification::centred);
    channelLabel.setTooltip ("Analog channel (component-tolerance variation)");
    addAndMakeVisible (channelLabel);
    updateChannelLabel();

    presetButton.changeWidthToFitText();

    // Placeholder text in the editor's own text colour, dimmed.
    constexpr float placeholderAlpha = 0.5f;
    nameEditor.setTextToShowWhenEmpty ("New preset name...",
                                       nameEditor.findColour (juce::TextEditor::textColourId)
                                           .withMultipliedAlpha (placeholderAlpha));
    nameEditor.onReturnKey = [this] { commitSaveAs(); };
    nameEditor.onEscapeKey = [this] { leaveNaming(); };
    addChildComponent (nameEditor);

    confirmButton.onClick = [this] { commitSaveAs(); };
    cancelButton.onClick = [this] { leaveNaming(); };
    addChildComponent (confirmButton);
    addChildComponent (cancelButton);

    reload();
    updatePresetButton();
}

//==============================================================================
void TirrelToolbar::paint (juce::Graphics&)
{
}

void TirrelToolbar::resized()
{
}

//==============================================================================
juce::File TirrelToolbar::dir() const
{
    return PresetFile::defaultFolder();
}

void TirrelToolbar::reload()
{
    entries.clear();

    const auto presets = FactoryPresets::getPresets();

    for (size_t i = 0; i < presets.size(); ++i)
        entries.push_back ({ presets[i].name, presets[i].category, {}, false, static_cast<int> (i) });

    for (const auto& file : PresetFile::listFolder (dir()))
        entries.push_back ({ file.getFileNameWithoutExtension(), "User", PresetFile::readText (file), true, -1 });
}

bool TirrelToolbar::writePreset (const juce::String& name)
{
    const auto storedName = PresetFile::storedNameFor (name);

    if (storedName.isEmpty())
        return false;

    // Ignoring the result is fine: a folder that cannot be created makes the
    // write below fail, which is handled there.
    const auto folder = dir();
    folder.createDirectory();

    const auto written = PresetFile::write (state, PresetFile::fileFor (folder, storedName));

    reload();

    // Only user entries count: a user preset may share its name with a factory one.
    for (size_t i = 0; i < entries.size(); ++i)
    {
        if (entries[i].isUser && entries[i].name == storedName)
        {
            currentIndex = static_cast<int> (i);
            break;
        }
    }

    currentName = storedName;
    updatePresetButton();
    return written;
}

void TirrelToolbar::commitSaveAs()
{
    const auto name = nameEditor.getText().trim();

    if (name.isNotEmpty())
        writePreset (name);

    leaveNaming();
}

void TirrelToolbar::loadEntry (int index)
{
    if (index < 0 || index >= static_cast<int> (entries.size()))
        return;

    const auto& entry = entries[static_cast<size_t> (index)];

    if (entry.factoryIndex >= 0)
        FactoryPresets::apply (processor, state, entry.factoryIndex);
    else if (entry.content.isNotEmpty())
        PresetFile::applyText (state, entry.content);

    currentIndex = index;
    currentName = entry.name;
    updatePresetButton();
}

void TirrelToolbar::updatePresetButton()
{
    // setButtonText repaints only when the text really changes.
    presetButton.setButtonText (currentName.isEmpty() ? juce::String ("(no preset)") : currentName);
}

//==============================================================================
void TirrelToolbar::previousPreset()
{
    const auto count = static_cast<int> (entries.size());

    if (count == 0)
        return;

    loadEntry (currentIndex < 0 ? 0 : (currentIndex - 1 + count) % count);
}

void TirrelToolbar::nextPreset()
{
    const auto count = static_cast<int> (entries.size());

    if (count == 0)
        return;

    loadEntry ((currentIndex + 1) % count);
}

void TirrelToolbar::save()
{
    const auto isUserPreset = currentIndex >= 0 && currentIndex < static_cast<int> (entries.size())
                           && entries[static_cast<size_t> (currentIndex)].isUser;

    if (isUserPreset)
        writePreset (currentName);
    else
        enterNaming();
}

void TirrelToolbar::resetAll()
{
    FactoryPresets::resetToDefaults (processor);
    currentIndex = -1;
    currentName = "Init";
    updatePresetButton();
}

void TirrelToolbar::enterNaming()
{
    naming = true;
    nameEditor.setText (currentName, false);
    nameEditor.setVisible (true);
    confirmButton.setVisible (true);
    cancelButton.setVisible (true);
    saveButton.setVisible (false);
    saveAsButton.setVisible (false);
    resized();
    nameEditor.grabKeyboardFocus();
}

void TirrelToolbar::leaveNaming()
{
    naming = false;
    nameEditor.setVisible (false);
    confirmButton.setVisible (false);
    cancelButton.setVisible (false);
    saveButton.setVisible (true);
    saveAsButton.setVisible (true);
    resized();
}

//==============================================================================
bool TirrelToolbar::isStereo() const
{
    return meterState != nullptr && meterState->numChannels.load() >= 2;
}

int TirrelToolbar::highestChannel() const
{
    return isStereo() ? lastStereoChannel : lastChannel;
}

int TirrelToolbar::currentChannel() const
{
    if (auto* value = state.getRawParameterValue (orvane::ParamIDs::tmtChannel))
        return static_cast<int> (value->load());

    return 1;
}

void TirrelToolbar::setChannelParameter (int channel)
{
    if (auto* parameter = state.getParameter (orvane::ParamIDs::tmtChannel))
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (static_cast<float> (channel)));
}

void TirrelToolbar::setChannel (int channel)
{
    setChannelParameter (juce::jlimit (1, highestChannel(), channel));
    updateChannelLabel();
}

void TirrelToolbar::channelDown()
{
    const auto channel = currentChannel();
    setChannel (channel >= 2 ? juce::jmin (channel - 1, highestChannel()) : 1);
}

void TirrelToolbar::channelUp()
{
    const auto channel = currentChannel();
    setChannel (channel >= 0 ? juce::jmin (channel + 1, highestChannel()) : 1);
}

void TirrelToolbar::randomChannel()
{
    setChannel (1 + juce::Random::getSystemRandom().nextInt (highestChannel()));
}

void TirrelToolbar::autoChannel()
{
    setChannel (nextAutoChannel());
}

int TirrelToolbar::nextAutoChannel()
{
    // Shared by every instance in the process and never stored, so the numbers
    // start again at 1 whenever the host starts.
    static std::atomic<std::uint32_t> counter { 0 };
    return static_cast<int> (counter.fetch_add (1) % static_cast<std::uint32_t> (lastChannel)) + 1;
}

void TirrelToolbar::updateChannelLabel()
{
    const auto channel = currentChannel();
    const auto text = isStereo() ? "L" + juce::String (channel) + " R" + juce::String (channel + 1)
                                 : "CH " + juce::String (channel);
    channelLabel.setText (text, juce::dontSendNotification);
}

void TirrelToolbar::refreshChannelDisplay()
{
    if (meterState == nullptr)
    {
        if (lastStereo)
        {
            lastStereo = false;
            updateChannelLabel();
        }

        return;
    }

    const auto stereo = isStereo();

    if (stereo == lastStereo)
        return;

    lastStereo = stereo;

    if (stereo && currentChannel() >= lastChannel)
        setChannelParameter (lastStereoChannel);

    updateChannelLabel();
}
