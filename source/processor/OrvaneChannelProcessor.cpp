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
}

OrvaneChannelProcessor::~OrvaneChannelProcessor() = default;

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
