#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    The user preset file: where it lives, what its bytes are, how it is written
    and how its text is applied to a parameter state.

    A preset file is the XML form of the parameter-state tree (root "PARAMS", one
    "PARAM" child with "id" and "value" per parameter), stored as UTF-8 without a
    byte-order mark and with "\r\n" line endings, so the same file reads the same
    on every platform. Everything here is stateless, so the toolbar and the
    command-line tools share one definition of the format.
*/
class PresetFile
{
public:
    /** The file name extension of a user preset, including the dot. */
    static constexpr const char* extension = ".orvanepreset";

    /** Longest file-name stem, in UTF-8 bytes, that a preset name is cut to.
        Common file systems allow 255 bytes per name; the extension takes 13 and
        the hidden temporary file a save writes first ("." + stem + "_temp" + up
        to eight hex digits, plus a number when that name is taken) takes up to
        about 20 more, so 200 leaves room for both. */
    static constexpr int maximumStemBytes = 200;

    /** The folder user presets live in: the user application-data folder, then
        "TIRREL Audio" / "Orvane Channel" / "Presets". It is not created here. */
    static juce::File defaultFolder();

    /** Turns a typed preset name into the name the preset is stored under, which
        is also the file name without its extension and the name the list shows.

        White space is trimmed at both ends. Characters that a desktop file system
        refuses or treats as a path (control characters and  / \ : * ? " < > | )
        each become "-", and so does a leading dot (the file would be hidden and
        never listed), so the file always lands directly in the preset folder and
        can be copied to any platform. An overlong name is cut to
        maximumStemBytes. Returns an empty string when nothing but white space
        was typed. */
    static juce::String storedNameFor (const juce::String& typedName);

    /** The file for the preset stored as storedName in folder. The name must
        already have gone through storedNameFor. */
    static juce::File fileFor (const juce::File& folder, const juce::String& storedName);

    /** The preset files in folder (not in sub-folders), in the order the
        directory listing returns them. Hidden files are skipped: among them are
        the temporary files a save interrupted by a crash may leave behind. */
    static juce::Array<juce::File> listFolder (const juce::File& folder);

    /** The whole text of a preset file, or an empty string when it is missing, a
        folder, or cannot be opened. */
    static juce::String readText (const juce::File& file);

    /** The XML text of a state tree, exactly as it goes into a file before its
        line endings are fixed; empty when the tree is invalid. */
    static juce::String createText (const juce::ValueTree& state);

    /** The bytes of a preset file for this text: UTF-8, no byte-order mark,
        every line ending "\r\n". */
    static juce::MemoryBlock encode (const juce::String& text);

    /** Writes the parameter state's tree to target, replacing an existing file.
        The bytes go to a hidden temporary file beside target first, which
        replaces target only once it is complete, so a failed or interrupted
        write leaves whatever target held before. Returns true on success. */
    static bool write (juce::AudioProcessorValueTreeState& state, const juce::File& target);

    /** Replaces target with exactly these bytes, with the same safety as write. */
    static bool replaceWithBytes (const juce::File& target, const juce::MemoryBlock& bytes);

    /** Applies the text of a preset file to the parameter state. Each "PARAM"
        child sets the parameter named by its "id" (to the default when it has
        no "value"); parameters the text does not mention keep their current
        values, as does a parameter whose "value" is not a finite number. Text
        that does not parse as XML changes nothing and gives false. */
    static bool applyText (juce::AudioProcessorValueTreeState& state, const juce::String& content);

    /** Reads a preset file and applies it as applyText does; false when the file
        cannot be read or does not parse. */
    static bool applyFile (juce::AudioProcessorValueTreeState& state, const juce::File& file);

private:
    PresetFile() = delete;
};
