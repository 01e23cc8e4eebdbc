#include "QX_Global.h"

#include <QDate>
#include <QTime>

TQX_DeviceProperties DeviceProperties;
TQX_ProgramSettings ProgramSettings;
std::array<TQX_Score, MaxScores> Scores;

// The MIDI reader only needs to see either the old or the new note number,
// never a torn one, and nothing else is published through this field, so
// relaxed order is enough on both sides.
std::int32_t TQX_DeviceProperties::LoadMidiNoteNr() const
{
    return std::atomic_ref<const std::int32_t>(MidiNoteNr).load(std::memory_order_relaxed);
}

void TQX_DeviceProperties::StoreMidiNoteNr(std::int32_t noteNr)
{
    std::atomic_ref<std::int32_t>(MidiNoteNr).store(noteNr, std::memory_order_relaxed);
}

TQX_DeviceProperties::TQX_DeviceProperties(const TQX_DeviceProperties& other)
    : TriggerDeviceType(other.TriggerDeviceType),
      AudioDevice(other.AudioDevice),
      AudioChannel(other.AudioChannel),
      MidiDevice(other.MidiDevice),
      MidiChannel(other.MidiChannel),
      MidiNoteNr(other.LoadMidiNoteNr()),
      AudioDetector(other.AudioDetector)
{
}

TQX_DeviceProperties& TQX_DeviceProperties::operator=(const TQX_DeviceProperties& other)
{
    if (this != &other) {
        TriggerDeviceType = other.TriggerDeviceType;
        AudioDevice = other.AudioDevice;
        AudioChannel = other.AudioChannel;
        MidiDevice = other.MidiDevice;
        MidiChannel = other.MidiChannel;
        StoreMidiNoteNr(other.LoadMidiNoteNr());
        AudioDetector = other.AudioDetector;
    }
    return *this;
}

double DateTimeToDate(const QDateTime& local)
{
    static const QDate epoch(1899, 12, 30);
    const QDateTime t = local.toLocalTime();
    const double days = static_cast<double>(epoch.daysTo(t.date()));
    const double fraction = t.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the whole days count down while the time of day still
    // counts up, so 29 December 1899 06:00 is -1.25.
    return days < 0 ? days - fraction : days + fraction;
}

double NowAsDate()
{
    return DateTimeToDate(QDateTime::currentDateTime());
}
