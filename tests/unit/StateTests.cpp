#include <gtest/gtest.h>

#include "processor/OrvaneChannelProcessor.h"

#include <limits>
#include <random>

namespace
{
    float valueOf (OrvaneChannelProcessor& p, const char* id)
    {
        return p.valueTreeState.getRawParameterValue (id)->load();
    }

    void setValue (OrvaneChannelProcessor& p, const char* id, float plain)
    {
        auto* param = p.valueTreeState.getParameter (id);
        param->setValueNotifyingHost (param->convertTo0to1 (plain));
    }

    juce::MemoryBlock saveState (OrvaneChannelProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return block;
    }

    std::vector<float> allValues (OrvaneChannelProcessor& p)
    {
        std::vector<float> values;
        for (auto* param : p.getParameters())
            values.push_back (param->getValue());
        return values;
    }

    // A state block as the framework writes it, built by hand so that the tests
    // do not depend on the processor's own writer.
    juce::MemoryBlock blockOf (const juce::ValueTree& tree)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        tree.writeToStream (out);
        out.flush();
        return block;
    }

    juce::ValueTree paramChild (const char* id, const juce::var& value)
    {
        juce::ValueTree child ("PARAM");
        child.setProperty ("id", id, nullptr);
        if (! value.isVoid())
            child.setProperty ("value", value, nullptr);
        return child;
    }
}

TEST (State, RoundTripsEveryParameterAndCompactView)
{
    OrvaneChannelProcessor source;
    // Every layout parameter away from its default, at a value on its grid.
    std::mt19937 rng (1234);
    for (auto* param : source.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (param);
        if (ranged->getParameterID() == "compGrMeter")
            continue;
        const auto& range = ranged->getNormalisableRange();
        auto plain = range.snapToLegalValue (range.convertFrom0to1 (std::uniform_real_distribution<float> (0.05f, 0.95f) (rng)));
        if (std::abs (plain - range.convertFrom0to1 (ranged->getDefaultValue())) < 1.0e-3f)
            plain = range.end;
        ranged->setValueNotifyingHost (range.convertTo0to1 (plain));
    }
    source.compactView = true;
    const auto block = saveState (source);

    OrvaneChannelProcessor restored;
    restored.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
    EXPECT_TRUE (restored.compactView);

    for (auto* param : source.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (param);
        if (ranged->getParameterID() == "compGrMeter")
            continue;
        SCOPED_TRACE (ranged->getParameterID());
        EXPECT_NE (ranged->getValue(), ranged->getDefaultValue());
        EXPECT_FLOAT_EQ (restored.valueTreeState.getParameter (ranged->getParameterID())->getValue(), ranged->getValue());
    }

    // Saving again gives the identical bytes.
    EXPECT_EQ (saveState (restored), block);
}

TEST (State, BlockIsTheParamsTreeWithCompactView)
{
    OrvaneChannelProcessor p;
    setValue (p, "mfGain", 3.5f);
    const auto block = saveState (p);
    const auto tree = juce::ValueTree::readFromData (block.getData(), block.getSize());

    ASSERT_TRUE (tree.isValid());
    EXPECT_EQ (tree.getType().toString(), "PARAMS");
    EXPECT_TRUE (tree.hasProperty ("compactView"));
    EXPECT_FALSE (static_cast<bool> (tree["compactView"]));
    EXPECT_EQ (tree.getNumChildren(), 27);

    bool found = false;
    for (const auto& child : tree)
    {
        EXPECT_EQ (child.getType().toString(), "PARAM");
        EXPECT_NE (child["id"].toString(), "compGrMeter");
        if (child["id"].toString() == "mfGain")
        {
            found = true;
            EXPECT_NEAR (static_cast<float> (child["value"]), 3.5f, 1.0e-5);
        }
    }
    EXPECT_TRUE (found);
}

TEST (State, AppendsAfterExistingData)
{
    OrvaneChannelProcessor p;
    const auto alone = saveState (p);

    const char prefix[] = "host-data";
    juce::MemoryBlock block (prefix, sizeof (prefix));
    p.getStateInformation (block);

    ASSERT_EQ (block.getSize(), sizeof (prefix) + alone.getSize());
    EXPECT_EQ (std::memcmp (block.getData(), prefix, sizeof (prefix)), 0);
    EXPECT_EQ (std::memcmp (static_cast<const char*> (block.getData()) + sizeof (prefix), alone.getData(), alone.getSize()), 0);
}

TEST (State, PartialTreesChangeOnlyWhatTheyName)
{
    struct Case
    {
        const char* what;
        juce::ValueTree tree;
        float expectedMfGain;     // mfGain starts at 5
        float expectedHpf;        // hpfFreq starts at 100
        bool expectedCompact;     // compactView starts true
    };

    juce::ValueTree noCompact ("PARAMS");
    noCompact.appendChild (paramChild ("mfGain", -4.0f), nullptr);

    juce::ValueTree noValue ("PARAMS");
    noValue.setProperty ("compactView", true, nullptr);
    noValue.appendChild (paramChild ("mfGain", {}), nullptr);

    juce::ValueTree otherType ("SOMETHING_ELSE");
    otherType.appendChild (paramChild ("hpfFreq", 150.0f), nullptr);

    juce::ValueTree unknownIds ("PARAMS");
    unknownIds.setProperty ("compactView", true, nullptr);
    unknownIds.appendChild (paramChild ("noSuchParameter", 1.0f), nullptr);

    juce::ValueTree notFinite ("PARAMS");
    notFinite.setProperty ("compactView", true, nullptr);
    notFinite.appendChild (paramChild ("mfGain", std::numeric_limits<double>::quiet_NaN()), nullptr);
    notFinite.appendChild (paramChild ("hpfFreq", std::numeric_limits<double>::infinity()), nullptr);

    const std::vector<Case> cases {
        { "missing compactView and children", noCompact, -4.0f, 100.0f, false },
        { "values that are not finite are ignored", notFinite, 5.0f, 100.0f, true },
        { "child without value resets to default", noValue, 0.0f, 100.0f, true },
        { "tree of another type", otherType, 5.0f, 150.0f, false },
        { "unknown ids are ignored", unknownIds, 5.0f, 100.0f, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        OrvaneChannelProcessor p;
        setValue (p, "mfGain", 5.0f);
        setValue (p, "hpfFreq", 100.0f);
        p.compactView = true;

        const auto block = blockOf (c.tree);
        p.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

        EXPECT_NEAR (valueOf (p, "mfGain"), c.expectedMfGain, 1.0e-4);
        EXPECT_NEAR (valueOf (p, "hpfFreq"), c.expectedHpf, 1.0e-3);
        EXPECT_EQ (p.compactView, c.expectedCompact);
    }
}

TEST (State, UnreadableBlocksChangeNothing)
{
    OrvaneChannelProcessor reference;
    const auto good = saveState (reference);

    std::vector<std::pair<std::string, juce::MemoryBlock>> blocks;
    blocks.emplace_back ("zero bytes", juce::MemoryBlock());
    blocks.emplace_back ("a zero byte", juce::MemoryBlock (1, true));

    const char text[] = "this is not a state block at all";
    blocks.emplace_back ("text without terminator", juce::MemoryBlock (text, sizeof (text) - 1));

    std::mt19937 rng (99);
    juce::MemoryBlock noise (4096);
    for (size_t i = 0; i < noise.getSize(); ++i)
        noise[i] = static_cast<char> (rng());
    blocks.emplace_back ("random bytes", noise);

    // Truncations of a real block: each is an incomplete tree.
    for (size_t cut : { good.getSize() / 3, good.getSize() / 2, good.getSize() - 1 })
        blocks.emplace_back ("truncated at " + std::to_string (cut), juce::MemoryBlock (good.getData(), cut));

    // A header that claims two billion children.
    juce::MemoryOutputStream hostile;
    hostile.writeString ("PARAMS");
    hostile.writeCompressedInt (0);
    hostile.writeCompressedInt (0x7fffffff);
    blocks.emplace_back ("absurd child count", hostile.getMemoryBlock());

    // A property holding a binary blob that claims to be 2 GB long.
    juce::MemoryOutputStream bigBlob;
    bigBlob.writeString ("PARAMS");
    bigBlob.writeCompressedInt (1);
    bigBlob.writeString ("compactView");
    bigBlob.writeCompressedInt (0x7fffffff);
    bigBlob.writeByte (8);
    blocks.emplace_back ("absurd binary length", bigBlob.getMemoryBlock());

    // Deep nesting that would exhaust the stack of a recursive reader.
    juce::MemoryOutputStream deep;
    for (int i = 0; i < 100000; ++i)
    {
        deep.writeString ("T");
        deep.writeCompressedInt (0);
        deep.writeCompressedInt (1);
    }
    blocks.emplace_back ("deeply nested", deep.getMemoryBlock());

    for (const auto& [what, block] : blocks)
    {
        SCOPED_TRACE (what);
        OrvaneChannelProcessor p;
        setValue (p, "lfGain", 7.0f);
        setValue (p, "tmtChannel", 40.0f);
        p.compactView = true;
        const auto before = allValues (p);
        const auto stateBefore = saveState (p);

        p.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

        EXPECT_EQ (allValues (p), before);
        EXPECT_TRUE (p.compactView);
        EXPECT_EQ (saveState (p), stateBefore);
    }
}

TEST (State, TextThatIsNotUtf8IsRefusedSoStatesSaveBackIdentically)
{
    // Found by fuzzing setStateInformation: a well-formed tree whose names hold bytes
    // that are not UTF-8. Accepting it gave a state that saved to different bytes
    // after every restore.
    const std::vector<unsigned char> fuzzed { 0x48, 0x45, 0x52, 0x00, 0x01, 0x01, 0x78, 0x01, 0x01, 0x78, 0x00, 0x01, 0x05, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01, 0x50, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x26, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0xc9, 0x54, 0x48, 0x4f, 0x54, 0x48, 0x45, 0x52, 0x00, 0x01, 0x01, 0x48, 0x00, 0x01, 0x05, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01, 0x50, 0x41, 0x52, 0x41, 0x4d, 0x69, 0x64, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x73, 0x45, 0x52, 0x00, 0x01, 0x01, 0x78, 0x00, 0x01, 0x05, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01, 0x50, 0x41, 0x52, 0x41, 0x4d, 0x00, 0x01, 0x02, 0x69, 0x64, 0x00, 0x01, 0x09, 0x05, 0x68, 0x70, 0x66, 0x46, 0x72, 0x65, 0x71, 0x00, 0x76, 0x4f, 0xff, 0xff, 0x60, 0x00, 0x01, 0x21, 0x17, 0x40, 0x54, 0x48, 0x45, 0x52, 0x00, 0x01, 0x61, 0x63, 0x74, 0x56, 0x69, 0x65, 0x67, 0x00, 0x01, 0x01, 0x02, 0x01, 0x02, 0x50, 0x41, 0x52, 0x41, 0x64, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x73, 0x45, 0x52, 0x00, 0x01, 0x01, 0x78, 0x00, 0x01, 0x05, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01, 0x50, 0x41, 0x52, 0x46, 0x4d, 0x00, 0x01, 0x02, 0x69, 0x64, 0x00, 0x01, 0x09, 0x05, 0x68, 0x70, 0x66, 0x46, 0x72, 0x72, 0x65, 0x71, 0x00, 0x76, 0x61, 0x6c, 0x75, 0x65, 0x00, 0x01, 0x09, 0x04, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x45, 0x45, 0x50, 0x50, 0x54, 0x48, 0x00, 0x45, 0x00, 0x5e, 0x45, 0x40, 0x00 };

    OrvaneChannelProcessor p;
    setValue (p, "mfGain", 2.0f);
    const auto before = saveState (p);

    p.setStateInformation (fuzzed.data(), static_cast<int> (fuzzed.size()));
    const auto once = saveState (p);
    p.setStateInformation (once.getData(), static_cast<int> (once.getSize()));
    EXPECT_EQ (saveState (p), once);
    EXPECT_EQ (once, before);

    // A string property with an invalid byte, in an otherwise ordinary state.
    juce::MemoryOutputStream bad;
    bad.writeString ("PARAMS");
    bad.writeCompressedInt (1);
    bad.writeString ("note");
    const char text[] = { 'a', static_cast<char> (0xff), 'b', 0 };
    bad.writeCompressedInt (static_cast<int> (sizeof (text)) + 1);
    bad.writeByte (5); // string marker
    bad.write (text, sizeof (text));
    bad.writeCompressedInt (0);
    p.setStateInformation (bad.getData(), static_cast<int> (bad.getDataSize()));
    EXPECT_EQ (saveState (p), before);
}

TEST (State, TrailingBytesAfterATreeAreIgnored)
{
    OrvaneChannelProcessor source;
    setValue (source, "compRelease", 321.0f);
    auto block = saveState (source);
    block.append ("junk", 4);

    OrvaneChannelProcessor restored;
    restored.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
    EXPECT_NEAR (valueOf (restored, "compRelease"), 321.0f, 1.0e-3);
}
