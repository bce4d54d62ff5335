#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "dsp/MeterState.h"
#include "processor/ConsoleVST3Extensions.h"

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

    /** Processes one block in place; MIDI is ignored. */
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

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

private:
    std::unique_ptr<ConsoleVST3Extensions> vst3Extensions;
    juce::AudioParameterFloat* grMeterParameter = nullptr;
    float lastGrSent = -1.0f;
    int lastLatencySamples = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrvaneChannelProcessor)
};
