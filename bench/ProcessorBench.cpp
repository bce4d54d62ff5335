// processBlock of the whole processor: at 44.1 and 48 kHz, mono and stereo, blocks of
// 64 and 512 samples, with the default settings and with the high-pass filter, the
// equaliser and the compressor engaged; at every oversampling factor with the default
// Silk settings and with "Air" at amount 100; and the "Lead Vocal" preset. The counter
// gives the CPU time per sample frame (one sample of every channel), "per_frame".

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include "presets/FactoryPresets.h"
#include "processor/OrvaneChannelProcessor.h"
#include "processor/ParameterLayout.h"

#include <cmath>

namespace
{
    namespace id = orvane::ParamIDs;

    void setParam (OrvaneChannelProcessor& p, const char* paramId, float value)
    {
        auto* param = p.valueTreeState.getParameter (paramId);
        param->setValueNotifyingHost (param->convertTo0to1 (value));
    }

    void engageSections (OrvaneChannelProcessor& p)
    {
        setParam (p, id::hpfFreq, 80.0f);
        setParam (p, id::lfGain, 4.0f);
        setParam (p, id::mfGain, -3.0f);
        setParam (p, id::mfFreq, 2000.0f);
        setParam (p, id::hfGain, 2.5f);
        setParam (p, id::compOn, 1.0f);
        setParam (p, id::compThresh, -20.0f);
        setParam (p, id::compScHpf, 60.0f);
        setParam (p, id::compLink, 1.0f);
        setParam (p, id::compMakeup, 4.0f);
    }

    enum class Setting { defaults, engaged, air100, leadVocal };

    // Runs the processor over looped program-like material and reports the CPU time
    // per sample frame. osIndex < 0 keeps the setting's own oversampling choice.
    void run (benchmark::State& state, double sampleRate, int channels, int blockSize, Setting setting, int osIndex)
    {
        OrvaneChannelProcessor processor;
        const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        processor.setBusesLayout ({ { set }, { set } });

        if (setting == Setting::engaged)
            engageSections (processor);

        if (setting == Setting::air100)
        {
            setParam (processor, id::bloomMode, 1.0f);
            setParam (processor, id::silkTexture, 100.0f);
        }

        if (setting == Setting::leadVocal)
            FactoryPresets::apply (processor, processor.valueTreeState, FactoryPresets::indexOf ("Lead Vocal"));

        if (osIndex >= 0)
            setParam (processor, id::osRealtime, static_cast<float> (osIndex));

        processor.prepareToPlay (sampleRate, blockSize);

        // A second of program-like material, looped.
        const auto length = static_cast<int> (sampleRate);
        juce::AudioBuffer<float> source (channels, length);
        juce::Random random (42);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < length; ++i)
            {
                const auto t = i / sampleRate;
                source.setSample (ch, i, static_cast<float> (0.4 * std::sin (2 * juce::MathConstants<double>::pi * 110.0 * t)
                                                             + 0.2 * std::sin (2 * juce::MathConstants<double>::pi * 2900.0 * t)
                                                             + 0.1 * (random.nextDouble() * 2 - 1)));
            }

        juce::AudioBuffer<float> buffer (channels, blockSize);
        juce::MidiBuffer midi;
        int position = 0;

        for (auto _ : state)
        {
            if (position + blockSize > length)
                position = 0;
            for (int ch = 0; ch < channels; ++ch)
                buffer.copyFrom (ch, 0, source, ch, position, blockSize);
            position += blockSize;

            processor.processBlock (buffer, midi);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
            benchmark::ClobberMemory();
        }

        // kIsIterationInvariantRate | kInvert turns "frames per second of CPU time" into
        // seconds per frame, which the console prints with its SI prefix ("20.5ns").
        state.counters["per_frame"] = benchmark::Counter (static_cast<double> (blockSize),
                                                          benchmark::Counter::kIsIterationInvariantRate
                                                              | benchmark::Counter::kInvert);
        state.SetItemsProcessed (state.iterations() * blockSize);
        static const char* names[] = { "defaults", "hpf+eq+comp", "silk air 100", "Lead Vocal" };
        state.SetLabel (std::string (names[static_cast<int> (setting)]) + (channels == 1 ? " mono" : " stereo"));
    }

    // Arguments: sample rate, channels, block size, engaged (0 = defaults, 1 = HPF + EQ + compressor).
    void processBlock (benchmark::State& state)
    {
        run (state, static_cast<double> (state.range (0)), static_cast<int> (state.range (1)),
             static_cast<int> (state.range (2)), state.range (3) != 0 ? Setting::engaged : Setting::defaults, -1);
    }

    // Arguments: oversampling index (0 off, 1 = 2x, 2 = 4x, 3 = 8x), block size, Silk
    // (0 = default settings, 1 = "Air" at amount 100); stereo at 48 kHz.
    void oversampling (benchmark::State& state)
    {
        run (state, 48000.0, 2, static_cast<int> (state.range (1)),
             state.range (2) != 0 ? Setting::air100 : Setting::defaults, static_cast<int> (state.range (0)));
    }

    // The "Lead Vocal" preset (HPF, EQ, compressor, "Air"; its own 2x by default) on
    // stereo 48 kHz audio in 128-sample blocks, at every oversampling index.
    void leadVocal (benchmark::State& state)
    {
        run (state, 48000.0, 2, 128, Setting::leadVocal, static_cast<int> (state.range (0)));
    }
}

BENCHMARK (processBlock)
    ->ArgNames ({ "rate", "ch", "block", "engaged" })
    ->ArgsProduct ({ { 44100, 48000 }, { 1, 2 }, { 64, 512 }, { 0, 1 } });

BENCHMARK (oversampling)
    ->ArgNames ({ "os", "block", "air100" })
    ->ArgsProduct ({ { 0, 1, 2, 3 }, { 128, 512 }, { 0, 1 } });

BENCHMARK (leadVocal)
    ->ArgNames ({ "os" })
    ->DenseRange (0, 3);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
