#pragma once

// Helpers shared by the signal-processing tests: impulse responses through a block,
// their spectrum at single frequencies, and the closed-form magnitudes of the Audio
// EQ Cookbook biquads and of the bilinear Butterworth high-pass, all in double
// precision and written independently of the code under test.

#include <gtest/gtest.h>
#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <vector>

namespace orvane::test
{
    /** Fails the test at the first sample where two buffers differ in any bit. */
    inline void expectIdentical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        ASSERT_EQ (a.getNumChannels(), b.getNumChannels());
        ASSERT_EQ (a.getNumSamples(), b.getNumSamples());
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            for (int i = 0; i < a.getNumSamples(); ++i)
                ASSERT_EQ (a.getSample (ch, i), b.getSample (ch, i)) << "channel " << ch << ", sample " << i;
    }

    /** The largest absolute difference between two buffers of the same shape. */
    inline float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        float m = 0.0f;
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            for (int i = 0; i < a.getNumSamples(); ++i)
                m = std::max (m, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));
        return m;
    }

    constexpr double pi = 3.14159265358979323846;

    /** Runs a unit impulse (channel 0, and channel 1 when stereo) through process in blocks. */
    inline std::vector<float> impulseResponse (const std::function<void (juce::dsp::AudioBlock<float>&)>& process,
                                               int length, int numChannels = 1, int blockSize = 512)
    {
        juce::AudioBuffer<float> buffer (numChannels, length);
        buffer.clear();
        for (int ch = 0; ch < numChannels; ++ch)
            buffer.setSample (ch, 0, 1.0f);

        juce::dsp::AudioBlock<float> whole (buffer);
        for (int start = 0; start < length; start += blockSize)
        {
            auto sub = whole.getSubBlock (static_cast<size_t> (start),
                                          static_cast<size_t> (std::min (blockSize, length - start)));
            process (sub);
        }

        return { buffer.getReadPointer (0), buffer.getReadPointer (0) + length };
    }

    /** |DFT| of a (fully decayed) impulse response at one frequency, in dB. */
    inline double responseDb (const std::vector<float>& h, double frequency, double sampleRate)
    {
        const auto w = 2.0 * pi * frequency / sampleRate;
        std::complex<double> sum { 0.0, 0.0 };
        // A rotating phasor, renormalised now and then, keeps the sum accurate.
        std::complex<double> phasor { 1.0, 0.0 };
        const std::complex<double> step { std::cos (w), -std::sin (w) };
        for (size_t n = 0; n < h.size(); ++n)
        {
            if ((n & 1023) == 0)
                phasor = { std::cos (w * static_cast<double> (n)), -std::sin (w * static_cast<double> (n)) };
            sum += static_cast<double> (h[n]) * phasor;
            phasor *= step;
        }
        return 20.0 * std::log10 (std::abs (sum));
    }

    struct BiquadD
    {
        double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;

        double magnitudeDb (double frequency, double sampleRate) const
        {
            const auto w = 2.0 * pi * frequency / sampleRate;
            const std::complex<double> z1 = std::polar (1.0, -w), z2 = std::polar (1.0, -2.0 * w);
            const auto num = b0 + b1 * z1 + b2 * z2;
            const auto den = a0 + a1 * z1 + a2 * z2;
            return 20.0 * std::log10 (std::abs (num / den));
        }
    };

    inline double amplitudeA (double gainDb) { return std::sqrt (std::pow (10.0, gainDb / 20.0)); }

    inline BiquadD lowShelfD (double fs, double f, double q, double gainDb)
    {
        const auto A = amplitudeA (gainDb), w = 2.0 * pi * f / fs, cs = std::cos (w), sn = std::sin (w);
        const auto beta = sn * std::sqrt (A) / q;
        return { A * ((A + 1) - (A - 1) * cs + beta), 2 * A * ((A - 1) - (A + 1) * cs), A * ((A + 1) - (A - 1) * cs - beta),
                 (A + 1) + (A - 1) * cs + beta, -2 * ((A - 1) + (A + 1) * cs), (A + 1) + (A - 1) * cs - beta };
    }

    inline BiquadD highShelfD (double fs, double f, double q, double gainDb)
    {
        const auto A = amplitudeA (gainDb), w = 2.0 * pi * f / fs, cs = std::cos (w), sn = std::sin (w);
        const auto beta = sn * std::sqrt (A) / q;
        return { A * ((A + 1) + (A - 1) * cs + beta), -2 * A * ((A - 1) + (A + 1) * cs), A * ((A + 1) + (A - 1) * cs - beta),
                 (A + 1) - (A - 1) * cs + beta, 2 * ((A - 1) - (A + 1) * cs), (A + 1) - (A - 1) * cs - beta };
    }

    inline BiquadD peakD (double fs, double f, double q, double gainDb)
    {
        const auto A = amplitudeA (gainDb), w = 2.0 * pi * f / fs, cs = std::cos (w), sn = std::sin (w);
        const auto alpha = sn / (2 * q);
        return { 1 + alpha * A, -2 * cs, 1 - alpha * A, 1 + alpha / A, -2 * cs, 1 - alpha / A };
    }

    /** The bilinear (prewarped) second-order high-pass s^2 / (s^2 + R2 s + 1), as the TPT SVF realises it. */
    inline double highPassMagnitudeDb (double cutoff, double resonance, double frequency, double sampleRate)
    {
        const auto g = std::tan (pi * cutoff / sampleRate);
        const auto omega = std::tan (pi * frequency / sampleRate) / g;
        const auto r2 = 1.0 / resonance;
        const auto o2 = omega * omega;
        return 10.0 * std::log10 (o2 * o2 / ((1.0 - o2) * (1.0 - o2) + r2 * r2 * o2));
    }

    /** Peak absolute value of a buffer's channel over a sample range. */
    inline float peakOf (const juce::AudioBuffer<float>& b, int ch, int start, int end)
    {
        float m = 0.0f;
        for (int i = start; i < end; ++i)
            m = std::max (m, std::abs (b.getSample (ch, i)));
        return m;
    }
}
