#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "dsp/CompressorLimiter.h"
#include "dsp/Filters.h"
#include "dsp/MeterState.h"
#include "dsp/MeterWriter.h"
#include "dsp/ParametricEQ.h"
#include "dsp/SilkStage.h"
#include "dsp/StereoStage.h"
#include "processor/ConsoleVST3Extensions.h"

#include <array>
#include <atomic>
#include <memory>

/**
    The channel strip as a host sees it: parameters, buses, state and audio.

    One instance is created per plug-in slot (or by the standalone shell). It owns
    the parameter state and the processing blocks, and saves and restores itself as
    the framework's binary value tree.

    The framework's VST3 wrapper finds the VST3 extensions by casting the processor
    to VST3ClientExtensions; the processor passes those calls on to the object that
    getVST3ClientExtensions() returns.
*/
class OrvaneChannelProcessor : public juce::AudioProcessor,
                               public juce::VST3ClientExtensions
{
public:
    /** Builds the buses, the parameter state and the host meter parameter. */
    OrvaneChannelProcessor();

    /** Releases the extensions first, then the processing blocks and the parameters. */
    ~OrvaneChannelProcessor() override;

    //==============================================================================
    /** Sizes and resets every processing block for the given rate and block size. */
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;

    /** Keeps everything allocated; the next block works without a new preparation. */
    void releaseResources() override;

    /** Processes one block in place; MIDI is ignored. A block longer than the size
        announced to prepareToPlay is processed in pieces of that size. */
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    /** The host's bypass: the dry signal, delayed by the reported latency so that a
        bypassed track stays aligned with the host's latency compensation. */
    void processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    using juce::AudioProcessor::processBlockBypassed;

    using juce::AudioProcessor::processBlock;

    /** Accepts mono to mono and stereo to stereo only. */
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    //==============================================================================
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    const juce::String getName() const override { return "Orvane Channel"; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}

    //==============================================================================
    /** Appends the parameter tree, with the compact-view flag, to the host's block. */
    void getStateInformation (juce::MemoryBlock& destData) override;

    /** Restores a block written by getStateInformation; anything unreadable is ignored. */
    void setStateInformation (const void* data, int sizeInBytes) override;

    //==============================================================================
    /** The VST3 extension object that answers the wrapper's queries. */
    ConsoleVST3Extensions* getVST3ClientExtensions() const noexcept { return vst3Extensions.get(); }

    /** Passed on to getVST3ClientExtensions(). */
    int32_t queryIEditController (const Steinberg::TUID iid, void** obj) override;

    /** Passed on to getVST3ClientExtensions(). */
    int32_t queryIAudioProcessor (const Steinberg::TUID iid, void** obj) override;

    /** Passed on to getVST3ClientExtensions(). */
    void setIComponentHandler (Steinberg::FUnknown* handler) override;

    /** Passed on to getVST3ClientExtensions(). */
    void setIHostApplication (Steinberg::FUnknown* host) override;

    /** Passed on to getVST3ClientExtensions(). */
    bool getPluginHasMainInput() const override;

    //==============================================================================
    /** The parameter state: the 27 layout parameters and their value tree. */
    juce::AudioProcessorValueTreeState valueTreeState;

    /** Meter values written by the audio thread, shared with the editor and the host reporter. */
    std::shared_ptr<MeterState> meterState;

    /** Whether the editor shows its compact layout; stored with the plug-in state. */
    bool compactView = false;

    //==============================================================================
    /** Ramp length of the input, output and channel trims, in seconds. */
    static constexpr double gainRampSeconds = 0.02;

    /** Highest oversampling index: 0 off, 1 = 2x, 2 = 4x, 3 = 8x. */
    static constexpr int maximumOsIndex = 3;

    /** A boolean parameter counts as on above this value. */
    static constexpr float switchOnThreshold = 0.5f;

    /**
        The oversampling index for the two choices: the osRealtime index, or, while the
        host renders offline and osOffline is not "Same as Realtime", osOffline's index
        minus one; clamped to 0..3.
    */
    static int chooseOversamplingIndex (float osRealtime, float osOffline, bool nonRealtime) noexcept;

    /** The oversampling index the Silk stage runs at. */
    int getCurrentOsIndex() const noexcept { return silk.getOsIndex(); }

private:
    friend struct OrvaneChannelProcessorTestAccess;

    /** A block of any length through the chain, in pieces of at most the prepared size. */
    void processInPieces (juce::AudioBuffer<float>& buffer) noexcept;

    /** One block of at most the prepared size through the whole chain. */
    void processChunk (juce::AudioBuffer<float>& buffer) noexcept;

    /** Replaces non-finite input samples by silence and clamps absurd magnitudes, so
        that a broken host or plug-in upstream cannot poison any filter state. */
    static void sanitiseInput (juce::AudioBuffer<float>& buffer) noexcept;

    /** Writes the block's input into the bypass delay and, when bypassed, replaces the
        block by the input of latency samples ago. */
    void runBypassDelay (juce::AudioBuffer<float>& buffer, bool bypassed) noexcept;

    /** Every parameter read once, and the settings derived from it handed to the blocks. */
    void updateParameters() noexcept;

    /** The oversampling choice for this block; applied and latency re-reported when it changes. */
    void updateOversampling (float osRealtime, float osOffline) noexcept;

    /** Switches the Silk stage's oversampling factor. */
    void applyOsIndex (int index) noexcept;

    /** The Silk stage's latency at the host rate, in samples. */
    int currentSilkLatency() const noexcept { return silk.getLatencySamples(); }

    /** Multiplies every channel by a linearly smoothed gain, advanced once per sample. */
    static void applySmoothedGain (juce::AudioBuffer<float>& buffer, juce::SmoothedValue<float>& gain, float sign) noexcept;

    // The steps of the chain that hand over to the Silk stage, the channel tolerance,
    // the channel trim, the stereo stage and the meter record.
    void prepareSilkStage (double sampleRate, int numChannels, int maximumBlockSize);
    void prepareStereoStage (double sampleRate);
    void updateTolerance (float tmtChannel) noexcept;
    void updateSilkSettings (float bloomMode, float silkTexture) noexcept;
    void updateStereoSettings (float stWidth, float monoMakerHz) noexcept;
    void measureInputLevels (const juce::AudioBuffer<float>& buffer) noexcept;
    void runSilkStage (juce::dsp::AudioBlock<float>& block) noexcept;
    void applyChannelTrim (juce::dsp::AudioBlock<float>& block) noexcept;
    void runStereoStage (juce::dsp::AudioBlock<float>& block) noexcept;
    void writeMeters (const juce::AudioBuffer<float>& buffer, bool compOn, const MeterWriter::GainReduction& gainReduction);

    //==============================================================================
    // Signal-processing members, in chain order.
    Filters filters;
    ParametricEQ equaliser;
    CompressorLimiter compressor;

    SilkStage silk;

    /** Per-channel output level tolerance, multiplicatively smoothed over 20 ms. */
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Multiplicative> channelTrim { 1.0f };

    StereoStage stereo;

    juce::SmoothedValue<float> inputGain { 1.0f };
    juce::SmoothedValue<float> outputGain { 1.0f };
    float polaritySign = 1.0f;

    /** The untouched input's levels, measured at the start of the block for the meters. */
    MeterWriter::Levels inputLevels;

    /** Answers the VST3 wrapper's interface queries (the host gain-reduction reporter). */
    std::unique_ptr<ConsoleVST3Extensions> vst3Extensions;

    /** The block size announced to prepareToPlay; 0 before the first one. */
    int preparedBlockSize = 0;

    /** Length of the bypass delay ring, a power of two far above any latency. */
    static constexpr int bypassDelaySize = 1024;

    /** Per-channel ring of recent input for the bypassed path; sized in prepareToPlay. */
    juce::AudioBuffer<float> bypassDelay;
    int bypassDelayPosition = 0;

    /** Where the chain keeps running while the host bypasses it; sized in prepareToPlay. */
    juce::AudioBuffer<float> bypassScratch;

    juce::AudioParameterFloat* grMeterParameter = nullptr;
    float lastGrSent = -1.0f;
    int lastLatencySamples = -1;

    /** The parameter state's raw values, looked up once in the constructor. */
    struct ParameterValues
    {
        std::atomic<float>* inputGain = nullptr;
        std::atomic<float>* polarity = nullptr;
        std::atomic<float>* outputGain = nullptr;
        std::atomic<float>* hpfFreq = nullptr;
        std::atomic<float>* eqOn = nullptr;
        std::atomic<float>* lfGain = nullptr;
        std::atomic<float>* lfFreqHi = nullptr;
        std::atomic<float>* mfFreq = nullptr;
        std::atomic<float>* mfGain = nullptr;
        std::atomic<float>* hfGain = nullptr;
        std::atomic<float>* hfFreqHi = nullptr;
        std::atomic<float>* compOn = nullptr;
        std::atomic<float>* compThresh = nullptr;
        std::atomic<float>* compRelease = nullptr;
        std::atomic<float>* compMakeup = nullptr;
        std::atomic<float>* compScHpf = nullptr;
        std::atomic<float>* compPreEq = nullptr;
        std::atomic<float>* compLink = nullptr;
        std::atomic<float>* bloomMode = nullptr;
        std::atomic<float>* silkTexture = nullptr;
        std::atomic<float>* tmtChannel = nullptr;
        std::atomic<float>* stWidth = nullptr;
        std::atomic<float>* monoMakerHz = nullptr;
        std::atomic<float>* osRealtime = nullptr;
        std::atomic<float>* osOffline = nullptr;
    };

    ParameterValues params;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrvaneChannelProcessor)
};
