#pragma once

// What a demanding host does to a plug-in, and what must hold whatever the plug-in
// sounds like. Shared by the torture tests that drive the processor directly and
// those that drive the built VST3 and LV2 binaries: both are a juce::AudioProcessor.
//
// Nothing here knows the chain's exact sound. The checks are properties of any
// correct chain: every sample finite, not subnormal and within what the gains can
// produce; a saved state that restores to the same bytes; a reported latency that
// is the delay a tone really sees.

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>
#include <complex>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace orvane::test::habits
{
    //==============================================================================
    /**
        The largest gain the chain can apply to a full-scale input, stage by stage,
        in dB. Every figure is the top of a parameter's range or a property of a
        fixed stage; the sum is what a correct chain can never exceed, so a sample
        beyond it means a stage has run away (an unstable filter, a feedback loop, a
        gain applied twice), long before the value overflows to infinity.
    */
    namespace gainLimits
    {
        constexpr double inputTrimDb = 24.0;   // inputGain at the top of its range
        constexpr double equaliserDb = 36.0;   // the three bands at +12 dB each, stacked where they overlap
        constexpr double makeUpDb = 20.0;      // compMakeup at the top; the compressor's own gain stays at most 1
        constexpr double outputTrimDb = 10.0;  // outputGain at the top of its range
        constexpr double widthDb = 6.1;        // 200 % width doubles a side-only signal
        constexpr double fixedStagesDb = 3.0;  // the console shelves (+0.5 dB) and the channel's trim tolerance
        constexpr double transientDb = 12.0;   // overshoot of gliding filters, the DC blocker's step response,
                                               // the oversampling filters' ringing and the saturator's wet share

        constexpr double totalDb = inputTrimDb + equaliserDb + makeUpDb + outputTrimDb + widthDb + fixedStagesDb + transientDb;
    }

    /** |y| above this, for inputs within ±1, is a fault (about 3.6e5, +111 dB). */
    inline float outputBound()
    {
        return static_cast<float> (std::pow (10.0, gainLimits::totalDb / 20.0));
    }

    /** The first sample of the buffer that is not finite, is subnormal or exceeds the
        bound, described; empty when every sample is fine. */
    inline std::string findBadSample (const juce::AudioBuffer<float>& buffer, float bound)
    {
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        {
            const auto* data = buffer.getReadPointer (ch);

            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                const auto y = data[i];
                const char* what = nullptr;

                if (! std::isfinite (y))
                    what = "not finite";
                else if (std::fpclassify (y) == FP_SUBNORMAL)
                    what = "subnormal";
                else if (std::abs (y) > bound)
                    what = "beyond the bound";

                if (what != nullptr)
                {
                    std::ostringstream text;
                    text << what << ": " << std::setprecision (9) << y << " at channel " << ch << ", sample " << i;
                    return text.str();
                }
            }
        }

        return {};
    }

    //==============================================================================
    /** How the torture treats a parameter. */
    enum class Automation
    {
        everyBlock, ///< an automatable parameter: a new random value in every block
        sometimes,  ///< not automatable, but the editor's options menu changes it while playing
        never       ///< an output (the gain-reduction meter) or the wrapper's own bypass switch
    };

    /** By name, so that it works for the processor and for a hosted binary alike. */
    inline Automation automationOf (const juce::AudioProcessorParameter& parameter)
    {
        const auto name = parameter.getName (100);

        if (name == "Oversampling" || name == "Oversampling (Offline)")
            return Automation::sometimes;

        if (name == "Comp GR" || name == "Bypass" || name == "Enabled")
            return Automation::never;

        return Automation::everyBlock;
    }

    /**
        Random values for the parameters, as if every automation lane were noise: every
        automatable parameter gets a new value in every block, a quarter of them at an
        end of the range (where "OFF" positions, silence and the largest gains live).
    */
    class ParameterFuzzer
    {
    public:
        ParameterFuzzer (juce::AudioProcessor& processor, juce::int64 seed) : random (seed)
        {
            for (auto* p : processor.getParameters())
            {
                const auto automation = automationOf (*p);

                if (automation == Automation::everyBlock)
                    automated.push_back (p);
                else if (automation == Automation::sometimes)
                    oversampling.push_back (p);
            }
        }

        /** New values for every automatable parameter; now and then the oversampling
            choices too. */
        void nextBlock()
        {
            for (auto* p : automated)
                p->setValueNotifyingHost (randomValue());

            if (random.nextInt (oversamplingChangeOdds) == 0)
                randomiseOversampling();
        }

        /** New values for the two oversampling choices. */
        void randomiseOversampling()
        {
            for (auto* p : oversampling)
                p->setValueNotifyingHost (random.nextFloat());
        }

        /** Every automated parameter back to its default: the settings under which the
            chain's filters are flat and its latency can be measured. The oversampling
            choices stay. */
        void resetToDefaults()
        {
            for (auto* p : automated)
                p->setValueNotifyingHost (p->getDefaultValue());
        }

        /** How many parameters get a value in every block, and how many only sometimes:
            a test checks these so that a renamed parameter cannot quietly drop out. */
        size_t numAutomated() const noexcept { return automated.size(); }
        size_t numOversamplingChoices() const noexcept { return oversampling.size(); }

    private:
        static constexpr int oversamplingChangeOdds = 8;
        static constexpr int rangeEndOdds = 4;

        float randomValue()
        {
            if (random.nextInt (rangeEndOdds) == 0)
                return random.nextBool() ? 1.0f : 0.0f;

            return random.nextFloat();
        }

        juce::Random random;
        std::vector<juce::AudioProcessorParameter*> automated, oversampling;
    };

    //==============================================================================
    /** Calls the processor under test with one block (the direct tests wrap it to
        count allocations). */
    using ProcessFunction = std::function<void (juce::AudioBuffer<float>&, juce::MidiBuffer&)>;

    /** Reads the latency the processor reports (a hosted binary's host learns it
        through its own channels). */
    using LatencyReader = std::function<int()>;

    /**
        The delay, in samples, that a 1 kHz tone sees through process: its phase delay.

        Settings under which the chain is flat around 1 kHz make this the latency. The
        tone alone tells the delay only modulo one period (22 samples at 22.05 kHz),
        so a noise burst first gives the whole number of samples by cross-correlation,
        and the tone's phase then refines it:

        silence (ramps and glides settle) | noise burst | gap | tone settling | tone, measured

        The same signal goes to every channel; channel 0 is measured. Returns NaN when
        no delay from 0 to 1024 samples makes the output resemble the burst.
    */
    inline double measureLatency (const ProcessFunction& process, int numChannels, double sampleRate, int blockSize)
    {
        constexpr double toneHz = 1000.0;
        constexpr float level = 0.1f;           // low enough to keep the saturator near linear
        constexpr double settleSeconds = 0.05;  // longer than every ramp and glide of the chain
        constexpr int burstSamples = 4096;
        constexpr int maximumLagSamples = 1024; // far beyond any oversampler's latency
        constexpr double minimumCorrelation = 0.5;
        constexpr double gapSeconds = 0.01;
        constexpr double toneSettleSeconds = 0.02;
        constexpr double windowSeconds = 0.1;   // 100 periods of the tone

        const auto seconds = [sampleRate] (double s) { return static_cast<int> (std::ceil (s * sampleRate)); };
        const int burstStart = seconds (settleSeconds);
        const int toneStart = burstStart + burstSamples + std::max (seconds (gapSeconds), maximumLagSamples);
        const int windowStart = toneStart + seconds (toneSettleSeconds);
        const int windowLength = seconds (windowSeconds);
        const int total = windowStart + windowLength;

        const auto omega = juce::MathConstants<double>::twoPi * toneHz / sampleRate;

        std::vector<float> input (static_cast<size_t> (total), 0.0f), output (input.size(), 0.0f);
        juce::Random noise (1);

        for (int i = burstStart; i < burstStart + burstSamples; ++i)
            input[static_cast<size_t> (i)] = level * (2.0f * noise.nextFloat() - 1.0f);

        for (int i = toneStart; i < total; ++i)
            input[static_cast<size_t> (i)] = level * static_cast<float> (std::sin (omega * (i - toneStart)));

        juce::AudioBuffer<float> io (numChannels, blockSize);
        juce::MidiBuffer midi;

        for (int start = 0; start < total; start += blockSize)
        {
            const auto n = std::min (blockSize, total - start);
            juce::AudioBuffer<float> block (io.getArrayOfWritePointers(), numChannels, 0, n);

            for (int ch = 0; ch < numChannels; ++ch)
                block.copyFrom (ch, 0, input.data() + start, n);

            process (block, midi);
            midi.clear();
            std::copy (block.getReadPointer (0), block.getReadPointer (0) + n, output.begin() + start);
        }

        // Whole samples: the lag at which the output correlates best with the burst.
        // A weak best correlation means the delay is out of range (or the output has
        // little to do with the input): no answer is better than a wrong one.
        const auto squared = [] (float x) { return static_cast<double> (x) * x; };
        double inputEnergy = 0.0, outputEnergy = 0.0;

        for (int i = burstStart; i < burstStart + burstSamples; ++i)
        {
            inputEnergy += squared (input[static_cast<size_t> (i)]);
            outputEnergy += squared (output[static_cast<size_t> (i)]);
        }

        int bestLag = 0;
        double best = 0.0;

        for (int lag = 0; lag <= maximumLagSamples; ++lag)
        {
            double sum = 0.0;

            for (int i = burstStart; i < burstStart + burstSamples; ++i)
                sum += static_cast<double> (input[static_cast<size_t> (i)]) * output[static_cast<size_t> (i + lag)];

            const auto correlation = sum / std::sqrt (inputEnergy * std::max (outputEnergy, 0.0) + 1.0e-30);

            if (correlation > best)
            {
                best = correlation;
                bestLag = lag;
            }

            // The output window slides on by one sample.
            outputEnergy += squared (output[static_cast<size_t> (burstStart + burstSamples + lag)])
                            - squared (output[static_cast<size_t> (burstStart + lag)]);
        }

        if (best < minimumCorrelation)
            return std::nan ("");

        // The fraction: the phase of the tone at the output against the input, over a
        // Hann window, whose leakage from the negative frequency is negligible here.
        std::complex<double> in, out;

        for (int i = 0; i < windowLength; ++i)
        {
            const auto n = static_cast<size_t> (windowStart + i);
            const auto w = 0.5 - 0.5 * std::cos (juce::MathConstants<double>::twoPi * (i + 0.5) / windowLength);
            const auto phasor = std::polar (w, -omega * static_cast<double> (n));
            in += static_cast<double> (input[n]) * phasor;
            out += static_cast<double> (output[n]) * phasor;
        }

        const auto phaseLag = -std::arg (out / in);
        return bestLag + std::remainder (phaseLag - omega * bestLag, juce::MathConstants<double>::twoPi) / omega;
    }

    //==============================================================================
    /** What a session plays into the processor. */
    enum class Material
    {
        music,    ///< sines and noise at levels from -40 dBFS to full scale, different per channel
        extreme,  ///< full-scale square waves, the channels in or out of phase
        fadeOut,  ///< a tail falling from 1e-30 to 1e-37 and then digital silence, where filter
                  ///< states and gains turn samples subnormal unless denormals are flushed
        silence   ///< digital silence, in which everything the chain still holds dies away
    };

    /** The material's name, for the fault reports. */
    inline const char* nameOf (Material material)
    {
        switch (material)
        {
            case Material::music: return "music";
            case Material::extreme: return "extreme material";
            case Material::fadeOut: return "the fade-out";
            case Material::silence: return "silence";
        }

        return "";
    }

    /**
        One processor driven through a host's habits, block by block, with every
        output sample checked. The test decides the order of the habits; faults are
        collected (the first few, with where they happened) for it to report.
    */
    class HostSession
    {
    public:
        HostSession (juce::AudioProcessor& processorToDrive, double rate, int maximumBlockSize, juce::int64 seed,
                     ProcessFunction processFunction = {}) :
            processor (processorToDrive),
            sampleRate (rate),
            maxBlock (maximumBlockSize),
            random (seed),
            fuzzer (processorToDrive, seed + 1),
            process (processFunction ? std::move (processFunction)
                                     : [&processorToDrive] (juce::AudioBuffer<float>& b, juce::MidiBuffer& m) { processorToDrive.processBlock (b, m); }),
            // Hosts hand over blocks at varying places of their own, larger buffers.
            io (maxIoChannels, 2 * maximumBlockSize)
        {
        }

        /** prepareToPlay at the session's rate and maximum block size. */
        void prepare()
        {
            processor.prepareToPlay (sampleRate, maxBlock);
            where = "prepareToPlay";
        }

        /** releaseResources; hosts go on processing afterwards without a new prepare. */
        void release()
        {
            processor.releaseResources();
            where = "releaseResources";
        }

        /** Switches mono to stereo or back between preparations, as when a track's
            channel count changes; returns false when the processor refuses. */
        bool switchLayout()
        {
            processor.releaseResources();
            const auto set = numChannels() == 1 ? juce::AudioChannelSet::stereo() : juce::AudioChannelSet::mono();
            where = set == juce::AudioChannelSet::mono() ? "switch to mono" : "switch to stereo";
            return processor.setBusesLayout ({ { set }, { set } });
        }

        /** Offline rendering on or off, as a host does before preparing for a bounce. */
        void setNonRealtime (bool offline) { processor.setNonRealtime (offline); }

        /** Plays about numSamples samples in blocks of random length up to the maximum,
            some of them empty, with new parameter values in every block, checking every
            output sample. */
        void play (int numSamples, Material material)
        {
            int played = 0;

            // Hosts send an empty block now and then, typically on starting the
            // transport or when parameters change while stopped: every stretch starts
            // with one, and one in sixteen blocks after that is empty too.
            for (bool first = true; played < numSamples && faults.size() < maxFaults; first = false)
            {
                fuzzer.nextBlock();
                const auto length = first ? 0 : nextBlockLength();
                playBlock (length, material, played, numSamples);
                played += length;
            }

            where += std::string (", then ") + nameOf (material);
        }

        /** The state block, as a host saves it. */
        juce::MemoryBlock save()
        {
            juce::MemoryBlock block;
            processor.getStateInformation (block);
            return block;
        }

        /** Restores a state block while playing. */
        void restore (const juce::MemoryBlock& block)
        {
            processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
            where = "state restored";
        }

        /** Saves, moves every parameter elsewhere and plays a block, restores what was
            saved and saves again: the two saves must be the same bytes, so the restore
            must have brought every parameter back. Returns the state. */
        juce::MemoryBlock roundTripState()
        {
            const auto first = save();
            fuzzer.nextBlock();
            fuzzer.randomiseOversampling();

            // Some hosts (LV2) hand parameter changes over with the next block.
            constexpr int shortBlock = 32;
            playBlock (std::min (shortBlock, maxBlock), Material::music, 0, shortBlock);

            restore (first);
            const auto second = save();
            where = "state round trip";

            if (first != second)
                noteFault ("the state changed on a save-restore-save round trip (" + std::to_string (first.getSize())
                           + " bytes, then " + std::to_string (second.getSize()) + ")");

            return first;
        }

        /**
            Plays silence at the parameters' current values, in full blocks, until the
            output has stayed 80 dB below the latency probe's level for longer than
            every ramp and glide of the chain; returns false (and notes a fault) when
            that has not happened after a second.

            Filters ring on after loud material stops, for as long as their slowest pole
            says: a high-pass at 8 Hz, as a DC blocker is, decays with a time constant of
            20 ms at every rate, and takes 0.3 s to bring an output of +35 dB (the fuzzed
            gains reach that easily) down to the quiet level. Until then the old
            material's tail is louder than the latency probe's own signal. At the
            default settings every state of a correct chain decays; one that does not
            fall quiet in silence is ringing on or running away.
        */
        bool settle()
        {
            const auto samplesOf = [this] (double s) { return static_cast<int> (std::ceil (s * sampleRate)); };
            const auto quietNeeded = samplesOf (quietSeconds);
            const auto mostSamples = samplesOf (longestSettleSeconds);
            int quietFor = 0, played = 0;
            float peak = 0.0f;

            while (quietFor < quietNeeded && played < mostSamples && faults.size() < maxFaults)
            {
                peak = playBlock (maxBlock, Material::silence, played, mostSamples);
                quietFor = peak < quietLevel ? quietFor + maxBlock : 0;
                played += maxBlock;
            }

            where += ", then silence";

            if (quietFor >= quietNeeded)
                return true;

            noteFault ("the output was still at " + std::to_string (peak) + " after "
                       + std::to_string (juce::roundToInt (longestSettleSeconds * 1000.0)) + " ms of silence");
            return false;
        }

        /** Puts the automated parameters back to their defaults (the oversampling
            choices stay), lets the chain settle in silence, measures the latency a
            1 kHz tone sees, and compares it with the latency the processor reports
            afterwards. */
        double checkLatency (const LatencyReader& latencyReported)
        {
            fuzzer.resetToDefaults();

            if (! settle())
                return std::nan ("");

            const auto measured = measureLatency (process, numChannels(), sampleRate, maxBlock);
            const auto reported = latencyReported();

            if (! (std::abs (measured - reported) <= maximumLatencyError))
                noteFault ("reported latency " + std::to_string (reported) + " but measured "
                           + std::to_string (measured) + " samples");

            where += ", then the latency probe";
            return measured;
        }

        int numChannels() const { return std::max (1, std::min (maxIoChannels, processor.getTotalNumOutputChannels())); }

        ParameterFuzzer& getFuzzer() noexcept { return fuzzer; }

        /** The faults seen so far, each with where it happened. */
        std::vector<std::string> faults;

        /** Half a sample: a whole-sample latency reported as the nearest whole number. */
        static constexpr double maximumLatencyError = 0.5;

    private:
        static constexpr int maxIoChannels = 2;
        static constexpr size_t maxFaults = 8;
        static constexpr int emptyBlockOdds = 16;

        // A tail 80 dB below the latency probe's level cannot move its correlation or
        // its phase measurably.
        static constexpr float quietLevel = 1.0e-5f;

        // Longer than every ramp and glide: a gain ramping up from silence can lift a
        // tail the chain still holds.
        static constexpr double quietSeconds = 0.05;

        // Twice what an 8 Hz pole needs to bring the largest output the chain can
        // produce (outputBound()) down to quietLevel.
        static constexpr double longestSettleSeconds = 1.0;

        /** One block of the material, from its sample firstSample on, with every
            output sample checked; returns the block's output peak. */
        float playBlock (int length, Material material, int firstSample, int materialLength)
        {
            const auto start = random.nextInt (io.getNumSamples() - maxBlock + 1);
            const auto channels = numChannels();
            juce::AudioBuffer<float> block (io.getArrayOfWritePointers(), channels, start, length);

            fill (block, material, firstSample, materialLength);
            process (block, midi);
            midi.clear();
            ++blocksPlayed;

            if (auto bad = findBadSample (block, outputBound()); ! bad.empty())
                noteFault (bad + ", block " + std::to_string (blocksPlayed) + " of " + std::to_string (length) + " samples");

            auto peak = 0.0f;

            for (int ch = 0; ch < channels; ++ch)
                peak = std::max (peak, block.getMagnitude (ch, 0, length));

            return peak;
        }

        void noteFault (const std::string& fault)
        {
            if (faults.size() < maxFaults)
                faults.push_back (fault + " (after: " + where + ")");
        }

        int nextBlockLength()
        {
            if (random.nextInt (emptyBlockOdds) == 0)
                return 0;

            // Half of the blocks are full, as most hosts send; the rest any shorter length.
            return random.nextBool() ? maxBlock : 1 + random.nextInt (maxBlock);
        }

        void fill (juce::AudioBuffer<float>& block, Material material, int firstSample, int materialLength)
        {
            // The fade-out falls from 1e-30 to 1e-37, just above the smallest normal
            // float, within the first half of the stretch; digital silence follows.
            constexpr double tinyLevel = 1.0e-30, fadeDecades = -7.0;
            static const float levels[] = { 1.0f, 0.5f, 0.1f, 0.01f };
            const auto level = levels[random.nextInt (4)];
            const bool antiPhase = random.nextBool();

            for (int ch = 0; ch < block.getNumChannels(); ++ch)
            {
                auto* data = block.getWritePointer (ch);

                for (int i = 0; i < block.getNumSamples(); ++i)
                {
                    const auto n = firstSample + i;
                    const auto t = n / sampleRate;
                    float x = 0.0f;

                    switch (material)
                    {
                        case Material::music:
                            x = level * (0.5f * static_cast<float> (std::sin (juce::MathConstants<double>::twoPi * (110.0 + 37.0 * ch) * t))
                                         + 0.3f * static_cast<float> (std::sin (juce::MathConstants<double>::twoPi * 2750.0 * t))
                                         + 0.2f * (2.0f * random.nextFloat() - 1.0f));
                            break;

                        case Material::extreme:
                            x = std::sin (juce::MathConstants<double>::twoPi * 60.0 * t) >= 0.0 ? 1.0f : -1.0f;
                            if (antiPhase && ch == 1)
                                x = -x;
                            break;

                        case Material::silence:
                            break;

                        case Material::fadeOut:
                            if (n < materialLength / 2)
                            {
                                const auto fade = std::pow (10.0, fadeDecades * n / (materialLength / 2));
                                x = static_cast<float> (tinyLevel * fade * std::sin (juce::MathConstants<double>::twoPi * 440.0 * t));

                                // Only the processor may produce subnormals here: they are not fed in.
                                if (std::fpclassify (x) == FP_SUBNORMAL)
                                    x = 0.0f;
                            }
                            break;
                    }

                    data[i] = x;
                }
            }
        }

        juce::AudioProcessor& processor;
        const double sampleRate;
        const int maxBlock;
        juce::Random random;
        ParameterFuzzer fuzzer;
        ProcessFunction process;
        juce::AudioBuffer<float> io;
        juce::MidiBuffer midi;
        std::string where = "construction";
        int blocksPlayed = 0;
    };

    /**
        One session through every habit, in the order hosts show them, each stretch of
        audio about stretch samples long, with the latency measured three times on the
        way. Returns false when the processor refused to switch between mono and stereo
        (the rest of the session then plays in the layout it had).
    */
    inline bool playEveryHabit (HostSession& session, int stretch, const LatencyReader& reportedLatency)
    {
        session.prepare();
        session.prepare(); // hosts often prepare twice before the first block
        session.play (stretch, Material::music);
        const auto earlier = session.roundTripState();
        session.play (stretch, Material::extreme);
        session.checkLatency (reportedLatency);

        // Back to an earlier state while playing (an undo, or a preset): a changed
        // oversampling choice must be re-reported from processBlock.
        session.play (stretch, Material::music);
        session.restore (earlier);
        session.checkLatency (reportedLatency);

        // Processing goes on after releaseResources, without a new preparation.
        session.release();
        session.play (stretch / 2, Material::music);

        // The other layout, rendered offline (where osOffline decides).
        const bool switched = session.switchLayout();
        session.setNonRealtime (true);
        session.prepare();
        session.play (stretch, Material::music);
        session.roundTripState();
        session.play (stretch, Material::fadeOut);
        session.checkLatency (reportedLatency);

        // And back to the first layout, in real time again.
        const bool switchedBack = ! switched || session.switchLayout();
        session.setNonRealtime (false);
        session.prepare();
        session.play (stretch / 2, Material::extreme);

        return switched && switchedBack;
    }
}
