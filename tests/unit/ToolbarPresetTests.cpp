#include <gtest/gtest.h>

#include "presets/PresetFile.h"
#include "presets/TirrelToolbar.h"
#include "processor/OrvaneChannelProcessor.h"
#include "unit/PresetTestSupport.h"

using namespace presettest;

namespace
{
    // Children in the order the toolbar adds (and draws) them.
    enum Child
    {
        previousPreset, nextPreset, presetMenu, save, saveAs, reset, options, advanced,
        channelDown, channelUp, randomChannel, autoChannel, channelLabel, nameEditor, confirm, cancel,
        numChildren
    };

    class ToolbarPresets : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            folder().deleteRecursively();
            makeToolbar();
        }

        void TearDown() override
        {
            toolbar.reset();
            folder().deleteRecursively();
        }

        static juce::File folder() { return PresetFile::defaultFolder(); }

        void makeToolbar()
        {
            toolbar = std::make_unique<TirrelToolbar> (processor.valueTreeState, processor, processor.meterState);
        }

        template <typename Type>
        Type& child (Child index)
        {
            auto* component = dynamic_cast<Type*> (toolbar->getChildComponent (index));
            EXPECT_NE (component, nullptr) << "child " << index;
            return *component;
        }

        void click (Child index) { child<juce::Button> (index).onClick(); }

        juce::String presetButtonText() { return child<juce::TextButton> (presetMenu).getButtonText(); }

        int indexOfUser (const juce::String& name)
        {
            const auto& entries = toolbar->getEntries();
            for (size_t i = 0; i < entries.size(); ++i)
                if (entries[i].isUser && entries[i].name == name)
                    return static_cast<int> (i);
            return -1;
        }

        void writeFile (const juce::String& name, const juce::String& text)
        {
            ASSERT_TRUE (folder().createDirectory());
            ASSERT_TRUE (folder().getChildFile (name + ".orvanepreset").replaceWithText (text));
        }

        OrvaneChannelProcessor processor;
        std::unique_ptr<TirrelToolbar> toolbar;
    };
}

TEST_F (ToolbarPresets, ChildrenComeInDrawingOrderWithTheirTexts)
{
    struct Expected
    {
        Child index;
        const char* text;
        bool visible;
        bool compact;
        const char* tooltip;
    };

    const std::vector<Expected> table {
        { previousPreset, "<", true, false, "" },
        { nextPreset, ">", true, false, "" },
        { presetMenu, "(no preset)", true, false, "" },
        { save, "SAVE", true, true, "" },
        { saveAs, "SAVE AS", true, true, "" },
        { reset, "RESET", true, true, "" },
        { options, "", true, false, "Options" },
        { advanced, "", true, false, "Advanced Mode: show/hide the upper display rack" },
        { channelDown, "<", true, true, "" },
        { channelUp, ">", true, true, "" },
        { randomChannel, "RAND", true, true, "Assign a random channel to this instance" },
        { autoChannel, "AUTO", true, true, "Auto-assign the next channel number" },
        { confirm, "OK", false, false, "" },
        { cancel, "X", false, false, "" },
    };

    ASSERT_EQ (toolbar->getNumChildComponents(), static_cast<int> (numChildren));

    for (const auto& e : table)
    {
        SCOPED_TRACE (e.index);
        auto& button = child<juce::Button> (e.index);
        EXPECT_EQ (button.getButtonText(), e.text);
        EXPECT_EQ (button.isVisible(), e.visible);
        EXPECT_EQ (static_cast<bool> (button.getProperties()["compact"]), e.compact);
        EXPECT_EQ (button.getTooltip(), e.tooltip);
    }

    EXPECT_NE (dynamic_cast<MenuButton*> (toolbar->getChildComponent (options)), nullptr);
    EXPECT_NE (dynamic_cast<AdvancedButton*> (toolbar->getChildComponent (advanced)), nullptr);

    auto& label = child<juce::Label> (channelLabel);
    EXPECT_EQ (label.getText(), "CH 1"); // mono until the first audio block says otherwise
    EXPECT_EQ (label.getTooltip(), "Analog channel (component-tolerance variation)");
    EXPECT_EQ (label.getJustificationType(), juce::Justification::centred);

    auto& editor = child<juce::TextEditor> (nameEditor);
    EXPECT_FALSE (editor.isVisible());
    EXPECT_EQ (editor.getTextToShowWhenEmpty(), "New preset name...");
}

TEST_F (ToolbarPresets, AdvancedButtonCallsTheEditorsHookWhenSet)
{
    click (advanced); // no hook yet: nothing happens

    int calls = 0;
    toolbar->onAdvancedToggle = [&calls] { ++calls; };
    click (advanced);
    EXPECT_EQ (calls, 1);
}

TEST_F (ToolbarPresets, ListStartsWithTheFactoryPresets)
{
    const auto& entries = toolbar->getEntries();
    const auto& expected = expectedFactoryPresets();
    ASSERT_EQ (entries.size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ (entries[i].name, juce::String (expected[i].name));
        EXPECT_EQ (entries[i].category, juce::String (expected[i].category));
        EXPECT_EQ (entries[i].factoryIndex, static_cast<int> (i));
        EXPECT_FALSE (entries[i].isUser);
        EXPECT_TRUE (entries[i].content.isEmpty());
    }

    EXPECT_EQ (toolbar->getCurrentIndex(), -1);
    EXPECT_EQ (toolbar->getCurrentName(), "");
    EXPECT_FALSE (folder().exists()); // listing does not create the folder
}

TEST_F (ToolbarPresets, SaveOverwriteAndReload)
{
    setValue (processor, "mfGain", 4.0f);
    EXPECT_TRUE (toolbar->writePreset ("My Vox"));

    const auto file = folder().getChildFile ("My Vox.orvanepreset");
    ASSERT_TRUE (file.existsAsFile());
    ASSERT_EQ (toolbar->getEntries().size(), 22u);

    const auto& entry = toolbar->getEntries()[21];
    EXPECT_EQ (entry.name, "My Vox");
    EXPECT_EQ (entry.category, "User");
    EXPECT_TRUE (entry.isUser);
    EXPECT_EQ (entry.factoryIndex, -1);
    EXPECT_EQ (entry.content, file.loadFileAsString());
    EXPECT_EQ (toolbar->getCurrentIndex(), 21);
    EXPECT_EQ (toolbar->getCurrentName(), "My Vox");
    EXPECT_EQ (presetButtonText(), "My Vox");

    // Same name again: the file is replaced and listed once.
    setValue (processor, "mfGain", -7.0f);
    EXPECT_TRUE (toolbar->writePreset ("My Vox"));
    EXPECT_EQ (toolbar->getEntries().size(), 22u);
    EXPECT_EQ (indexOfUser ("My Vox"), 21);

    setValue (processor, "mfGain", 0.0f);
    toolbar->loadEntry (21);
    EXPECT_FLOAT_EQ (value (processor, "mfGain"), -7.0f);

    // A new toolbar (the editor opened again) finds the file on disk.
    makeToolbar();
    EXPECT_EQ (toolbar->getEntries().size(), 22u);
    EXPECT_EQ (indexOfUser ("My Vox"), 21);
    EXPECT_EQ (toolbar->getCurrentIndex(), -1);
}

TEST_F (ToolbarPresets, FilesWrittenElsewhereAppearOnlyAfterTheNextReload)
{
    writeFile ("Outside", R"(<PARAMS><PARAM id="mfGain" value="3"/></PARAMS>)");
    EXPECT_EQ (toolbar->getEntries().size(), 21u);

    toolbar->reload();
    EXPECT_EQ (indexOfUser ("Outside"), 21);
}

TEST_F (ToolbarPresets, UserKickSitsBesideTheFactoryKick)
{
    EXPECT_TRUE (toolbar->writePreset ("Kick"));

    const auto& entries = toolbar->getEntries();
    ASSERT_EQ (entries.size(), 22u);
    EXPECT_EQ (entries[6].name, "Kick");
    EXPECT_FALSE (entries[6].isUser);
    EXPECT_EQ (entries[21].name, "Kick");
    EXPECT_TRUE (entries[21].isUser);
    EXPECT_EQ (toolbar->getCurrentIndex(), 21);
}

TEST_F (ToolbarPresets, NamingSavesTheTrimmedNameAndAlwaysEnds)
{
    struct Case
    {
        const char* typed;
        const char* saved; // nullptr: nothing is saved
        bool useReturnKey;
    };

    const std::vector<Case> cases {
        { "  Bass Take 2  ", "Bass Take 2", false },
        { "\tPad\t", "Pad", true },
        { "    ", nullptr, false },
        { "", nullptr, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.typed);
        const auto entriesBefore = toolbar->getEntries().size();
        const auto nameBefore = toolbar->getCurrentName();

        click (saveAs);
        ASSERT_TRUE (toolbar->isNaming());
        EXPECT_TRUE (child<juce::TextEditor> (nameEditor).isVisible());
        EXPECT_TRUE (child<juce::Button> (confirm).isVisible());
        EXPECT_TRUE (child<juce::Button> (cancel).isVisible());
        EXPECT_FALSE (child<juce::Button> (save).isVisible());
        EXPECT_FALSE (child<juce::Button> (saveAs).isVisible());

        auto& editor = child<juce::TextEditor> (nameEditor);
        editor.setText (c.typed);

        if (c.useReturnKey)
            editor.onReturnKey();
        else
            click (confirm);

        EXPECT_FALSE (toolbar->isNaming());
        EXPECT_FALSE (editor.isVisible());
        EXPECT_TRUE (child<juce::Button> (save).isVisible());
        EXPECT_TRUE (child<juce::Button> (saveAs).isVisible());

        if (c.saved != nullptr)
        {
            EXPECT_TRUE (folder().getChildFile (juce::String (c.saved) + ".orvanepreset").existsAsFile());
            EXPECT_EQ (toolbar->getEntries().size(), entriesBefore + 1);
            EXPECT_EQ (toolbar->getCurrentName(), c.saved);
        }
        else
        {
            EXPECT_EQ (toolbar->getEntries().size(), entriesBefore);
            EXPECT_EQ (toolbar->getCurrentName(), nameBefore);
        }
    }

    // Only the two named presets exist.
    EXPECT_EQ (PresetFile::listFolder (folder()).size(), 2);
}

TEST_F (ToolbarPresets, CancelLeavesNamingWithoutSaving)
{
    for (const auto useEscape : { false, true })
    {
        click (saveAs);
        child<juce::TextEditor> (nameEditor).setText ("Never");

        if (useEscape)
            child<juce::TextEditor> (nameEditor).onEscapeKey();
        else
            click (cancel);

        EXPECT_FALSE (toolbar->isNaming());
        EXPECT_TRUE (child<juce::Button> (save).isVisible());
        EXPECT_FALSE (folder().exists());
        EXPECT_EQ (toolbar->getEntries().size(), 21u);
    }
}

TEST_F (ToolbarPresets, SaveNamesAFactoryPresetButOverwritesAUserPreset)
{
    toolbar->loadEntry (6);
    click (save);
    EXPECT_TRUE (toolbar->isNaming());
    EXPECT_EQ (child<juce::TextEditor> (nameEditor).getText(), "Kick");
    click (cancel);

    ASSERT_TRUE (toolbar->writePreset ("Mine"));
    toolbar->loadEntry (indexOfUser ("Mine"));
    setValue (processor, "stWidth", 175.0f);

    click (save);
    EXPECT_FALSE (toolbar->isNaming());

    OrvaneChannelProcessor check;
    ASSERT_TRUE (PresetFile::applyFile (check.valueTreeState, folder().getChildFile ("Mine.orvanepreset")));
    EXPECT_FLOAT_EQ (value (check, "stWidth"), 175.0f);
}

TEST_F (ToolbarPresets, UserPresetKeepsWhatItDoesNotListAndRestoresTheChannel)
{
    writeFile ("Partial", R"(<PARAMS compactView="1"><PARAM id="mfGain" value="-3.5"/><PARAM id="tmtChannel" value="12"/></PARAMS>)");
    toolbar->reload();

    setValue (processor, "silkTexture", 70.0f);
    setValue (processor, "tmtChannel", 40.0f);
    toolbar->loadEntry (indexOfUser ("Partial"));

    EXPECT_FLOAT_EQ (value (processor, "mfGain"), -3.5f);
    EXPECT_FLOAT_EQ (value (processor, "tmtChannel"), 12.0f);
    EXPECT_FLOAT_EQ (value (processor, "silkTexture"), 70.0f);
    EXPECT_FALSE (processor.compactView);
    EXPECT_EQ (toolbar->getCurrentName(), "Partial");
}

TEST_F (ToolbarPresets, UnreadableFilesAreListedSelectableAndChangeNothing)
{
    OrvaneChannelProcessor writer;
    const auto whole = PresetFile::createText (writer.valueTreeState.copyState());

    writeFile ("Garbage", "this is not xml");
    writeFile ("Cut", whole.substring (0, whole.length() / 2));
    writeFile ("Empty", "");
    toolbar->reload();
    ASSERT_EQ (toolbar->getEntries().size(), 24u);

    moveEverythingAway (processor);
    const auto before = snapshot (processor);

    for (const auto* name : { "Garbage", "Cut", "Empty" })
    {
        SCOPED_TRACE (name);
        const auto index = indexOfUser (name);
        ASSERT_GE (index, 21);

        toolbar->loadEntry (index);
        EXPECT_EQ (snapshot (processor), before);
        EXPECT_EQ (toolbar->getCurrentIndex(), index);
        EXPECT_EQ (toolbar->getCurrentName(), name);
        EXPECT_EQ (presetButtonText(), name);
    }
}

TEST_F (ToolbarPresets, LoadEntryOutsideTheListChangesNothingAtAll)
{
    ASSERT_TRUE (toolbar->writePreset ("Mine"));
    toolbar->loadEntry (3);
    moveEverythingAway (processor);
    const auto before = snapshot (processor);

    for (const auto index : { -1, static_cast<int> (toolbar->getEntries().size()), 1000 })
    {
        SCOPED_TRACE (index);
        HostRecorder recorder (processor);
        toolbar->loadEntry (index);

        EXPECT_EQ (snapshot (processor), before);
        EXPECT_TRUE (recorder.changed.empty());
        EXPECT_EQ (toolbar->getCurrentIndex(), 3);
        EXPECT_EQ (toolbar->getCurrentName(), "Vocal Sparkle");
        EXPECT_EQ (presetButtonText(), "Vocal Sparkle");
    }
}

TEST_F (ToolbarPresets, PreviousAndNextWrapAroundTheList)
{
    click (nextPreset);
    EXPECT_EQ (toolbar->getCurrentIndex(), 0);
    EXPECT_EQ (toolbar->getCurrentName(), "Init");

    click (previousPreset);
    EXPECT_EQ (toolbar->getCurrentIndex(), 20);
    EXPECT_EQ (toolbar->getCurrentName(), "Air Lift");

    click (nextPreset);
    EXPECT_EQ (toolbar->getCurrentIndex(), 0);

    // Previous with no current preset starts at the first entry as well.
    click (reset);
    click (previousPreset);
    EXPECT_EQ (toolbar->getCurrentIndex(), 0);

    // A user preset extends the ring.
    ASSERT_TRUE (toolbar->writePreset ("Mine"));
    toolbar->loadEntry (0);
    click (previousPreset);
    EXPECT_EQ (toolbar->getCurrentName(), "Mine");
    click (nextPreset);
    EXPECT_EQ (toolbar->getCurrentName(), "Init");
}

TEST_F (ToolbarPresets, ResetAndInitGiveTheSameDefaults)
{
    moveEverythingAway (processor);
    toolbar->loadEntry (0);
    const auto afterInit = snapshot (processor);
    EXPECT_EQ (toolbar->getCurrentIndex(), 0);

    moveEverythingAway (processor);
    HostRecorder recorder (processor);
    click (reset);
    EXPECT_EQ (snapshot (processor), afterInit);
    EXPECT_EQ (toolbar->getCurrentIndex(), -1);
    EXPECT_EQ (toolbar->getCurrentName(), "Init");
    EXPECT_EQ (presetButtonText(), "Init");

    for (const auto& [id, plain] : expectedDefaults())
        EXPECT_FLOAT_EQ (value (processor, id), plain) << id;

    for (int i = 0; i < processor.getParameters().size(); ++i)
        EXPECT_TRUE (recorder.saw (i)) << i;

    click (nextPreset);
    EXPECT_EQ (toolbar->getCurrentIndex(), 0);
}

// Odd names are stored under a legal name inside the preset folder, and the
// preset is listed, current and loadable under that name.
TEST_F (ToolbarPresets, OddNamesStayInsideThePresetFolder)
{
    const std::vector<std::pair<const char*, const char*>> cases {
        { "AC/DC", "AC-DC" },
        { "../escape", "---escape" },
        { "sub/dir/name", "sub-dir-name" },
        { "..", "--" },
        { "Take 1: Vox?", "Take 1- Vox-" },
        { ".hidden", "-hidden" },
        { "~", "~" },
        { "~root", "~root" },
    };

    float gain = 1.0f;

    for (const auto& [typed, stored] : cases)
    {
        SCOPED_TRACE (typed);
        setValue (processor, "mfGain", gain);
        EXPECT_TRUE (toolbar->writePreset (typed));

        const auto file = juce::File (folder().getFullPathName() + "/" + stored + ".orvanepreset");
        EXPECT_TRUE (file.existsAsFile());
        EXPECT_FALSE (juce::File::getCurrentWorkingDirectory().getChildFile ("./" + juce::String (stored) + ".orvanepreset").exists());
        EXPECT_EQ (toolbar->getCurrentName(), stored);

        const auto index = indexOfUser (stored);
        EXPECT_EQ (toolbar->getCurrentIndex(), index);

        setValue (processor, "mfGain", 0.0f);
        toolbar->loadEntry (index);
        EXPECT_FLOAT_EQ (value (processor, "mfGain"), gain);
        gain += 1.0f;
    }

    // Nothing was created beside or above the preset folder.
    EXPECT_EQ (folder().getParentDirectory().findChildFiles (juce::File::findFilesAndDirectories, false, "*").size(), 1);
    EXPECT_EQ (folder().findChildFiles (juce::File::findFilesAndDirectories, true, "*").size(),
               static_cast<int> (cases.size()));
    EXPECT_EQ (toolbar->getEntries().size(), 21u + cases.size());
}

TEST_F (ToolbarPresets, LongNameIsCutAndStillSaved)
{
    const auto typed = juce::String::repeatedString ("Long", 100);
    EXPECT_TRUE (toolbar->writePreset (typed));

    const auto stored = typed.substring (0, PresetFile::maximumStemBytes);
    EXPECT_EQ (toolbar->getCurrentName(), stored);
    EXPECT_EQ (toolbar->getCurrentIndex(), indexOfUser (stored));
    EXPECT_TRUE (folder().getChildFile (stored + ".orvanepreset").existsAsFile());
}

TEST_F (ToolbarPresets, FailedWriteKeepsTheIndexAndShowsTheName)
{
    toolbar->loadEntry (5);

    // A plain file where the preset folder should be: nothing can be written.
    ASSERT_TRUE (folder().getParentDirectory().createDirectory());
    ASSERT_TRUE (folder().replaceWithText ("in the way"));

    EXPECT_FALSE (toolbar->writePreset ("New One"));
    EXPECT_EQ (toolbar->getEntries().size(), 21u);
    EXPECT_EQ (toolbar->getCurrentIndex(), 5);
    EXPECT_EQ (toolbar->getCurrentName(), "New One");
    EXPECT_EQ (presetButtonText(), "New One");
    EXPECT_EQ (folder().loadFileAsString(), "in the way");
}
