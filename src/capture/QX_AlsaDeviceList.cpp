// The lists of ALSA devices the windows offer: the capture devices of the
// device dialog and the playback devices of the click. ALSA's device hints,
// each physical input (or output) once under its best-suited PCM name, sound
// servers and the user's own devices only when they open now, the system
// default first. Runs on the user-interface thread.

#include "capture/QX_AlsaAudio.h"

#include "capture/private/QX_AlsaShared.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

using namespace alsa;

struct DeviceHint {
    std::string name;
    std::string description;
    std::string input; // the physical input "card,device"; empty for virtual devices
    int rank = 0;      // lower is preferred among the entries of one input
};

std::string hintValue(void* hint, const char* id)
{
    char* value = snd_device_name_get_hint(hint, id);
    if (!value)
        return {};
    std::string text(value);
    std::free(value);
    return text;
}

// Which physical input or output a hinted PCM reaches, and how well it suits
// us: the card's default (converting and shared) first, then the converting
// plughw, then the sharing and raw devices, which may refuse 44.1 kHz mono.
void classify(DeviceHint& hint, snd_pcm_stream_t stream)
{
    const PcmName parts = parsePcmName(hint.name);
    if (parts.plugin.empty() || !parts.cardByKey)
        return;
    hint.input = parts.card + "," + parts.device;
    const char* const preference[] = {"sysdefault", "plughw", stream == SND_PCM_STREAM_CAPTURE ? "dsnoop" : "dmix",
                                      "front", "hw"};
    hint.rank = static_cast<int>(std::size(preference));
    for (int i = 0; i < static_cast<int>(std::size(preference)); ++i)
        if (parts.plugin == preference[i])
            hint.rank = i;
}

// The plugin type of a PCM definition ("pulse", "plug", "rate", ...), or empty.
std::string pcmType(const std::string& name)
{
    snd_config_t* definition = nullptr;
    if (snd_config_update() < 0 || snd_config_search_definition(snd_config, "pcm", name.c_str(), &definition) < 0)
        return {};
    std::string type;
    snd_config_t* node = nullptr;
    const char* text = nullptr;
    if (snd_config_search(definition, "type", &node) >= 0 && snd_config_get_string(node, &text) >= 0)
        type = text;
    snd_config_delete(definition);
    return type;
}

// Converters and effects wrapped around another device are not inputs of their own.
bool isWrapperPlugin(const std::string& type)
{
    static const char* const wrappers[] = {"rate", "speex", "upmix", "vdownmix", "a52", "lavrate", "route", "softvol"};
    return std::find(std::begin(wrappers), std::end(wrappers), type) != std::end(wrappers);
}

// Whether a device opens for capture (or playback) in our format right now.
bool opensInOurFormat(const std::string& name, snd_pcm_stream_t stream)
{
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, name.c_str(), stream, SND_PCM_NONBLOCK) < 0)
        return false;
    AlsaPcm pcm(raw);
    snd_pcm_hw_params_t* rawHw = nullptr;
    if (snd_pcm_hw_params_malloc(&rawHw) < 0)
        return false;
    AlsaHwParams hw(rawHw);
    return snd_pcm_hw_params_any(raw, rawHw) >= 0 &&
           snd_pcm_hw_params_test_format(raw, rawHw, SND_PCM_FORMAT_S16_LE) >= 0 &&
           snd_pcm_hw_params_test_channels(raw, rawHw, 1) >= 0 &&
           snd_pcm_hw_params_test_rate(raw, rawHw, kSampleRate, 0) >= 0;
}

// The capture (or playback) PCMs among the hints, one entry per physical
// input or output (its best rank) and per virtual device.
std::vector<DeviceHint> streamHints(const AlsaHints& hints, snd_pcm_stream_t stream)
{
    const char* const direction = stream == SND_PCM_STREAM_CAPTURE ? "Input" : "Output";
    std::vector<DeviceHint> found;
    for (void** hint = hints.get(); *hint; ++hint) {
        DeviceHint entry;
        entry.name = hintValue(*hint, "NAME");
        const std::string ioid = hintValue(*hint, "IOID");
        // "null" records silence and plays to nowhere.
        if (entry.name.empty() || entry.name == "null" || (!ioid.empty() && ioid != direction))
            continue;
        entry.description = hintValue(*hint, "DESC");
        entry.description = entry.description.substr(0, entry.description.find('\n'));
        if (entry.description.empty())
            entry.description = entry.name;
        classify(entry, stream);
        auto same = std::find_if(found.begin(), found.end(), [&](const DeviceHint& other) {
            return other.name == entry.name || (!entry.input.empty() && other.input == entry.input);
        });
        if (same == found.end())
            found.push_back(entry);
        else if (same->name != entry.name && entry.rank < same->rank)
            *same = entry;
    }
    return found;
}

HRESULT listDevices(QX_DeviceList& List, snd_pcm_stream_t stream)
{
    quietAlsa();
    AlsaHints hints("pcm");
    if (!hints.get())
        return E_FAIL;

    std::vector<DeviceHint> found = streamHints(hints, stream);
    // Sound servers and the user's own devices are offered only when they
    // work now; a card's input stays listed while another program holds it.
    // ALSA's JACK bridge is left out: probing it without a JACK server makes
    // libjack print to stderr, and JACK users reach it through their sound server.
    std::erase_if(found, [stream](const DeviceHint& h) {
        if (!h.input.empty())
            return false;
        const std::string type = pcmType(h.name);
        return type == "jack" || isWrapperPlugin(type) || !opensInOurFormat(h.name, stream);
    });
    if (found.empty())
        return E_FAIL;

    std::stable_partition(found.begin(), found.end(), [](const DeviceHint& h) { return h.name == "default"; });
    List.clear();
    for (const auto& entry : found)
        List.push_back(QX_Device{entry.description, entry.name, 0.0f});
    return S_OK;
}

} // namespace

HRESULT EnumAudioDevices(QX_DeviceList& List)
{
    return listDevices(List, SND_PCM_STREAM_CAPTURE);
}

HRESULT EnumPlaybackDevices(QX_DeviceList& List)
{
    return listDevices(List, SND_PCM_STREAM_PLAYBACK);
}
