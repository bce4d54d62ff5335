#include "presets/FactoryPresets.h"

#include "processor/ParameterLayout.h"

std::vector<FactoryPresets::Preset> FactoryPresets::getPresets()
{
    namespace id = orvane::ParamIDs;

    // Switches are stored as 1 (on) and 0 (off); bloomMode takes choice indices.
    constexpr float on = 1.0f;
    constexpr float off = 0.0f;
    constexpr float bloomOff = 0.0f;
    constexpr float bloomAir = 1.0f;
    constexpr float bloomBody = 2.0f;

    return {
        { "Init", "Basic", {} },
        { "Transformer Glue", "Basic",
          { { id::bloomMode, bloomBody }, { id::silkTexture, 25.0f }, { id::compOn, on },
            { id::compThresh, -12.0f }, { id::compMakeup, 2.0f } } },

        { "Lead Vocal", "Vocals",
          { { id::hpfFreq, 90.0f }, { id::eqOn, on }, { id::mfFreq, 3000.0f }, { id::mfGain, 2.0f },
            { id::hfFreqHi, on }, { id::hfGain, 3.0f }, { id::compOn, on }, { id::compThresh, -14.0f },
            { id::compRelease, 180.0f }, { id::compMakeup, 3.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 35.0f } } },
        { "Vocal Sparkle", "Vocals",
          { { id::hpfFreq, 100.0f }, { id::eqOn, on }, { id::hfFreqHi, on }, { id::hfGain, 4.0f },
            { id::mfFreq, 5000.0f }, { id::mfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -12.0f },
            { id::compRelease, 150.0f }, { id::compMakeup, 2.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 45.0f } } },
        { "Male Vocal Body", "Vocals",
          { { id::hpfFreq, 80.0f }, { id::eqOn, on }, { id::lfGain, 2.0f }, { id::mfFreq, 2500.0f },
            { id::mfGain, 1.5f }, { id::hfFreqHi, on }, { id::hfGain, 2.0f }, { id::compOn, on },
            { id::compThresh, -14.0f }, { id::compRelease, 200.0f }, { id::compMakeup, 3.0f },
            { id::bloomMode, bloomBody }, { id::silkTexture, 30.0f } } },
        { "Rap Vocal", "Vocals",
          { { id::hpfFreq, 95.0f }, { id::eqOn, on }, { id::mfFreq, 3500.0f }, { id::mfGain, 2.0f },
            { id::hfFreqHi, on }, { id::hfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -16.0f },
            { id::compRelease, 120.0f }, { id::compMakeup, 4.0f }, { id::compPreEq, on },
            { id::bloomMode, bloomAir }, { id::silkTexture, 35.0f } } },

        { "Kick", "Drums",
          { { id::hpfFreq, 35.0f }, { id::eqOn, on }, { id::lfGain, 3.0f }, { id::mfFreq, 4000.0f },
            { id::mfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -14.0f }, { id::compRelease, 120.0f },
            { id::compMakeup, 3.0f }, { id::bloomMode, bloomBody }, { id::silkTexture, 40.0f } } },
        { "Snare", "Drums",
          { { id::hpfFreq, 90.0f }, { id::eqOn, on }, { id::mfFreq, 4000.0f }, { id::mfGain, 2.0f },
            { id::hfFreqHi, off }, { id::hfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -14.0f },
            { id::compRelease, 150.0f }, { id::compMakeup, 3.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 40.0f } } },
        { "Overheads", "Drums",
          { { id::hpfFreq, 200.0f }, { id::eqOn, on }, { id::hfFreqHi, on }, { id::hfGain, 3.0f },
            { id::compOn, on }, { id::compThresh, -10.0f }, { id::compRelease, 250.0f }, { id::compMakeup, 1.0f },
            { id::bloomMode, bloomAir }, { id::silkTexture, 30.0f } } },
        { "Drum Bus", "Drums",
          { { id::eqOn, on }, { id::lfGain, 1.5f }, { id::hfFreqHi, on }, { id::hfGain, 1.5f },
            { id::compOn, on }, { id::compThresh, -12.0f }, { id::compRelease, 200.0f }, { id::compMakeup, 2.0f },
            { id::bloomMode, bloomBody }, { id::silkTexture, 30.0f } } },

        { "Bass DI", "Bass",
          { { id::hpfFreq, 40.0f }, { id::eqOn, on }, { id::lfGain, 3.0f }, { id::mfFreq, 800.0f },
            { id::mfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -14.0f }, { id::compRelease, 120.0f },
            { id::compMakeup, 4.0f }, { id::bloomMode, bloomBody }, { id::silkTexture, 40.0f } } },
        { "Bass Amp", "Bass",
          { { id::hpfFreq, 45.0f }, { id::eqOn, on }, { id::lfFreqHi, on }, { id::lfGain, 2.0f },
            { id::mfFreq, 1500.0f }, { id::mfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -14.0f },
            { id::compRelease, 150.0f }, { id::compMakeup, 3.0f }, { id::bloomMode, bloomBody },
            { id::silkTexture, 35.0f } } },

        { "Electric Guitar", "Guitar",
          { { id::hpfFreq, 100.0f }, { id::eqOn, on }, { id::mfFreq, 2500.0f }, { id::mfGain, 2.0f },
            { id::hfFreqHi, off }, { id::hfGain, 1.0f }, { id::compOn, on }, { id::compThresh, -12.0f },
            { id::compRelease, 150.0f }, { id::compMakeup, 2.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 30.0f } } },
        { "Acoustic Guitar", "Guitar",
          { { id::hpfFreq, 80.0f }, { id::eqOn, on }, { id::mfFreq, 400.0f }, { id::mfGain, -2.0f },
            { id::hfFreqHi, on }, { id::hfGain, 3.0f }, { id::compOn, on }, { id::compThresh, -14.0f },
            { id::compRelease, 200.0f }, { id::compMakeup, 3.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 40.0f } } },

        { "Grand Piano", "Keys",
          { { id::hpfFreq, 40.0f }, { id::eqOn, on }, { id::mfFreq, 300.0f }, { id::mfGain, -2.0f },
            { id::hfFreqHi, on }, { id::hfGain, 2.0f }, { id::compOn, on }, { id::compThresh, -12.0f },
            { id::compRelease, 250.0f }, { id::compMakeup, 2.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 25.0f } } },
        { "Synth", "Keys",
          { { id::hpfFreq, 70.0f }, { id::eqOn, on }, { id::hfFreqHi, on }, { id::hfGain, 2.0f },
            { id::bloomMode, bloomBody }, { id::silkTexture, 30.0f } } },

        { "Mix Bus", "Bus",
          { { id::eqOn, on }, { id::lfGain, 1.0f }, { id::hfFreqHi, on }, { id::hfGain, 1.0f },
            { id::compOn, on }, { id::compThresh, -12.0f }, { id::compRelease, 300.0f }, { id::compMakeup, 2.0f },
            { id::bloomMode, bloomBody }, { id::silkTexture, 20.0f } } },
        { "Master Sheen", "Bus",
          { { id::eqOn, on }, { id::hfFreqHi, on }, { id::hfGain, 1.5f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 20.0f } } },

        { "Clean Pre", "Utility", { { id::bloomMode, bloomOff } } },
        { "Heavy Iron", "Utility", { { id::bloomMode, bloomBody }, { id::silkTexture, 80.0f } } },
        { "Air Lift", "Utility",
          { { id::eqOn, on }, { id::hfFreqHi, on }, { id::hfGain, 3.0f }, { id::bloomMode, bloomAir },
            { id::silkTexture, 50.0f } } },
    };
}

int FactoryPresets::indexOf (const juce::String& name)
{
    const auto presets = getPresets();

    for (size_t i = 0; i < presets.size(); ++i)
        if (presets[i].name == name)
            return static_cast<int> (i);

    return -1;
}

void FactoryPresets::resetToDefaults (juce::AudioProcessor& processor)
{
    for (auto* parameter : processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
            ranged->setValueNotifyingHost (ranged->getDefaultValue());
}

void FactoryPresets::apply (juce::AudioProcessor& processor, juce::AudioProcessorValueTreeState& state, int index)
{
    const auto presets = getPresets();

    if (index < 0 || index >= static_cast<int> (presets.size()))
        return;

    resetToDefaults (processor);

    for (const auto& pv : presets[static_cast<size_t> (index)].values)
        if (auto* parameter = state.getParameter (pv.id))
            parameter->setValueNotifyingHost (parameter->convertTo0to1 (pv.value));
}
