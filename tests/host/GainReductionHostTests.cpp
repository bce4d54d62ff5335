#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "host/PluginLoader.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pslextensions/ipslgainreduction.h>

#include <cmath>
#include <dlfcn.h>
#include <iostream>

namespace
{
    using namespace Steinberg;

    // Never a valid pointer: shows whether a call wrote its out parameter.
    void* const untouched = reinterpret_cast<void*> (0x1);

    template <typename Interface>
    Interface* query (FUnknown* object, const TUID iid)
    {
        void* obj = nullptr;
        return object->queryInterface (iid, &obj) == kResultOk ? static_cast<Interface*> (obj) : nullptr;
    }

    /** Another reference to the plug-in module the framework's host loaded, and its
        factory: keeps the code loaded for as long as the test holds objects from it. */
    class ModuleReference
    {
    public:
        ModuleReference()
        {
            const auto binaries = juce::File (ORVANE_VST3_BUNDLE).getChildFile ("Contents");
            for (const auto& dir : binaries.findChildFiles (juce::File::findDirectories, false, "*-linux"))
                for (const auto& so : dir.findChildFiles (juce::File::findFiles, false, "*.so"))
                    if (handle == nullptr)
                        handle = dlopen (so.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_LOCAL);

            if (handle == nullptr)
                return;

            using GetFactory = IPluginFactory* (PLUGIN_API*) ();
            if (const auto getFactory = reinterpret_cast<GetFactory> (dlsym (handle, "GetPluginFactory")))
                factory = getFactory();
        }

        ~ModuleReference()
        {
            if (factory != nullptr)
                factory->release();

            if (handle != nullptr)
                dlclose (handle);
        }

        IPluginFactory* getFactory() const { return factory; }

    private:
        void* handle = nullptr;
        IPluginFactory* factory = nullptr;
    };

    /**
        The edit controller of a loaded VST3 instance, created the way a host creates
        it: from the component's controller class ID through the module's factory,
        initialised and connected to the component.
    */
    class HostController
    {
    public:
        HostController (IPluginFactory& factory, Vst::IComponent& component)
        {
            TUID controllerClass {};
            if (component.getControllerClassId (controllerClass) != kResultOk)
                return;

            void* obj = nullptr;
            if (factory.createInstance (controllerClass, Vst::IEditController_iid, &obj) != kResultOk || obj == nullptr)
                return;

            controller = static_cast<Vst::IEditController*> (obj);
            controller->initialize (nullptr);

            controllerConnection = query<Vst::IConnectionPoint> (controller, Vst::IConnectionPoint_iid);
            componentConnection = query<Vst::IConnectionPoint> (&component, Vst::IConnectionPoint_iid);

            if (controllerConnection != nullptr && componentConnection != nullptr)
                connected = controllerConnection->connect (componentConnection) == kResultOk;
        }

        ~HostController()
        {
            if (connected)
                controllerConnection->disconnect (componentConnection);

            for (auto* p : { static_cast<FUnknown*> (controllerConnection), static_cast<FUnknown*> (componentConnection) })
                if (p != nullptr)
                    p->release();

            if (controller != nullptr)
            {
                controller->terminate();
                controller->release();
            }
        }

        Vst::IEditController* get() const { return connected ? controller : nullptr; }

    private:
        Vst::IEditController* controller = nullptr;
        Vst::IConnectionPoint* controllerConnection = nullptr;
        Vst::IConnectionPoint* componentConnection = nullptr;
        bool connected = false;
    };

    Vst::IComponent* componentOf (juce::AudioPluginInstance& plugin)
    {
        struct ComponentFinder : juce::ExtensionsVisitor
        {
            void visitVST3Client (const VST3Client& client) override { found = client.getIComponentPtr(); }
            Vst::IComponent* found = nullptr;
        } finder;

        plugin.getExtensions (finder);
        return finder.found;
    }

    juce::AudioProcessorParameter* findByName (juce::AudioPluginInstance& plugin, const juce::String& name)
    {
        for (auto* p : plugin.getParameters())
            if (p->getName (100) == name)
                return p;
        return nullptr;
    }

    /** A continuous sine on both channels, block after block. */
    struct SineSource
    {
        void fill (juce::AudioBuffer<float>& buffer)
        {
            for (int i = 0; i < buffer.getNumSamples(); ++i, ++n)
            {
                const auto x = static_cast<float> (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * frequency * static_cast<double> (n) / sampleRate));
                for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                    buffer.setSample (ch, i, x);
            }
        }

        double amplitude, frequency, sampleRate;
        long n = 0;
    };

    void processSilence (juce::AudioPluginInstance& plugin, int blocks)
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;

        for (int i = 0; i < blocks; ++i)
        {
            buffer.clear();
            plugin.processBlock (buffer, midi);
        }
    }
}

TEST (HostGainReduction, Vst3ControllerAnswersIGainReductionInfo)
{
    juce::String error;
    auto plugin = orvane::test::loadPlugin (orvane::test::PluginFormat::vst3, 48000.0, 512, error);
    ASSERT_NE (plugin, nullptr) << error;

    // The framework's typesafe way to the hosted VST3 component (what
    // getPlatformSpecificData() returned before it was deprecated).
    struct ComponentFinder : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override { found = client.getIComponentPtr(); }
        Vst::IComponent* found = nullptr;
    } finder;

    plugin->getExtensions (finder);
    auto* component = finder.found;
    ASSERT_NE (component, nullptr);

    plugin->prepareToPlay (48000.0, 512);
    processSilence (*plugin, 4);

    const ModuleReference module;
    ASSERT_NE (module.getFactory(), nullptr);

    Presonus::IGainReductionInfo* reporter = nullptr;
    {
        HostController controller (*module.getFactory(), *component);
        ASSERT_NE (controller.get(), nullptr) << "could not create and connect the edit controller";

        // The compressor is off by default: no reduction.
        void* obj = untouched;
        ASSERT_EQ (controller.get()->queryInterface (Presonus::IGainReductionInfo_iid, &obj), kResultOk);
        reporter = static_cast<Presonus::IGainReductionInfo*> (obj);
        ASSERT_NE (reporter, nullptr);
        EXPECT_EQ (reporter->getGainReductionValueInDb(), 0.0);

        // Each query is its own object.
        obj = nullptr;
        ASSERT_EQ (controller.get()->queryInterface (Presonus::IGainReductionInfo_iid, &obj), kResultOk);
        auto* second = static_cast<Presonus::IGainReductionInfo*> (obj);
        EXPECT_NE (second, reporter);
        EXPECT_EQ (second->release(), 0u);

        // An identifier nobody implements gets a null pointer. Our extension answers
        // kNoInterface, but the framework's controller (JUCE 7.0.5) replaces that with
        // its own answer for interfaces it lacks, kResultFalse; either is a refusal.
        const TUID unknownId = INLINE_UID (0x8E3C292C, 0x95924F9D, 0xB2590B1E, 0x100E4199);
        obj = untouched;
        const auto refused = controller.get()->queryInterface (unknownId, &obj);
        EXPECT_TRUE (refused == kNoInterface || refused == kResultFalse) << refused;
        EXPECT_EQ (obj, nullptr);

        // The reporter's own FUnknown answers with itself.
        obj = nullptr;
        ASSERT_EQ (reporter->queryInterface (FUnknown_iid, &obj), kResultOk);
        EXPECT_EQ (obj, static_cast<void*> (reporter));
        EXPECT_EQ (static_cast<FUnknown*> (obj)->release(), 1u);

        obj = untouched;
        EXPECT_EQ (reporter->queryInterface (Vst::IEditController_iid, &obj), kNoInterface);
        EXPECT_EQ (obj, nullptr);
    }

    // The host may keep the reporter after the instance is gone.
    plugin->releaseResources();
    plugin.reset();
    EXPECT_EQ (reporter->getGainReductionValueInDb(), 0.0);
    EXPECT_EQ (reporter->release(), 0u);
}

TEST (HostGainReduction, Vst3ReporterReadsTheCompressorsReduction)
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    juce::String error;
    auto plugin = orvane::test::loadPlugin (orvane::test::PluginFormat::vst3, sampleRate, blockSize, error);
    ASSERT_NE (plugin, nullptr) << error;
    auto* component = componentOf (*plugin);
    ASSERT_NE (component, nullptr);

    auto* compOn = findByName (*plugin, "Comp On");
    auto* threshold = findByName (*plugin, "Comp Threshold");
    ASSERT_TRUE (compOn != nullptr && threshold != nullptr);

    // Threshold -20 dB (the range is -30 .. +20 dB). Channel 1, the default, moves it
    // by its tolerance offset of -0.131378 dB. A sine whose RMS (amplitude / sqrt 2),
    // which is what the 10 ms mean-square detector settles on, lies 12 dB above the
    // moved threshold is past the 10 dB soft knee: 2:1 takes 6 dB off it.
    constexpr double thresholdDb = -20.0, channelOffsetDb = -0.131378, overDb = 12.0;
    const auto rmsDb = thresholdDb + channelOffsetDb + overDb;
    SineSource tone { std::sqrt (2.0) * std::pow (10.0, rmsDb / 20.0), 1000.0, sampleRate };

    compOn->setValueNotifyingHost (1.0f);
    threshold->setValueNotifyingHost (static_cast<float> ((thresholdDb + 30.0) / 50.0));
    plugin->prepareToPlay (sampleRate, blockSize);

    // Attack (20 ms) and the meter's 0.7/0.3 smoothing per block settle well within
    // 60 blocks (0.64 s; 0.7^60 is below 1e-9).
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    for (int block = 0; block < 60; ++block)
    {
        tone.fill (buffer);
        plugin->processBlock (buffer, midi);
    }
    EXPECT_EQ (threshold->getText (threshold->getValue(), 100), "-20.0 dB");

    const ModuleReference module;
    ASSERT_NE (module.getFactory(), nullptr);
    HostController controller (*module.getFactory(), *component);
    ASSERT_NE (controller.get(), nullptr) << "could not create and connect the edit controller";

    void* obj = nullptr;
    ASSERT_EQ (controller.get()->queryInterface (Presonus::IGainReductionInfo_iid, &obj), kResultOk);
    auto* reporter = static_cast<Presonus::IGainReductionInfo*> (obj);
    ASSERT_NE (reporter, nullptr);

    // The detector's ripple at 2 kHz is about +-0.4 % of the mean square, +-0.02 dB
    // of level, so +-0.01 dB of reduction, and the meter takes each block's largest;
    // 0.03 dB covers that with room.
    const auto reduction = reporter->getGainReductionValueInDb();
    std::cout << "[ measure ] host reads " << reduction << " dB of gain reduction\n";
    EXPECT_NEAR (reduction, -6.0, 0.03);

    // The compressor off: no reduction from the next block on.
    compOn->setValueNotifyingHost (0.0f);
    tone.fill (buffer);
    plugin->processBlock (buffer, midi);
    EXPECT_EQ (reporter->getGainReductionValueInDb(), 0.0);

    EXPECT_EQ (reporter->release(), 0u);
    plugin->releaseResources();
}
