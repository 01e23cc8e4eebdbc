// Reading ALSA PCM names: the device list groups a card's PCMs by the card
// and device they name, and the input lines find a busy card's mixer by it.
#include "capture/private/QX_AlsaShared.h"

#include <gtest/gtest.h>

namespace {

struct NameRow {
    const char* name;
    const char* plugin;
    const char* card;
    const char* device;
    bool cardByKey;
};

TEST(AlsaPcmName, PluginCardAndDevice)
{
    const NameRow rows[] = {
        {"plughw:CARD=PCH,DEV=0", "plughw", "PCH", "0", true},
        {"sysdefault:CARD=USB", "sysdefault", "USB", "0", true},   // no DEV=: the first device
        {"front:CARD=Gen,DEV=2", "front", "Gen", "2", true},
        {"dsnoop:DEV=1,CARD=Mic", "dsnoop", "Mic", "1", true},     // keys in either order
        {"hw:1,0", "hw", "1", "0", false},                          // by position: the card only
        {"hw:CARD=PCH", "hw", "PCH", "0", true},
        {"default", "", "", "0", false},                            // no card at all
        {"pulse", "", "", "0", false},
        {"hw:", "hw", "", "0", false},
    };
    for (const auto& row : rows) {
        const alsa::PcmName parts = alsa::parsePcmName(row.name);
        EXPECT_EQ(parts.plugin, row.plugin) << row.name;
        EXPECT_EQ(parts.card, row.card) << row.name;
        EXPECT_EQ(parts.device, row.device) << row.name;
        EXPECT_EQ(parts.cardByKey, row.cardByKey) << row.name;
    }
    // Names without a card's number or name resolve to no card.
    EXPECT_EQ(alsa::cardIndexOf("default"), -1);
    EXPECT_EQ(alsa::cardIndexOf("hw:CARD=NoSuchCardHere"), -1);
}

} // namespace
