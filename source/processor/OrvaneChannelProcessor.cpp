#include "processor/OrvaneChannelProcessor.h"

#include "dsp/ChannelTolerance.h"
#include "processor/HostMeterUpdater.h"
#include "processor/ParameterLayout.h"
#include "processor/StateBlockParser.h"
#include "processor/StateRestorer.h"

#include <algorithm>

namespace
{
    const juce::Identifier stateType { "PARAMS" };
    const juce::Identifier compactViewProperty { "compactView" };
}

OrvaneChannelProcessor::OrvaneChannelProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      valueTreeState (*this, nullptr, stateType, orvane::createParameterLayout()),
      meterState (std::make_shared<MeterState>())
{
    const auto raw = [this] (const char* id)
    {
        auto* value = valueTreeState.getRawParameterValue (id);
        jassert (value != nullptr);
        return value;
    };

    namespace id = orvane::ParamIDs;
    params.inputGain = raw (id::inputGain);
    params.polarity = raw (id::polarity);
    params.outputGain = raw (id::outputGain);
    params.hpfFreq = raw (id::hpfFreq);
    params.eqOn = raw (id::eqOn);
    params.lfGain = raw (id::lfGain);
    params.lfFreqHi = raw (id::lfFreqHi);
    params.mfFreq = raw (id::mfFreq);
    params.mfGain = raw (id::mfGain);
    params.hfGain = raw (id::hfGain);
    params.hfFreqHi = raw (id::hfFreqHi);
    params.compOn = raw (id::compOn);
    params.compThresh = raw (id::compThresh);
    params.compRelease = raw (id::compRelease);
    params.compMakeup = raw (id::compMakeup);
    params.compScHpf = raw (id::compScHpf);
    params.compPreEq = raw (id::compPreEq);
    params.compLink = raw (id::compLink);
    params.bloomMode = raw (id::bloomMode);
    params.silkTexture = raw (id::silkTexture);
    params.tmtChannel = raw (id::tmtChannel);
    params.stWidth = raw (id::stWidth);
    params.monoMakerHz = raw (id::monoMakerHz);
    params.osRealtime = raw (id::osRealtime);
    params.osOffline = raw (id::osOffline);

    auto meter = orvane::createGainReductionMeterParameter();
    grMeterParameter = meter.get();
    addParameter (meter.release());

    vst3Extensions = std::make_unique<ConsoleVST3Extensions> (meterState);
}

OrvaneChannelProcessor::~OrvaneChannelProcessor()
{
    // First, so that nothing can hand out a reporter while the rest goes away.
    vst3Extensions.reset();
}

//==============================================================================
int OrvaneChannelProcessor::chooseOversamplingIndex (float osRealtime, float osOffline, bool nonRealtime) noexcept
{
    auto index = juce::roundToInt (osRealtime);

    if (nonRealtime)
    {
        // Offline choice 0 is "Same as Realtime"; 1..4 are Off, 2x, 4x, 8x.
        const auto offline = juce::roundToInt (osOffline);

        if (offline >= 1)
            index = offline - 1;
    }

    return std::clamp (index, 0, maximumOsIndex);
}

void OrvaneChannelProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    // 1. Channel count.
    const auto numChannels = std::max (getTotalNumOutputChannels(), 1);

    // 2. High-pass filter: rate, channels, coefficients for the stored cut-off, states zeroed.
    filters.prepare (sampleRate, numChannels);

    // 3. Equaliser: rate, min(n, 2) channels, multipliers 1, records reset, snapshot invalid.
    equaliser.prepare (sampleRate, std::min (numChannels, ParametricEQ::maxChannels));

    // 4. Compressor: rate, detector coefficient, states and outputs zeroed.
    compressor.prepare (sampleRate);

    // 5. Silk stage, which re-applies its current oversampling index.
    prepareSilkStage (sampleRate, numChannels >= 2 ? 2 : 1, maximumExpectedSamplesPerBlock);

    // 6. Channel trim: 20 ms ramps, jumps to the gain of the channel's tolerance offset.
    channelTrim.reset (sampleRate, gainRampSeconds);
    channelTrim.setCurrentAndTargetValue (juce::Decibels::decibelsToGain (
        ChannelTolerance::computeTolerance (params.tmtChannel->load()).trimOffsetDb));

    // 7. Stereo stage.
    prepareStereoStage (sampleRate);

    // 8. Meter record.
    MeterWriter::writePrepare (*meterState, sampleRate, getMainBusNumInputChannels());

    // 9. Input and output gains: 20 ms ramps, current value = target, no ramp running.
    inputGain.reset (sampleRate, gainRampSeconds);
    outputGain.reset (sampleRate, gainRampSeconds);

    // 10. Oversampling choice.
    const auto index = chooseOversamplingIndex (params.osRealtime->load(), params.osOffline->load(), isNonRealtime());
    if (index != silk.getOsIndex())
        applyOsIndex (index);

    // 11. Latency.
    lastLatencySamples = currentSilkLatency();
    setLatencySamples (lastLatencySamples);

    // Blocks longer than this are split; the bypass delay holds the largest latency
    // with room to spare (the 8x oversampler delays by a few samples).
    preparedBlockSize = std::max (maximumExpectedSamplesPerBlock, 1);
    bypassDelay.setSize (std::max (numChannels, 2), bypassDelaySize);
    bypassDelay.clear();
    bypassDelayPosition = 0;
    bypassScratch.setSize (numChannels, preparedBlockSize);
}

void OrvaneChannelProcessor::releaseResources() {}

void OrvaneChannelProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // 1. Denormals flushed for the whole call.
    juce::ScopedNoDenormals noDenormals;

    sanitiseInput (buffer);
    runBypassDelay (buffer, false);

    processInPieces (buffer);
}

void OrvaneChannelProcessor::processInPieces (juce::AudioBuffer<float>& buffer) noexcept
{
    // Some hosts (LV2 among them) send more samples than they announced; the
    // oversamplers and work buffers hold the announced size, so such a block is
    // processed as consecutive blocks of that size.
    const auto numSamples = buffer.getNumSamples();

    if (preparedBlockSize <= 0 || numSamples <= preparedBlockSize)
    {
        processChunk (buffer);
        return;
    }

    for (int start = 0; start < numSamples; start += preparedBlockSize)
    {
        juce::AudioBuffer<float> piece (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start,
                                        std::min (preparedBlockSize, numSamples - start));
        processChunk (piece);
    }
}

void OrvaneChannelProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    sanitiseInput (buffer);

    // The chain keeps running on a copy, so that its filters and oversamplers are
    // warm when the host switches bypass off again and the switch is seamless.
    const auto numChannels = std::min (buffer.getNumChannels(), bypassScratch.getNumChannels());
    const auto numSamples = buffer.getNumSamples();

    for (int start = 0; numChannels > 0 && start < numSamples; start += bypassScratch.getNumSamples())
    {
        const auto n = std::min (bypassScratch.getNumSamples(), numSamples - start);

        for (int ch = 0; ch < numChannels; ++ch)
            bypassScratch.copyFrom (ch, 0, buffer, ch, start, n);

        juce::AudioBuffer<float> piece (bypassScratch.getArrayOfWritePointers(), numChannels, 0, n);
        processChunk (piece);
    }

    runBypassDelay (buffer, true);
}

void OrvaneChannelProcessor::sanitiseInput (juce::AudioBuffer<float>& buffer) noexcept
{
    // Far above any real signal (+120 dBFS), low enough that squaring stays finite.
    constexpr float largestInput = 1.0e6f;
    const auto numSamples = buffer.getNumSamples();

    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        auto* data = buffer.getWritePointer (ch);

        // x * 0 is 0 for every finite x and NaN for NaN and infinities: one cheap,
        // vectorisable pass finds out whether the slow path is needed at all.
        auto probe = 0.0f;
        auto largest = 0.0f;

        for (int i = 0; i < numSamples; ++i)
        {
            probe += data[i] * 0.0f;
            largest = std::max (largest, std::abs (data[i]));
        }

        if (probe == 0.0f && largest <= largestInput)
            continue;

        for (int i = 0; i < numSamples; ++i)
            data[i] = std::isfinite (data[i]) ? std::clamp (data[i], -largestInput, largestInput) : 0.0f;
    }
}

void OrvaneChannelProcessor::runBypassDelay (juce::AudioBuffer<float>& buffer, bool bypassed) noexcept
{
    const auto numChannels = std::min (buffer.getNumChannels(), bypassDelay.getNumChannels());
    const auto numSamples = buffer.getNumSamples();

    if (bypassDelay.getNumSamples() == 0 || numSamples == 0)
        return;

    // The ring is fed in both modes, so that switching bypass while playing neither
    // jumps in time nor plays stale samples.
    const auto latency = std::clamp (lastLatencySamples, 0, bypassDelaySize - 1);
    const auto mask = bypassDelaySize - 1;
    auto position = bypassDelayPosition;

    for (int ch = 0; ch < numChannels; ++ch)
    {
        auto* data = buffer.getWritePointer (ch);
        auto* ring = bypassDelay.getWritePointer (ch);
        position = bypassDelayPosition;

        for (int i = 0; i < numSamples; ++i)
        {
            ring[position] = data[i];

            if (bypassed)
                data[i] = ring[(position - latency) & mask];

            position = (position + 1) & mask;
        }
    }

    bypassDelayPosition = position;
}

void OrvaneChannelProcessor::processChunk (juce::AudioBuffer<float>& buffer) noexcept
{
    // 2. Every parameter read once; settings updated before any audio is touched.
    updateParameters();

    const auto numChannels = buffer.getNumChannels();

    // 3. Channel count for the meters.
    MeterWriter::writeChannelCount (*meterState, numChannels);

    // 4. Input meters, on the untouched input.
    measureInputLevels (buffer);

    // 5. Input trim and polarity.
    applySmoothedGain (buffer, inputGain, polaritySign);

    // 6. Section switches.
    const bool eqOn = params.eqOn->load() > switchOnThreshold;
    const bool compOn = params.compOn->load() > switchOnThreshold;
    const bool compPreEq = params.compPreEq->load() > switchOnThreshold;

    juce::dsp::AudioBlock<float> block (buffer);

    // 7. High-pass filter (Filters skips it while it is off).
    filters.process (block);

    // 8. Equaliser and compressor, in the chosen order; a section that is off is skipped.
    if (compPreEq)
    {
        if (compOn)
            compressor.process (block);
        if (eqOn)
            equaliser.process (block);
    }
    else
    {
        if (eqOn)
            equaliser.process (block);
        if (compOn)
            compressor.process (block);
    }

    // 9. Silk stage.
    runSilkStage (block);

    // 10. Channel trim.
    applyChannelTrim (block);

    // 11. Stereo stage, stereo blocks only.
    if (numChannels >= 2)
        runStereoStage (block);

    // 12. Output trim.
    applySmoothedGain (buffer, outputGain, 1.0f);

    // 13. Meters and the host's gain-reduction parameter.
    const MeterWriter::GainReduction gainReduction { compressor.getGainReductionDb(),
                                                     compressor.getGainReductionChannel0Db(),
                                                     compressor.getGainReductionChannel1Db() };
    writeMeters (buffer, compOn, gainReduction);
}

//==============================================================================
void OrvaneChannelProcessor::updateParameters() noexcept
{
    // Read in this order, each value once per block.
    const auto inputDb = params.inputGain->load();
    inputGain.setTargetValue (juce::Decibels::decibelsToGain (inputDb));

    const auto outputDb = params.outputGain->load();
    outputGain.setTargetValue (outputDb <= orvane::outputSilenceDb ? 0.0f : juce::Decibels::decibelsToGain (outputDb));

    polaritySign = params.polarity->load() > switchOnThreshold ? -1.0f : 1.0f;

    updateTolerance (params.tmtChannel->load());

    filters.setHighPass (params.hpfFreq->load());

    const bool lfFreqHi = params.lfFreqHi->load() > switchOnThreshold;
    const bool hfFreqHi = params.hfFreqHi->load() > switchOnThreshold;
    const auto mfGainDb = params.mfGain->load();
    const auto lfGainDb = params.lfGain->load();
    const auto hfGainDb = params.hfGain->load();
    const auto mfFreqHz = params.mfFreq->load();
    equaliser.update (EqSettings::fromParameters (lfFreqHi, hfFreqHi, mfGainDb, lfGainDb, hfGainDb, mfFreqHz));

    const auto thresholdDb = params.compThresh->load();
    const auto releaseMs = params.compRelease->load();
    const auto makeupDb = params.compMakeup->load();
    const bool link = params.compLink->load() > switchOnThreshold;
    const auto sideChainHz = params.compScHpf->load();
    compressor.setParameters (thresholdDb, releaseMs, makeupDb, link, sideChainHz);

    const auto bloomMode = params.bloomMode->load();
    const auto silkTexture = params.silkTexture->load();
    updateSilkSettings (bloomMode, silkTexture);

    const auto osRealtime = params.osRealtime->load();
    const auto osOffline = params.osOffline->load();
    updateOversampling (osRealtime, osOffline);

    const auto stWidth = params.stWidth->load();
    const auto monoMakerHz = params.monoMakerHz->load();
    updateStereoSettings (stWidth, monoMakerHz);
}

void OrvaneChannelProcessor::updateOversampling (float osRealtime, float osOffline) noexcept
{
    const auto index = chooseOversamplingIndex (osRealtime, osOffline, isNonRealtime());

    if (index != silk.getOsIndex())
        applyOsIndex (index);

    if (currentSilkLatency() != lastLatencySamples)
    {
        lastLatencySamples = currentSilkLatency();
        setLatencySamples (lastLatencySamples);
    }
}

void OrvaneChannelProcessor::applyOsIndex (int index) noexcept
{
    // Selects and resets the oversampler for the index and recomputes the emphasis
    // filters and the latency.
    silk.applyOsIndex (index);
}

void OrvaneChannelProcessor::applySmoothedGain (juce::AudioBuffer<float>& buffer, juce::SmoothedValue<float>& gain,
                                                float sign) noexcept
{
    const auto numChannels = buffer.getNumChannels();
    const auto numSamples = buffer.getNumSamples();

    if (! gain.isSmoothing())
    {
        // Without a ramp every sample gets the target: one multiplication per channel run.
        const auto g = gain.getTargetValue() * sign;

        if (g != 1.0f)
            for (int ch = 0; ch < numChannels; ++ch)
                juce::FloatVectorOperations::multiply (buffer.getWritePointer (ch), g, numSamples);

        return;
    }

    auto* const* channels = buffer.getArrayOfWritePointers();

    // The smoother advances once per sample, not once per channel.
    for (int i = 0; i < numSamples; ++i)
    {
        const auto g = gain.getNextValue() * sign;

        for (int ch = 0; ch < numChannels; ++ch)
            channels[ch][i] *= g;
    }
}

//==============================================================================
void OrvaneChannelProcessor::prepareSilkStage (double sampleRate, int numChannels, int maximumBlockSize)
{
    // Builds the three oversamplers and re-applies the current index.
    silk.prepare (sampleRate, numChannels, maximumBlockSize);
}

void OrvaneChannelProcessor::prepareStereoStage (double sampleRate)
{
    stereo.prepare (sampleRate);
}

void OrvaneChannelProcessor::updateTolerance (float tmtChannel) noexcept
{
    const auto t = ChannelTolerance::computeTolerance (tmtChannel);

    equaliser.setTolerance ({ t.lfFreqMultiplier, t.mfFreqMultiplier, t.hfFreqMultiplier },
                            { t.lfGainMultiplier, t.mfGainMultiplier, t.hfGainMultiplier });
    compressor.setTolerance (t.thresholdOffsetDb, t.releaseMultiplier);
    channelTrim.setTargetValue (juce::Decibels::decibelsToGain (t.trimOffsetDb));
}

void OrvaneChannelProcessor::updateSilkSettings (float bloomMode, float silkTexture) noexcept
{
    silk.setMode (juce::roundToInt (bloomMode));
    silk.setAmount (silkTexture);
}

void OrvaneChannelProcessor::updateStereoSettings (float stWidth, float monoMakerHz) noexcept
{
    stereo.update (stWidth, monoMakerHz);
}

void OrvaneChannelProcessor::measureInputLevels (const juce::AudioBuffer<float>& buffer) noexcept
{
    inputLevels = MeterWriter::measure (buffer);
}

void OrvaneChannelProcessor::runSilkStage (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto numSamples = static_cast<int> (block.getNumSamples());

    // Before the first prepareToPlay the stage has no oversamplers and is skipped;
    // the Silk ring still advances with the audio.
    if (! silk.isPrepared())
    {
        MeterWriter::appendSilkRing (*meterState, nullptr, 0, numSamples);
        return;
    }

    silk.process (block);
    MeterWriter::appendSilkRing (*meterState, silk.getAddedSignal(), silk.getAddedSignalLength(), numSamples);
}

void OrvaneChannelProcessor::applyChannelTrim (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto numChannels = std::min (static_cast<int> (block.getNumChannels()), 2);
    const auto numSamples = static_cast<int> (block.getNumSamples());

    if (numChannels == 0)
    {
        channelTrim.skip (numSamples); // the trim keeps time even without channels
        return;
    }

    if (! channelTrim.isSmoothing())
    {
        const auto g = channelTrim.getTargetValue();

        for (int ch = 0; ch < numChannels; ++ch)
            juce::FloatVectorOperations::multiply (block.getChannelPointer (static_cast<size_t> (ch)), g, numSamples);

        return;
    }

    auto* left = block.getChannelPointer (0);
    auto* right = numChannels > 1 ? block.getChannelPointer (1) : nullptr;

    for (int i = 0; i < numSamples; ++i)
    {
        const auto g = channelTrim.getNextValue();
        left[i] *= g;

        if (right != nullptr)
            right[i] *= g;
    }
}

void OrvaneChannelProcessor::runStereoStage (juce::dsp::AudioBlock<float>& block) noexcept
{
    stereo.process (block);
}

void OrvaneChannelProcessor::writeMeters (const juce::AudioBuffer<float>& buffer, bool compOn,
                                          const MeterWriter::GainReduction& gainReduction)
{
    const auto outputLevels = MeterWriter::measure (buffer);
    const auto grDb = MeterWriter::writeEndOfBlock (*meterState, compOn, gainReduction, inputLevels, outputLevels, buffer);
    HostMeterUpdater::update (grMeterParameter, lastGrSent, grDb);
}

//==============================================================================
bool OrvaneChannelProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto out = layouts.getMainOutputChannelSet();

    if (out != juce::AudioChannelSet::mono() && out != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == out;
}

int32_t OrvaneChannelProcessor::queryIEditController (const Steinberg::TUID iid, void** obj)
{
    if (vst3Extensions != nullptr)
        return vst3Extensions->queryIEditController (iid, obj);

    return juce::VST3ClientExtensions::queryIEditController (iid, obj);
}

int32_t OrvaneChannelProcessor::queryIAudioProcessor (const Steinberg::TUID iid, void** obj)
{
    if (vst3Extensions != nullptr)
        return vst3Extensions->queryIAudioProcessor (iid, obj);

    return juce::VST3ClientExtensions::queryIAudioProcessor (iid, obj);
}

void OrvaneChannelProcessor::setIComponentHandler (Steinberg::FUnknown* handler)
{
    if (vst3Extensions != nullptr)
        vst3Extensions->setIComponentHandler (handler);
}

void OrvaneChannelProcessor::setIHostApplication (Steinberg::FUnknown* host)
{
    if (vst3Extensions != nullptr)
        vst3Extensions->setIHostApplication (host);
}

bool OrvaneChannelProcessor::getPluginHasMainInput() const
{
    return vst3Extensions != nullptr ? vst3Extensions->getPluginHasMainInput()
                                     : juce::VST3ClientExtensions::getPluginHasMainInput();
}

juce::AudioProcessorEditor* OrvaneChannelProcessor::createEditor()
{
    return new juce::GenericAudioProcessorEditor (*this);
}

void OrvaneChannelProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    auto state = valueTreeState.copyState();
    state.setProperty (compactViewProperty, compactView, nullptr);

    juce::MemoryOutputStream stream (destData, true);
    state.writeToStream (stream);
}

void OrvaneChannelProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return;

    auto tree = StateBlockParser::parse (data, static_cast<size_t> (sizeInBytes));

    if (! tree.isValid())
        return;

    compactView = static_cast<bool> (tree.getProperty (compactViewProperty, false));
    StateRestorer::replaceKeepingMissing (valueTreeState, tree);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new OrvaneChannelProcessor();
}
