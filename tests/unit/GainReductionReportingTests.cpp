#include <gtest/gtest.h>

#include "processor/ConsoleVST3Extensions.h"
#include "processor/GainReductionReporter.h"
#include "processor/HostMeterUpdater.h"
#include "processor/OrvaneChannelProcessor.h"
#include "processor/ParameterLayout.h"

#include <cstring>
#include <thread>

namespace
{
    using Bytes = std::array<unsigned char, 16>;

    // The identifiers PreSonus and Steinberg define, byte by byte in comparison order.
    constexpr Bytes publishedGainReductionInfo { 0x8E, 0x3C, 0x29, 0x2C, 0x95, 0x92, 0x4F, 0x9D,
                                                 0xB2, 0x59, 0x0B, 0x1E, 0x10, 0x0E, 0x41, 0x98 };
    constexpr Bytes publishedFUnknown { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

    Bytes bytesOf (const Steinberg::TUID id)
    {
        Bytes b {};
        std::memcpy (b.data(), id, b.size());
        return b;
    }

    const char* asIid (const Bytes& b)
    {
        return reinterpret_cast<const char*> (b.data());
    }

    // Never a valid pointer: shows whether a call wrote its out parameter.
    void* const untouched = reinterpret_cast<void*> (0x1);

    Presonus::IGainReductionInfo* queryReporter (juce::VST3ClientExtensions& extensions)
    {
        void* obj = untouched;
        const auto result = extensions.queryIEditController (Presonus::IGainReductionInfo_iid, &obj);
        EXPECT_EQ (result, Steinberg::kResultOk);
        return result == Steinberg::kResultOk ? static_cast<Presonus::IGainReductionInfo*> (obj) : nullptr;
    }

    struct CountingListener : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int, float newValue) override
        {
            ++calls;
            lastValue = newValue;
        }

        void parameterGestureChanged (int, bool) override {}

        int calls = 0;
        float lastValue = -1.0f;
    };
}

TEST (GainReductionReporting, IdentifiersMatchTheSdk)
{
    EXPECT_EQ (bytesOf (Presonus::IGainReductionInfo_iid), publishedGainReductionInfo);
    EXPECT_EQ (bytesOf (Steinberg::FUnknown_iid), publishedFUnknown);
    EXPECT_EQ (GainReductionReporter::gainReductionInfoId, publishedGainReductionInfo);
    EXPECT_EQ (GainReductionReporter::funknownId, publishedFUnknown);

    // The result codes hosts see on this platform.
    EXPECT_EQ (Steinberg::kResultOk, 0);
    EXPECT_EQ (Steinberg::kNoInterface, -1);
}

TEST (GainReductionReporting, ExtensionsHandOutAReporterThatReadsTheMeter)
{
    auto meters = std::make_shared<MeterState>();
    ConsoleVST3Extensions extensions (meters);

    auto* reporter = queryReporter (extensions);
    ASSERT_NE (reporter, nullptr);
    EXPECT_EQ (reporter->getGainReductionValueInDb(), 0.0);

    meters->grDb.store (6.0f);
    EXPECT_EQ (reporter->getGainReductionValueInDb(), -6.0);
    meters->grDb.store (0.25f);
    EXPECT_EQ (reporter->getGainReductionValueInDb(), -0.25);

    // Every query is a separate object with its own single reference.
    auto* second = queryReporter (extensions);
    EXPECT_NE (second, reporter);
    EXPECT_EQ (second->release(), 0u);
    EXPECT_EQ (reporter->release(), 0u);
}

TEST (GainReductionReporting, OtherIdentifiersGetNoInterfaceAndANullPointer)
{
    ConsoleVST3Extensions extensions (std::make_shared<MeterState>());

    auto almost = publishedGainReductionInfo;
    almost[15] ^= 0x01;
    const Bytes reversedGroups { 0x2C, 0x29, 0x3C, 0x8E, 0x9D, 0x4F, 0x92, 0x95,
                                 0x1E, 0x0B, 0x59, 0xB2, 0x98, 0x41, 0x0E, 0x10 }; // COM byte order

    for (const auto* iid : { asIid (publishedFUnknown), asIid (almost), asIid (reversedGroups), static_cast<const char*> (nullptr) })
    {
        void* obj = untouched;
        EXPECT_EQ (extensions.queryIEditController (iid, &obj), Steinberg::kNoInterface);
        EXPECT_EQ (obj, nullptr);

        obj = untouched;
        EXPECT_EQ (extensions.queryIAudioProcessor (iid != nullptr ? iid : asIid (almost), &obj), Steinberg::kNoInterface);
        EXPECT_EQ (obj, nullptr);
    }

    // No place to put an object: nothing is created and nothing is written.
    EXPECT_EQ (extensions.queryIEditController (asIid (publishedGainReductionInfo), nullptr), Steinberg::kNoInterface);
}

TEST (GainReductionReporting, ReporterCountsReferencesTheVst3Way)
{
    auto meters = std::make_shared<MeterState>();
    const std::weak_ptr<MeterState> watch (meters);
    ConsoleVST3Extensions extensions (meters);
    meters.reset();

    auto* reporter = queryReporter (extensions);
    ASSERT_NE (reporter, nullptr);

    for (const auto& id : { publishedFUnknown, publishedGainReductionInfo })
    {
        void* obj = nullptr;
        EXPECT_EQ (reporter->queryInterface (asIid (id), &obj), Steinberg::kResultOk);
        EXPECT_EQ (obj, static_cast<void*> (reporter));
    }

    for (const auto* iid : { "not an interface id", static_cast<const char*> (nullptr) })
    {
        void* obj = untouched;
        EXPECT_EQ (reporter->queryInterface (iid, &obj), Steinberg::kNoInterface);
        EXPECT_EQ (obj, nullptr);
    }

    // Two successful queries made the count 3.
    EXPECT_EQ (reporter->addRef(), 4u);
    EXPECT_EQ (reporter->release(), 3u);
    EXPECT_EQ (reporter->release(), 2u);
    EXPECT_EQ (reporter->release(), 1u);

    // The extensions and the reporter each keep the meter record alive.
    ASSERT_FALSE (watch.expired());
    EXPECT_EQ (reporter->release(), 0u);
    EXPECT_FALSE (watch.expired());
}

TEST (GainReductionReporting, FUnknownQueryGivesTheSameObjectAndTwoReleasesDestroyIt)
{
    auto meters = std::make_shared<MeterState>();
    const std::weak_ptr<MeterState> watch (meters);
    auto* reporter = new GainReductionReporter (meters);
    meters.reset();

    void* obj = nullptr;
    ASSERT_EQ (reporter->queryInterface (Steinberg::FUnknown_iid, &obj), Steinberg::kResultOk);
    auto* unknown = static_cast<Steinberg::FUnknown*> (obj);
    EXPECT_EQ (static_cast<void*> (unknown), static_cast<void*> (reporter));

    EXPECT_EQ (unknown->release(), 1u);
    EXPECT_FALSE (watch.expired());
    EXPECT_EQ (reporter->release(), 0u);
    EXPECT_TRUE (watch.expired()); // destroyed, and its share of the record with it
}

TEST (GainReductionReporting, ReporterWithoutMeterReadsZero)
{
    auto* reporter = new GainReductionReporter (nullptr);
    EXPECT_EQ (reporter->getGainReductionValueInDb(), 0.0);
    EXPECT_EQ (reporter->release(), 0u);
}

TEST (GainReductionReporting, ReferenceCountSurvivesManyThreads)
{
    auto meters = std::make_shared<MeterState>();
    const std::weak_ptr<MeterState> watch (meters);
    auto* reporter = new GainReductionReporter (meters);
    meters.reset();

    constexpr int perThread = 100000;
    std::vector<std::thread> threads;

    for (int t = 0; t < 4; ++t)
        threads.emplace_back ([reporter]
                              {
                                  for (int i = 0; i < perThread; ++i)
                                  {
                                      reporter->addRef();
                                      reporter->release();
                                  }
                              });

    for (auto& t : threads)
        t.join();

    EXPECT_FALSE (watch.expired());
    EXPECT_EQ (reporter->release(), 0u);
    EXPECT_TRUE (watch.expired());
}

TEST (GainReductionReporting, ProcessorAnswersTheWrapperAndOutlivesNothing)
{
    auto processor = std::make_unique<OrvaneChannelProcessor>();
    ASSERT_NE (processor->getVST3ClientExtensions(), nullptr);

    // The framework's VST3 wrapper finds the extensions by casting the processor.
    auto* extensions = dynamic_cast<juce::VST3ClientExtensions*> (static_cast<juce::AudioProcessor*> (processor.get()));
    ASSERT_NE (extensions, nullptr);

    auto* reporter = queryReporter (*extensions);
    ASSERT_NE (reporter, nullptr);
    processor->meterState->grDb.store (3.5f);
    EXPECT_EQ (reporter->getGainReductionValueInDb(), -3.5);

    void* obj = untouched;
    EXPECT_EQ (extensions->queryIEditController (Steinberg::FUnknown_iid, &obj), Steinberg::kNoInterface);
    EXPECT_EQ (obj, nullptr);

    // The host may keep its reporter after the processor is gone.
    const std::weak_ptr<MeterState> watch (processor->meterState);
    processor.reset();
    EXPECT_FALSE (watch.expired());
    EXPECT_EQ (reporter->getGainReductionValueInDb(), -3.5);
    EXPECT_EQ (reporter->release(), 0u);
    EXPECT_TRUE (watch.expired());
}

TEST (GainReductionReporting, HostMeterFollowsWithADeadBandAndClamps)
{
    auto parameter = orvane::createGainReductionMeterParameter();
    CountingListener listener;
    parameter->addListener (&listener);
    auto lastGrSent = -1.0f;

    struct Step
    {
        float grDb;
        bool sent;
        float normalised; // the parameter's value after the step: dB / 40, clamped
        float lastSent;
    };

    const std::vector<Step> steps {
        { 0.0f, true, 0.0f, 0.0f },       // the first block always sends, 0 included
        { 0.0f, false, 0.0f, 0.0f },      // steady: nothing more
        { 0.004f, false, 0.0f, 0.0f },    // inside the dead band
        { 0.006f, true, 0.00025f, 0.006f }, // the parameter keeps whole 0.01 dB steps
        { 6.0f, true, 0.15f, 6.0f },
        { 6.004f, false, 0.15f, 6.0f },
        { 5.996f, false, 0.15f, 6.0f },
        { 45.0f, true, 1.0f, 45.0f },     // clamped to 40 dB, remembered unclamped
        { 45.004f, false, 1.0f, 45.0f },
        { 45.01f, true, 1.0f, 45.01f },
        { -2.0f, true, 0.0f, -2.0f },
        { std::nanf (""), false, 0.0f, -2.0f },
    };

    for (const auto& s : steps)
    {
        SCOPED_TRACE (s.grDb);
        const auto callsBefore = listener.calls;
        EXPECT_EQ (HostMeterUpdater::update (parameter.get(), lastGrSent, s.grDb), s.sent);
        EXPECT_EQ (listener.calls - callsBefore, s.sent ? 1 : 0);
        EXPECT_NEAR (static_cast<juce::AudioProcessorParameter&> (*parameter).getValue(), s.normalised, 1.0e-6f);
        EXPECT_FLOAT_EQ (lastGrSent, s.lastSent);
    }

    // Without a parameter nothing happens.
    auto untouchedLast = -1.0f;
    EXPECT_FALSE (HostMeterUpdater::update (nullptr, untouchedLast, 12.0f));
    EXPECT_EQ (untouchedLast, -1.0f);

    parameter->removeListener (&listener);
}
