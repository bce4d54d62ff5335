// orvane-demo: writes the synthetic demo clip as a 24-bit stereo WAV file.

#include "demo/DemoSignal.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <iostream>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "Usage: orvane-demo OUTPUT.wav\n";
        return 2;
    }

    constexpr double sampleRate = 48000.0;
    constexpr double seconds = 8.0;
    constexpr int bitDepth = 24;

    const auto buffer = DemoSignal::generate (sampleRate, seconds);
    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (argv[1]));
    file.getParentDirectory().createDirectory();
    file.deleteFile();

    auto stream = std::make_unique<juce::FileOutputStream> (file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (stream->openedOk()
                                                         ? wav.createWriterFor (stream.get(), sampleRate, 2, bitDepth, {}, 0)
                                                         : nullptr);

    if (writer == nullptr)
    {
        std::cerr << "orvane-demo: error: cannot write " << file.getFullPathName() << "\n";
        return 1;
    }

    stream.release();

    if (! writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()))
    {
        std::cerr << "orvane-demo: error: writing " << file.getFullPathName() << " failed\n";
        return 1;
    }

    std::cout << "Wrote " << seconds << " s of demo audio to " << file.getFullPathName() << "\n";
    return 0;
}
