// The saturator's tanh against the standard library's, over the whole range the
// saturator can feed it and beyond.

#include <gtest/gtest.h>

#include "dsp/FastTanh.h"

#include <cmath>

TEST (FastTanh, AgreesWithTheLibraryToFarBelowFloatRounding)
{
    // Relative error, with x stepping by a ratio of 1.0001 through 1e-12 .. 40 on
    // both sides, where the series, the exponential form and the clamp take over.
    double worst = 0.0, worstAt = 0.0;

    for (double a = 1.0e-12; a < 40.0; a *= 1.0001)
        for (const auto x : { a, -a })
        {
            const auto expected = std::tanh (x);
            const auto error = std::abs (FastTanh::process (x) - expected) / std::abs (expected);

            if (error > worst)
            {
                worst = error;
                worstAt = x;
            }
        }

    EXPECT_LT (worst, 1.0e-9) << "at x = " << worstAt;

    EXPECT_EQ (FastTanh::process (0.0), 0.0);
    EXPECT_EQ (FastTanh::process (1000.0), 1.0);
    EXPECT_EQ (FastTanh::process (-1000.0), -1.0);
}

TEST (FastTanh, BothLanesAreIndependent)
{
    const auto pair = FastTanh::process (SimdPair<double>::make (0.5, -3.0));
    EXPECT_NEAR (pair.lane0(), std::tanh (0.5), 1.0e-12);
    EXPECT_NEAR (pair.lane1(), std::tanh (-3.0), 1.0e-12);
}
