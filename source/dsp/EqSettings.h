#pragma once

#include <array>

/**
    Everything the equaliser's coefficients depend on: the band frequencies, gains
    and Qs as the controls give them, before the channel tolerance scales them and
    before they are clamped, plus a copy of the six tolerance multipliers. The
    equaliser compares it field by field, exactly, with the settings it last
    computed, and recomputes only when something differs.
*/
struct EqSettings
{
    float lfFreq = lfLowHz, lfGain = 0.0f;
    float mfFreq = 1000.0f, mfGain = 0.0f, mfQ = mfBaseQ;
    float hfFreq = hfLowHz, hfGain = 0.0f;
    float lfCompanionFreq = lfCompanionRatio * lfLowHz, lfCompanionGain = 0.0f, lfCompanionQ = companionQ;
    float hfCompanionFreq = hfCompanionRatio * hfLowHz, hfCompanionGain = 0.0f, hfCompanionQ = companionQ;

    /** fm_LF, fm_MF, fm_HF; ParametricEQ::update fills them in from its tolerance. */
    std::array<float, 3> freqMultipliers { 1.0f, 1.0f, 1.0f };

    /** gm_LF, gm_MF, gm_HF; ParametricEQ::update fills them in from its tolerance. */
    std::array<float, 3> gainMultipliers { 1.0f, 1.0f, 1.0f };

    /** Shelf frequencies of the low and high positions of the two frequency switches. */
    static constexpr float lfLowHz = 60.0f, lfHighHz = 150.0f;
    static constexpr float hfLowHz = 8000.0f, hfHighHz = 16000.0f;

    /** Q of both shelves and of both companion bells. */
    static constexpr float shelfQ = 0.7f, companionQ = 1.0f;

    /** The mid bell's proportional Q: 0.5 at 0 dB, growing by 0.9 up to 1.4 at +-12 dB. */
    static constexpr float mfBaseQ = 0.5f, mfQRange = 0.9f, mfFullQGainDb = 12.0f;

    /** Each companion bell sits at this multiple of its shelf's base frequency ... */
    static constexpr float lfCompanionRatio = 3.0f, hfCompanionRatio = 0.4f;

    /** ... and moves against the shelf by a fifth of its gain. */
    static constexpr float companionGainRatio = -0.2f;

    /** The five bands for the control values (taken in this order by the chain). */
    static EqSettings fromParameters (bool lfFreqHi, bool hfFreqHi, float mfGainDb,
                                      float lfGainDb, float hfGainDb, float mfFreqHz) noexcept
    {
        EqSettings s;
        const auto lfBase = lfFreqHi ? lfHighHz : lfLowHz;
        const auto hfBase = hfFreqHi ? hfHighHz : hfLowHz;
        const auto mfAmount = (mfGainDb < 0.0f ? -mfGainDb : mfGainDb) / mfFullQGainDb;

        s.lfFreq = lfBase;
        s.lfGain = lfGainDb;
        s.mfFreq = mfFreqHz;
        s.mfGain = mfGainDb;
        s.mfQ = mfBaseQ + mfQRange * (mfAmount < 1.0f ? mfAmount : 1.0f);
        s.hfFreq = hfBase;
        s.hfGain = hfGainDb;
        s.lfCompanionFreq = lfCompanionRatio * lfBase;
        s.lfCompanionGain = companionGainRatio * lfGainDb;
        s.lfCompanionQ = companionQ;
        s.hfCompanionFreq = hfCompanionRatio * hfBase;
        s.hfCompanionGain = companionGainRatio * hfGainDb;
        s.hfCompanionQ = companionQ;
        return s;
    }

    /** Field by field, exactly. */
    bool operator== (const EqSettings& o) const noexcept
    {
        return lfFreq == o.lfFreq && lfGain == o.lfGain
            && mfFreq == o.mfFreq && mfGain == o.mfGain && mfQ == o.mfQ
            && hfFreq == o.hfFreq && hfGain == o.hfGain
            && lfCompanionFreq == o.lfCompanionFreq && lfCompanionGain == o.lfCompanionGain
            && lfCompanionQ == o.lfCompanionQ
            && hfCompanionFreq == o.hfCompanionFreq && hfCompanionGain == o.hfCompanionGain
            && hfCompanionQ == o.hfCompanionQ
            && freqMultipliers == o.freqMultipliers && gainMultipliers == o.gainMultipliers;
    }

    /** True when any field differs. */
    bool operator!= (const EqSettings& o) const noexcept { return ! (*this == o); }
};
