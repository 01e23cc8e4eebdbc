#include "capture/QX_MidiPortNames.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(MidiPortNames, AlsaAddressesAreNotPartOfTheName)
{
    EXPECT_EQ(midiPortPersonName(true, "Midi Through:Midi Through Port-0 14:0"), "Midi Through:Midi Through Port-0");
    EXPECT_EQ(midiPortPersonName(true, "TD-17:TD-17 MIDI 1 24:0"), "TD-17:TD-17 MIDI 1");
    EXPECT_EQ(midiPortPersonName(true, "Drum Pad 130:12"), "Drum Pad");
    // Only a trailing client:port pair is an address.
    EXPECT_EQ(midiPortPersonName(true, "Kit:Pads 2"), "Kit:Pads 2");
    EXPECT_EQ(midiPortPersonName(true, "Kit:Pads 1:2:3"), "Kit:Pads 1:2:3");
    EXPECT_EQ(midiPortPersonName(true, "Kit:Pads :0"), "Kit:Pads :0");
    EXPECT_EQ(midiPortPersonName(true, "Kit"), "Kit");
    EXPECT_EQ(midiPortPersonName(false, "a2j:Drum 20:0"), "a2j:Drum 20:0") << "JACK names stay whole";
}

TEST(MidiPortNames, IdsAreStableGuidTextPerBackEndAndName)
{
    const std::string replugged = midiPortID("alsa", midiPortPersonName(true, "TD-17:TD-17 MIDI 1 28:0"), 0);
    const std::string first = midiPortID("alsa", midiPortPersonName(true, "TD-17:TD-17 MIDI 1 24:0"), 0);
    EXPECT_EQ(replugged, first) << "a new sequencer address keeps the ID";
    EXPECT_TRUE(std::regex_match(first, std::regex(R"(\{[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}\})"))) << first;
    EXPECT_TRUE(isGuidText(first));
    EXPECT_NE(midiPortID("jack", "TD-17:TD-17 MIDI 1", 0), first);
    EXPECT_NE(midiPortID("alsa", "TD-17:TD-17 MIDI 2", 0), first);
    EXPECT_NE(midiPortID("alsa", "TD-17:TD-17 MIDI 1", 1), first) << "a second identical device";
}

TEST(MidiPortNames, GuidTextAndOwnPorts)
{
    EXPECT_TRUE(isGuidText("{0a1B2c3D-4e5F-6789-abcd-EF0123456789}"));
    for (const char* bad : {"", "{}", "0A1B2C3D-4E5F-6789-ABCD-EF0123456789", "{0A1B2C3D-4E5F-6789-ABCD-EF012345678}",
                            "{0A1B2C3D-4E5F-6789-ABCD-EF01234567890}", "{0A1B2C3D+4E5F-6789-ABCD-EF0123456789}",
                            "{0A1B2C3D-4E5F-6789-ABCD-EF012345678G}", "(0A1B2C3D-4E5F-6789-ABCD-EF0123456789)"})
        EXPECT_FALSE(isGuidText(bad)) << bad;

    EXPECT_TRUE(isOwnMidiPort("Tempovaro:Drum In"));
    EXPECT_TRUE(isOwnMidiPort("Tempovaro-01:Drum In"));
    EXPECT_TRUE(isOwnMidiPort("Tempovaro:Drum In 129:0"));
    EXPECT_FALSE(isOwnMidiPort("Tempovaro-Kit:out"));
    EXPECT_FALSE(isOwnMidiPort("Tempovaro-:out"));
    EXPECT_FALSE(isOwnMidiPort("TempovaroX:out"));
    EXPECT_FALSE(isOwnMidiPort("DrumSender:pads"));
}

} // namespace
