#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "presets/PresetFile.h"
#include "processor/OrvaneChannelProcessor.h"
#include "unit/PresetTestSupport.h"

#include <csignal>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace presettest;

namespace
{
    class PresetFileTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                         .getNonexistentChildFile ("preset-file-test", {});
            ASSERT_TRUE (folder.createDirectory());
        }

        void TearDown() override
        {
            folder.setReadOnly (false, true);
            folder.deleteRecursively();
        }

        std::vector<juce::String> namesInFolder() const
        {
            std::vector<juce::String> names;
            for (const auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
                names.push_back (f.getFileName());
            std::sort (names.begin(), names.end());
            return names;
        }

        static std::string bytesOf (const juce::File& file)
        {
            juce::MemoryBlock block;
            file.loadFileAsData (block);
            return block.toString().toStdString();
        }

        juce::File folder;
    };

    // Lets writes grow a file to at most maxBytes; larger writes stop short with
    // EFBIG, as on a full disk, instead of the process being signalled.
    struct FileSizeLimit
    {
        explicit FileSizeLimit (rlim_t maxBytes)
        {
            previousHandler = std::signal (SIGXFSZ, SIG_IGN);
            getrlimit (RLIMIT_FSIZE, &previous);
            auto limited = previous;
            limited.rlim_cur = maxBytes;
            setrlimit (RLIMIT_FSIZE, &limited);
        }

        ~FileSizeLimit()
        {
            setrlimit (RLIMIT_FSIZE, &previous);
            std::signal (SIGXFSZ, previousHandler);
        }

        rlimit previous {};
        void (*previousHandler) (int) = nullptr;
    };

    // The file every parameter state with these values must produce: JUCE keeps
    // the "PARAM" children sorted by ID, each value written as a double.
    std::string expectedFileFor (const char* rootLine)
    {
        const char* lines[] = {
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
            "",
            rootLine,
            "  <PARAM id=\"bloomMode\" value=\"2.0\"/>",
            "  <PARAM id=\"compLink\" value=\"0.0\"/>",
            "  <PARAM id=\"compMakeup\" value=\"0.0\"/>",
            "  <PARAM id=\"compOn\" value=\"1.0\"/>",
            "  <PARAM id=\"compPreEq\" value=\"0.0\"/>",
            "  <PARAM id=\"compRelease\" value=\"200.0\"/>",
            "  <PARAM id=\"compScHpf\" value=\"0.0\"/>",
            "  <PARAM id=\"compThresh\" value=\"20.0\"/>",
            "  <PARAM id=\"eqOn\" value=\"1.0\"/>",
            "  <PARAM id=\"hfFreqHi\" value=\"0.0\"/>",
            "  <PARAM id=\"hfGain\" value=\"0.0\"/>",
            "  <PARAM id=\"hpfFreq\" value=\"90.0\"/>",
            "  <PARAM id=\"inputGain\" value=\"0.0\"/>",
            "  <PARAM id=\"lfFreqHi\" value=\"0.0\"/>",
            "  <PARAM id=\"lfGain\" value=\"0.0\"/>",
            "  <PARAM id=\"mfFreq\" value=\"1000.0\"/>",
            "  <PARAM id=\"mfGain\" value=\"-2.5\"/>",
            "  <PARAM id=\"monoMakerHz\" value=\"20.0\"/>",
            "  <PARAM id=\"osOffline\" value=\"0.0\"/>",
            "  <PARAM id=\"osRealtime\" value=\"1.0\"/>",
            "  <PARAM id=\"outputGain\" value=\"0.0\"/>",
            "  <PARAM id=\"polarity\" value=\"0.0\"/>",
            "  <PARAM id=\"silkTexture\" value=\"30.0\"/>",
            "  <PARAM id=\"stWidth\" value=\"100.0\"/>",
            "  <PARAM id=\"tmtChannel\" value=\"12.0\"/>",
            "  <PARAM id=\"vuCalibration\" value=\"0.0\"/>",
            "  <PARAM id=\"vuSource\" value=\"0.0\"/>",
            "</PARAMS>",
        };

        std::string text;
        for (const auto* line : lines)
            text += std::string (line) + "\r\n";
        return text;
    }

    void setKnownValues (OrvaneChannelProcessor& processor)
    {
        setValue (processor, "hpfFreq", 90.0f);
        setValue (processor, "mfGain", -2.5f);
        setValue (processor, "bloomMode", 2.0f);
        setValue (processor, "compOn", 1.0f);
        setValue (processor, "tmtChannel", 12.0f);
    }
}

TEST_F (PresetFileTest, FileBytesAreUtf8XmlWithCrLfAndNoByteOrderMark)
{
    {
        OrvaneChannelProcessor processor;
        setKnownValues (processor);
        const auto file = folder.getChildFile ("Known.orvanepreset");
        ASSERT_TRUE (PresetFile::write (processor.valueTreeState, file));
        EXPECT_EQ (bytesOf (file), expectedFileFor ("<PARAMS>"));
    }

    // After the host restored a state, the tree carries compactView on its root.
    {
        OrvaneChannelProcessor processor;
        processor.compactView = true;
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
        setKnownValues (processor);

        const auto file = folder.getChildFile ("Restored.orvanepreset");
        ASSERT_TRUE (PresetFile::write (processor.valueTreeState, file));
        EXPECT_EQ (bytesOf (file), expectedFileFor ("<PARAMS compactView=\"1\">"));
    }
}

TEST_F (PresetFileTest, LineEndingsBecomeCrLfWhateverTheTextHolds)
{
    const auto bytes = PresetFile::encode ("a\nb\r\nc\n");
    EXPECT_EQ (bytes.toString().toStdString(), "a\r\nb\r\nc\r\n");
}

TEST_F (PresetFileTest, WrittenFileRestoresEveryParameter)
{
    OrvaneChannelProcessor source;
    moveEverythingAway (source);
    const auto file = folder.getChildFile ("All.orvanepreset");
    ASSERT_TRUE (PresetFile::write (source.valueTreeState, file));

    OrvaneChannelProcessor target;
    ASSERT_TRUE (PresetFile::applyFile (target.valueTreeState, file));

    for (const auto& [id, defaultValue] : expectedDefaults())
    {
        // The gain-reduction meter is not part of the state, so it stays put.
        const auto expected = id == "compGrMeter" ? defaultValue : value (source, id);
        EXPECT_FLOAT_EQ (value (target, id), expected) << id;
    }
}

TEST_F (PresetFileTest, AppliedTextChangesOnlyWhatItValidlyNames)
{
    struct Case
    {
        const char* what;
        const char* text;
        std::map<std::string, float> expected;
    };

    const std::vector<Case> cases {
        { "lists only some parameters",
          R"(<PARAMS><PARAM id="mfGain" value="-3.5"/><PARAM id="tmtChannel" value="12"/></PARAMS>)",
          { { "mfGain", -3.5f }, { "tmtChannel", 12 }, { "silkTexture", 70 }, { "stWidth", 150 } } },
        { "a PARAM without value takes the default",
          R"(<PARAMS><PARAM id="silkTexture"/></PARAMS>)",
          { { "silkTexture", 30 }, { "mfGain", 5 } } },
        { "unknown and non-state ids are ignored",
          R"(<PARAMS><PARAM id="compGrMeter" value="20"/><PARAM id="nope" value="1"/></PARAMS>)",
          { { "compGrMeter", 0 }, { "mfGain", 5 }, { "silkTexture", 70 } } },
        { "non-finite values are ignored",
          R"(<PARAMS><PARAM id="silkTexture" value="nan"/><PARAM id="stWidth" value="-inf"/><PARAM id="mfGain" value="2"/></PARAMS>)",
          { { "silkTexture", 70 }, { "stWidth", 150 }, { "mfGain", 2 } } },
        { "values are clamped to the range",
          R"(<PARAMS><PARAM id="mfGain" value="99"/><PARAM id="stWidth" value="-5"/></PARAMS>)",
          { { "mfGain", 12 }, { "stWidth", 0 } } },
        { "the root tag is not checked",
          R"(<Something><PARAM id="mfGain" value="1.5"/></Something>)",
          { { "mfGain", 1.5f }, { "silkTexture", 70 } } },
        { "a file as written, with declaration and CRLF",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PARAMS>\r\n  <PARAM id=\"mfGain\" value=\"-1.0\"/>\r\n</PARAMS>\r\n",
          { { "mfGain", -1 }, { "silkTexture", 70 } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        OrvaneChannelProcessor processor;
        setValue (processor, "silkTexture", 70);
        setValue (processor, "mfGain", 5);
        setValue (processor, "stWidth", 150);

        EXPECT_TRUE (PresetFile::applyText (processor.valueTreeState, c.text));

        for (const auto& [id, plain] : c.expected)
            EXPECT_FLOAT_EQ (value (processor, id), plain) << id;
    }
}

TEST_F (PresetFileTest, UnparsableTextChangesNothing)
{
    OrvaneChannelProcessor writer;
    const auto whole = PresetFile::createText (writer.valueTreeState.copyState());

    const std::vector<juce::String> texts {
        "",
        "not xml at all",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
        R"(<PARAMS><PARAM id="mfGain" value="3"/>)",
        whole.substring (0, whole.length() / 2),
    };

    for (const auto& text : texts)
    {
        SCOPED_TRACE (text.toStdString());
        OrvaneChannelProcessor processor;
        moveEverythingAway (processor);
        const auto before = snapshot (processor);

        EXPECT_FALSE (PresetFile::applyText (processor.valueTreeState, text));
        EXPECT_EQ (snapshot (processor), before);
    }
}

TEST_F (PresetFileTest, TextThatIsNotValidUtf8ChangesNothingAndDoesNotCrash)
{
    // The first input made the framework's XML parser read past the end of its
    // buffer (found by fuzzing the preset loader); the second is a well-formed
    // preset with one byte that is not UTF-8.
    const std::vector<unsigned char> fuzzed { 0x3c, 0x3f, 0x78, 0x6d, 0x3c, 0x3f, 0x78, 0x6d, 0x6c, 0x20, 0x76, 0x65, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x72, 0x73, 0x69, 0x6f, 0x6e, 0x3d, 0x22, 0x3c, 0x3f, 0x78, 0x6d, 0x6c, 0x20, 0x76, 0x65, 0x72, 0x73, 0x69, 0x6f, 0x6e, 0x3d, 0x22, 0x31, 0x2e, 0x30, 0x22, 0x20, 0x65, 0x6e, 0x63, 0x6f, 0x64, 0x69, 0x6e, 0x67, 0x3d, 0x22, 0x55, 0x54, 0x46, 0x2d, 0x38, 0x20, 0x76, 0x65, 0x72, 0x73, 0x69, 0x6f, 0x6e, 0x3d, 0x22, 0x31, 0x2e, 0x30, 0x22, 0x20, 0x65, 0x6e, 0x63, 0x6f, 0x64, 0x69, 0x6e, 0x67, 0x3d, 0x22, 0x55, 0x54, 0x46, 0x2d, 0x38, 0x22, 0x3f, 0x3e, 0x0d, 0x0a, 0x0d, 0x0a, 0x3c, 0x50, 0x31, 0x2e, 0x30, 0x22, 0x20, 0x65 };
    const std::string wellFormed = "<PARAMS><PARAM id=\"mfGain\" value=\"3\"/>\xff</PARAMS>";

    const std::vector<juce::MemoryBlock> inputs {
        juce::MemoryBlock (fuzzed.data(), fuzzed.size()),
        juce::MemoryBlock (wellFormed.data(), wellFormed.size()),
    };

    for (const auto& bytes : inputs)
    {
        OrvaneChannelProcessor processor;
        const auto before = snapshot (processor);

        // Text handed over as raw bytes, as a caller reading a buffer would.
        const auto raw = juce::String (juce::CharPointer_UTF8 (static_cast<const char*> (bytes.getData())),
                                       juce::CharPointer_UTF8 (static_cast<const char*> (bytes.getData()) + bytes.getSize()));
        EXPECT_FALSE (PresetFile::applyText (processor.valueTreeState, raw));
        EXPECT_EQ (snapshot (processor), before);

        // A file on disk is decoded by the framework (as Windows-1252 when it is not
        // UTF-8), so the damaged header is simply not a preset.
        const auto file = folder.getChildFile ("damaged.orvanepreset");
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        if (&bytes == &inputs.front())
        {
            EXPECT_FALSE (PresetFile::applyFile (processor.valueTreeState, file));
            EXPECT_EQ (snapshot (processor), before);
        }
    }
}

TEST_F (PresetFileTest, DamagedFilesThatWouldHangTheParserAreRefused)
{
    // Found by fuzzing the preset loader: each of these kept the framework's XML
    // parser in an endless loop.
    const std::vector<juce::String> texts {
        "<PAN10__abiv>\r\n<?xe\"\"F-T8?>U",
        "<PARAMS><?x?>U</PARAMS>",
        "<?xml version=\"1.0\"?>\r\n<PARAMS><PARAM id=\"mfGain\" value=\"3\"/><?pi?>text</PARAMS>",
    };

    for (const auto& text : texts)
    {
        SCOPED_TRACE (text.toStdString());
        OrvaneChannelProcessor processor;
        const auto before = snapshot (processor);

        // Parse on another thread so that a regression shows as a failure, not a hung suite.
        auto done = std::make_shared<std::atomic<bool>> (false);
        auto applied = std::make_shared<std::atomic<bool>> (true);
        auto* state = &processor.valueTreeState;
        std::thread ([done, applied, state, text]
                     {
                         applied->store (PresetFile::applyText (*state, text));
                         done->store (true);
                     }).detach();

        const auto deadline = juce::Time::getMillisecondCounter() + 5000;
        while (! done->load() && juce::Time::getMillisecondCounter() < deadline)
            juce::Thread::sleep (5);

        if (! done->load())
        {
            ADD_FAILURE() << "the preset loader did not return within 5 s";
            std::_Exit (EXIT_FAILURE); // the parsing thread cannot be stopped
        }

        EXPECT_FALSE (applied->load());
        EXPECT_EQ (snapshot (processor), before);
    }

    // The declaration at the start is still fine.
    OrvaneChannelProcessor processor;
    EXPECT_TRUE (PresetFile::applyText (processor.valueTreeState,
                                        "\r\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<PARAMS><PARAM id=\"mfGain\" value=\"3\"/></PARAMS>"));
    EXPECT_FLOAT_EQ (processor.valueTreeState.getRawParameterValue ("mfGain")->load(), 3.0f);
}

TEST_F (PresetFileTest, StoredNamesAreSingleLegalFileNames)
{
    const auto utf8 = [] (const char* text) { return juce::String::fromUTF8 (text); };

    const std::vector<std::pair<juce::String, juce::String>> cases {
        { "My Vox", "My Vox" },
        { "  padded  ", "padded" },
        { "\t tabbed \n", "tabbed" },
        { "   ", "" },
        { "", "" },
        { "AC/DC", "AC-DC" },
        { "a/b", "a-b" },
        { "../x", "---x" },
        { "..\\x", "---x" },
        { "/etc/passwd", "-etc-passwd" },
        { "C:evil", "C-evil" },
        { "what?*", "what--" },
        { "<\"|>", "----" },
        { ".hidden", "-hidden" },
        { ".", "-" },
        { "..", "--" },
        { "v1.2 final.", "v1.2 final." },
        { "Tab\tinside", "Tab-inside" },
        { "a\x7f" "b", "a-b" },
        { "~", "~" },
        { utf8 (u8"Gr\u00f6\u00dfe \u2713"), utf8 (u8"Gr\u00f6\u00dfe \u2713") },
        // Cut to 200 bytes of UTF-8, never inside a character, then trimmed.
        { juce::String::repeatedString ("a", 300), juce::String::repeatedString ("a", 200) },
        { juce::String::repeatedString (utf8 (u8"\u00f6"), 150), juce::String::repeatedString (utf8 (u8"\u00f6"), 100) },
        { juce::String::repeatedString (utf8 (u8"\u20ac"), 100), juce::String::repeatedString (utf8 (u8"\u20ac"), 66) },
        { juce::String::repeatedString ("a", 199) + " b", juce::String::repeatedString ("a", 199) },
    };

    for (const auto& [typed, stored] : cases)
    {
        SCOPED_TRACE (typed.toStdString());
        EXPECT_EQ (PresetFile::storedNameFor (typed), stored);

        // Storing twice changes nothing more, and the file is a direct child.
        if (stored.isNotEmpty())
        {
            EXPECT_EQ (PresetFile::storedNameFor (stored), stored);
            EXPECT_EQ (PresetFile::fileFor (folder, stored).getParentDirectory(), folder);
            EXPECT_EQ (PresetFile::fileFor (folder, stored).getFileNameWithoutExtension(), stored);
        }
    }
}

TEST_F (PresetFileTest, ListingSkipsHiddenFilesFoldersAndOtherExtensions)
{
    for (const auto* name : { "A.orvanepreset", "B.orvanepreset", ".B_temp1a2b3c4d.orvanepreset", "notes.txt",
                              "A.orvanepreset.bak" })
        ASSERT_TRUE (folder.getChildFile (name).replaceWithText ("x"));

    ASSERT_TRUE (folder.getChildFile ("Folder.orvanepreset").createDirectory());
    ASSERT_TRUE (folder.getChildFile ("Sub").getChildFile ("C.orvanepreset").create());

    std::vector<juce::String> listed;
    for (const auto& file : PresetFile::listFolder (folder))
        listed.push_back (file.getFileName());
    std::sort (listed.begin(), listed.end());

    EXPECT_EQ (listed, (std::vector<juce::String> { "A.orvanepreset", "B.orvanepreset" }));
    EXPECT_TRUE (PresetFile::listFolder (folder.getChildFile ("missing")).isEmpty());
}

// A write that stops short (here a file-size limit, as with a full disk) must
// neither replace the old file nor leave anything behind.
TEST_F (PresetFileTest, FailedWriteLeavesTheExistingFileIntact)
{
    OrvaneChannelProcessor processor;
    const auto target = folder.getChildFile ("Keep.orvanepreset");
    ASSERT_TRUE (PresetFile::write (processor.valueTreeState, target));
    const auto original = bytesOf (target);

    setValue (processor, "mfGain", 6.0f);
    const auto newBytes = PresetFile::encode (PresetFile::createText (processor.valueTreeState.copyState()));
    ASSERT_GT (newBytes.getSize(), 200u);

    bool written = true;
    {
        const FileSizeLimit limit (200);
        written = PresetFile::replaceWithBytes (target, newBytes);
    }

    EXPECT_FALSE (written);
    EXPECT_EQ (bytesOf (target), original);
    EXPECT_EQ (namesInFolder(), (std::vector<juce::String> { "Keep.orvanepreset" }));

    // With room again the same write goes through.
    EXPECT_TRUE (PresetFile::replaceWithBytes (target, newBytes));
    EXPECT_EQ (bytesOf (target), newBytes.toString().toStdString());
}

TEST_F (PresetFileTest, WriteIntoAReadOnlyFolderFailsAndKeepsTheFile)
{
    OrvaneChannelProcessor processor;
    const auto target = folder.getChildFile ("Keep.orvanepreset");
    ASSERT_TRUE (PresetFile::write (processor.valueTreeState, target));
    const auto original = bytesOf (target);

    ASSERT_TRUE (folder.setReadOnly (true));
    if (folder.getChildFile ("probe").create())
        GTEST_SKIP() << "permissions are not enforced for this user";

    setValue (processor, "mfGain", 6.0f);
    EXPECT_FALSE (PresetFile::write (processor.valueTreeState, target));
    EXPECT_EQ (bytesOf (target), original);
}

TEST (PresetFolder, LivesInThePrivateTestHomeNotTheRealOne)
{
    const auto folder = PresetFile::defaultFolder();
    const auto home = juce::File (juce::SystemStats::getEnvironmentVariable ("HOME", {}));

    EXPECT_TRUE (home.getFileName().startsWith ("orvane-test-home-"));
    EXPECT_TRUE (folder.isAChildOf (home));
    EXPECT_TRUE (folder.getFullPathName().endsWith ("/TIRREL Audio/Orvane Channel/Presets"));

    if (const auto* account = getpwuid (getuid()))
        EXPECT_FALSE (folder.isAChildOf (juce::File (account->pw_dir)));
}
