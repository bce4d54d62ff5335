#include "presets/PresetFile.h"

#include "processor/StateRestorer.h"

#include <cmath>

namespace
{
    // Refused by at least one desktop file system, or read as a path separator or
    // drive marker; control characters (below 0x20, and DEL) are refused as well.
    constexpr const char* refusedCharacters = "/\\:*?\"<>|";
    constexpr juce::juce_wchar firstPrintable = 0x20;
    constexpr juce::juce_wchar deleteCharacter = 0x7f;
    constexpr juce::juce_wchar replacement = '-';

    bool isRefused (juce::juce_wchar c)
    {
        return c < firstPrintable || c == deleteCharacter
            || juce::String (refusedCharacters).containsChar (c);
    }

    // Cuts text to at most maximumBytes of UTF-8 without splitting a character.
    juce::String cutToBytes (const juce::String& text, int maximumBytes)
    {
        auto end = text.getCharPointer();
        size_t bytes = 0;

        while (! end.isEmpty())
        {
            const auto next = bytes + juce::CharPointer_UTF8::getBytesRequiredFor (*end);

            if (next > static_cast<size_t> (maximumBytes))
                break;

            bytes = next;
            ++end;
        }

        return juce::String (text.getCharPointer(), end);
    }
}

juce::File PresetFile::defaultFolder()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("TIRREL Audio")
        .getChildFile ("Orvane Channel")
        .getChildFile ("Presets");
}

juce::String PresetFile::storedNameFor (const juce::String& typedName)
{
    juce::String name;

    for (auto c : typedName.trim())
        name << juce::String::charToString (isRefused (c) ? replacement : c);

    const auto leadingDots = name.length() - name.trimCharactersAtStart (".").length();
    name = juce::String::repeatedString (juce::String::charToString (replacement), leadingDots)
         + name.substring (leadingDots);

    return cutToBytes (name, maximumStemBytes).trimEnd();
}

juce::File PresetFile::fileFor (const juce::File& folder, const juce::String& storedName)
{
    // Not getChildFile: it reads a name starting with "~" as a path from a home
    // folder, which would put "~.orvanepreset" in the working directory. A stored
    // name holds no separator, so appending it keeps the file inside the folder.
    jassert (storedName.isNotEmpty() && storedName == storedNameFor (storedName));
    return juce::File (folder.getFullPathName() + juce::File::getSeparatorString() + storedName + extension);
}

juce::Array<juce::File> PresetFile::listFolder (const juce::File& folder)
{
    if (! folder.isDirectory())
        return {};

    return folder.findChildFiles (juce::File::findFiles | juce::File::ignoreHiddenFiles, false,
                                  juce::String ("*") + extension);
}

juce::String PresetFile::readText (const juce::File& file)
{
    // loadFileAsString gives an empty string for a missing file, a folder and a
    // file that cannot be opened alike.
    return file.loadFileAsString();
}

juce::String PresetFile::createText (const juce::ValueTree& state)
{
    if (! state.isValid())
        return {};

    if (auto xml = state.createXml())
        return xml->toString();

    return {};
}

juce::MemoryBlock PresetFile::encode (const juce::String& text)
{
    juce::MemoryBlock bytes;
    juce::MemoryOutputStream out (bytes, false);
    out.writeText (text, false, false, "\r\n");
    out.flush();
    return bytes;
}

bool PresetFile::write (juce::AudioProcessorValueTreeState& state, const juce::File& target)
{
    const auto text = createText (state.copyState());

    if (text.isEmpty())
        return false;

    return replaceWithBytes (target, encode (text));
}

bool PresetFile::replaceWithBytes (const juce::File& target, const juce::MemoryBlock& bytes)
{
    // The framework's replaceWithText moves its temporary file over the target
    // even when writing it failed half-way (a full disk, a quota), which would
    // swap a good preset for a cut-off one. Here the temporary file only
    // replaces the target once every byte is known to be on disk.
    juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);

    {
        juce::FileOutputStream out (temporary.getFile());

        if (out.failedToOpen() || ! out.write (bytes.getData(), bytes.getSize()))
            return false;

        out.flush();

        if (out.getStatus().failed())
            return false;
    }

    // A short write leaves no error status behind: compare the size as well.
    if (temporary.getFile().getSize() != static_cast<juce::int64> (bytes.getSize()))
        return false;

    return temporary.overwriteTargetFileWithTemporary();
}

bool PresetFile::applyText (juce::AudioProcessorValueTreeState& state, const juce::String& content)
{
    // The framework's XML parser trusts UTF-8 lead bytes and reads past the end of
    // text that is not valid UTF-8 (a damaged or foreign file): refuse such text.
    if (! juce::CharPointer_UTF8::isValidString (content.toRawUTF8(), static_cast<int> (content.getNumBytesAsUTF8())))
        return false;

    // The framework's XML parser never returns from a processing instruction that
    // is followed by text inside an element ("<A><?x?>U</A>"): a damaged file would
    // hang the host. Preset files hold one at most, the declaration at the start.
    const auto firstInstruction = content.indexOf ("<?");

    if (firstInstruction >= 0
        && (content.substring (0, firstInstruction).trim().isNotEmpty()
            || content.indexOf (firstInstruction + 2, "<?") >= 0))
        return false;

    auto xml = juce::XmlDocument::parse (content);

    if (xml == nullptr)
        return false;

    auto tree = juce::ValueTree::fromXml (*xml);

    if (! tree.isValid())
        return false;

    StateRestorer::replaceKeepingMissing (state, tree);
    return true;
}

bool PresetFile::applyFile (juce::AudioProcessorValueTreeState& state, const juce::File& file)
{
    const auto text = readText (file);
    return text.isNotEmpty() && applyText (state, text);
}
