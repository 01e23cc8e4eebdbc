#include "persistence/QX_Global.h"

#include <QDate>
#include <QTime>

TQX_DeviceProperties DeviceProperties;
TQX_ProgramSettings ProgramSettings;
TQX_ClickSettings ClickSettings;
std::array<TQX_Score, MaxScores> Scores;

std::int32_t TQX_DeviceProperties::loadMidiNoteNr() const
{
    return ::loadMidiNoteNr(MidiNoteNr);
}

void TQX_DeviceProperties::storeMidiNoteNr(std::int32_t noteNr)
{
    ::storeMidiNoteNr(MidiNoteNr, noteNr);
}

TQX_DeviceProperties::TQX_DeviceProperties(const TQX_DeviceProperties& other)
    : TriggerDeviceType(other.TriggerDeviceType),
      AudioDevice(other.AudioDevice),
      AudioChannel(other.AudioChannel),
      MidiDevice(other.MidiDevice),
      MidiChannel(other.MidiChannel),
      MidiNoteNr(other.loadMidiNoteNr()),
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
        storeMidiNoteNr(other.loadMidiNoteNr());
        AudioDetector = other.AudioDetector;
    }
    return *this;
}

double dateTimeToDate(const QDateTime& local)
{
    static const QDate epoch(1899, 12, 30);
    const QDateTime t = local.toLocalTime();
    const double days = static_cast<double>(epoch.daysTo(t.date()));
    const double fraction = t.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the whole days count down while the time of day still
    // counts up, so 29 December 1899 06:00 is -1.25.
    return days < 0 ? days - fraction : days + fraction;
}

double nowAsDate()
{
    return dateTimeToDate(QDateTime::currentDateTime());
}
