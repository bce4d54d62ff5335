// Feeds arbitrary text to the user-preset loader. It must never crash or hang;
// text it rejects must change nothing, and whatever it accepts must leave every
// parameter at a finite value inside its range.

#include "presets/PresetFile.h"
#include "processor/OrvaneChannelProcessor.h"

#include <cmath>
#include <cstdlib>

namespace
{
    // Created once and never destroyed: the fuzzer exits without unwinding, and the
    // framework's shutdown must not run after its own statics are gone.
    OrvaneChannelProcessor& processor()
    {
        static auto* init = new juce::ScopedJuceInitialiser_GUI();
        static auto* instance = new OrvaneChannelProcessor();
        juce::ignoreUnused (init);
        return *instance;
    }

    std::vector<float> values (OrvaneChannelProcessor& p)
    {
        std::vector<float> v;
        for (auto* param : p.getParameters())
            v.push_back (param->getValue());
        return v;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = processor();
    const auto before = values (p);
    // Decoded the way a preset file's bytes are when the list is built.
    const auto text = juce::String::createStringFromData (data, static_cast<int> (size));

    const bool applied = PresetFile::applyText (p.valueTreeState, text);
    const auto after = values (p);

    if (! applied && after != before)
        std::abort(); // rejected text changed a parameter

    for (auto* param : p.getParameters())
    {
        const auto v = param->getValue();
        if (! std::isfinite (v) || v < 0.0f || v > 1.0f)
            std::abort();

        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (param);
        const auto plain = p.valueTreeState.getRawParameterValue (ranged->getParameterID());
        if (plain != nullptr && ! std::isfinite (plain->load()))
            std::abort();
    }

    // Start the next input from the defaults again, so findings reproduce on their own.
    for (auto* param : p.getParameters())
        param->setValueNotifyingHost (param->getDefaultValue());
    return 0;
}
