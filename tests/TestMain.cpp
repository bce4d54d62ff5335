#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>
#include <unistd.h>

int main (int argc, char** argv)
{
    // Tests never touch the real user folders: the framework's application-data
    // location follows HOME, so every test process gets a private one.
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("orvane-test-home-" + juce::String (static_cast<int> (getpid())));
    home.createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    ::testing::InitGoogleTest (&argc, argv);
    const auto result = RUN_ALL_TESTS();
    home.deleteRecursively();
    return result;
}
