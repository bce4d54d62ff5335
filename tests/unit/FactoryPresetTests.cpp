#include <gtest/gtest.h>

#include "presets/FactoryPresets.h"
#include "processor/OrvaneChannelProcessor.h"
#include "unit/PresetTestSupport.h"

using namespace presettest;

TEST (FactoryPresets, TableMatchesTheDocumentedPresetsInOrder)
{
    const auto presets = FactoryPresets::getPresets();
    const auto& expected = expectedFactoryPresets();
    ASSERT_EQ (presets.size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE (expected[i].name);
        EXPECT_EQ (presets[i].name, juce::String (expected[i].name));
        EXPECT_EQ (presets[i].category, juce::String (expected[i].category));
        ASSERT_EQ (presets[i].values.size(), expected[i].values.size());

        for (size_t v = 0; v < expected[i].values.size(); ++v)
        {
            EXPECT_EQ (std::string (presets[i].values[v].id), expected[i].values[v].id);
            EXPECT_FLOAT_EQ (presets[i].values[v].value, expected[i].values[v].value);
        }
    }
}

TEST (FactoryPresets, EveryCallBuildsAFreshTable)
{
    auto first = FactoryPresets::getPresets();
    first[0].name = "changed";
    first[1].values.clear();

    const auto second = FactoryPresets::getPresets();
    EXPECT_EQ (second[0].name, "Init");
    EXPECT_EQ (second[1].values.size(), 5u);
}

TEST (FactoryPresets, IndexOfFindsExactNamesOnly)
{
    const std::vector<std::pair<const char*, int>> cases {
        { "Init", 0 }, { "Kick", 6 }, { "Air Lift", 20 }, { "Heavy Iron", 19 },
        { "kick", -1 }, { "Kick ", -1 }, { "", -1 }, { "User", -1 },
    };

    for (const auto& [name, index] : cases)
        EXPECT_EQ (FactoryPresets::indexOf (name), index) << name;
}

// From a state where every parameter is away from its default, each preset
// must leave exactly its listed values and the defaults everywhere else.
TEST (FactoryPresets, EveryPresetLandsExactlyOnTopOfTheDefaults)
{
    const auto& presets = expectedFactoryPresets();

    for (size_t k = 0; k < presets.size(); ++k)
    {
        SCOPED_TRACE (presets[k].name);
        OrvaneChannelProcessor processor;
        moveEverythingAway (processor);

        FactoryPresets::apply (processor, processor.valueTreeState, static_cast<int> (k));

        auto expected = expectedDefaults();
        for (const auto& v : presets[k].values)
            expected[v.id] = v.value;

        ASSERT_EQ (static_cast<size_t> (processor.getParameters().size()), expected.size());

        for (const auto& [id, plain] : expected)
            EXPECT_FLOAT_EQ (value (processor, id), plain) << id;
    }
}

TEST (FactoryPresets, OrderOfApplicationDoesNotLeakValues)
{
    OrvaneChannelProcessor processor;
    auto& state = processor.valueTreeState;

    FactoryPresets::apply (processor, state, FactoryPresets::indexOf ("Heavy Iron"));
    EXPECT_FLOAT_EQ (value (processor, "silkTexture"), 80.0f);

    FactoryPresets::apply (processor, state, FactoryPresets::indexOf ("Clean Pre"));
    EXPECT_FLOAT_EQ (value (processor, "silkTexture"), 30.0f);
    EXPECT_FLOAT_EQ (value (processor, "bloomMode"), 0.0f);

    setValue (processor, "tmtChannel", 40.0f);
    FactoryPresets::apply (processor, state, FactoryPresets::indexOf ("Lead Vocal"));
    EXPECT_FLOAT_EQ (value (processor, "tmtChannel"), 1.0f);
}

TEST (FactoryPresets, ApplyNotifiesTheHostOfEveryParameter)
{
    OrvaneChannelProcessor processor;
    moveEverythingAway (processor);
    HostRecorder recorder (processor);

    FactoryPresets::apply (processor, processor.valueTreeState, FactoryPresets::indexOf ("Kick"));

    for (int i = 0; i < processor.getParameters().size(); ++i)
        EXPECT_TRUE (recorder.saw (i)) << processor.getParameters()[i]->getName (64);
}

TEST (FactoryPresets, IndexOutsideTheTableChangesNothing)
{
    for (const auto index : { -1, 21, 1000 })
    {
        OrvaneChannelProcessor processor;
        moveEverythingAway (processor);
        const auto before = snapshot (processor);
        HostRecorder recorder (processor);

        FactoryPresets::apply (processor, processor.valueTreeState, index);

        EXPECT_EQ (snapshot (processor), before) << index;
        EXPECT_TRUE (recorder.changed.empty()) << index;
    }
}
