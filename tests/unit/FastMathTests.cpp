// The audio thread's exponential, logarithm and tanh against the standard
// library's, over the ranges the chain can feed them and beyond.

#include <gtest/gtest.h>

#include "dsp/FastMath.h"

#include <cmath>
#include <functional>
#include <iostream>

namespace
{
    struct Worst
    {
        double error = 0.0, at = 0.0;
    };

    // Largest relative error of f against g over [from, to), x stepping by a ratio.
    Worst relativeError (const std::function<double (double)>& f, const std::function<double (double)>& g,
                         double from, double to, double ratio, bool bothSigns)
    {
        Worst worst;
        for (double a = from; a < to; a *= ratio)
            for (const auto x : { a, -a })
            {
                if (x < 0.0 && ! bothSigns)
                    continue;

                const auto expected = g (x);
                const auto error = expected == 0.0 ? std::abs (f (x)) : std::abs (f (x) - expected) / std::abs (expected);

                if (error > worst.error)
                    worst = { error, x };
            }
        return worst;
    }
}

TEST (FastMath, AgreesWithTheLibraryToFarBelowFloatRounding)
{
    struct Case
    {
        const char* name;
        std::function<double (double)> fast, library;
        double from, to;
        bool bothSigns;
        double bound;
    };

    const Case cases[] = {
        // Through the series, the exponential form and the clamp.
        { "tanh", [] (double x) { return FastMath::tanh (x); }, [] (double x) { return std::tanh (x); }, 1.0e-12, 40.0, true, 1.0e-10 },
        // Every gain and level the compressor computes: -240 .. +240 dB.
        { "exp2", [] (double x) { return FastMath::exp2 (x); }, [] (double x) { return std::exp2 (x); }, 1.0e-9, 40.0, true, 3.0e-11 },
        { "log2", [] (double x) { return FastMath::log2 (x); }, [] (double x) { return std::log2 (x); }, 1.0e-30, 1.0e30, false, 2.0e-10 },
    };

    for (const auto& c : cases)
    {
        const auto worst = relativeError (c.fast, c.library, c.from, c.to, 1.0001, c.bothSigns);
        EXPECT_LT (worst.error, c.bound) << c.name << " at x = " << worst.at;
        std::cout << "[ measure ] " << c.name << ": largest relative error " << worst.error << " at x = " << worst.at << "\n";
    }

    // log2 near 1, where its value passes through 0: absolute error.
    for (double x = 0.99; x < 1.01; x += 1.0e-6)
        ASSERT_NEAR (FastMath::log2 (x), std::log2 (x), 1.0e-15) << x;

    EXPECT_EQ (FastMath::tanh (0.0), 0.0);
    EXPECT_EQ (FastMath::tanh (1000.0), 1.0);
    EXPECT_EQ (FastMath::tanh (-1000.0), -1.0);
    EXPECT_EQ (FastMath::exp2 (0.0), 1.0);
    EXPECT_EQ (FastMath::exp2 (-3.0), 0.125);
    EXPECT_EQ (FastMath::log2 (8.0), 3.0);
}

TEST (FastMath, BothLanesAreIndependent)
{
    const auto t = FastMath::tanh (SimdPair<double>::make (0.5, -3.0));
    EXPECT_NEAR (t.lane0(), std::tanh (0.5), 1.0e-12);
    EXPECT_NEAR (t.lane1(), std::tanh (-3.0), 1.0e-12);

    const auto l = FastMath::log2 (SimdPair<double>::make (0.3, 7.0e5));
    EXPECT_NEAR (l.lane0(), std::log2 (0.3), 1.0e-12);
    EXPECT_NEAR (l.lane1(), std::log2 (7.0e5), 1.0e-10);

    // The pair's logarithm takes the same steps as the single value's.
    for (double x = 1.0e-20; x < 1.0e20; x *= 1.37)
        ASSERT_EQ (FastMath::log2 (SimdPair<double>::make (x, 1.0 / x)).lane0(), FastMath::log2 (x)) << x;

    const auto e = FastMath::exp2 (SimdPair<double>::make (-7.25, 3.5));
    EXPECT_NEAR (e.lane0() / std::exp2 (-7.25), 1.0, 1.0e-9);
    EXPECT_NEAR (e.lane1() / std::exp2 (3.5), 1.0, 1.0e-9);
}
