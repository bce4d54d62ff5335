#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <vector>

/**
    The presets compiled into the product, and how one of them is applied.

    A factory preset is a sparse list of values: applying it first returns every
    parameter to its default and then sets the listed ones, so each preset stands
    for a complete state relative to the defaults. The table is built afresh on
    every request instead of being kept in a static, so nothing here has to be
    initialised, shared or torn down across plug-in instances.
*/
class FactoryPresets
{
public:
    /** One value a preset sets. */
    struct PV
    {
        /** The parameter ID. */
        const char* id;

        /** The value in the parameter's own units: dB, Hz, ms, percent, 0 or 1 for
            a switch, the choice index for a choice. */
        float value;
    };

    /** One entry of the table. */
    struct Preset
    {
        /** The display name, unique within the table. */
        juce::String name;

        /** The menu group the preset belongs to. */
        juce::String category;

        /** The parameters the preset sets, in the order they are applied. */
        std::vector<PV> values;
    };

    /** Returns a newly built copy of the whole table, in menu order. */
    static std::vector<Preset> getPresets();

    /** Returns the position of the preset with exactly this name, or -1 when there is none. */
    static int indexOf (const juce::String& name);

    /** Sets every ranged parameter registered with the processor to its default
        value, notifying the host of each change. */
    static void resetToDefaults (juce::AudioProcessor& processor);

    /** Applies preset number index: every ranged parameter of the processor back to
        its default, then the preset's values through each parameter's range, all
        with host notification. Values naming no parameter of the state are skipped;
        an index outside the table does nothing. */
    static void apply (juce::AudioProcessor& processor, juce::AudioProcessorValueTreeState& state, int index);

private:
    FactoryPresets() = delete;
};
