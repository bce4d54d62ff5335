#pragma once

#include "dsp/SimdPair.h"

/**
    The hyperbolic tangent for the saturator, for two channels at once.

    Computed in double precision from e^(2|x|) = 2^n e^z, with n the nearest
    integer to 2|x| / ln 2, |z| <= ln 2 / 2 and e^z from its Taylor series to the
    ninth power (evaluated in Estrin's order, so that the saturator's feedback
    loop, which waits for each result, waits less), then (e - 1) / (e + 1); below
    |x| = 0.01, where that quotient would lose digits, from tanh's own series. The
    relative error is below 1e-9 everywhere, far inside the rounding of a float, at
    a fraction of the cost of the standard library's tanh.
*/
class FastTanh
{
public:
    /** tanh of each lane. */
    static SimdPair<double> process (SimdPair<double> x) noexcept
    {
        using P = SimdPair<double>;

        // tanh(20) rounds to 1 in double; larger arguments would only overflow e.
        constexpr double largest = 20.0;
        constexpr double twoOverLn2 = 2.8853900817779268; // 2 / ln 2
        constexpr double ln2 = 0.69314718055994531;
        constexpr double seriesLimit = 0.01;

        const auto a = P::min (P::abs (x), P::broadcast (largest));

        const auto y = a * P::broadcast (twoOverLn2);
        const auto n = P::roundToInteger (y);
        const auto z = (y - n) * P::broadcast (ln2);

        // e^z = sum z^k / k!, k = 0 .. 9.
        const auto z2 = z * z;
        const auto z4 = z2 * z2;
        const auto z8 = z4 * z4;
        const auto one = P::broadcast (1.0);
        const auto t01 = one + z;
        const auto t23 = P::broadcast (1.0 / 2.0) + z * P::broadcast (1.0 / 6.0);
        const auto t45 = P::broadcast (1.0 / 24.0) + z * P::broadcast (1.0 / 120.0);
        const auto t67 = P::broadcast (1.0 / 720.0) + z * P::broadcast (1.0 / 5040.0);
        const auto t89 = P::broadcast (1.0 / 40320.0) + z * P::broadcast (1.0 / 362880.0);
        const auto expZ = (t01 + z2 * t23) + z4 * (t45 + z2 * t67) + z8 * t89;

        const auto e = expZ * P::exp2OfInteger (n);
        const auto large = (e - one) / (e + one);

        // tanh a = a - a^3 / 3 + 2 a^5 / 15 - ..., the next term below 1e-13 of a.
        const auto a2 = a * a;
        const auto small = a * (one - a2 * (P::broadcast (1.0 / 3.0) - a2 * P::broadcast (2.0 / 15.0)));

        const auto useSeries = P::greaterThan (P::broadcast (seriesLimit), a);
        return P::copySign (P::select (useSeries, small, large), x);
    }

    /** tanh of one value, the same arithmetic as a lane of the pair version. */
    static double process (double x) noexcept { return process (SimdPair<double>::broadcast (x)).lane0(); }

private:
    FastTanh() = delete;
};
