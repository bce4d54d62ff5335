#include <gtest/gtest.h>

#include "presets/FactoryPresets.h"
#include "processor/OrvaneChannelProcessor.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <random>

namespace
{
    constexpr double pi = juce::MathConstants<double>::pi;

    // The renderer's block size; results only depend on it through per-block updates.
    constexpr int renderBlock = 512;

    struct ToolResult
    {
        int exitCode = -1;
        juce::String output;
    };

    ToolResult runTool (const juce::StringArray& args)
    {
        juce::StringArray command;
        command.add (ORVANE_RENDER_TOOL);
        command.addArray (args);

        juce::ChildProcess process;
        ToolResult result;

        if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
            return result;

        result.output = process.readAllProcessOutput();
        process.waitForProcessToFinish (60000);
        result.exitCode = static_cast<int> (process.getExitCode());
        return result;
    }

    juce::AudioFormat* formatFor (juce::AudioFormatManager& m, const juce::File& f)
    {
        return m.findFormatForFileExtension (f.getFileExtension());
    }

    void writeFile (const juce::File& file, const juce::AudioBuffer<float>& buffer, double sampleRate, int bits)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        file.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (file);
        std::unique_ptr<juce::AudioFormatWriter> writer (formatFor (formats, file)->createWriterFor (
            stream.get(), sampleRate, static_cast<unsigned int> (buffer.getNumChannels()), bits, {}, 0));
        ASSERT_NE (writer, nullptr);
        stream.release();
        ASSERT_TRUE (writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()));
    }

    struct FileAudio
    {
        juce::AudioBuffer<float> buffer;
        double sampleRate = 0.0;
        int bits = 0;
        bool usesFloat = false;
        juce::String formatName;
    };

    FileAudio readFile (const juce::File& file)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        FileAudio audio;
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));

        if (reader == nullptr)
            return audio;

        audio.buffer.setSize (static_cast<int> (reader->numChannels), static_cast<int> (reader->lengthInSamples));
        reader->read (&audio.buffer, 0, audio.buffer.getNumSamples(), 0, true, true);
        audio.sampleRate = reader->sampleRate;
        audio.bits = static_cast<int> (reader->bitsPerSample);
        audio.usesFloat = reader->usesFloatingPointData;
        audio.formatName = reader->getFormatName();
        return audio;
    }

    juce::AudioBuffer<float> testSignal (int channels, int numSamples, double sampleRate, unsigned int seed)
    {
        std::mt19937 rng (seed);
        std::normal_distribution<float> noise (0.0f, 0.05f);
        juce::AudioBuffer<float> buffer (channels, numSamples);

        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < numSamples; ++i)
            {
                const auto t = i / sampleRate;
                const auto burst = (i / 4800) % 3 == 0 ? 0.6 : 0.15; // level changes work the compressor
                buffer.setSample (ch, i, static_cast<float> (burst * std::sin (2.0 * pi * (220.0 + 110.0 * ch) * t)
                                                             + 0.1 * std::sin (2.0 * pi * 5000.0 * t)) + noise (rng));
            }

        return buffer;
    }

    // The same job done directly on a processor: offline mode, latency dropped from the
    // front and flushed with zeros at the end.
    juce::AudioBuffer<float> renderInProcess (OrvaneChannelProcessor& p, const juce::AudioBuffer<float>& input, double sampleRate)
    {
        const auto channels = input.getNumChannels();
        const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (set);
        layout.outputBuses.add (set);
        p.setBusesLayout (layout);
        p.setNonRealtime (true);
        p.prepareToPlay (sampleRate, renderBlock);
        const auto latency = p.getLatencySamples();

        const auto total = input.getNumSamples();
        const auto padded = total + latency;
        juce::AudioBuffer<float> work (channels, padded + renderBlock);
        work.clear();
        for (int ch = 0; ch < channels; ++ch)
            work.copyFrom (ch, 0, input, ch, 0, total);

        juce::MidiBuffer midi;
        for (int start = 0; start < padded; start += renderBlock)
        {
            juce::AudioBuffer<float> view (work.getArrayOfWritePointers(), channels, start, renderBlock);
            p.processBlock (view, midi);
        }

        juce::AudioBuffer<float> out (channels, total);
        for (int ch = 0; ch < channels; ++ch)
            out.copyFrom (ch, 0, work, ch, latency, total);
        return out;
    }

    // Phase delay of a steady tone, in samples, from its DFT bin over a window.
    double phaseDelaySamples (const juce::AudioBuffer<float>& in, const juce::AudioBuffer<float>& out,
                              double frequency, double sampleRate, int start, int length)
    {
        auto phaseOf = [&] (const juce::AudioBuffer<float>& b)
        {
            double re = 0.0, im = 0.0;
            for (int i = start; i < start + length; ++i)
            {
                const auto w = 2.0 * pi * frequency * i / sampleRate;
                re += b.getSample (0, i) * std::cos (w);
                im -= b.getSample (0, i) * std::sin (w);
            }
            return std::atan2 (im, re);
        };

        auto diff = phaseOf (in) - phaseOf (out);
        while (diff > pi) diff -= 2.0 * pi;
        while (diff < -pi) diff += 2.0 * pi;
        return diff / (2.0 * pi * frequency / sampleRate);
    }

    class RenderTool : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile ("orvane-render-test-" + juce::String (juce::Random::getSystemRandom().nextInt64()));
            ASSERT_TRUE (dir.createDirectory());
        }

        void TearDown() override { dir.deleteRecursively(); }

        juce::StringArray filesInDir() const
        {
            juce::StringArray names;
            for (const auto& f : dir.findChildFiles (juce::File::findFiles, false, "*"))
                names.add (f.getFileName());
            names.sort (false);
            return names;
        }

        juce::File dir;
    };
}

TEST_F (RenderTool, MatchesTheProcessorSampleForSample)
{
    constexpr double sampleRate = 48000.0;
    const auto input = testSignal (2, 48000 * 2 + 123, sampleRate, 7);
    const auto inFile = dir.getChildFile ("in.wav");
    const auto outFile = dir.getChildFile ("out.wav");
    writeFile (inFile, input, sampleRate, 32);

    const auto result = runTool ({ "--preset", "Lead Vocal", "--set", "compMakeup=4.5", "--channel", "12",
                                   "--bits", "32f", inFile.getFullPathName(), outFile.getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;
    EXPECT_TRUE (result.output.contains ("latency")) << result.output;

    OrvaneChannelProcessor reference;
    FactoryPresets::apply (reference, reference.valueTreeState, FactoryPresets::indexOf ("Lead Vocal"));
    auto* makeup = reference.valueTreeState.getParameter ("compMakeup");
    makeup->setValueNotifyingHost (makeup->convertTo0to1 (4.5f));
    auto* channel = reference.valueTreeState.getParameter ("tmtChannel");
    channel->setValueNotifyingHost (channel->convertTo0to1 (12.0f));
    const auto expected = renderInProcess (reference, readFile (inFile).buffer, sampleRate);

    const auto rendered = readFile (outFile);
    ASSERT_EQ (rendered.buffer.getNumChannels(), 2);
    ASSERT_EQ (rendered.buffer.getNumSamples(), input.getNumSamples());
    EXPECT_TRUE (rendered.usesFloat);

    int mismatches = 0;
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            if (rendered.buffer.getSample (ch, i) != expected.getSample (ch, i))
                ++mismatches;
    EXPECT_EQ (mismatches, 0);
}

TEST_F (RenderTool, OutputIsAlignedWithTheInputForEveryOversamplingChoice)
{
    constexpr double sampleRate = 48000.0;
    constexpr int length = 24000;
    juce::AudioBuffer<float> tone (1, length);
    for (int i = 0; i < length; ++i)
        tone.setSample (0, i, static_cast<float> (0.25 * std::sin (2.0 * pi * 1000.0 * i / sampleRate)));

    const auto inFile = dir.getChildFile ("tone.wav");
    writeFile (inFile, tone, sampleRate, 32);

    // osOffline: 0 follows osRealtime (its default is 2x), 1..4 are Off, 2x, 4x, 8x.
    for (const auto* choice : { "0", "1", "2", "3", "4" })
    {
        SCOPED_TRACE (juce::String ("osOffline=") + choice);
        const auto outFile = dir.getChildFile (juce::String ("tone-") + choice + ".wav");
        const auto result = runTool ({ "--set", juce::String ("osOffline=") + choice, "--bits", "32f",
                                       inFile.getFullPathName(), outFile.getFullPathName() });
        ASSERT_EQ (result.exitCode, 0) << result.output;

        const auto out = readFile (outFile);
        ASSERT_EQ (out.buffer.getNumSamples(), length);
        EXPECT_LT (std::abs (phaseDelaySamples (tone, out.buffer, 1000.0, sampleRate, 8000, 12000)), 0.5);
    }
}

TEST_F (RenderTool, RoundTripsFormatsRatesAndChannels)
{
    struct Case { const char* name; int channels; double rate; const char* bits; int expectedBits; const char* format; };
    const std::vector<Case> cases {
        { "a.wav", 2, 44100.0, "16", 16, "WAV file" },
        { "b.wav", 1, 48000.0, "24", 24, "WAV file" },
        { "c.wav", 2, 96000.0, "32f", 32, "WAV file" },
        { "d.flac", 2, 48000.0, "24", 24, "FLAC file" },
        { "e.flac", 1, 44100.0, "16", 16, "FLAC file" },
        { "f.aiff", 2, 96000.0, "24", 24, "AIFF file" },
        { "g.aif", 1, 48000.0, "16", 16, "AIFF file" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto inFile = dir.getChildFile (juce::String ("in-") + c.name);
        const auto outFile = dir.getChildFile (juce::String ("out-") + c.name);
        const auto input = testSignal (c.channels, static_cast<int> (c.rate / 4), c.rate, 3);
        writeFile (inFile, input, c.rate, c.expectedBits == 32 ? 32 : 24);

        const auto result = runTool ({ "--bits", c.bits, inFile.getFullPathName(), outFile.getFullPathName() });
        ASSERT_EQ (result.exitCode, 0) << result.output;

        const auto out = readFile (outFile);
        EXPECT_EQ (out.formatName, c.format);
        EXPECT_EQ (out.buffer.getNumChannels(), c.channels);
        EXPECT_EQ (out.buffer.getNumSamples(), input.getNumSamples());
        EXPECT_DOUBLE_EQ (out.sampleRate, c.rate);
        EXPECT_EQ (out.bits, c.expectedBits);
        EXPECT_GT (out.buffer.getRMSLevel (0, 0, out.buffer.getNumSamples()), 0.01f);
    }
}

TEST_F (RenderTool, RefusesBadInputAndLeavesNothingBehind)
{
    constexpr double sampleRate = 48000.0;
    const auto good = dir.getChildFile ("good.wav");
    writeFile (good, testSignal (2, 4800, sampleRate, 1), sampleRate, 24);
    const auto threeChannels = dir.getChildFile ("three.wav");
    writeFile (threeChannels, testSignal (3, 4800, sampleRate, 2), sampleRate, 24);
    const auto garbage = dir.getChildFile ("garbage.wav");
    garbage.replaceWithText ("this is not audio");
    const auto text = dir.getChildFile ("notes.txt");
    text.replaceWithText ("hello");

    juce::MemoryBlock goodBytes;
    good.loadFileAsData (goodBytes);
    const auto before = filesInDir();
    const auto out = dir.getChildFile ("out.wav").getFullPathName();

    struct Case { const char* what; juce::StringArray args; const char* message; };
    const std::vector<Case> cases {
        { "missing input", { dir.getChildFile ("nope.wav").getFullPathName(), out }, "cannot find input" },
        { "unreadable input", { garbage.getFullPathName(), out }, "cannot read" },
        { "unknown format", { text.getFullPathName(), out }, "unknown input format" },
        { "unknown preset", { "--preset", "No Such Preset", good.getFullPathName(), out }, "unknown preset" },
        { "missing preset file", { "--preset", "gone.orvanepreset", good.getFullPathName(), out }, "cannot find preset file" },
        { "unknown parameter", { "--set", "noSuch=1", good.getFullPathName(), out }, "unknown parameter ID" },
        { "value out of range", { "--set", "mfGain=30", good.getFullPathName(), out }, "-12 .. 12" },
        { "value not a number", { "--set", "hpfFreq=loud", good.getFullPathName(), out }, "not a value" },
        { "channel out of range", { "--channel", "73", good.getFullPathName(), out }, "1 to 72" },
        { "three channels", { threeChannels.getFullPathName(), out }, "only mono and stereo" },
        { "output is the input", { good.getFullPathName(), good.getFullPathName() }, "is the input" },
        { "32-bit float FLAC", { "--bits", "32f", good.getFullPathName(), dir.getChildFile ("x.flac").getFullPathName() }, "needs a WAV" },
        { "missing output folder", { good.getFullPathName(), dir.getChildFile ("no/such/out.wav").getFullPathName() }, "does not exist" },
        { "no files", { "--preset", "Kick" }, "expected INPUT and OUTPUT" },
        { "unknown option", { "--loud", good.getFullPathName(), out }, "unknown option" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto result = runTool (c.args);
        EXPECT_NE (result.exitCode, 0);
        EXPECT_TRUE (result.output.contains ("orvane-render: error:")) << result.output;
        EXPECT_TRUE (result.output.contains (c.message)) << result.output;
        EXPECT_EQ (result.output.trim().indexOfChar ('\n'), -1) << "one line: " << result.output;
        EXPECT_EQ (filesInDir(), before);
    }

    juce::MemoryBlock after;
    good.loadFileAsData (after);
    EXPECT_EQ (after, goodBytes);
}

TEST_F (RenderTool, ListsPresetsParametersAndVersion)
{
    const auto presets = runTool ({ "--list-presets" });
    EXPECT_EQ (presets.exitCode, 0);
    EXPECT_EQ (juce::StringArray::fromLines (presets.output.trim()).size(), 21);
    EXPECT_TRUE (presets.output.contains ("Lead Vocal  (Vocals)"));

    const auto params = runTool ({ "--list-params" });
    EXPECT_EQ (params.exitCode, 0);
    EXPECT_EQ (juce::StringArray::fromLines (params.output.trim()).size(), 27);
    EXPECT_TRUE (params.output.contains ("mfGain\tMF Gain\t-12 .. 12 (step 0.1)\tdefault 0 (0.0 dB)"));
    EXPECT_TRUE (params.output.contains ("bloomMode\tBloom\t0 = Off, 1 = Air, 2 = Body"));

    EXPECT_TRUE (runTool ({ "--version" }).output.contains ("orvane-render 1.0.0"));
    EXPECT_TRUE (runTool ({ "--help" }).output.contains ("Usage: orvane-render"));
}

TEST_F (RenderTool, DemoClipRendersThroughLeadVocal)
{
    const auto demo = dir.getChildFile ("demo.wav");
    juce::ChildProcess generator;
    ASSERT_TRUE (generator.start (juce::StringArray { ORVANE_DEMO_TOOL, demo.getFullPathName() }));
    generator.waitForProcessToFinish (60000);
    ASSERT_EQ (generator.getExitCode(), 0u);

    const auto clip = readFile (demo);
    ASSERT_EQ (clip.buffer.getNumChannels(), 2);
    EXPECT_NEAR (clip.buffer.getMagnitude (0, clip.buffer.getNumSamples()), 0.7f, 0.01f);

    const auto result = runTool ({ "--preset", "Lead Vocal", demo.getFullPathName(), dir.getChildFile ("demo-out.wav").getFullPathName() });
    EXPECT_EQ (result.exitCode, 0) << result.output;
    EXPECT_TRUE (result.output.contains ("x realtime")) << result.output;
}
