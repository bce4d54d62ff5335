#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace orvane::test
{
    /** The plug-in binaries the build produces. */
    enum class PluginFormat { vst3, lv2 };

    /** "VST3" or "LV2". */
    std::string formatName (PluginFormat format);

    /** Loads the built bundle of the given format through the framework's hosting
        classes, exactly as a workstation would, and returns the instance. */
    std::unique_ptr<juce::AudioPluginInstance> loadPlugin (PluginFormat format, double sampleRate,
                                                           int blockSize, juce::String& error);
}
