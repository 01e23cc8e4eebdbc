// The input lines of an ALSA capture device: the capture elements of its
// card's mixer (and the items of a capture-source choice where the card has
// one), listed for the device dialog and chosen for a running capture. Runs
// on the user-interface thread; every mixer handle lives only for one call.

#include "capture/QX_AlsaAudio.h"

#include "capture/private/QX_AlsaShared.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace alsa {

namespace {

AlsaMixer openMixer(const std::string& ctlName)
{
    snd_mixer_t* raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0)
        return {};
    AlsaMixer mixer(raw);
    if (snd_mixer_attach(raw, ctlName.c_str()) < 0 || snd_mixer_selem_register(raw, nullptr, nullptr) < 0 ||
        snd_mixer_load(raw) < 0)
        return {};
    return mixer;
}

// The mixer's control name for DeviceID, or false when there is no such PCM.
bool findMixerName(const std::string& deviceID, std::string& mixerName)
{
    quietAlsa();
    snd_pcm_t* raw = nullptr;
    const int err = snd_pcm_open(&raw, deviceID.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err >= 0) {
        AlsaPcm pcm(raw);
        mixerName = mixerNameOf(raw, deviceID);
        return true;
    }
    // A hardware device busy with another recording still has its mixer.
    if (err == -EBUSY) {
        const int card = cardIndexOf(deviceID);
        mixerName = card >= 0 ? "hw:" + std::to_string(card) : deviceID;
        return true;
    }
    return false;
}

bool isCaptureLine(snd_mixer_elem_t* elem)
{
    return snd_mixer_selem_has_capture_volume(elem) || snd_mixer_selem_has_capture_switch(elem);
}

// The line name of a mixer element: its name, with its index counted from 1
// after it when the card repeats the name ("Capture", "Capture 2"), so every
// element can be chosen on its own.
std::string lineName(snd_mixer_elem_t* elem)
{
    const unsigned index = snd_mixer_selem_get_index(elem);
    std::string name = snd_mixer_selem_get_name(elem);
    if (index > 0) {
        name += ' ';
        name += std::to_string(index + 1);
    }
    return name;
}

float captureLevel(snd_mixer_elem_t* elem)
{
    long minimum = 0, maximum = 0, value = 0;
    if (!snd_mixer_selem_has_capture_volume(elem) ||
        snd_mixer_selem_get_capture_volume_range(elem, &minimum, &maximum) < 0 || maximum <= minimum ||
        snd_mixer_selem_get_capture_volume(elem, SND_MIXER_SCHN_FRONT_LEFT, &value) < 0)
        return -1.0f;
    return static_cast<float>(static_cast<double>(value - minimum) / static_cast<double>(maximum - minimum));
}

} // namespace

// The PCM's card, or for cardless PCMs (pulse, the default of a sound
// server) the control of the same name, which their configuration defines.
std::string mixerNameOf(snd_pcm_t* pcm, const std::string& deviceID)
{
    snd_pcm_info_t* rawInfo = nullptr;
    if (snd_pcm_info_malloc(&rawInfo) < 0)
        return deviceID;
    AlsaPcmInfo info(rawInfo);
    if (snd_pcm_info(pcm, rawInfo) >= 0) {
        const int card = snd_pcm_info_get_card(rawInfo);
        if (card >= 0)
            return "hw:" + std::to_string(card);
    }
    return deviceID;
}

void selectInputLine(const std::string& mixerName, const std::string& line, double level)
{
    AlsaMixer mixer = openMixer(mixerName);
    if (!mixer)
        return;
    for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer.get()); elem; elem = snd_mixer_elem_next(elem)) {
        if (snd_mixer_selem_is_enum_capture(elem)) {
            // A capture-source choice: picking the line makes it the recording source.
            forEachCaptureSource(elem, [&](unsigned item, const char* name) {
                if (line != name)
                    return;
                for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel)
                    if (snd_mixer_selem_set_enum_item(elem, static_cast<snd_mixer_selem_channel_id_t>(channel), item) <
                        0)
                        break;
            });
            continue;
        }
        if (!isCaptureLine(elem) || line != lineName(elem))
            continue;
        if (snd_mixer_selem_has_capture_switch(elem))
            snd_mixer_selem_set_capture_switch_all(elem, 1);
        long minimum = 0, maximum = 0;
        if (snd_mixer_selem_has_capture_volume(elem) &&
            snd_mixer_selem_get_capture_volume_range(elem, &minimum, &maximum) >= 0 && maximum > minimum) {
            const long value = minimum + std::lround(level * static_cast<double>(maximum - minimum));
            snd_mixer_selem_set_capture_volume_all(elem, value);
        }
    }
}

} // namespace alsa

HRESULT EnumInputLines(const std::string& DeviceID, QX_DeviceList& List)
{
    using namespace alsa;
    List.clear();
    std::string mixerName;
    if (!findMixerName(DeviceID, mixerName))
        return E_FAIL;
    AlsaMixer mixer = openMixer(mixerName);
    if (!mixer)
        return S_OK;

    const auto add = [&List](const std::string& name, float level) {
        // A capture-source item may share its name with a volume element;
        // choosing it does both, so it is listed once, with the volume's level.
        const auto same = std::find_if(List.begin(), List.end(), [&](const QX_Device& d) { return d.ID == name; });
        if (same == List.end())
            List.push_back(QX_Device{name, name, level});
        else if (same->Level < 0.0f)
            same->Level = level;
    };
    for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer.get()); elem; elem = snd_mixer_elem_next(elem)) {
        if (snd_mixer_selem_is_enum_capture(elem))
            forEachCaptureSource(elem, [&](unsigned, const char* name) { add(name, -1.0f); });
        else if (isCaptureLine(elem))
            add(lineName(elem), captureLevel(elem));
    }
    return S_OK;
}
