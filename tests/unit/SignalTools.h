#pragma once

#include <cmath>
#include <complex>
#include <vector>

namespace orvane::test
{
    /** A sine of the given amplitude and frequency, starting at phase 0. */
    inline std::vector<float> sine (int numSamples, double frequency, double sampleRate, double amplitude)
    {
        std::vector<float> out (static_cast<size_t> (numSamples));
        const auto w = 2.0 * M_PI * frequency / sampleRate;

        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<float> (amplitude * std::sin (w * static_cast<double> (i)));

        return out;
    }

    /** The complex amplitude of one frequency in x[start .. start + length): the
        correlation with e^(-jwn), scaled so that a sine of amplitude A and phase p
        gives A e^(j(p - pi/2)). Exact when the window holds whole periods. */
    inline std::complex<double> toneAt (const std::vector<float>& x, size_t start, size_t length,
                                        double frequency, double sampleRate)
    {
        const auto w = 2.0 * M_PI * frequency / sampleRate;
        std::complex<double> sum;

        for (size_t i = start; i < start + length; ++i)
            sum += static_cast<double> (x[i]) * std::polar (1.0, -w * static_cast<double> (i));

        return sum * (2.0 / static_cast<double> (length));
    }

    /** Amplitude ratio in dB. */
    inline double toDb (double ratio)
    {
        return 20.0 * std::log10 (ratio);
    }
}
