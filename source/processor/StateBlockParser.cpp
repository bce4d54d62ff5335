#include "processor/StateBlockParser.h"

namespace
{
    // The framework's binary var markers (juce_Variant.cpp); they are part of its
    // stable serialisation format.
    enum VarMarker : unsigned char
    {
        markerInt = 1,
        markerBoolTrue = 2,
        markerBoolFalse = 3,
        markerDouble = 4,
        markerString = 5,
        markerInt64 = 6,
        markerArray = 7,
        markerBinary = 8,
        markerUndefined = 9
    };

    class Cursor
    {
    public:
        Cursor (const unsigned char* d, size_t n) : data (d), size (n) {}

        size_t remaining() const noexcept { return size - pos; }
        size_t position() const noexcept { return pos; }

        bool skip (size_t n) noexcept
        {
            if (n > remaining())
                return false;

            pos += n;
            return true;
        }

        bool readByte (unsigned char& b) noexcept
        {
            if (remaining() < 1)
                return false;

            b = data[pos++];
            return true;
        }

        // A zero-terminated UTF-8 string; the terminator must lie inside the block.
        bool readString (bool& isEmpty) noexcept
        {
            const auto start = pos;

            while (pos < size)
            {
                if (data[pos++] == 0)
                {
                    isEmpty = (pos - start == 1);
                    return isValidText (start, pos - start - 1);
                }
            }

            return false;
        }

        // Text we write is always valid UTF-8. Anything else would be re-encoded on
        // the next save, so a restored state would not save back to the same bytes.
        bool isValidText (size_t start, size_t length) const noexcept
        {
            return juce::CharPointer_UTF8::isValidString (reinterpret_cast<const char*> (data + start),
                                                          static_cast<int> (length));
        }

        // Mirrors OutputStream::writeCompressedInt: a length byte with the sign in bit 7,
        // then up to four little-endian bytes.
        bool readCompressedInt (long long& value) noexcept
        {
            unsigned char sizeByte = 0;

            if (! readByte (sizeByte))
                return false;

            const int numBytes = sizeByte & 0x7f;
            constexpr int maximumIntBytes = 4;

            if (numBytes > maximumIntBytes || remaining() < static_cast<size_t> (numBytes))
                return false;

            unsigned long long magnitude = 0;

            for (int i = 0; i < numBytes; ++i)
                magnitude |= static_cast<unsigned long long> (data[pos++]) << (8 * i);

            value = (sizeByte & 0x80) != 0 ? -static_cast<long long> (magnitude)
                                           : static_cast<long long> (magnitude);
            return true;
        }

    private:
        const unsigned char* data;
        size_t size;
        size_t pos = 0;
    };

    bool checkVar (Cursor& c, int depth);

    bool checkArrayBody (Cursor& c, int depth)
    {
        long long count = 0;

        if (! c.readCompressedInt (count) || count < 0)
            return false;

        // Every element takes at least one byte, so a count larger than what is left is a lie.
        if (static_cast<unsigned long long> (count) > c.remaining())
            return false;

        for (long long i = 0; i < count; ++i)
            if (! checkVar (c, depth + 1))
                return false;

        return true;
    }

    bool checkVar (Cursor& c, int depth)
    {
        if (depth > StateBlockParser::maximumDepth)
            return false;

        long long numBytes = 0;

        if (! c.readCompressedInt (numBytes))
            return false;

        if (numBytes <= 0)
            return numBytes == 0; // an empty var; negative lengths are never written

        if (static_cast<unsigned long long> (numBytes) > c.remaining())
            return false;

        const auto start = c.position();
        unsigned char marker = 0;
        c.readByte (marker);
        const auto payload = static_cast<size_t> (numBytes) - 1;

        switch (marker)
        {
            case markerInt:       return payload == sizeof (juce::int32) && c.skip (payload);
            case markerInt64:     return payload == sizeof (juce::int64) && c.skip (payload);
            case markerDouble:    return payload == sizeof (double) && c.skip (payload);
            case markerBoolTrue:
            case markerBoolFalse: return payload == 0;
            case markerString:    return payload > 0 && c.isValidText (c.position(), payload - 1) && c.skip (payload);
            case markerBinary:
            case markerUndefined: return c.skip (payload);
            case markerArray:     return checkArrayBody (c, depth) && c.position() - start == static_cast<size_t> (numBytes);
            default:              return false;
        }
    }

    bool checkTree (Cursor& c, int depth)
    {
        if (depth > StateBlockParser::maximumDepth)
            return false;

        bool emptyType = true;

        if (! c.readString (emptyType) || emptyType)
            return false;

        long long numProperties = 0;

        if (! c.readCompressedInt (numProperties) || numProperties < 0
            || static_cast<unsigned long long> (numProperties) > c.remaining())
            return false;

        for (long long i = 0; i < numProperties; ++i)
        {
            bool emptyName = true;

            if (! c.readString (emptyName) || emptyName || ! checkVar (c, depth + 1))
                return false;
        }

        long long numChildren = 0;

        if (! c.readCompressedInt (numChildren) || numChildren < 0
            || static_cast<unsigned long long> (numChildren) > c.remaining())
            return false;

        for (long long i = 0; i < numChildren; ++i)
            if (! checkTree (c, depth + 1))
                return false;

        return true;
    }
}

size_t StateBlockParser::measureTree (const void* data, size_t numBytes)
{
    if (data == nullptr || numBytes == 0)
        return 0;

    Cursor cursor (static_cast<const unsigned char*> (data), numBytes);
    return checkTree (cursor, 0) ? cursor.position() : 0;
}

juce::ValueTree StateBlockParser::parse (const void* data, size_t numBytes)
{
    const auto length = measureTree (data, numBytes);

    if (length == 0)
        return {};

    return juce::ValueTree::readFromData (data, length);
}
