#include "render/RenderOptions.h"

juce::String RenderOptions::parse (const juce::StringArray& args)
{
    juce::StringArray positional;

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& arg = args[i];

        auto needValue = [&] (juce::String& value) -> bool
        {
            if (i + 1 >= args.size())
                return false;

            value = args[++i];
            return true;
        };

        juce::String value;

        if (arg == "--help" || arg == "-h")
            action = Action::help;
        else if (arg == "--version")
            action = Action::version;
        else if (arg == "--list-presets")
            action = Action::listPresets;
        else if (arg == "--list-params")
            action = Action::listParams;
        else if (arg == "--quiet" || arg == "-q")
            quiet = true;
        else if (arg == "--preset")
        {
            if (! needValue (preset))
                return "--preset needs a factory preset name or a .orvanepreset file";
        }
        else if (arg == "--set")
        {
            if (! needValue (value) || ! value.containsChar ('=') || value.upToFirstOccurrenceOf ("=", false, false).isEmpty())
                return "--set needs ID=VALUE, for example --set mfGain=3";

            sets.emplace_back (value.upToFirstOccurrenceOf ("=", false, false).trim(),
                               value.fromFirstOccurrenceOf ("=", false, false).trim());
        }
        else if (arg == "--channel")
        {
            if (! needValue (value) || ! value.containsOnly ("0123456789") || value.isEmpty())
                return "--channel needs a whole number from 1 to 72";

            channel = value.getIntValue();
        }
        else if (arg == "--bits")
        {
            if (! needValue (bits) || (bits != "16" && bits != "24" && bits != "32f"))
                return "--bits must be 16, 24 or 32f";
        }
        else if (arg.startsWith ("-") && arg != "-")
            return "unknown option " + arg + " (see --help)";
        else
            positional.add (arg);
    }

    if (action != Action::render)
        return {};

    if (positional.size() != 2)
        return "expected INPUT and OUTPUT files (see --help)";

    inputPath = positional[0];
    outputPath = positional[1];
    return {};
}

juce::String RenderOptions::usage()
{
    return "Usage: orvane-render [options] INPUT OUTPUT\n"
           "\n"
           "Renders an audio file (WAV, AIFF or FLAC; mono or stereo) through the Orvane\n"
           "Channel strip, offline, as a DAW bounce would. The output has the input's length\n"
           "and sample rate and is aligned with it sample for sample (the oversampling latency\n"
           "is compensated). Its format follows OUTPUT's extension (.wav, .aif/.aiff, .flac),\n"
           "or the input's format when the extension is none of these.\n"
           "\n"
           "Options:\n"
           "  --preset NAME       apply a factory preset by name, or a user preset file\n"
           "                      (a path to a .orvanepreset file)\n"
           "  --set ID=VALUE      set a parameter in its own units (dB, Hz, ms, %, channel,\n"
           "                      choice index or name, 0/1); repeatable, applied after --preset\n"
           "  --channel N         analog channel 1..72\n"
           "  --bits 16|24|32f    output sample format (default 24; 32f is WAV only)\n"
           "  --quiet             no progress bar and no summary\n"
           "  --list-presets      list the factory presets\n"
           "  --list-params       list the parameters with their ranges and defaults\n"
           "  --version           print the version\n"
           "  --help              print this text\n"
           "\n"
           "Examples:\n"
           "  orvane-render --preset \"Lead Vocal\" vocal.wav vocal-strip.wav\n"
           "  orvane-render --set mfGain=3 --set bloomMode=1 --channel 12 in.flac out.flac\n";
}
