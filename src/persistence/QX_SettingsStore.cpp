// The per-user store: one JSON file that keeps the registry's model of a key
// holding typed values. Each value is an object {"type": ..., "data": ...}
// with type "int32" (a JSON integer), "string" or "binary" (hex digits), so
// a value of the wrong type is told apart from a missing one exactly as the
// registry does. Only the user-interface thread calls into this file.

#include "persistence/QX_AtomicFile.h"
#include "persistence/QX_Global.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <variant>

namespace {

const QString kKeyPath = QStringLiteral("Software\\Tempovaro");
const QString kTypeInt32 = QStringLiteral("int32");
const QString kTypeString = QStringLiteral("string");
const QString kTypeBinary = QStringLiteral("binary");

// A store file written by this program is well under a kilobyte; anything
// much larger is not ours and is not worth reading into memory.
constexpr qint64 kMaxStoreBytes = 1024 * 1024;

// --- the 68-byte "Program" block, little-endian on every host -------------

using ProgramBytes = std::array<unsigned char, sizeof(TQX_ProgramSettings)>;

ProgramBytes encodeProgram(const TQX_ProgramSettings& s)
{
    ProgramBytes b{};
    qToLittleEndian<qint32>(s.DisplayMode, b.data() + 0);
    qToLittleEndian<qint32>(s.WindowWidth, b.data() + 4);
    qToLittleEndian<qint32>(s.WindowHeight, b.data() + 8);
    b[12] = s.Maximized;
    std::memcpy(b.data() + 13, s.Padding1, 3);
    qToLittleEndian<qint32>(s.TimeLimit, b.data() + 16);
    qToLittleEndian<qint32>(s.SortByStrokes, b.data() + 20);
    b[24] = s.ShowClock;
    b[25] = s.ShowScores;
    b[26] = s.AutoReset;
    b[27] = s.Padding2;
    qToLittleEndian<quint32>(std::bit_cast<quint32>(s.BpmFactor), b.data() + 28);
    std::memcpy(b.data() + 32, s.Reserved, sizeof s.Reserved);
    return b;
}

void decodeProgram(const ProgramBytes& b, TQX_ProgramSettings& s)
{
    s.DisplayMode = qFromLittleEndian<qint32>(b.data() + 0);
    s.WindowWidth = qFromLittleEndian<qint32>(b.data() + 4);
    s.WindowHeight = qFromLittleEndian<qint32>(b.data() + 8);
    s.Maximized = b[12];
    std::memcpy(s.Padding1, b.data() + 13, 3);
    s.TimeLimit = qFromLittleEndian<qint32>(b.data() + 16);
    s.SortByStrokes = qFromLittleEndian<qint32>(b.data() + 20);
    s.ShowClock = b[24];
    s.ShowScores = b[25];
    s.AutoReset = b[26];
    s.Padding2 = b[27];
    s.BpmFactor = std::bit_cast<float>(qFromLittleEndian<quint32>(b.data() + 28));
    std::memcpy(s.Reserved, b.data() + 32, sizeof s.Reserved);
}

// --- typed values ---------------------------------------------------------

struct Missing {};
struct Malformed {}; // present, but no value of any known type
using StoredValue = std::variant<Missing, Malformed, qint32, QString, QByteArray>;

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

StoredValue parseValue(const QJsonValue& entry)
{
    if (entry.isUndefined())
        return Missing{};
    if (!entry.isObject())
        return Malformed{};
    const QJsonObject obj = entry.toObject();
    const QString type = obj.value(QStringLiteral("type")).toString();
    const QJsonValue data = obj.value(QStringLiteral("data"));
    if (type == kTypeInt32 && data.isDouble()) {
        const double d = data.toDouble();
        if (d == std::floor(d) && d >= std::numeric_limits<qint32>::min()
            && d <= std::numeric_limits<qint32>::max())
            return static_cast<qint32>(d);
    } else if (type == kTypeString && data.isString()) {
        return data.toString();
    } else if (type == kTypeBinary && data.isString()) {
        const QString hex = data.toString();
        if (hex.size() % 2 == 0 && std::all_of(hex.begin(), hex.end(), isHexDigit))
            return QByteArray::fromHex(hex.toLatin1());
    }
    return Malformed{};
}

QJsonObject int32Value(qint32 v)
{
    return {{QStringLiteral("type"), kTypeInt32}, {QStringLiteral("data"), v}};
}

QJsonObject stringValue(const std::string& v)
{
    return {{QStringLiteral("type"), kTypeString},
            {QStringLiteral("data"), QString::fromStdString(v)}};
}

QJsonObject binaryValue(const QByteArray& v)
{
    return {{QStringLiteral("type"), kTypeBinary},
            {QStringLiteral("data"), QString::fromLatin1(v.toHex())}};
}

enum class StoreState {
    Missing,    // no file: a first run
    Read,       // a store this program can read
    NotAFile,   // a folder, pipe or device under the store's name: never read, never replaced
    Unreadable, // a file, but not a store: broken JSON, too large, the wrong shape
};

struct StoreContents {
    StoreState state = StoreState::Missing;
    QJsonObject store; // empty unless Read
};

StoreContents readStore(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {StoreState::Missing, {}};
    // Only a plain file: a FIFO or device under that name would block or
    // never end.
    if (!info.isFile())
        return {StoreState::NotAFile, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxStoreBytes)
        return {StoreState::Unreadable, {}};
    QByteArray text = file.read(kMaxStoreBytes + 1);
    if (text.size() > kMaxStoreBytes)
        return {StoreState::Unreadable, {}};
    // Editors on some systems start UTF-8 files with a byte-order mark,
    // which the JSON parser would reject.
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {StoreState::Unreadable, {}};
    const QJsonValue key = doc.object().value(kKeyPath);
    if (!key.isUndefined() && !key.isObject())
        return {StoreState::Unreadable, {}};
    return {StoreState::Read, doc.object()};
}

// Creates the missing folders of `dir` readable by the user only.
bool makePrivateDir(const QString& dir)
{
    const QString clean = QDir::cleanPath(dir);
    QString path;
    const QStringList parts = clean.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += (i == 0 ? QString() : QStringLiteral("/")) + parts[i];
        if (path.isEmpty() || QFileInfo(path).isDir())
            continue;
        if (!QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return false;
    }
    return QFileInfo(clean).isDir();
}

class KeyReader {
public:
    explicit KeyReader(QJsonObject key) : m_key(std::move(key)) {}

    StoredValue value(const char* name) const
    {
        return parseValue(m_key.value(QLatin1String(name)));
    }

    bool readInt32(const char* name, std::int32_t& out) const
    {
        const StoredValue v = value(name);
        if (const auto* i = std::get_if<qint32>(&v)) {
            out = *i;
            return true;
        }
        return false;
    }

    // A missing string reads as empty, as the registry's string read does here.
    bool readString(const char* name, std::string& out) const
    {
        const StoredValue v = value(name);
        if (std::holds_alternative<Missing>(v)) {
            out.clear();
            return true;
        }
        if (const auto* s = std::get_if<QString>(&v)) {
            out = s->toStdString();
            return true;
        }
        return false;
    }

private:
    QJsonObject m_key;
};

// IEEE narrowing, spelled out: a finite double beyond float's range becomes
// an infinity instead of an undefined conversion.
float narrowToFloat(double d)
{
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

} // namespace

QString settingsFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative or empty value is invalid and ignored, as XDG asks.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Tempovaro/settings.json");
}

namespace {

// Each click value on its own: what is missing, mistyped or out of range
// keeps its default.
void readClickSettings(const KeyReader& key, TQX_ClickSettings& click)
{
    click = TQX_ClickSettings{};
    const auto ranged = [&key](const char* name, std::int32_t lo, std::int32_t hi, std::int32_t& out) {
        std::int32_t v = 0;
        if (key.readInt32(name, v) && v >= lo && v <= hi)
            out = v;
    };
    ranged("ClickTempo", 30, 300, click.TempoBpm);
    std::int32_t sub = 0;
    ranged("ClickSubdivision", 1, 8, sub);
    if (sub != 0 && sub != 5 && sub != 7)
        click.Subdivision = sub;
    std::int32_t flag = -1;
    ranged("ClickWithMeasurement", 0, 1, flag);
    click.WithMeasurement = flag == 1;
    flag = -1;
    ranged("ClickAccent", 0, 1, flag);
    click.Accent = flag < 0 ? click.Accent : flag == 1;
    flag = -1;
    ranged("ClickCountIn", 0, 1, flag);
    click.CountIn = flag < 0 ? click.CountIn : flag == 1;
    ranged("ClickBarsOn", 1, 64, click.BarsOn);
    ranged("ClickBarsOff", 0, 64, click.BarsOff);
    ranged("ClickVolume", 0, 100, click.VolumePercent);
    // A second of latency is far beyond any sound card: a damaged value.
    ranged("ClickLatencyUs", -1000000, 1000000, click.LatencyUs);
    ranged("ClickMidiLatencyUs", -1000000, 1000000, click.MidiLatencyUs);
    ranged("ClickMidiSpreadUs", 0, 1000000, click.MidiSpreadUs);
    std::string device;
    if (key.readString("ClickDeviceID", device))
        click.DeviceID = device;
}

void writeClickSettings(QJsonObject& key, const TQX_ClickSettings& click)
{
    // A store that never saw the click keeps exactly its values as they were.
    if (click == TQX_ClickSettings{} && !key.contains(QStringLiteral("ClickTempo")))
        return;
    key.insert(QStringLiteral("ClickWithMeasurement"), int32Value(click.WithMeasurement ? 1 : 0));
    key.insert(QStringLiteral("ClickTempo"), int32Value(click.TempoBpm));
    key.insert(QStringLiteral("ClickSubdivision"), int32Value(click.Subdivision));
    key.insert(QStringLiteral("ClickAccent"), int32Value(click.Accent ? 1 : 0));
    key.insert(QStringLiteral("ClickCountIn"), int32Value(click.CountIn ? 1 : 0));
    key.insert(QStringLiteral("ClickBarsOn"), int32Value(click.BarsOn));
    key.insert(QStringLiteral("ClickBarsOff"), int32Value(click.BarsOff));
    key.insert(QStringLiteral("ClickVolume"), int32Value(click.VolumePercent));
    key.insert(QStringLiteral("ClickDeviceID"), stringValue(click.DeviceID));
    key.insert(QStringLiteral("ClickLatencyUs"), int32Value(click.LatencyUs));
    key.insert(QStringLiteral("ClickMidiLatencyUs"), int32Value(click.MidiLatencyUs));
    key.insert(QStringLiteral("ClickMidiSpreadUs"), int32Value(click.MidiSpreadUs));
}

} // namespace

bool LoadSettings()
{
    const QJsonObject store = readStore(settingsFilePath()).store;
    const KeyReader key(store.value(kKeyPath).toObject());

    const StoredValue program = key.value("Program");
    if (!std::holds_alternative<Missing>(program)) {
        const auto* bytes = std::get_if<QByteArray>(&program);
        if (!bytes || bytes->size() > static_cast<qsizetype>(sizeof(TQX_ProgramSettings)))
            return false;
        // A shorter block overwrites only its own bytes of the current settings.
        ProgramBytes block = encodeProgram(ProgramSettings);
        std::memcpy(block.data(), bytes->constData(), static_cast<size_t>(bytes->size()));
        decodeProgram(block, ProgramSettings);
    }

    TQX_DeviceProperties& dp = DeviceProperties;
    if (!key.readInt32("TriggerDeviceType", dp.TriggerDeviceType)
        || !key.readString("AudioDeviceID", dp.AudioDevice.ID)
        || !key.readString("MidiDeviceID", dp.MidiDevice.ID)
        || !key.readString("AudioChannelID", dp.AudioChannel.ID))
        return false;
    dp.AudioChannel.Name = dp.AudioChannel.ID;

    const StoredValue level = key.value("AudioInputLevel");
    const auto* levelBytes = std::get_if<QByteArray>(&level);
    if (!levelBytes || levelBytes->size() != 8)
        return false;
    dp.AudioChannel.Level = narrowToFloat(
        std::bit_cast<double>(qFromLittleEndian<quint64>(levelBytes->constData())));

    if (!key.readString("MidiChannelID", dp.MidiChannel.ID))
        return false;
    std::int32_t noteNr = 0;
    if (!key.readInt32("MidiNoteNr", noteNr))
        return false;
    dp.storeMidiNoteNr(noteNr);

    // Added after the eight values above: missing, mistyped or unknown means
    // the standard detector, and never fails the load.
    std::int32_t detector = kAudioDetectorStandard;
    if (!key.readInt32("AudioDetector", detector) || (detector != kAudioDetectorStandard && detector != kAudioDetectorFast))
        detector = kAudioDetectorStandard;
    dp.AudioDetector = detector;

    // The names the devices were listed under when chosen, so the journal
    // keeps a run under "USB Audio CODEC" rather than the device's ID when
    // the device dialog was not opened since the start. A name that is
    // missing or not a string is simply unknown.
    for (auto [name, device] : {std::pair{"AudioDeviceName", &dp.AudioDevice}, std::pair{"MidiDeviceName", &dp.MidiDevice}})
        if (!key.readString(name, device->Name))
            device->Name.clear();
    readClickSettings(key, ClickSettings);
    return true;
}

bool SaveSettings()
{
    const QString path = settingsFilePath();
    if (!makePrivateDir(QFileInfo(path).path()))
        return false;

    // Values this program does not know, in this key or others, stay as they
    // were. A store we cannot read is kept as a backup for whoever can; if it
    // cannot be moved aside, it is not saved over either.
    StoreContents old = readStore(path);
    if (old.state == StoreState::Unreadable && QFileInfo(path).size() > 0 && !moveToFreeBackupName(path))
        return false;
    QJsonObject store = std::move(old.store);
    QJsonObject key = store.value(kKeyPath).toObject();

    const ProgramBytes program = encodeProgram(ProgramSettings);
    const TQX_DeviceProperties& dp = DeviceProperties;
    unsigned char level[8];
    qToLittleEndian<quint64>(std::bit_cast<quint64>(static_cast<double>(dp.AudioChannel.Level)), level);

    key.insert(QStringLiteral("Program"),
               binaryValue(QByteArray(reinterpret_cast<const char*>(program.data()), program.size())));
    key.insert(QStringLiteral("TriggerDeviceType"), int32Value(dp.TriggerDeviceType));
    key.insert(QStringLiteral("AudioDeviceID"), stringValue(dp.AudioDevice.ID));
    key.insert(QStringLiteral("MidiDeviceID"), stringValue(dp.MidiDevice.ID));
    key.insert(QStringLiteral("AudioChannelID"), stringValue(dp.AudioChannel.ID));
    key.insert(QStringLiteral("AudioInputLevel"),
               binaryValue(QByteArray(reinterpret_cast<const char*>(level), sizeof level)));
    key.insert(QStringLiteral("MidiChannelID"), stringValue(dp.MidiChannel.ID));
    key.insert(QStringLiteral("MidiNoteNr"), int32Value(dp.loadMidiNoteNr()));
    // A store that never saw the fast detector keeps exactly the eight values
    // of the original program; once written, the choice is kept up to date.
    if (dp.AudioDetector != kAudioDetectorStandard || key.contains(QStringLiteral("AudioDetector")))
        key.insert(QStringLiteral("AudioDetector"), int32Value(dp.AudioDetector));
    // The names ride along with their IDs once known; a name that belongs to
    // no ID any more goes with it.
    for (auto [name, device] : {std::pair{"AudioDeviceName", &dp.AudioDevice}, std::pair{"MidiDeviceName", &dp.MidiDevice}}) {
        if (!device->Name.empty() && !device->ID.empty())
            key.insert(QLatin1String(name), stringValue(device->Name));
        else
            key.remove(QLatin1String(name));
    }
    writeClickSettings(key, ClickSettings);
    store.insert(kKeyPath, key);

    const QByteArray text = QJsonDocument(store).toJson(QJsonDocument::Indented);
    return bool(writeFileAtomically(path, text, FileAccess::OwnerOnly));
}
