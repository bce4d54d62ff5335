#include "host/PluginLoader.h"

namespace orvane::test
{
std::string formatName (PluginFormat format)
{
    return format == PluginFormat::vst3 ? "VST3" : "LV2";
}

std::unique_ptr<juce::AudioPluginInstance> loadPlugin (PluginFormat format, double sampleRate,
                                                       int blockSize, juce::String& error)
{
    // One format object per process: the LV2 world scans its search path once.
    static juce::AudioPluginFormatManager manager;
    static juce::VST3PluginFormat* vst3 = nullptr;
    static juce::LV2PluginFormat* lv2 = nullptr;

    if (vst3 == nullptr)
    {
        vst3 = new juce::VST3PluginFormat();
        lv2 = new juce::LV2PluginFormat();
        manager.addFormat (vst3);
        manager.addFormat (lv2);
    }

    juce::OwnedArray<juce::PluginDescription> types;

    if (format == PluginFormat::vst3)
    {
        vst3->findAllTypesForFile (types, ORVANE_VST3_BUNDLE);
    }
    else
    {
        // An LV2 host finds plug-ins by URI after scanning the folders on its search path.
        const juce::File bundle (ORVANE_LV2_BUNDLE);
        lv2->searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), false, false);
        lv2->findAllTypesForFile (types, ORVANE_LV2_URI);
    }

    if (types.isEmpty())
    {
        error = "no plug-in found in the " + juce::String (formatName (format)) + " bundle";
        return nullptr;
    }

    return manager.createPluginInstance (*types[0], sampleRate, blockSize, error);
}
}
