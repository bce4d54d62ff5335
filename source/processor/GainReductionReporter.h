#pragma once

#include <juce_core/juce_core.h>

// The SDK's own headers do not build cleanly with our warning set.
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wnon-virtual-dtor", "-Wshadow")
#include <pslextensions/ipslgainreduction.h>
JUCE_END_IGNORE_WARNINGS_GCC_LIKE

#include "dsp/MeterState.h"

#include <array>
#include <atomic>
#include <memory>

/**
    Answers a host's IGainReductionInfo queries with the compressor's current gain
    reduction.

    Hosts that draw a gain-reduction meter in their mixer ask the edit controller for
    this interface and then poll it from any thread they like. Each reporter holds its
    own share of the meter record, so it stays valid even when the host keeps it after
    the processor is gone. It is reference counted the VST3 way and deletes itself
    when the last reference is released; create it only with new.

    The SDK's interfaces have no virtual destructor by design: they are never deleted
    through an interface pointer, only by release(), which knows the full type.
*/
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wnon-virtual-dtor")
class GainReductionReporter : public Presonus::IGainReductionInfo
{
public:
    /** A 16-byte interface identifier, in the order the bytes are compared. */
    using InterfaceId = std::array<unsigned char, 16>;

    /** Presonus::IGainReductionInfo, in the SDK's non-COM byte order. */
    static constexpr InterfaceId gainReductionInfoId { 0x8E, 0x3C, 0x29, 0x2C, 0x95, 0x92, 0x4F, 0x9D,
                                                       0xB2, 0x59, 0x0B, 0x1E, 0x10, 0x0E, 0x41, 0x98 };

    /** Steinberg::FUnknown, in the SDK's non-COM byte order. */
    static constexpr InterfaceId funknownId { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

    /** True when queriedId is not null and its 16 bytes equal the identifier. */
    static bool matches (const char* queriedId, const InterfaceId& id) noexcept;

    /** Starts with one reference, owned by whoever created it. The meter record may
        be null; the reporter then reads 0. */
    explicit GainReductionReporter (std::shared_ptr<MeterState> meters);

    /** Hands out this object for FUnknown and IGainReductionInfo (adding a reference);
        anything else gets the no-interface result and a null pointer. */
    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID queriedId, void** obj) override;

    /** Adds a reference; returns the new count. */
    Steinberg::uint32 PLUGIN_API addRef() override;

    /** Drops a reference and deletes the reporter when it was the last; returns the
        count after the release. */
    Steinberg::uint32 PLUGIN_API release() override;

    /** The current gain reduction as the host wants it: 0 or negative dB. */
    double PLUGIN_API getGainReductionValueInDb() override;

private:
    // Only release() may end the object's life.
    virtual ~GainReductionReporter();

    std::atomic<Steinberg::int32> referenceCount { 1 };
    std::shared_ptr<MeterState> meterState;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GainReductionReporter)
};
JUCE_END_IGNORE_WARNINGS_GCC_LIKE
