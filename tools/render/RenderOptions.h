#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <utility>
#include <vector>

/**
    What the command line of orvane-render asks for.

    Parsing only checks the shape of the command line; whether a preset, a
    parameter ID or a value exists is checked against a real processor later.
*/
struct RenderOptions
{
    /** What the invocation wants done. */
    enum class Action { render, help, version, listPresets, listParams };

    Action action = Action::render;
    juce::String inputPath;
    juce::String outputPath;
    juce::String preset;                                        ///< factory name or .orvanepreset path; empty for none
    std::vector<std::pair<juce::String, juce::String>> sets;   ///< ID and value text, in command-line order
    std::optional<int> channel;
    juce::String bits = "24";                                   ///< "16", "24" or "32f"
    bool quiet = false;

    /** Parses argv; returns an error message, or an empty string on success. */
    juce::String parse (const juce::StringArray& args);

    /** The text of --help. */
    static juce::String usage();
};
