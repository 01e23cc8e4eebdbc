#pragma once
// What the ALSA stream, the input lines and the device list have in common:
// the capture rate, alsa-lib's silenced error output, reading a PCM name,
// walking a capture-source choice, and the mixer calls the stream makes.
// Everything here runs on the user-interface thread, never on the capture
// thread. Nothing outside src/capture includes this header.

#include "capture/private/QX_AlsaHandles.h"

#include <string>

namespace alsa {

constexpr unsigned kSampleRate = 44100;

// alsa-lib prints its errors to stderr; the program shows no messages and
// reports failures through its status codes, so they are silenced once.
inline void silenceErrors(const char*, int, const char*, int, const char*, ...) {}
inline void quietAlsa()
{
    static const bool once = [] {
        snd_lib_error_set_handler(&silenceErrors);
        return true;
    }();
    (void)once;
}

// A PCM name such as "plughw:CARD=PCH,DEV=0" or "hw:1,0", taken apart.
struct PcmName {
    std::string plugin;     // before the colon; empty without one
    std::string card;       // CARD=, else the first argument after the colon; may be empty
    std::string device;     // DEV=, else "0"
    bool cardByKey = false; // the card was given as CARD=
};

inline PcmName parsePcmName(const std::string& name)
{
    // The value of an argument runs to the next comma or the end.
    const auto valueAt = [&name](std::size_t at) { return name.substr(at, name.find(',', at) - at); };
    PcmName parts;
    const auto colon = name.find(':');
    if (colon != std::string::npos)
        parts.plugin = name.substr(0, colon);
    if (const auto key = name.find("CARD="); key != std::string::npos) {
        parts.card = valueAt(key + 5);
        parts.cardByKey = true;
    } else if (colon != std::string::npos) {
        parts.card = valueAt(colon + 1);
    }
    const auto dev = name.find("DEV=");
    parts.device = dev != std::string::npos ? valueAt(dev + 4) : "0";
    return parts;
}

// The index of the card a PCM name names, or -1.
inline int cardIndexOf(const std::string& pcmName)
{
    const std::string card = parsePcmName(pcmName).card;
    if (card.empty())
        return -1;
    const int index = snd_card_get_index(card.c_str());
    return index >= 0 ? index : -1;
}

// Calls visit(item, name) for every item of a capture-source choice (an
// element for which snd_mixer_selem_is_enum_capture holds).
template <class Visit>
void forEachCaptureSource(snd_mixer_elem_t* elem, Visit visit)
{
    const int items = snd_mixer_selem_get_enum_items(elem);
    for (int item = 0; item < items; ++item) {
        char name[128] = {};
        if (snd_mixer_selem_get_enum_item_name(elem, static_cast<unsigned>(item), sizeof name - 1, name) >= 0)
            visit(static_cast<unsigned>(item), name);
    }
}

// Asks an open PCM for 16-bit little-endian mono at kSampleRate, read or
// written interleaved, with periods near periodWish frames and about
// periodsWish of them; false when the device cannot do it. The format is
// required (ALSA's plug layer converts for devices that work another way);
// period and buffer sizes are wishes, and period and buffer receive what the
// device chose. The stream wakes its thread a period at a time; with
// startWhenFull a playback stream starts once its buffer is full, so its
// first sample written is its first heard. Defined with the capture stream.
bool setStreamFormat(snd_pcm_t* pcm, snd_pcm_uframes_t periodWish, unsigned periodsWish, bool startWhenFull,
                     snd_pcm_uframes_t& period, snd_pcm_uframes_t& buffer);

// The control device that holds the mixer of an open PCM (defined with the input lines).
std::string mixerNameOf(snd_pcm_t* pcm, const std::string& deviceID);

// Chooses line on the mixer mixerName: the capture element of that line
// name gets its capture switch on and its volume at level (0..1); a
// capture-source item of that name becomes the recording source. Lines that
// do not exist, and a mixer that does not open, are no failure.
void selectInputLine(const std::string& mixerName, const std::string& line, double level);

} // namespace alsa
