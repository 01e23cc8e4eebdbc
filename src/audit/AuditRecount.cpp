#include "audit/AuditRecount.h"

#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"
#include "trigger/QX_MidiTriggerDevice.h"

#include <sndfile.h>

#include <cmath>
#include <memory>
#include <sstream>

namespace {

// The live capture hands over 40 ms periods; the detectors count the same
// whatever the block size, so the recount feeds the same size.
constexpr std::int32_t kBlockFrames = 1764;

std::unique_ptr<AudioDetectorBase> audioDevice(AuditDetector detector)
{
    if (detector == AuditDetector::Fast)
        return std::make_unique<TQX_FastAudioTriggerDevice>("");
    return std::make_unique<TQX_AudioTriggerDevice>("");
}

void analyze(AudioDetectorBase& device, const std::int16_t* samples, std::int32_t frames)
{
    // The recording is host-endian; the devices read little-endian bytes.
    std::int16_t block[kBlockFrames];
    unsigned char* bytes = reinterpret_cast<unsigned char*>(block);
    for (std::int32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<unsigned char>(v & 0xff);
        bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    device.AnalyzeSamples(block, frames * 2);
}

} // namespace

std::int32_t recountSamples(const std::vector<std::int16_t>& samples, AuditDetector detector,
                            std::int32_t timeLimitMs, std::int64_t settleSamples)
{
    // The detector runs without an end and the recording time is applied
    // to its strokes afterwards, with the devices' own rule: strokes in the
    // settling part are not part of the attempt and must not start its time.
    auto device = audioDevice(detector);
    device->Start(-1);
    std::int32_t count = 0;
    bool started = false;
    std::int64_t lastInside = 0;
    auto judge = [&](const StrokeEvent& e) {
        if (e.tick < settleSamples)
            return;
        if (!started && timeLimitMs >= 0)
            lastInside = TQX_TriggerDevice::lastTickInside(e.tick, timeLimitMs, kAudioTicksPerSecond);
        started = true;
        if (timeLimitMs < 0 || e.tick <= lastInside)
            ++count;
    };
    for (std::size_t at = 0; at < samples.size(); at += kBlockFrames) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(kBlockFrames, samples.size() - at));
        analyze(*device, samples.data() + at, n);
        device->drainStrokeEvents(judge);
    }
    device->finishInput();
    device->drainStrokeEvents(judge);
    return count;
}

std::optional<std::int32_t> recountAudioFile(const std::string& path, AuditDetector detector,
                                             std::int32_t timeLimitMs, std::int64_t settleSamples)
{
    if (detector == AuditDetector::Midi)
        return std::nullopt;
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf)
        return std::nullopt;
    std::vector<std::int16_t> samples;
    if (info.channels == 1 && info.samplerate == 44100 && info.frames >= 0) {
        samples.resize(static_cast<std::size_t>(info.frames));
        samples.resize(static_cast<std::size_t>(sf_read_short(sf, samples.data(), info.frames)));
    }
    const bool shaped = info.channels == 1 && info.samplerate == 44100 &&
                        static_cast<sf_count_t>(samples.size()) == info.frames;
    sf_close(sf);
    if (!shaped)
        return std::nullopt;
    return recountSamples(samples, detector, timeLimitMs, settleSamples);
}

std::string midiEventsText(const std::vector<StrokeEvent>& events)
{
    std::ostringstream out;
    for (const StrokeEvent& e : events)
        out << e.tick << ' ' << e.note << ' ' << std::lround(e.level * 127.0f) << '\n';
    return out.str();
}

std::optional<std::vector<StrokeEvent>> parseMidiEvents(const std::string& text)
{
    std::vector<StrokeEvent> events;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::istringstream fields(line);
        long long tick = 0;
        int note = 0;
        int velocity = 0;
        std::string rest;
        if (!(fields >> tick >> note >> velocity) || (fields >> rest) || note < 0 || note > 127 || velocity < 1 ||
            velocity > 127)
            return std::nullopt;
        events.push_back(StrokeEvent{tick, static_cast<float>(velocity) / 127.0f, note});
    }
    return events;
}

std::int32_t recountMidiEvents(const std::vector<StrokeEvent>& events, std::int32_t timeLimitMs)
{
    TQX_MidiTriggerDevice device("");
    device.Start(timeLimitMs);
    // Only counted notes are kept. The device counts a note by its interval
    // to the one before, so a stand-in one tick before the first opens the
    // history as the uncounted note before it did live.
    if (!events.empty())
        device.HandleNote(static_cast<std::uint8_t>(events.front().note), 1, events.front().tick - 1);
    for (const StrokeEvent& e : events)
        device.HandleNote(static_cast<std::uint8_t>(e.note), static_cast<std::uint8_t>(std::lround(e.level * 127.0f)),
                          e.tick);
    return device.GetCount();
}
