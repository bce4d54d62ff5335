#pragma once

#include <juce_data_structures/juce_data_structures.h>

/**
    Reads a plug-in state block written by ValueTree::writeToStream, refusing
    anything that is not a complete, well-formed tree.

    The framework's own reader trusts the counts it finds in the bytes: a damaged
    or hostile block can make it allocate gigabytes, recurse until the stack runs
    out, or hand back a half-read tree. This parser walks the whole structure with
    bounds and depth checks first and only then lets the framework build the tree,
    so a block the host mangled is ignored instead of crashing or being partly
    applied.
*/
class StateBlockParser
{
public:
    /** Deepest nesting of trees and arrays accepted; real states are two levels deep. */
    static constexpr int maximumDepth = 32;

    /** Returns the tree held at the start of the block, or an invalid tree when the
        bytes are not a complete binary value tree. Bytes after the tree are ignored. */
    static juce::ValueTree parse (const void* data, size_t numBytes);

    /** Returns the number of bytes the tree at the start of the block occupies, or 0
        when the block does not start with a complete, well-formed tree. */
    static size_t measureTree (const void* data, size_t numBytes);

private:
    StateBlockParser() = delete;
};
