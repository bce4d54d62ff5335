#include "demo/DemoSignal.h"

#include <cmath>

namespace
{
    constexpr double twoPi = juce::MathConstants<double>::twoPi;

    // Two-pole resonator (constant peak gain band-pass) used as a vocal formant.
    struct Resonator
    {
        double b0 = 0, a1 = 0, a2 = 0, y1 = 0, y2 = 0, x2 = 0, x1 = 0;

        void set (double frequency, double bandwidth, double sampleRate)
        {
            const auto r = std::exp (-juce::MathConstants<double>::pi * bandwidth / sampleRate);
            a1 = -2.0 * r * std::cos (twoPi * frequency / sampleRate);
            a2 = r * r;
            b0 = (1.0 - r * r) * 0.5;
        }

        double process (double x)
        {
            const auto y = b0 * (x - x2) - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };

    struct Vowel { double f1, f2, f3; };

    // Formant frequencies of the vowels a, e, i, o, u (adult voice, Hz).
    const Vowel vowels[] = { { 730, 1090, 2440 }, { 530, 1840, 2480 }, { 270, 2290, 3010 },
                             { 570, 840, 2410 }, { 300, 870, 2240 } };

    // A pentatonic phrase for the voice, in Hz, one note per beat.
    const double melody[] = { 220.0, 246.9, 293.7, 329.6, 293.7, 246.9, 220.0, 196.0 };
}

juce::AudioBuffer<float> DemoSignal::generate (double sampleRate, double seconds)
{
    const auto numSamples = static_cast<int> (sampleRate * seconds);
    juce::AudioBuffer<float> out (2, numSamples);
    out.clear();

    juce::Random random (20261211); // fixed seed: the demo is identical on every machine

    constexpr double tempoBpm = 100.0;
    const auto beat = sampleRate * 60.0 / tempoBpm;
    const auto melodyLength = static_cast<int> (std::size (melody));
    const auto vowelCount = static_cast<int> (std::size (vowels));

    Resonator formants[3];
    double phase = 0.0, vibratoPhase = 0.0, kickPhase = 0.0;
    double hatState = 0.0;
    double snareTone = 0.0;

    for (int n = 0; n < numSamples; ++n)
    {
        const auto t = static_cast<double> (n);
        const auto beatIndex = static_cast<int> (t / beat);
        const auto inBeat = (t - beatIndex * beat) / sampleRate; // seconds since the beat
        const auto eighth = std::fmod (t, beat / 2.0) / sampleRate;

        // Voice: a glottal-like pulse train (a sawtooth softened by its own square)
        // with vibrato, through three formants that change vowel on every beat.
        if (inBeat * sampleRate < 1.0)
        {
            const auto& v = vowels[beatIndex % vowelCount];
            formants[0].set (v.f1, 80.0, sampleRate);
            formants[1].set (v.f2, 100.0, sampleRate);
            formants[2].set (v.f3, 150.0, sampleRate);
        }

        constexpr double vibratoHz = 5.5, vibratoDepth = 0.012;
        vibratoPhase += twoPi * vibratoHz / sampleRate;
        const auto pitch = melody[beatIndex % melodyLength] * (1.0 + vibratoDepth * std::sin (vibratoPhase));
        phase += pitch / sampleRate;
        phase -= std::floor (phase);
        const auto pulse = (phase - 0.5) - 4.0 * (phase - 0.5) * (phase - 0.5) * (phase - 0.5);
        const auto breath = 0.02 * (random.nextDouble() * 2.0 - 1.0);
        const auto syllable = std::min (1.0, inBeat * 20.0) * std::exp (-inBeat * 1.2);
        const auto source = (pulse + breath) * syllable;
        const auto voice = 6.0 * (formants[0].process (source) + 0.7 * formants[1].process (source)
                                  + 0.4 * formants[2].process (source));

        // Kick on every beat: a sine falling from 120 Hz towards 45 Hz.
        const auto kickFrequency = 45.0 + 75.0 * std::exp (-inBeat * 30.0);
        kickPhase += twoPi * kickFrequency / sampleRate;
        const auto kick = 0.8 * std::sin (kickPhase) * std::exp (-inBeat * 9.0);

        // Snare on beats 2 and 4: a noise burst with a 185 Hz body.
        double snare = 0.0;

        if (beatIndex % 2 == 1)
        {
            snareTone += twoPi * 185.0 / sampleRate;
            snare = (0.35 * (random.nextDouble() * 2.0 - 1.0) + 0.25 * std::sin (snareTone)) * std::exp (-inBeat * 22.0);
        }

        // Hi-hat on the eighths: noise through a first-order high-pass.
        const auto noise = random.nextDouble() * 2.0 - 1.0;
        const auto hat = 0.12 * (noise - hatState) * std::exp (-eighth * 60.0);
        hatState = noise;

        const auto drums = kick + snare;
        out.setSample (0, n, static_cast<float> (0.45 * voice + 0.5 * drums + 0.8 * hat));
        out.setSample (1, n, static_cast<float> (0.45 * voice + 0.5 * drums + 0.5 * hat));
    }

    // Leave headroom for the strip's make-up gain.
    constexpr float demoPeak = 0.7f;
    const auto peak = out.getMagnitude (0, numSamples);

    if (peak > 0.0f)
        out.applyGain (demoPeak / peak);

    return out;
}
