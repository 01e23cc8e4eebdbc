#include "QX_AlsaAudio.h"

#include "QX_AlsaHandles.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kSampleRate = 44100;
constexpr snd_pcm_uframes_t kPeriodFrames = 1764; // 40 ms
constexpr unsigned kPeriods = 10;
// With no data for this long the stream is asked whether it is still alive.
constexpr int kStallCheckMs = 500;
// Wake-ups without data in a row before the loop starts pausing between tries.
constexpr int kSpuriousWakeLimit = 64;
constexpr int kSpuriousPauseMs = 10;

// An eventfd that wakes the capture thread when it is told to stop.
class EventFd {
public:
    EventFd() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventFd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    int fd() const { return m_fd; }
    void signal() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_fd, &one, sizeof one);
    }

private:
    int m_fd;
};

// alsa-lib prints its errors to stderr; the program shows no messages and
// reports failures through its status codes, so they are silenced once.
void silenceAlsaErrors(const char*, int, const char*, int, const char*, ...) {}
void quietAlsa()
{
    static const bool once = [] {
        snd_lib_error_set_handler(&silenceAlsaErrors);
        return true;
    }();
    (void)once;
}

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

// The control device that holds the mixer of an open PCM: the PCM's card, or
// for cardless PCMs (pulse, the default of a sound server) the control of the
// same name, which their configuration defines.
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

// The card named in a PCM name such as "plughw:CARD=PCH,DEV=0" or "hw:1,0", or -1.
int cardInName(const std::string& name)
{
    std::string card;
    const auto key = name.find("CARD=");
    if (key != std::string::npos) {
        card = name.substr(key + 5);
    } else if (const auto colon = name.find(':'); colon != std::string::npos) {
        card = name.substr(colon + 1);
    }
    card = card.substr(0, card.find(','));
    if (card.empty())
        return -1;
    const int index = snd_card_get_index(card.c_str());
    return index >= 0 ? index : -1;
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
        const int card = cardInName(deviceID);
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

struct QX_AudioFilterGraph::Capture {
    AlsaPcm pcm;
    std::string mixerName;
    QX_SampleHandler onSamples;
    snd_pcm_uframes_t periodFrames = 0;
    std::vector<std::int16_t> buffer;
    std::vector<pollfd> fds; // the PCM's descriptors, then the stop event
    int pcmFdCount = 0;
    EventFd stopEvent;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};
    std::thread thread;

    ~Capture() { stop(); }

    void stop()
    {
        if (!thread.joinable())
            return;
        stopRequested.store(true, std::memory_order_release);
        stopEvent.signal();
        thread.join();
    }

    // Waits for data or the stop event; false when the thread should end.
    bool waitForData(int& spuriousWakes)
    {
        if (spuriousWakes > kSpuriousWakeLimit) {
            // The PCM keeps saying "ready" without data: pause instead of spinning.
            poll(&fds.back(), 1, kSpuriousPauseMs);
            if (fds.back().revents & POLLIN)
                return false;
        }
        const int ready = poll(fds.data(), fds.size(), kStallCheckMs);
        if (ready < 0)
            return errno == EINTR;
        if (fds.back().revents & POLLIN)
            return false;
        if (ready == 0) {
            // No data for a while: a stream whose server or card went away
            // reports it here; one that cannot be recovered ends the capture.
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm.get());
            if (avail < 0 && snd_pcm_recover(pcm.get(), static_cast<int>(avail), 1) < 0)
                return false;
            const snd_pcm_state_t state = snd_pcm_state(pcm.get());
            return state != SND_PCM_STATE_DISCONNECTED;
        }
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(pcm.get(), fds.data(), static_cast<unsigned>(pcmFdCount), &revents);
        ++spuriousWakes;
        return true;
    }

    // The capture thread: everything it touches was made before it started.
    void loop() noexcept
    {
        snd_pcm_start(pcm.get());
        snd_pcm_uframes_t filled = 0;
        int spuriousWakes = 0;
        while (!stopRequested.load(std::memory_order_acquire)) {
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm.get(), buffer.data() + filled, periodFrames - filled);
            if (got > 0) {
                spuriousWakes = 0;
                filled += static_cast<snd_pcm_uframes_t>(got);
                if (filled == periodFrames) {
                    if (onSamples)
                        onSamples(buffer.data(), static_cast<std::int32_t>(filled * sizeof(std::int16_t)));
                    filled = 0;
                }
                continue;
            }
            if (got == 0 || got == -EAGAIN) {
                if (!waitForData(spuriousWakes))
                    break;
                continue;
            }
            // An overrun or a suspend is recovered and capture goes on; any
            // other error (the device is gone) ends the thread quietly.
            if (snd_pcm_recover(pcm.get(), static_cast<int>(got), 1) < 0)
                break;
        }
        running.store(false, std::memory_order_release);
    }
};

QX_AudioFilterGraph::QX_AudioFilterGraph() = default;

QX_AudioFilterGraph::~QX_AudioFilterGraph()
{
    if (m_capture)
        m_capture->stop();
}

HRESULT QX_AudioFilterGraph::BuildGraph(const std::string& DeviceID, QX_SampleHandler OnSamples)
{
    quietAlsa();
    m_capture.reset();
    auto capture = std::make_unique<Capture>();
    if (capture->stopEvent.fd() < 0)
        return E_FAIL;

    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, DeviceID.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
        return E_FAIL;
    capture->pcm = AlsaPcm(raw);

    snd_pcm_hw_params_t* rawHw = nullptr;
    if (snd_pcm_hw_params_malloc(&rawHw) < 0)
        return E_FAIL;
    AlsaHwParams hw(rawHw);
    // The format is required; ALSA's plug layer converts for devices that
    // record another way. Period and buffer sizes are wishes.
    if (snd_pcm_hw_params_any(raw, rawHw) < 0 ||
        snd_pcm_hw_params_set_access(raw, rawHw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(raw, rawHw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(raw, rawHw, 1) < 0)
        return E_FAIL;
    snd_pcm_hw_params_set_rate_resample(raw, rawHw, 1);
    if (snd_pcm_hw_params_set_rate(raw, rawHw, kSampleRate, 0) < 0)
        return E_FAIL;
    snd_pcm_uframes_t period = kPeriodFrames;
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(raw, rawHw, &period, &dir);
    unsigned periods = kPeriods;
    dir = 0;
    if (snd_pcm_hw_params_set_periods_near(raw, rawHw, &periods, &dir) < 0) {
        snd_pcm_uframes_t bufferFrames = period * kPeriods;
        snd_pcm_hw_params_set_buffer_size_near(raw, rawHw, &bufferFrames);
    }
    if (snd_pcm_hw_params(raw, rawHw) < 0)
        return E_FAIL;
    dir = 0;
    if (snd_pcm_hw_params_get_period_size(rawHw, &period, &dir) < 0 || period == 0)
        return E_FAIL;

    snd_pcm_sw_params_t* rawSw = nullptr;
    if (snd_pcm_sw_params_malloc(&rawSw) < 0)
        return E_FAIL;
    AlsaSwParams sw(rawSw);
    if (snd_pcm_sw_params_current(raw, rawSw) < 0 || snd_pcm_sw_params_set_avail_min(raw, rawSw, period) < 0 ||
        snd_pcm_sw_params(raw, rawSw) < 0)
        return E_FAIL;

    const int fdCount = snd_pcm_poll_descriptors_count(raw);
    if (fdCount <= 0)
        return E_FAIL;
    capture->fds.resize(static_cast<std::size_t>(fdCount) + 1);
    if (snd_pcm_poll_descriptors(raw, capture->fds.data(), static_cast<unsigned>(fdCount)) != fdCount)
        return E_FAIL;
    capture->pcmFdCount = fdCount;
    capture->fds.back() = pollfd{capture->stopEvent.fd(), POLLIN, 0};

    capture->periodFrames = period;
    capture->buffer.assign(period, 0);
    capture->onSamples = OnSamples;
    capture->mixerName = mixerNameOf(raw, DeviceID);
    m_capture = std::move(capture);
    return S_OK;
}

HRESULT QX_AudioFilterGraph::Run()
{
    if (!m_capture)
        return E_FAIL;
    if (m_capture->thread.joinable())
        return m_capture->running.load(std::memory_order_acquire) ? S_OK : E_FAIL;
    m_capture->running.store(true, std::memory_order_release);
    try {
        m_capture->thread = std::thread(&Capture::loop, m_capture.get());
    } catch (const std::system_error&) {
        m_capture->running.store(false, std::memory_order_release);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT QX_AudioFilterGraph::SetInputLine(const std::string& LineName, float Level)
{
    if (!m_capture)
        return E_FAIL;
    AlsaMixer mixer = openMixer(m_capture->mixerName);
    if (!mixer)
        return S_OK;
    const double level = std::clamp(static_cast<double>(Level), 0.0, 1.0);
    for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer.get()); elem; elem = snd_mixer_elem_next(elem)) {
        if (snd_mixer_selem_is_enum_capture(elem)) {
            // A capture-source choice: picking the line makes it the recording source.
            const int items = snd_mixer_selem_get_enum_items(elem);
            for (int item = 0; item < items; ++item) {
                char name[128] = {};
                if (snd_mixer_selem_get_enum_item_name(elem, static_cast<unsigned>(item), sizeof name - 1, name) >= 0 &&
                    LineName == name)
                    for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel)
                        if (snd_mixer_selem_set_enum_item(elem, static_cast<snd_mixer_selem_channel_id_t>(channel),
                                                          static_cast<unsigned>(item)) < 0)
                            break;
            }
            continue;
        }
        if (!isCaptureLine(elem) || LineName != lineName(elem))
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
    return S_OK;
}

bool QX_AudioFilterGraph::IsCapturing() const
{
    return m_capture && m_capture->running.load(std::memory_order_acquire);
}

namespace {

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

// Which physical input a hinted PCM reaches, and how well it suits us: the
// card's default (converting and shared) first, then the converting plughw,
// then the raw devices, which may refuse 44.1 kHz mono.
void classify(DeviceHint& hint)
{
    const auto colon = hint.name.find(':');
    if (colon == std::string::npos || hint.name.find("CARD=") == std::string::npos)
        return;
    const std::string prefix = hint.name.substr(0, colon);
    std::string card = hint.name.substr(hint.name.find("CARD=") + 5);
    card = card.substr(0, card.find(','));
    std::string device = "0";
    if (const auto dev = hint.name.find("DEV="); dev != std::string::npos)
        device = hint.name.substr(dev + 4, hint.name.find(',', dev) - dev - 4);
    hint.input = card + "," + device;
    static const char* const preference[] = {"sysdefault", "plughw", "dsnoop", "front", "hw"};
    hint.rank = static_cast<int>(std::size(preference));
    for (int i = 0; i < static_cast<int>(std::size(preference)); ++i)
        if (prefix == preference[i])
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

// Whether a device opens for capture in our format right now.
bool capturesOurFormat(const std::string& name)
{
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
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

} // namespace

HRESULT EnumAudioDevices(QX_DeviceList& List)
{
    quietAlsa();
    AlsaHints hints("pcm");
    if (!hints.get())
        return E_FAIL;

    std::vector<DeviceHint> found;
    for (void** hint = hints.get(); *hint; ++hint) {
        DeviceHint entry;
        entry.name = hintValue(*hint, "NAME");
        const std::string ioid = hintValue(*hint, "IOID");
        // "null" records silence; it is no drum input.
        if (entry.name.empty() || entry.name == "null" || (!ioid.empty() && ioid != "Input"))
            continue;
        entry.description = hintValue(*hint, "DESC");
        entry.description = entry.description.substr(0, entry.description.find('\n'));
        if (entry.description.empty())
            entry.description = entry.name;
        classify(entry);
        auto same = std::find_if(found.begin(), found.end(), [&](const DeviceHint& other) {
            return other.name == entry.name || (!entry.input.empty() && other.input == entry.input);
        });
        if (same == found.end())
            found.push_back(entry);
        else if (same->name != entry.name && entry.rank < same->rank)
            *same = entry;
    }
    // Sound servers and the user's own devices are offered only when they
    // work now; a card's input stays listed while another program holds it.
    // ALSA's JACK bridge is left out: probing it without a JACK server makes
    // libjack print to stderr, and JACK users reach it through their sound server.
    std::erase_if(found, [](const DeviceHint& h) {
        if (!h.input.empty())
            return false;
        const std::string type = pcmType(h.name);
        return type == "jack" || isWrapperPlugin(type) || !capturesOurFormat(h.name);
    });
    if (found.empty())
        return E_FAIL;

    std::stable_partition(found.begin(), found.end(), [](const DeviceHint& h) { return h.name == "default"; });
    List.clear();
    for (const auto& entry : found)
        List.push_back(QX_Device{entry.description, entry.name, 0.0f});
    return S_OK;
}

HRESULT EnumInputLines(const std::string& DeviceID, QX_DeviceList& List)
{
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
        if (snd_mixer_selem_is_enum_capture(elem)) {
            const int items = snd_mixer_selem_get_enum_items(elem);
            for (int item = 0; item < items; ++item) {
                char name[128] = {};
                if (snd_mixer_selem_get_enum_item_name(elem, static_cast<unsigned>(item), sizeof name - 1, name) >= 0)
                    add(name, -1.0f);
            }
        } else if (isCaptureLine(elem)) {
            add(lineName(elem), captureLevel(elem));
        }
    }
    return S_OK;
}

std::unique_ptr<TQX_AudioTriggerDevice> CreateAudioTriggerDevice(const std::string& DeviceID)
{
    return std::make_unique<TQX_AudioTriggerDevice>(DeviceID, std::make_unique<QX_AudioFilterGraph>());
}

std::unique_ptr<TQX_FastAudioTriggerDevice> CreateFastAudioTriggerDevice(const std::string& DeviceID)
{
    return std::make_unique<TQX_FastAudioTriggerDevice>(DeviceID, std::make_unique<QX_AudioFilterGraph>());
}
