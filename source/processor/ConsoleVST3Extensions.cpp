#include "processor/ConsoleVST3Extensions.h"

#include "processor/GainReductionReporter.h"

ConsoleVST3Extensions::ConsoleVST3Extensions (std::shared_ptr<MeterState> meters) :
    meterState (std::move (meters))
{
}

ConsoleVST3Extensions::~ConsoleVST3Extensions() = default;

int32_t ConsoleVST3Extensions::queryIEditController (const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr)
        return Steinberg::kNoInterface;

    if (GainReductionReporter::matches (iid, GainReductionReporter::gainReductionInfoId))
    {
        // Every query gets its own reporter; the host releases it when it is done.
        *obj = static_cast<Presonus::IGainReductionInfo*> (new GainReductionReporter (meterState));
        return Steinberg::kResultOk;
    }

    *obj = nullptr;
    return Steinberg::kNoInterface;
}
