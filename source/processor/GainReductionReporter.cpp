#include "processor/GainReductionReporter.h"

#include <cstring>

bool GainReductionReporter::matches (const char* queriedId, const InterfaceId& id) noexcept
{
    return queriedId != nullptr && std::memcmp (queriedId, id.data(), id.size()) == 0;
}

GainReductionReporter::GainReductionReporter (std::shared_ptr<MeterState> meters) :
    meterState (std::move (meters))
{
}

GainReductionReporter::~GainReductionReporter() = default;

Steinberg::tresult PLUGIN_API GainReductionReporter::queryInterface (const Steinberg::TUID queriedId, void** obj)
{
    if (obj == nullptr)
        return Steinberg::kNoInterface;

    if (matches (queriedId, funknownId) || matches (queriedId, gainReductionInfoId))
    {
        addRef();
        *obj = static_cast<Presonus::IGainReductionInfo*> (this);
        return Steinberg::kResultOk;
    }

    *obj = nullptr;
    return Steinberg::kNoInterface;
}

Steinberg::uint32 PLUGIN_API GainReductionReporter::addRef()
{
    return static_cast<Steinberg::uint32> (++referenceCount);
}

Steinberg::uint32 PLUGIN_API GainReductionReporter::release()
{
    const auto remaining = --referenceCount;

    if (remaining == 0)
    {
        delete this;
        return 0;
    }

    return static_cast<Steinberg::uint32> (remaining);
}

double PLUGIN_API GainReductionReporter::getGainReductionValueInDb()
{
    if (meterState == nullptr)
        return 0.0;

    return -static_cast<double> (meterState->grDb.load());
}
