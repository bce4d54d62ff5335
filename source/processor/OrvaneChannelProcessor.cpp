#include "processor/OrvaneChannelProcessor.h"

#include "processor/ParameterLayout.h"
#include "processor/StateBlockParser.h"
#include "processor/StateRestorer.h"

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

void OrvaneChannelProcessor::prepareToPlay (double, int)
{
    lastLatencySamples = 0;
    setLatencySamples (lastLatencySamples);
}

void OrvaneChannelProcessor::releaseResources() {}

void OrvaneChannelProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
}

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
