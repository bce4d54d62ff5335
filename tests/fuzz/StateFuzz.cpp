// Feeds arbitrary bytes to setStateInformation. Whatever it is given, the
// processor must not crash, hang or leak, and a block it rejects must change
// nothing; a block it accepts must leave a state that saves and restores to the
// same bytes.

#include "processor/OrvaneChannelProcessor.h"
#include "processor/StateBlockParser.h"

#include <cstdlib>

namespace
{
    OrvaneChannelProcessor& processor()
    {
        static juce::ScopedJuceInitialiser_GUI init;
        static OrvaneChannelProcessor instance;
        return instance;
    }

    juce::MemoryBlock save (OrvaneChannelProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return block;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = processor();
    const auto before = save (p);
    const bool accepted = StateBlockParser::parse (data, size).isValid();

    p.setStateInformation (data, static_cast<int> (size));
    const auto after = save (p);

    if (! accepted && after != before)
        std::abort(); // a rejected block changed the state

    // Whatever was accepted must be a stable state: restoring what we saved gives the same bytes.
    p.setStateInformation (after.getData(), static_cast<int> (after.getSize()));
    if (save (p) != after)
        std::abort();

    // Start the next input from the defaults again, so findings reproduce on their own.
    static const auto defaults = [] { OrvaneChannelProcessor fresh; return save (fresh); }();
    p.setStateInformation (defaults.getData(), static_cast<int> (defaults.getSize()));
    p.compactView = false;
    return 0;
}
