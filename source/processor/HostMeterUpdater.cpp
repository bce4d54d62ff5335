#include "processor/HostMeterUpdater.h"

#include <algorithm>
#include <cmath>

bool HostMeterUpdater::update (juce::RangedAudioParameter* parameter, float& lastGrSent, float grDb)
{
    // A broken reading is not passed on to the host.
    if (parameter == nullptr || ! std::isfinite (grDb))
        return false;

    if (std::abs (grDb - lastGrSent) <= deadBandDb)
        return false;

    lastGrSent = grDb;
    const auto clamped = std::clamp (grDb, minimumDb, maximumDb);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (clamped));
    return true;
}
