// orvane-render: the channel strip on the command line.

#include "render/OfflineRender.h"
#include "render/RenderOptions.h"

#include "presets/FactoryPresets.h"
#include "presets/PresetFile.h"
#include "processor/ParameterLayout.h"

#include <juce_events/juce_events.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    constexpr int exitRuntimeError = 1;
    constexpr int exitUsageError = 2;
    constexpr int exitInterrupted = 130;

    // Long enough a render that watching a progress bar is worth it.
    constexpr double progressBarMinimumSeconds = 5.0;

    // The temporary output, removed if the render is interrupted. A fixed buffer,
    // because the signal handler may only use async-signal-safe calls.
    char partialPath[4096] = {};

    extern "C" void removePartialAndExit (int)
    {
        if (partialPath[0] != 0)
            ::unlink (partialPath);

        ::_exit (exitInterrupted);
    }

    int fail (const juce::String& message, int status = exitRuntimeError)
    {
        std::cerr << "orvane-render: error: " << message << std::endl;
        return status;
    }

    juce::String dbfs (double linear)
    {
        if (linear <= 0.0)
            return "-inf dBFS";

        return juce::String (20.0 * std::log10 (linear), 1) + " dBFS";
    }

    bool sameFile (const juce::File& a, const juce::File& b)
    {
        struct stat sa {}, sb {};

        if (::stat (a.getFullPathName().toRawUTF8(), &sa) == 0 && ::stat (b.getFullPathName().toRawUTF8(), &sb) == 0)
            return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;

        return a == b;
    }

    juce::RangedAudioParameter* layoutParameter (OrvaneChannelProcessor& processor, const juce::String& id)
    {
        return id == orvane::ParamIDs::compGrMeter ? nullptr : processor.valueTreeState.getParameter (id);
    }

    juce::String rangeText (const juce::RangedAudioParameter& p)
    {
        const auto& r = p.getNormalisableRange();

        if (auto* choice = dynamic_cast<const juce::AudioParameterChoice*> (&p))
        {
            juce::StringArray items;

            for (int i = 0; i < choice->choices.size(); ++i)
                items.add (juce::String (i) + " = " + choice->choices[i]);

            return items.joinIntoString (", ");
        }

        if (dynamic_cast<const juce::AudioParameterBool*> (&p) != nullptr)
            return "0 = Off, 1 = On";

        return juce::String (r.start) + " .. " + juce::String (r.end) + " (step " + juce::String (r.interval) + ")";
    }

    // Sets a parameter from a value in its own units, or from a choice/on-off name.
    juce::String setParameter (OrvaneChannelProcessor& processor, const juce::String& id, const juce::String& text)
    {
        auto* p = layoutParameter (processor, id);

        if (p == nullptr)
            return "unknown parameter ID '" + id + "' (see --list-params)";

        const auto& range = p->getNormalisableRange();
        float plain = 0.0f;
        const auto trimmed = text.trim();
        const bool numeric = trimmed.isNotEmpty()
                             && trimmed.retainCharacters ("+-0123456789.eE") == trimmed
                             && trimmed.containsAnyOf ("0123456789");

        if (numeric)
        {
            plain = trimmed.getFloatValue();
        }
        else
        {
            const auto choices = p->getAllValueStrings();
            const auto index = choices.indexOf (trimmed, true);

            if (index < 0)
                return "'" + text + "' is not a value for " + id + " (range " + rangeText (*p) + ")";

            plain = range.start + static_cast<float> (index);
        }

        if (! std::isfinite (plain) || plain < range.start || plain > range.end)
            return "value " + text + " for " + id + " is outside its range " + rangeText (*p);

        p->setValueNotifyingHost (p->convertTo0to1 (plain));
        return {};
    }

    juce::String applySettings (OrvaneChannelProcessor& processor, const RenderOptions& options)
    {
        if (options.preset.isNotEmpty())
        {
            const juce::File presetFile = juce::File::getCurrentWorkingDirectory().getChildFile (options.preset);

            if (options.preset.endsWithIgnoreCase (".orvanepreset") || presetFile.existsAsFile())
            {
                if (! presetFile.existsAsFile())
                    return "cannot find preset file " + options.preset;

                if (! PresetFile::applyText (processor.valueTreeState, presetFile.loadFileAsString()))
                    return "preset file " + options.preset + " is not a valid preset";
            }
            else
            {
                const auto index = FactoryPresets::indexOf (options.preset);

                if (index < 0)
                    return "unknown preset '" + options.preset + "' (see --list-presets)";

                FactoryPresets::apply (processor, processor.valueTreeState, index);
            }
        }

        for (const auto& [id, value] : options.sets)
            if (auto error = setParameter (processor, id, value); error.isNotEmpty())
                return error;

        if (options.channel.has_value())
        {
            constexpr int highestChannel = 72;

            if (*options.channel < 1 || *options.channel > highestChannel)
                return "--channel must be from 1 to 72";

            if (auto error = setParameter (processor, orvane::ParamIDs::tmtChannel, juce::String (*options.channel));
                error.isNotEmpty())
                return error;
        }

        return {};
    }

    void listPresets()
    {
        for (const auto& preset : FactoryPresets::getPresets())
            std::cout << preset.name << "  (" << preset.category << ")\n";
    }

    void listParams (OrvaneChannelProcessor& processor)
    {
        for (auto* parameter : processor.getParameters())
        {
            auto* p = dynamic_cast<juce::RangedAudioParameter*> (parameter);

            if (p == nullptr || layoutParameter (processor, p->getParameterID()) == nullptr)
                continue;

            const auto defaultPlain = p->convertFrom0to1 (p->getDefaultValue());
            std::cout << p->getParameterID() << "\t" << p->getName (100) << "\t" << rangeText (*p)
                      << "\tdefault " << juce::String (defaultPlain) << " (" << p->getText (p->getDefaultValue(), 100) << ")"
                      << "\ttexts " << p->getText (0.0f, 100) << " .. " << p->getText (1.0f, 100) << "\n";
        }
    }

    juce::AudioFormat* formatForExtension (juce::AudioFormatManager& formats, const juce::File& file)
    {
        const auto ext = file.getFileExtension().toLowerCase();

        if (ext == ".wav" || ext == ".aif" || ext == ".aiff" || ext == ".flac")
            return formats.findFormatForFileExtension (ext);

        return nullptr;
    }

    class ProgressBar
    {
    public:
        explicit ProgressBar (bool shouldShow) : show (shouldShow) {}

        void update (double fraction)
        {
            if (! show)
                return;

            constexpr int width = 40;
            const auto filled = static_cast<int> (fraction * width);
            std::cerr << "\r[" << std::string (static_cast<size_t> (filled), '#')
                      << std::string (static_cast<size_t> (width - filled), '-') << "] "
                      << static_cast<int> (fraction * 100.0) << "%" << std::flush;

            if (fraction >= 1.0)
                std::cerr << "\n";
        }

    private:
        bool show;
    };

    int render (const RenderOptions& options)
    {
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        const auto inputFile = cwd.getChildFile (options.inputPath);
        const auto outputFile = cwd.getChildFile (options.outputPath);

        if (! inputFile.existsAsFile())
            return fail ("cannot find input file " + options.inputPath);

        if (sameFile (inputFile, outputFile))
            return fail ("the output " + options.outputPath + " is the input file; refusing to overwrite it");

        juce::AudioFormatManager formats;
        formats.registerBasicFormats();

        auto* inputFormat = formatForExtension (formats, inputFile);

        if (inputFormat == nullptr)
            return fail ("unknown input format '" + inputFile.getFileExtension() + "': use WAV, AIFF or FLAC");

        std::unique_ptr<juce::AudioFormatReader> reader (inputFormat->createReaderFor (inputFile.createInputStream().release(), true));

        if (reader == nullptr)
            return fail ("cannot read " + options.inputPath + ": not a readable " + inputFormat->getFormatName() + " file");

        if (reader->numChannels < 1 || reader->numChannels > 2)
            return fail (options.inputPath + " has " + juce::String (reader->numChannels)
                         + " channels; only mono and stereo files are supported");

        auto* outputFormat = formatForExtension (formats, outputFile);

        if (outputFormat == nullptr)
            outputFormat = inputFormat;

        const bool floatOutput = options.bits == "32f";
        const auto bitDepth = floatOutput ? 32 : options.bits.getIntValue();

        if (floatOutput && dynamic_cast<juce::WavAudioFormat*> (outputFormat) == nullptr)
            return fail ("--bits 32f needs a WAV output");

        if (! outputFormat->getPossibleBitDepths().contains (bitDepth))
            return fail (outputFormat->getFormatName() + " cannot store " + options.bits + "-bit samples");

        OrvaneChannelProcessor processor;

        if (auto error = applySettings (processor, options); error.isNotEmpty())
            return fail (error);

        if (! outputFile.getParentDirectory().isDirectory())
            return fail ("the output folder " + outputFile.getParentDirectory().getFullPathName() + " does not exist");

        // Everything is written to a hidden file beside the output and renamed at the
        // end, so a failed or interrupted render never leaves a truncated output.
        const auto partial = outputFile.getSiblingFile ("." + outputFile.getFileName() + ".partial-"
                                                        + juce::String (static_cast<int> (::getpid())));
        partial.getFullPathName().copyToUTF8 (partialPath, sizeof (partialPath));
        std::signal (SIGINT, removePartialAndExit);
        std::signal (SIGTERM, removePartialAndExit);

        auto cleanUp = [&] (const juce::String& message)
        {
            partial.deleteFile();
            partialPath[0] = 0;
            return fail (message);
        };

        auto stream = std::make_unique<juce::FileOutputStream> (partial);

        if (! stream->openedOk())
            return cleanUp ("cannot write to " + outputFile.getParentDirectory().getFullPathName());

        std::unique_ptr<juce::AudioFormatWriter> writer (outputFormat->createWriterFor (stream.get(), reader->sampleRate,
                                                                                         reader->numChannels, bitDepth, {}, 0));

        if (writer == nullptr)
            return cleanUp (outputFormat->getFormatName() + " cannot write " + juce::String (reader->numChannels)
                            + " channels at " + juce::String (reader->sampleRate) + " Hz");

        stream.release(); // the writer owns it now

        const auto duration = static_cast<double> (reader->lengthInSamples) / reader->sampleRate;
        ProgressBar bar (! options.quiet && ::isatty (STDERR_FILENO) != 0 && duration > progressBarMinimumSeconds);
        RenderSummary summary;

        const auto error = OfflineRender::run (processor, *reader, *writer, [&] (double f) { bar.update (f); }, summary);
        writer.reset();

        if (error.isNotEmpty())
            return cleanUp (error);

        if (! partial.moveFileTo (outputFile))
            return cleanUp ("cannot move the finished render to " + options.outputPath);

        partialPath[0] = 0;

        if (! options.quiet)
        {
            const auto audioSeconds = static_cast<double> (summary.frames) / summary.sampleRate;
            std::cout << inputFile.getFileName() << " -> " << outputFile.getFileName()
                      << ": in peak " << dbfs (summary.inputPeak) << ", RMS " << dbfs (summary.inputRms)
                      << " | out peak " << dbfs (summary.outputPeak) << ", RMS " << dbfs (summary.outputRms)
                      << " | max GR " << juce::String (summary.largestGainReductionDb, 1) << " dB"
                      << " | latency " << summary.latencySamples << " samples compensated"
                      << " | " << juce::String (audioSeconds, 1) << " s in " << juce::String (summary.seconds, 2) << " s ("
                      << juce::String (juce::roundToInt (audioSeconds / std::max (summary.seconds, 1.0e-6))) << "x realtime)" << std::endl;
        }

        return 0;
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    RenderOptions options;

    if (auto error = options.parse (args); error.isNotEmpty())
        return fail (error, exitUsageError);

    switch (options.action)
    {
        case RenderOptions::Action::help:
            std::cout << RenderOptions::usage();
            return 0;

        case RenderOptions::Action::version:
            std::cout << "orvane-render " << JucePlugin_VersionString << " (Orvane Channel by TIRREL Audio)\n";
            return 0;

        case RenderOptions::Action::listPresets:
            listPresets();
            return 0;

        case RenderOptions::Action::listParams:
        {
            OrvaneChannelProcessor processor;
            listParams (processor);
            return 0;
        }

        case RenderOptions::Action::render:
            break;
    }

    return render (options);
}
