#pragma once

/**
    The five coefficients of one biquad, already divided by a0.

    Held in double precision. With float coefficients the low shelf misses its
    intended response by up to 0.05 dB below 60 Hz at 88.2 kHz: 1 - cos w cancels in
    float and the rounding of the coefficients moves the poles. In double the
    filter follows the shelf and bell formulas to better than 0.001 dB. The audio
    samples themselves stay float.
*/
struct BiquadCoefficients
{
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    /** The unity filter: passes every sample unchanged. */
    static constexpr BiquadCoefficients identity() noexcept { return {}; }

    /** Exact comparison of all five coefficients. */
    bool operator== (const BiquadCoefficients& o) const noexcept
    {
        return b0 == o.b0 && b1 == o.b1 && b2 == o.b2 && a1 == o.a1 && a2 == o.a2;
    }

    /** True when any coefficient differs. */
    bool operator!= (const BiquadCoefficients& o) const noexcept { return ! (*this == o); }
};
