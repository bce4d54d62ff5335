#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

/** Helpers and reference data shared by the preset and toolbar tests. */
namespace presettest
{
    /** One value a factory preset sets, as the product's documentation lists it. */
    struct Value
    {
        std::string id;
        float value;
    };

    /** One factory preset, re-typed from the documentation (not from the code). */
    struct Expected
    {
        std::string name;
        std::string category;
        std::vector<Value> values;
    };

    // on/off switches are 1/0; bloomMode: 0 Off, 1 Air, 2 Body.
    inline const std::vector<Expected>& expectedFactoryPresets()
    {
        static const std::vector<Expected> table {
            { "Init", "Basic", {} },
            { "Transformer Glue", "Basic", { { "bloomMode", 2 }, { "silkTexture", 25 }, { "compOn", 1 }, { "compThresh", -12 }, { "compMakeup", 2 } } },
            { "Lead Vocal", "Vocals", { { "hpfFreq", 90 }, { "eqOn", 1 }, { "mfFreq", 3000 }, { "mfGain", 2 }, { "hfFreqHi", 1 }, { "hfGain", 3 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 180 }, { "compMakeup", 3 }, { "bloomMode", 1 }, { "silkTexture", 35 } } },
            { "Vocal Sparkle", "Vocals", { { "hpfFreq", 100 }, { "eqOn", 1 }, { "hfFreqHi", 1 }, { "hfGain", 4 }, { "mfFreq", 5000 }, { "mfGain", 2 }, { "compOn", 1 }, { "compThresh", -12 }, { "compRelease", 150 }, { "compMakeup", 2 }, { "bloomMode", 1 }, { "silkTexture", 45 } } },
            { "Male Vocal Body", "Vocals", { { "hpfFreq", 80 }, { "eqOn", 1 }, { "lfGain", 2 }, { "mfFreq", 2500 }, { "mfGain", 1.5f }, { "hfFreqHi", 1 }, { "hfGain", 2 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 200 }, { "compMakeup", 3 }, { "bloomMode", 2 }, { "silkTexture", 30 } } },
            { "Rap Vocal", "Vocals", { { "hpfFreq", 95 }, { "eqOn", 1 }, { "mfFreq", 3500 }, { "mfGain", 2 }, { "hfFreqHi", 1 }, { "hfGain", 2 }, { "compOn", 1 }, { "compThresh", -16 }, { "compRelease", 120 }, { "compMakeup", 4 }, { "compPreEq", 1 }, { "bloomMode", 1 }, { "silkTexture", 35 } } },
            { "Kick", "Drums", { { "hpfFreq", 35 }, { "eqOn", 1 }, { "lfGain", 3 }, { "mfFreq", 4000 }, { "mfGain", 2 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 120 }, { "compMakeup", 3 }, { "bloomMode", 2 }, { "silkTexture", 40 } } },
            { "Snare", "Drums", { { "hpfFreq", 90 }, { "eqOn", 1 }, { "mfFreq", 4000 }, { "mfGain", 2 }, { "hfFreqHi", 0 }, { "hfGain", 2 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 150 }, { "compMakeup", 3 }, { "bloomMode", 1 }, { "silkTexture", 40 } } },
            { "Overheads", "Drums", { { "hpfFreq", 200 }, { "eqOn", 1 }, { "hfFreqHi", 1 }, { "hfGain", 3 }, { "compOn", 1 }, { "compThresh", -10 }, { "compRelease", 250 }, { "compMakeup", 1 }, { "bloomMode", 1 }, { "silkTexture", 30 } } },
            { "Drum Bus", "Drums", { { "eqOn", 1 }, { "lfGain", 1.5f }, { "hfFreqHi", 1 }, { "hfGain", 1.5f }, { "compOn", 1 }, { "compThresh", -12 }, { "compRelease", 200 }, { "compMakeup", 2 }, { "bloomMode", 2 }, { "silkTexture", 30 } } },
            { "Bass DI", "Bass", { { "hpfFreq", 40 }, { "eqOn", 1 }, { "lfGain", 3 }, { "mfFreq", 800 }, { "mfGain", 2 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 120 }, { "compMakeup", 4 }, { "bloomMode", 2 }, { "silkTexture", 40 } } },
            { "Bass Amp", "Bass", { { "hpfFreq", 45 }, { "eqOn", 1 }, { "lfFreqHi", 1 }, { "lfGain", 2 }, { "mfFreq", 1500 }, { "mfGain", 2 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 150 }, { "compMakeup", 3 }, { "bloomMode", 2 }, { "silkTexture", 35 } } },
            { "Electric Guitar", "Guitar", { { "hpfFreq", 100 }, { "eqOn", 1 }, { "mfFreq", 2500 }, { "mfGain", 2 }, { "hfFreqHi", 0 }, { "hfGain", 1 }, { "compOn", 1 }, { "compThresh", -12 }, { "compRelease", 150 }, { "compMakeup", 2 }, { "bloomMode", 1 }, { "silkTexture", 30 } } },
            { "Acoustic Guitar", "Guitar", { { "hpfFreq", 80 }, { "eqOn", 1 }, { "mfFreq", 400 }, { "mfGain", -2 }, { "hfFreqHi", 1 }, { "hfGain", 3 }, { "compOn", 1 }, { "compThresh", -14 }, { "compRelease", 200 }, { "compMakeup", 3 }, { "bloomMode", 1 }, { "silkTexture", 40 } } },
            { "Grand Piano", "Keys", { { "hpfFreq", 40 }, { "eqOn", 1 }, { "mfFreq", 300 }, { "mfGain", -2 }, { "hfFreqHi", 1 }, { "hfGain", 2 }, { "compOn", 1 }, { "compThresh", -12 }, { "compRelease", 250 }, { "compMakeup", 2 }, { "bloomMode", 1 }, { "silkTexture", 25 } } },
            { "Synth", "Keys", { { "hpfFreq", 70 }, { "eqOn", 1 }, { "hfFreqHi", 1 }, { "hfGain", 2 }, { "bloomMode", 2 }, { "silkTexture", 30 } } },
            { "Mix Bus", "Bus", { { "eqOn", 1 }, { "lfGain", 1 }, { "hfFreqHi", 1 }, { "hfGain", 1 }, { "compOn", 1 }, { "compThresh", -12 }, { "compRelease", 300 }, { "compMakeup", 2 }, { "bloomMode", 2 }, { "silkTexture", 20 } } },
            { "Master Sheen", "Bus", { { "eqOn", 1 }, { "hfFreqHi", 1 }, { "hfGain", 1.5f }, { "bloomMode", 1 }, { "silkTexture", 20 } } },
            { "Clean Pre", "Utility", { { "bloomMode", 0 } } },
            { "Heavy Iron", "Utility", { { "bloomMode", 2 }, { "silkTexture", 80 } } },
            { "Air Lift", "Utility", { { "eqOn", 1 }, { "hfFreqHi", 1 }, { "hfGain", 3 }, { "bloomMode", 1 }, { "silkTexture", 50 } } },
        };
        return table;
    }

    /** The default of every parameter the host sees, in its own units. */
    inline const std::map<std::string, float>& expectedDefaults()
    {
        static const std::map<std::string, float> defaults {
            { "inputGain", 0 }, { "polarity", 0 }, { "outputGain", 0 }, { "hpfFreq", 20 }, { "eqOn", 1 },
            { "lfGain", 0 }, { "lfFreqHi", 0 }, { "mfFreq", 1000 }, { "mfGain", 0 }, { "hfGain", 0 },
            { "hfFreqHi", 0 }, { "compOn", 0 }, { "compThresh", 20 }, { "compRelease", 200 }, { "compMakeup", 0 },
            { "compScHpf", 0 }, { "compPreEq", 0 }, { "compLink", 0 }, { "bloomMode", 0 }, { "silkTexture", 30 },
            { "tmtChannel", 1 }, { "stWidth", 100 }, { "monoMakerHz", 20 }, { "vuSource", 0 }, { "vuCalibration", 0 },
            { "osRealtime", 1 }, { "osOffline", 0 }, { "compGrMeter", 0 },
        };
        return defaults;
    }

    /** The ranged parameter with this ID among all the processor's parameters. */
    inline juce::RangedAudioParameter* parameter (juce::AudioProcessor& processor, const std::string& id)
    {
        for (auto* p : processor.getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p))
                if (ranged->getParameterID() == juce::String (id))
                    return ranged;

        return nullptr;
    }

    /** A parameter's value in its own units. */
    inline float value (juce::AudioProcessor& processor, const std::string& id)
    {
        auto* p = parameter (processor, id);
        return p->convertFrom0to1 (p->getValue());
    }

    /** Sets a parameter to a value in its own units. */
    inline void setValue (juce::AudioProcessor& processor, const std::string& id, float plain)
    {
        auto* p = parameter (processor, id);
        p->setValueNotifyingHost (p->convertTo0to1 (plain));
    }

    /** Every parameter's normalised value, in host order. */
    inline std::vector<float> snapshot (juce::AudioProcessor& processor)
    {
        std::vector<float> values;

        for (auto* p : processor.getParameters())
            values.push_back (p->getValue());

        return values;
    }

    /** Moves every parameter away from its default, to values no factory
        preset uses, so that a reset or a preset visibly changes each one. */
    inline void moveEverythingAway (juce::AudioProcessor& processor)
    {
        const std::map<std::string, float> away {
            { "inputGain", 5 }, { "polarity", 1 }, { "outputGain", -7 }, { "hpfFreq", 150 }, { "eqOn", 0 },
            { "lfGain", -4 }, { "lfFreqHi", 1 }, { "mfFreq", 6000 }, { "mfGain", 7 }, { "hfGain", -6 },
            { "hfFreqHi", 1 }, { "compOn", 1 }, { "compThresh", -25 }, { "compRelease", 400 }, { "compMakeup", 11 },
            { "compScHpf", 120 }, { "compPreEq", 1 }, { "compLink", 1 }, { "bloomMode", 1 }, { "silkTexture", 77 },
            { "tmtChannel", 40 }, { "stWidth", 150 }, { "monoMakerHz", 300 }, { "vuSource", 2 }, { "vuCalibration", 2 },
            { "osRealtime", 3 }, { "osOffline", 4 }, { "compGrMeter", 12 },
        };

        for (const auto& [id, plain] : away)
            setValue (processor, id, plain);
    }

    /** Records which parameters were changed with host notification. */
    struct HostRecorder : public juce::AudioProcessorListener
    {
        explicit HostRecorder (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
        ~HostRecorder() override { processor.removeListener (this); }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override { changed.push_back (index); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        bool saw (int index) const { return std::find (changed.begin(), changed.end(), index) != changed.end(); }

        juce::AudioProcessor& processor;
        std::vector<int> changed;
    };
}
