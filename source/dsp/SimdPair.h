#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
 #include <emmintrin.h>
 #define ORVANE_SIMD_PAIR_SSE2 1
#else
 #define ORVANE_SIMD_PAIR_SSE2 0
#endif

/**
    Two values processed as one: the left and right channel of a stereo stage, in
    the lanes of one SSE2 register where the processor has them (every x86-64 one),
    and as two plain values elsewhere.

    Each operation is the IEEE operation of the scalar type on each lane, so code
    written with pairs gives bit for bit the numbers of the same code written for one
    channel at a time. Lane 0 is the left channel, lane 1 the right.

    SimdPair<float> keeps its two floats in the low half of a four-lane register;
    SimdPair<double> fills a two-lane register.
*/
template <typename T>
struct SimdPair;

#if ORVANE_SIMD_PAIR_SSE2

template <>
struct SimdPair<double>
{
    __m128d v;

    /** Both lanes set to x. */
    static SimdPair broadcast (double x) noexcept { return { _mm_set1_pd (x) }; }

    /** Lane 0 = a, lane 1 = b. */
    static SimdPair make (double a, double b) noexcept { return { _mm_set_pd (b, a) }; }

    /** Lane 0 = *a, lane 1 = *b. */
    static SimdPair load (const double* a, const double* b) noexcept { return make (*a, *b); }

    /** Lane 1 to *b, then lane 0 to *a: when a and b are the same address, lane 0 stays. */
    void store (double* a, double* b) const noexcept
    {
        _mm_store_sd (b, _mm_unpackhi_pd (v, v));
        _mm_store_sd (a, v);
    }

    /** The left lane. */
    double lane0() const noexcept { return _mm_cvtsd_f64 (v); }

    /** The right lane. */
    double lane1() const noexcept { return _mm_cvtsd_f64 (_mm_unpackhi_pd (v, v)); }

    friend SimdPair operator+ (SimdPair a, SimdPair b) noexcept { return { _mm_add_pd (a.v, b.v) }; }
    friend SimdPair operator- (SimdPair a, SimdPair b) noexcept { return { _mm_sub_pd (a.v, b.v) }; }
    friend SimdPair operator* (SimdPair a, SimdPair b) noexcept { return { _mm_mul_pd (a.v, b.v) }; }
    friend SimdPair operator/ (SimdPair a, SimdPair b) noexcept { return { _mm_div_pd (a.v, b.v) }; }

    /** Lane-wise minimum and maximum (the second operand when either is NaN). */
    static SimdPair min (SimdPair a, SimdPair b) noexcept { return { _mm_min_pd (a.v, b.v) }; }
    static SimdPair max (SimdPair a, SimdPair b) noexcept { return { _mm_max_pd (a.v, b.v) }; }

    /** Lane-wise square root. */
    static SimdPair sqrt (SimdPair a) noexcept { return { _mm_sqrt_pd (a.v) }; }

    /** Lane-wise |a|. */
    static SimdPair abs (SimdPair a) noexcept { return { _mm_andnot_pd (_mm_set1_pd (-0.0), a.v) }; }

    /** All bits set in the lanes where a > b. */
    static SimdPair greaterThan (SimdPair a, SimdPair b) noexcept { return { _mm_cmpgt_pd (a.v, b.v) }; }

    /** Lane-wise mask ? ifTrue : ifFalse, for masks from the comparisons. */
    static SimdPair select (SimdPair mask, SimdPair ifTrue, SimdPair ifFalse) noexcept
    {
        return { _mm_or_pd (_mm_and_pd (mask.v, ifTrue.v), _mm_andnot_pd (mask.v, ifFalse.v)) };
    }

    /** Lane-wise a with the sign of s. */
    static SimdPair copySign (SimdPair a, SimdPair s) noexcept
    {
        const auto sign = _mm_set1_pd (-0.0);
        return { _mm_or_pd (_mm_andnot_pd (sign, a.v), _mm_and_pd (sign, s.v)) };
    }

    /** Lane-wise round to the nearest integer (ties to even), for |a| < 2^51. */
    static SimdPair roundToInteger (SimdPair a) noexcept
    {
        const auto shifter = _mm_set1_pd (shifterValue);
        return { _mm_sub_pd (_mm_add_pd (a.v, shifter), shifter) };
    }

    /** Lane-wise 2^n for integer-valued n in -1022 .. 1023, exact. */
    static SimdPair exp2OfInteger (SimdPair n) noexcept
    {
        // n + 1.5 * 2^52 holds n in its low mantissa bits; adding the exponent bias
        // and moving the result into the exponent field gives the power of two.
        const auto bits = _mm_castpd_si128 (_mm_add_pd (n.v, _mm_set1_pd (shifterValue)));
        const auto biased = _mm_add_epi64 (bits, _mm_set1_epi64x (exponentBias));
        return { _mm_castsi128_pd (_mm_slli_epi64 (biased, mantissaBits)) };
    }

    /** 1.5 * 2^52: adding and subtracting it rounds a double to an integer. */
    static constexpr double shifterValue = 6755399441055744.0;
    static constexpr int64_t exponentBias = 1023;
    static constexpr int mantissaBits = 52;
};

template <>
struct SimdPair<float>
{
    __m128 v;

    /** Both lanes set to x. */
    static SimdPair broadcast (float x) noexcept { return { _mm_set1_ps (x) }; }

    /** Lane 0 = a, lane 1 = b. */
    static SimdPair make (float a, float b) noexcept { return { _mm_setr_ps (a, b, 0.0f, 0.0f) }; }

    /** Lane 0 = *a, lane 1 = *b. */
    static SimdPair load (const float* a, const float* b) noexcept
    {
        return { _mm_unpacklo_ps (_mm_load_ss (a), _mm_load_ss (b)) };
    }

    /** Lane 1 to *b, then lane 0 to *a: when a and b are the same address, lane 0 stays. */
    void store (float* a, float* b) const noexcept
    {
        _mm_store_ss (b, _mm_shuffle_ps (v, v, _MM_SHUFFLE (1, 1, 1, 1)));
        _mm_store_ss (a, v);
    }

    /** Lane 0 = p[0], lane 1 = p[1]: one interleaved stereo frame. */
    static SimdPair loadFrame (const float* p) noexcept
    {
        return { _mm_castpd_ps (_mm_load_sd (reinterpret_cast<const double*> (p))) };
    }

    /** Lane 0 to p[0], lane 1 to p[1]. */
    void storeFrame (float* p) const noexcept { _mm_store_sd (reinterpret_cast<double*> (p), _mm_castps_pd (v)); }

    /** The left lane. */
    float lane0() const noexcept { return _mm_cvtss_f32 (v); }

    /** The right lane. */
    float lane1() const noexcept { return _mm_cvtss_f32 (_mm_shuffle_ps (v, v, _MM_SHUFFLE (1, 1, 1, 1))); }

    /** Both lanes widened to double. */
    SimdPair<double> toDouble() const noexcept { return { _mm_cvtps_pd (v) }; }

    /** Both lanes of a double pair rounded to float. */
    static SimdPair fromDouble (SimdPair<double> d) noexcept { return { _mm_cvtpd_ps (d.v) }; }

    friend SimdPair operator+ (SimdPair a, SimdPair b) noexcept { return { _mm_add_ps (a.v, b.v) }; }
    friend SimdPair operator- (SimdPair a, SimdPair b) noexcept { return { _mm_sub_ps (a.v, b.v) }; }
    friend SimdPair operator* (SimdPair a, SimdPair b) noexcept { return { _mm_mul_ps (a.v, b.v) }; }
    friend SimdPair operator/ (SimdPair a, SimdPair b) noexcept { return { _mm_div_ps (a.v, b.v) }; }

    /** Lane-wise minimum and maximum (the second operand when either is NaN). */
    static SimdPair min (SimdPair a, SimdPair b) noexcept { return { _mm_min_ps (a.v, b.v) }; }
    static SimdPair max (SimdPair a, SimdPair b) noexcept { return { _mm_max_ps (a.v, b.v) }; }

    /** Lane-wise square root. */
    static SimdPair sqrt (SimdPair a) noexcept { return { _mm_sqrt_ps (a.v) }; }

    /** All bits set in the lanes where a > b. */
    static SimdPair greaterThan (SimdPair a, SimdPair b) noexcept { return { _mm_cmpgt_ps (a.v, b.v) }; }

    /** Lane-wise mask ? ifTrue : ifFalse, for masks from the comparisons. */
    static SimdPair select (SimdPair mask, SimdPair ifTrue, SimdPair ifFalse) noexcept
    {
        return { _mm_or_ps (_mm_and_ps (mask.v, ifTrue.v), _mm_andnot_ps (mask.v, ifFalse.v)) };
    }
};

#else

/** The portable pair: two plain values, the same operations. */
template <typename T>
struct SimdPair
{
    T a, b;

    static SimdPair broadcast (T x) noexcept { return { x, x }; }
    static SimdPair make (T x, T y) noexcept { return { x, y }; }
    static SimdPair load (const T* x, const T* y) noexcept { return { *x, *y }; }
    void store (T* x, T* y) const noexcept { *y = b; *x = a; }
    static SimdPair loadFrame (const T* p) noexcept { return { p[0], p[1] }; }
    void storeFrame (T* p) const noexcept { p[0] = a; p[1] = b; }
    T lane0() const noexcept { return a; }
    T lane1() const noexcept { return b; }

    SimdPair<double> toDouble() const noexcept { return { static_cast<double> (a), static_cast<double> (b) }; }
    static SimdPair fromDouble (SimdPair<double> d) noexcept { return { static_cast<T> (d.a), static_cast<T> (d.b) }; }

    friend SimdPair operator+ (SimdPair x, SimdPair y) noexcept { return { x.a + y.a, x.b + y.b }; }
    friend SimdPair operator- (SimdPair x, SimdPair y) noexcept { return { x.a - y.a, x.b - y.b }; }
    friend SimdPair operator* (SimdPair x, SimdPair y) noexcept { return { x.a * y.a, x.b * y.b }; }
    friend SimdPair operator/ (SimdPair x, SimdPair y) noexcept { return { x.a / y.a, x.b / y.b }; }

    static SimdPair min (SimdPair x, SimdPair y) noexcept { return { x.a < y.a ? x.a : y.a, x.b < y.b ? x.b : y.b }; }
    static SimdPair max (SimdPair x, SimdPair y) noexcept { return { x.a > y.a ? x.a : y.a, x.b > y.b ? x.b : y.b }; }
    static SimdPair sqrt (SimdPair x) noexcept { return { std::sqrt (x.a), std::sqrt (x.b) }; }
    static SimdPair abs (SimdPair x) noexcept { return { std::abs (x.a), std::abs (x.b) }; }

    // Masks are kept as 1 and 0: select() only tests them for non-zero.
    static SimdPair greaterThan (SimdPair x, SimdPair y) noexcept
    {
        return { x.a > y.a ? T (1) : T (0), x.b > y.b ? T (1) : T (0) };
    }

    static SimdPair select (SimdPair m, SimdPair t, SimdPair f) noexcept
    {
        return { m.a != T (0) ? t.a : f.a, m.b != T (0) ? t.b : f.b };
    }

    static SimdPair copySign (SimdPair x, SimdPair s) noexcept { return { std::copysign (x.a, s.a), std::copysign (x.b, s.b) }; }
    static SimdPair roundToInteger (SimdPair x) noexcept { return { std::nearbyint (x.a), std::nearbyint (x.b) }; }
    static SimdPair exp2OfInteger (SimdPair n) noexcept
    {
        return { std::ldexp (T (1), static_cast<int> (n.a)), std::ldexp (T (1), static_cast<int> (n.b)) };
    }
};

#endif
