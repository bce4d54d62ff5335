#pragma once

#include <juce_core/juce_core.h>

#include "dsp/BiquadCoefficients.h"

#include <algorithm>
#include <cmath>

/**
    One equaliser band on one channel: the record of a transposed direct-form II
    biquad whose coefficients glide towards their target with a 5 ms one-pole, one
    step per sample, so that a moving control never makes the filter jump. The
    equaliser runs the filters of both channels together and hands back their
    coefficients and states through restore().
*/
class SmoothedBiquad
{
public:
    /** Time constant of the coefficient glide, in seconds. */
    static constexpr double glideSeconds = 0.005;

    /** A unity filter gliding at the 44.1 kHz rate, not yet set. */
    SmoothedBiquad() noexcept { setSmoothing (44100.0); }

    /** The one-pole coefficient for a rate: c = e^(-1 / (0.005 * max(sampleRate, 1))). */
    void setSmoothing (double sampleRate) noexcept
    {
        smoothing = std::exp (-1.0 / (glideSeconds * std::max (sampleRate, 1.0)));
        oneMinusSmoothing = 1.0 - smoothing;
    }

    /** States zeroed, current coefficients set to the last target, record not set. */
    void reset() noexcept
    {
        s1 = s2 = 0.0;
        current = target;
        set = false;
    }

    /** New target; the first one after reset() is also taken as current (no glide). */
    void setTarget (const BiquadCoefficients& newTarget) noexcept
    {
        target = newTarget;

        if (! set)
        {
            current = newTarget;
            set = true;
        }
    }

    /** The coefficients in use, part-way along the glide. */
    const BiquadCoefficients& getCurrent() const noexcept { return current; }

    /** The coefficients last computed, which the glide approaches. */
    const BiquadCoefficients& getTarget() const noexcept { return target; }

    /** The glide's one-pole coefficient. */
    double getSmoothing() const noexcept { return smoothing; }

    /** False until the first target after reset(). */
    bool isSet() const noexcept { return set; }

    /** The two filter states. */
    double getState1() const noexcept { return s1; }
    double getState2() const noexcept { return s2; }

    /** For code that runs several bands or channels at once: takes over the
        coefficients and states it computed. */
    void restore (const BiquadCoefficients& newCurrent, double newState1, double newState2) noexcept
    {
        current = newCurrent;
        s1 = newState1;
        s2 = newState2;
    }

    /** The glide has come so close to the target (every coefficient within 1e-12,
        the filters' own rounding in double) that it ends there: from then on the
        band runs without the per-sample glide. */
    static bool hasConverged (const BiquadCoefficients& c, const BiquadCoefficients& t) noexcept
    {
        constexpr double closeEnough = 1.0e-12;
        const auto near = [] (double a, double b) { return std::abs (a - b) <= closeEnough; };
        return near (c.b0, t.b0) && near (c.b1, t.b1) && near (c.b2, t.b2) && near (c.a1, t.a1) && near (c.a2, t.a2);
    }

private:
    BiquadCoefficients current, target;
    double s1 = 0.0, s2 = 0.0;
    double smoothing = 0.0, oneMinusSmoothing = 1.0;
    bool set = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SmoothedBiquad)
};
