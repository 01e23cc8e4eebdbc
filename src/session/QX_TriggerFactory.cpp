#include "session/QX_TriggerFactory.h"

#include "capture/QX_AlsaAudio.h"
#include "capture/QX_MidiPort.h"
#include "trigger/AudioDetectorBase.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_MidiTriggerDevice.h"

#include <charconv>
#include <cstdlib>

namespace {
TriggerDeviceFactory& factorySeam()
{
    static TriggerDeviceFactory factory;
    return factory;
}
} // namespace

std::int32_t MidiChannelNumber(const std::string& channelID)
{
    // The whole text must be a decimal integer (optional sign); anything else
    // (empty, "ten", "1x", out of range) means all channels.
    const char* begin = channelID.data();
    const char* end = begin + channelID.size();
    if (begin != end && *begin == '+')
        ++begin;
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (begin == end || ec != std::errc() || ptr != end)
        return 0;
    return value;
}

std::unique_ptr<TQX_TriggerDevice> CreateTriggerDevice(const TQX_DeviceProperties& Properties)
{
    if (const auto& factory = factorySeam())
        return factory(Properties);

    switch (Properties.TriggerDeviceType) {
    case kTriggerDeviceAudio: {
        std::unique_ptr<AudioDetectorBase> device;
        if (Properties.AudioDetector == kAudioDetectorFast)
            device = CreateFastAudioTriggerDevice(Properties.AudioDevice.ID);
        else
            device = CreateAudioTriggerDevice(Properties.AudioDevice.ID);
        device->SetInputLine(Properties.AudioChannel.ID, Properties.AudioChannel.Level);
        return device;
    }
    case kTriggerDeviceMidi: {
        auto device = createMidiTriggerDevice(Properties.MidiDevice.ID, &DeviceProperties.MidiNoteNr);
        device->SetChannel(MidiChannelNumber(Properties.MidiChannel.ID));
        return device;
    }
    default:
        return nullptr;
    }
}

void SetTriggerDeviceFactory(TriggerDeviceFactory factory)
{
    factorySeam() = std::move(factory);
}

RunDevice runDeviceFromSettings(const TQX_DeviceProperties& Properties)
{
    RunDevice device;
    const bool midi = Properties.TriggerDeviceType == kTriggerDeviceMidi;
    device.type = midi ? DeviceType::Midi : DeviceType::Audio;
    const QX_Device& port = midi ? Properties.MidiDevice : Properties.AudioDevice;
    // The ID stays the same across restarts; the name is what the drummer
    // saw in the device list, kept with the settings (settings saved before
    // names were kept have only the ID).
    device.id = port.ID;
    device.name = port.Name.empty() ? port.ID : port.Name;
    if (midi) {
        device.channel = std::atoi(Properties.MidiChannel.ID.c_str());
        device.note = Properties.loadMidiNoteNr();
    } else {
        device.line = Properties.AudioChannel.Name;
        device.detector = Properties.AudioDetector == kAudioDetectorFast ? AudioDetector::Fast : AudioDetector::Standard;
    }
    return device;
}
