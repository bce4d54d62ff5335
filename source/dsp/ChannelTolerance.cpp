#include "dsp/ChannelTolerance.h"

#include <algorithm>
#include <cmath>

namespace
{
    // Keys of the nine deviations (102 and 202 are unused). The keys decide every
    // channel's character and are heard in saved sessions: they must never change.
    constexpr std::uint32_t keyLfFreq = 100, keyMfFreq = 101, keyHfFreq = 103;
    constexpr std::uint32_t keyLfGain = 200, keyMfGain = 201, keyHfGain = 203;
    constexpr std::uint32_t keyThreshold = 300, keyRelease = 301, keyTrim = 400;

    constexpr float freqScale = 0.003f;
    constexpr float gainScale = 0.015f;
    constexpr float thresholdScaleDb = 0.2f;
    constexpr float releaseScale = 0.02f;
    constexpr float trimScaleDb = 0.05f;

    // Wider than the release deviation can reach; a guard against a changed scale.
    constexpr float releaseMin = 0.9f, releaseMax = 1.1f;

    constexpr std::uint32_t goldenRatioSeed = 2654435761u; // 2^32 / phi, spreads neighbouring channels
    constexpr std::uint32_t seedOffset = 12345u;
    constexpr std::uint32_t keyStride = 40503u;
}

float ChannelTolerance::toleranceValue (float channel, std::uint32_t key)
{
    // Clamping before the conversion keeps it defined for any value; NaN picks channel 1.
    // The result equals truncating first and clamping afterwards.
    auto ch = firstChannel;

    if (std::isfinite (channel))
        ch = static_cast<int> (std::clamp (channel, static_cast<float> (firstChannel), static_cast<float> (lastChannel)));

    // Unsigned 32-bit arithmetic wraps by definition; the hash relies on it.
    const auto seed = static_cast<std::uint32_t> (ch) * goldenRatioSeed;
    auto x = seed + seedOffset + keyStride * key;

    // One xorshift round.
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;

    const auto u = static_cast<float> (static_cast<double> (x) / 4294967295.0); // 2^32 - 1
    return 2.0f * u - 1.0f;
}

ChannelTolerance ChannelTolerance::computeTolerance (float tmtChannel)
{
    const auto value = [tmtChannel] (std::uint32_t key) { return toleranceValue (tmtChannel, key); };

    ChannelTolerance t;
    t.lfFreqMultiplier = 1.0f + freqScale * value (keyLfFreq);
    t.mfFreqMultiplier = 1.0f + freqScale * value (keyMfFreq);
    t.hfFreqMultiplier = 1.0f + freqScale * value (keyHfFreq);
    t.lfGainMultiplier = 1.0f + gainScale * value (keyLfGain);
    t.mfGainMultiplier = 1.0f + gainScale * value (keyMfGain);
    t.hfGainMultiplier = 1.0f + gainScale * value (keyHfGain);
    t.thresholdOffsetDb = thresholdScaleDb * value (keyThreshold);
    t.releaseMultiplier = std::clamp (1.0f + releaseScale * value (keyRelease), releaseMin, releaseMax);
    t.trimOffsetDb = trimScaleDb * value (keyTrim);
    return t;
}
