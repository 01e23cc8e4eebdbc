#include "PersistenceFixture.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace {

using Settings = PersistenceTest;

QJsonObject int32Value(double v) { return {{"type", "int32"}, {"data", v}}; }
QJsonObject stringValue(const QString& v) { return {{"type", "string"}, {"data", v}}; }
QJsonObject binaryValue(const QByteArray& v)
{
    return {{"type", "binary"}, {"data", QString::fromLatin1(v.toHex())}};
}

QByteArray binaryOf(const QJsonObject& key, const char* name)
{
    const QJsonObject value = key.value(QLatin1String(name)).toObject();
    EXPECT_EQ(value.value("type").toString(), "binary") << name;
    return QByteArray::fromHex(value.value("data").toString().toLatin1());
}

QByteArray levelBytes(double level)
{
    QByteArray b(8, '\0');
    std::uint64_t bits;
    std::memcpy(&bits, &level, 8);
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<char>(bits >> (8 * i));
    return b;
}

// A complete key as another run would have stored it.
QJsonObject goodKey()
{
    QByteArray program(68, '\0');
    program[0] = 2;                      // DisplayMode
    program[4] = char(0x00), program[5] = char(0x04); // WindowWidth 1024
    program[8] = char(0x00), program[9] = char(0x03); // WindowHeight 768
    program[12] = 1;                     // Maximized
    program[16] = char(0x30), program[17] = char(0x75); // TimeLimit 30000
    program[20] = 1;                     // SortByStrokes
    program[24] = 0;                     // ShowClock
    program[25] = 1;
    program[26] = 0;
    program[30] = char(0x80), program[31] = char(0x3e); // BpmFactor 0.25f
    program[40] = char(0xAB);            // a reserved byte
    return {
        {"Program", binaryValue(program)},
        {"TriggerDeviceType", int32Value(2)},
        {"AudioDeviceID", stringValue("hw:CARD=PCH,DEV=0")},
        {"MidiDeviceID", stringValue("{01234567-89AB-CDEF-0123-456789ABCDEF}")},
        {"AudioChannelID", stringValue("Capture")},
        {"AudioInputLevel", binaryValue(levelBytes(0.5))},
        {"MidiChannelID", stringValue("10")},
        {"MidiNoteNr", int32Value(38)},
    };
}

unsigned modeBits(const QString& file)
{
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

// The program's key as the store holds it now.
QJsonObject storedKey()
{
    return QJsonDocument::fromJson(fileBytes(settingsFilePath())).object().value("Software\\Tempovaro").toObject();
}

void writeStore(const QJsonObject& key)
{
    QDir().mkpath(QFileInfo(settingsFilePath()).path());
    ASSERT_TRUE(writeBytes(settingsFilePath(), QJsonDocument(QJsonObject{{"Software\\Tempovaro", key}}).toJson()));
}

void expectDefaults()
{
    const TQX_DeviceProperties before = DeviceProperties;
    const TQX_ProgramSettings program = ProgramSettings;
    SetDefaultSettings();
    EXPECT_EQ(before.TriggerDeviceType, 1);
    EXPECT_EQ(before.AudioDevice.ID, "");
    EXPECT_EQ(before.AudioChannel.ID, "");
    EXPECT_EQ(before.AudioChannel.Level, 0.25f);
    EXPECT_EQ(before.MidiChannel.ID, "");
    EXPECT_EQ(before.MidiNoteNr, 0);
    EXPECT_EQ(std::memcmp(&program, &ProgramSettings, sizeof program), 0);
}

TEST_F(Settings, SaveThenLoadGivesBackEveryField)
{
    ProgramSettings.DisplayMode = 1;
    ProgramSettings.WindowWidth = 1234;
    ProgramSettings.WindowHeight = -5;
    ProgramSettings.Maximized = 1;
    ProgramSettings.TimeLimit = -1;
    ProgramSettings.SortByStrokes = 1;
    ProgramSettings.ShowClock = 0;
    ProgramSettings.ShowScores = 0;
    ProgramSettings.AutoReset = 0;
    ProgramSettings.BpmFactor = 0.25f;
    for (int i = 0; i < 36; ++i)
        ProgramSettings.Reserved[i] = static_cast<std::uint8_t>(200 + i);
    DeviceProperties.TriggerDeviceType = 2;
    DeviceProperties.AudioDevice = {"Built-in", "hw:CARD=PCH,DEV=0", 0};
    DeviceProperties.AudioChannel = {"Mic \"front\"", "Mic \\ Boost – ü", 0.3f};
    DeviceProperties.MidiDevice = {"Port", "{01234567-89AB-CDEF-0123-456789ABCDEF}", 0};
    DeviceProperties.MidiChannel = {"Channel 16", "16", 0};
    DeviceProperties.storeMidiNoteNr(-1);
    const TQX_ProgramSettings savedProgram = ProgramSettings;

    ASSERT_TRUE(SaveSettings());
    SetDefaultSettings();
    ASSERT_TRUE(LoadSettings());

    EXPECT_EQ(std::memcmp(&savedProgram, &ProgramSettings, sizeof savedProgram), 0);
    EXPECT_EQ(DeviceProperties.TriggerDeviceType, 2);
    EXPECT_EQ(DeviceProperties.AudioDevice.ID, "hw:CARD=PCH,DEV=0");
    EXPECT_EQ(DeviceProperties.AudioDevice.Name, "Built-in") << "kept after the eight values, for the journal";
    EXPECT_EQ(DeviceProperties.AudioChannel.ID, "Mic \\ Boost – ü");
    EXPECT_EQ(DeviceProperties.AudioChannel.Name, "Mic \\ Boost – ü") << "the line name is its ID";
    EXPECT_EQ(DeviceProperties.AudioChannel.Level, 0.3f) << "exact through the double";
    EXPECT_EQ(DeviceProperties.MidiDevice.ID, "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(DeviceProperties.MidiDevice.Name, "Port");
    EXPECT_EQ(DeviceProperties.MidiChannel.ID, "16");
    EXPECT_EQ(DeviceProperties.MidiChannel.Name, "");
    EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), -1);

    EXPECT_EQ(modeBits(settingsFilePath()), 0600);
    EXPECT_EQ(modeBits(QFileInfo(settingsFilePath()).path()), 0700);
}

TEST_F(Settings, StoreHoldsTypedValuesWithTheirExactBytes)
{
    ProgramSettings.WindowWidth = 0x01020304;
    ProgramSettings.BpmFactor = 0.25f;
    DeviceProperties.AudioChannel.Level = 0.5f;
    DeviceProperties.storeMidiNoteNr(42);
    DeviceProperties.MidiChannel.ID = "3";
    writeStore({{"Foreign", stringValue("kept")}});
    ASSERT_TRUE(SaveSettings());

    const QJsonObject key =
        QJsonDocument::fromJson(fileBytes(settingsFilePath())).object().value("Software\\Tempovaro").toObject();
    EXPECT_EQ(key.size(), 9);
    EXPECT_EQ(key.value("Foreign").toObject(), stringValue("kept")) << "values of others stay";
    const QByteArray program = binaryOf(key, "Program");
    ASSERT_EQ(program.size(), 68);
    EXPECT_EQ(program.mid(4, 4), QByteArray("\x04\x03\x02\x01", 4)) << "little-endian";
    EXPECT_EQ(program.mid(28, 4), QByteArray("\x00\x00\x80\x3e", 4));
    EXPECT_EQ(key.value("AudioInputLevel"), binaryValue(levelBytes(0.5)));
    EXPECT_EQ(key.value("TriggerDeviceType"), int32Value(1));
    EXPECT_EQ(key.value("MidiNoteNr"), int32Value(42));
    EXPECT_EQ(key.value("MidiChannelID"), stringValue("3"));
    EXPECT_EQ(key.value("AudioDeviceID"), stringValue(""));
}

TEST_F(Settings, FirstRunKeepsDefaults)
{
    EXPECT_FALSE(LoadSettings());
    expectDefaults();

    writeStore({});
    EXPECT_FALSE(LoadSettings()) << "a key without values";
    expectDefaults();
}

TEST_F(Settings, ShortProgramFillsOnlyItsBytes)
{
    QJsonObject key = goodKey();
    key["Program"] = binaryValue(binaryOf(key, "Program").left(32));
    writeStore(key);
    for (int i = 0; i < 36; ++i)
        ProgramSettings.Reserved[i] = static_cast<std::uint8_t>(i + 1);

    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(ProgramSettings.DisplayMode, 2);
    EXPECT_EQ(ProgramSettings.WindowWidth, 1024);
    EXPECT_EQ(ProgramSettings.WindowHeight, 768);
    EXPECT_EQ(ProgramSettings.Maximized, 1);
    EXPECT_EQ(ProgramSettings.TimeLimit, 30000);
    EXPECT_EQ(ProgramSettings.SortByStrokes, 1);
    EXPECT_EQ(ProgramSettings.ShowClock, 0);
    EXPECT_EQ(ProgramSettings.BpmFactor, 0.25f);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(ProgramSettings.Reserved[i], i + 1) << "reserved byte " << i;

    // Five bytes: DisplayMode and the low byte of WindowWidth only.
    SetDefaultSettings();
    key["Program"] = binaryValue(QByteArray("\x01\x00\x00\x00\x21", 5));
    writeStore(key);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(ProgramSettings.DisplayMode, 1);
    EXPECT_EQ(ProgramSettings.WindowWidth, 0x321) << "800 is 0x320";
    EXPECT_EQ(ProgramSettings.WindowHeight, 600);
}

TEST_F(Settings, MissingProgramIsNoFailure)
{
    QJsonObject key = goodKey();
    key.remove("Program");
    writeStore(key);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(ProgramSettings.WindowWidth, 800);
    EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), 38);
}

TEST_F(Settings, BadProgramLoadsNothing)
{
    for (const QJsonObject& program :
         {binaryValue(QByteArray(69, '\x01')), stringValue("abc"), int32Value(3)}) {
        SCOPED_TRACE(QJsonDocument(program).toJson(QJsonDocument::Compact).toStdString());
        SetDefaultSettings();
        QJsonObject key = goodKey();
        key["Program"] = program;
        writeStore(key);
        EXPECT_FALSE(LoadSettings());
        expectDefaults();
    }
}

TEST_F(Settings, LoadStopsAtTheFirstBadValue)
{
    struct Case {
        const char* name;
        QJsonValue value; // undefined: remove the value
    };
    const Case cases[] = {
        {"TriggerDeviceType", QJsonValue::Undefined},
        {"TriggerDeviceType", stringValue("2")},
        {"TriggerDeviceType", int32Value(1.5)},
        {"TriggerDeviceType", int32Value(4294967296.0)},
        {"AudioDeviceID", int32Value(7)},
        {"AudioDeviceID", binaryValue("ab")},
        {"MidiDeviceID", QJsonValue(QJsonArray{})},
        {"AudioChannelID", QJsonObject{{"type", "string"}}},
        {"AudioInputLevel", QJsonValue::Undefined},
        {"AudioInputLevel", binaryValue(QByteArray(4, '\0'))},
        {"AudioInputLevel", binaryValue(QByteArray(9, '\0'))},
        {"AudioInputLevel", QJsonObject{{"type", "binary"}, {"data", "zz00000000000000"}}},
        {"MidiChannelID", int32Value(10)},
        {"MidiNoteNr", QJsonValue::Undefined},
        {"MidiNoteNr", QJsonObject{{"type", "int32"}, {"data", "38"}}},
    };
    const char* order[] = {"TriggerDeviceType", "AudioDeviceID", "MidiDeviceID", "AudioChannelID",
                           "AudioInputLevel", "MidiChannelID", "MidiNoteNr"};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + QJsonDocument(QJsonArray{c.value}).toJson().toStdString());
        SetDefaultSettings();
        QJsonObject key = goodKey();
        if (c.value.isUndefined())
            key.remove(c.name);
        else
            key[c.name] = c.value;
        writeStore(key);

        EXPECT_FALSE(LoadSettings());
        EXPECT_EQ(ProgramSettings.DisplayMode, 2) << "Program comes first";
        const int failing = int(std::find_if(std::begin(order), std::end(order),
                                             [&](const char* n) { return std::strcmp(n, c.name) == 0; })
                                - std::begin(order));
        const auto loaded = [&](const char* name) {
            for (int i = 0; i < failing; ++i)
                if (std::strcmp(order[i], name) == 0)
                    return true;
            return false;
        };
        const TQX_DeviceProperties& dp = DeviceProperties;
        EXPECT_EQ(dp.TriggerDeviceType, loaded("TriggerDeviceType") ? 2 : 1);
        EXPECT_EQ(dp.AudioDevice.ID, loaded("AudioDeviceID") ? "hw:CARD=PCH,DEV=0" : "");
        EXPECT_EQ(dp.MidiDevice.ID, loaded("MidiDeviceID") ? "{01234567-89AB-CDEF-0123-456789ABCDEF}" : "");
        EXPECT_EQ(dp.AudioChannel.ID, loaded("AudioChannelID") ? "Capture" : "");
        EXPECT_EQ(dp.AudioChannel.Name, loaded("AudioChannelID") ? "Capture" : "");
        EXPECT_EQ(dp.AudioChannel.Level, loaded("AudioInputLevel") ? 0.5f : 0.25f);
        EXPECT_EQ(dp.MidiChannel.ID, loaded("MidiChannelID") ? "10" : "");
        EXPECT_EQ(dp.loadMidiNoteNr(), 0);
    }
}

TEST_F(Settings, MissingStringsReadAsEmpty)
{
    QJsonObject key = goodKey();
    key.remove("AudioDeviceID");
    key.remove("AudioChannelID");
    writeStore(key);
    DeviceProperties.AudioDevice.ID = "previous";
    DeviceProperties.AudioChannel = {"old name", "old line", 0.25f};
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(DeviceProperties.AudioDevice.ID, "");
    EXPECT_EQ(DeviceProperties.AudioChannel.ID, "");
    EXPECT_EQ(DeviceProperties.AudioChannel.Name, "");
    EXPECT_EQ(DeviceProperties.MidiChannel.ID, "10");
}

TEST_F(Settings, LevelIsNarrowedFromTheDouble)
{
    const struct {
        double stored;
        float expected;
    } cases[] = {
        {0.1, 0.1f},
        {1e300, std::numeric_limits<float>::infinity()},
        {-1e300, -std::numeric_limits<float>::infinity()},
        {-1.0, -1.0f},
    };
    for (const auto& c : cases) {
        QJsonObject key = goodKey();
        key["AudioInputLevel"] = binaryValue(levelBytes(c.stored));
        writeStore(key);
        EXPECT_TRUE(LoadSettings());
        EXPECT_EQ(DeviceProperties.AudioChannel.Level, c.expected) << c.stored;
    }
    QJsonObject key = goodKey();
    key["AudioInputLevel"] = binaryValue(levelBytes(std::nan("")));
    writeStore(key);
    EXPECT_TRUE(LoadSettings());
    EXPECT_TRUE(std::isnan(DeviceProperties.AudioChannel.Level));
}

TEST_F(Settings, DamagedStoreFailsSafelyAndIsRewritten)
{
    writeStore(goodKey());
    const QByteArray good = fileBytes(settingsFilePath());
    QByteArray huge = good;
    huge.append(QByteArray(1024 * 1024, ' '));
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919) >> 3);
    const QByteArray damaged[] = {
        QByteArray(),
        good.left(good.size() / 2),
        garbage,
        "[1, 2, 3]",
        R"({"Software\\Tempovaro": "not a key"})",
        R"({"Software\\Tempovaro": {"Program": {"type": "binary", "data": "0"}}})",
        R"({"Software\\Tempovaro": {"TriggerDeviceType": 1}})",
        huge,
    };
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.left(60).toStdString());
        SetDefaultSettings();
        ASSERT_TRUE(writeBytes(settingsFilePath(), bytes));
        EXPECT_FALSE(LoadSettings());
        expectDefaults();

        DeviceProperties.storeMidiNoteNr(99);
        ASSERT_TRUE(SaveSettings());
        SetDefaultSettings();
        EXPECT_TRUE(LoadSettings());
        EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), 99);
    }
}

TEST_F(Settings, RefusedWriteLeavesTheOldStore)
{
    DeviceProperties.MidiChannel.ID = "5";
    ASSERT_TRUE(SaveSettings());
    const QByteArray before = fileBytes(settingsFilePath());

    DeviceProperties.MidiChannel.ID = "6";
    {
        FileSizeLimit diskFull(64);
        ASSERT_TRUE(diskFull.active());
        EXPECT_FALSE(SaveSettings());
    }
    EXPECT_EQ(fileBytes(settingsFilePath()), before);
    EXPECT_EQ(QDir(QFileInfo(settingsFilePath()).path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary file left behind";

    // The store's place taken by a folder, and the folder's by a file.
    ASSERT_TRUE(QFile::remove(settingsFilePath()));
    ASSERT_TRUE(QDir().mkdir(settingsFilePath()));
    EXPECT_FALSE(SaveSettings());
    EXPECT_TRUE(QFileInfo(settingsFilePath()).isDir());

    qputenv("XDG_CONFIG_HOME", path("blocked").toLocal8Bit());
    ASSERT_TRUE(writeBytes(path("blocked"), "x"));
    EXPECT_FALSE(SaveSettings());
}

TEST_F(Settings, ReadOnlyFolderRefusesTheWrite)
{
    const auto refused = runUnprivileged(m_dir.path(), [] {
        DeviceProperties.TriggerDeviceType = 2;
        if (!SaveSettings())
            return false;
        QFile::setPermissions(QFileInfo(settingsFilePath()).path(), QFile::ReadOwner | QFile::ExeOwner);
        DeviceProperties.TriggerDeviceType = 1;
        return !SaveSettings();
    });
    if (!refused)
        GTEST_SKIP() << "no unprivileged user to run as";
    EXPECT_TRUE(*refused) << "SaveSettings reports the refused write";
    SetDefaultSettings();
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(DeviceProperties.TriggerDeviceType, 2) << "the old store is whole";
    QFile::setPermissions(QFileInfo(settingsFilePath()).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(Settings, StoreFollowsTheEnvironment)
{
    qputenv("XDG_CONFIG_HOME", "/somewhere/else");
    EXPECT_EQ(settingsFilePath(), "/somewhere/else/Tempovaro/settings.json");
    for (const char* ignored : {"", "relative/dir"}) {
        qputenv("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(settingsFilePath(), QDir::homePath() + "/.config/Tempovaro/settings.json");
    }

    qputenv("XDG_CONFIG_HOME", path("a/b").toLocal8Bit());
    ASSERT_TRUE(SaveSettings()) << "missing folders are created";
    EXPECT_TRUE(QFileInfo::exists(path("a/b/Tempovaro/settings.json")));
    EXPECT_EQ(modeBits(path("a")), 0700);
    EXPECT_EQ(modeBits(path("a/b/Tempovaro")), 0700);
}

TEST(Dates, DaysSinceTheEndOf1899)
{
    const auto at = [](int y, int m, int d, int h, int min) {
        return dateTimeToDate(QDateTime(QDate(y, m, d), QTime(h, min)));
    };
    EXPECT_EQ(at(1899, 12, 30, 0, 0), 0.0);
    EXPECT_EQ(at(1900, 1, 1, 18, 0), 2.75);
    EXPECT_EQ(at(1900, 3, 1, 12, 0), 61.5);
    EXPECT_EQ(at(2026, 12, 7, 6, 0), 46363.25);
    EXPECT_EQ(at(1899, 12, 29, 6, 0), -1.25);

    const double before = dateTimeToDate(QDateTime::currentDateTime());
    const double now = nowAsDate();
    const double after = dateTimeToDate(QDateTime::currentDateTime());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    EXPECT_GT(now, 45000.0);
}

} // namespace

namespace {

QJsonObject storeOnDisk()
{
    return QJsonDocument::fromJson(fileBytes(settingsFilePath())).object();
}

} // namespace

TEST_F(Settings, StoreThatCannotBeReadIsKeptAsABackupBeforeTheSave)
{
    writeStore(goodKey());
    QByteArray huge = fileBytes(settingsFilePath());
    huge.append(QByteArray(1024 * 1024, ' '));
    const QByteArray unreadable[] = {
        R"({"Software\\Tempovaro": {"MidiNoteNr": )", // cut short
        "[1, 2, 3]",
        R"({"Software\\Tempovaro": "not a key", "Other": 1})",
        huge,
    };
    int n = 0;
    for (const QByteArray& bytes : unreadable) {
        SCOPED_TRACE(bytes.left(60).toStdString());
        ASSERT_TRUE(writeBytes(settingsFilePath(), bytes));
        EXPECT_FALSE(LoadSettings());
        ASSERT_TRUE(SaveSettings());
        const QString backup = settingsFilePath() + ".bak" + (n == 0 ? QString() : QString::number(n));
        EXPECT_EQ(fileBytes(backup), bytes) << "earlier backups are never overwritten";
        EXPECT_TRUE(LoadSettings()) << "the new store is whole";
        ++n;
    }

    // A readable store with a bad value is the program's own and is rewritten in place.
    writeStore({{"MidiNoteNr", stringValue("38")}, {"Foreign", stringValue("kept")}});
    ASSERT_TRUE(SaveSettings());
    EXPECT_FALSE(QFileInfo::exists(settingsFilePath() + ".bak" + QString::number(n)));
    EXPECT_EQ(storeOnDisk().value("Software\\Tempovaro").toObject().value("Foreign"), stringValue("kept"));
}

TEST_F(Settings, StoreWithNoFreeBackupNameIsNotSavedOver)
{
    const QString store = settingsFilePath();
    QDir().mkpath(QFileInfo(store).path());
    ASSERT_TRUE(writeBytes(store, "{ broken"));
    ASSERT_TRUE(writeBytes(store + ".bak", "old"));
    for (int i = 1; i < 1000; ++i)
        ASSERT_TRUE(writeBytes(store + ".bak" + QString::number(i), "old"));
    EXPECT_FALSE(SaveSettings());
    EXPECT_EQ(fileBytes(store), "{ broken");
}

TEST_F(Settings, ByteOrderMarkBeforeTheStoreIsRead)
{
    writeStore(goodKey());
    ASSERT_TRUE(writeBytes(settingsFilePath(), "\xEF\xBB\xBF" + fileBytes(settingsFilePath())));
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), 38);
    EXPECT_EQ(ProgramSettings.DisplayMode, 2);
    ASSERT_TRUE(SaveSettings());
    EXPECT_FALSE(QFileInfo::exists(settingsFilePath() + ".bak"));
}

TEST_F(Settings, ValuesOfOtherVersionsSurviveALoadAndASave)
{
    QJsonObject key = goodKey();
    const QJsonObject foreignValues{
        {"AudioDetector", int32Value(1)},
        {"FutureBlock", binaryValue(QByteArray("\x00\xff\x10", 3))},
        {"Wide", QJsonObject{{"type", "int64"}, {"data", qint64(9007199254740993)}}},
        {"Odd", QJsonArray{1, "two", QJsonObject{{"three", 3.5}}}},
    };
    for (auto it = foreignValues.begin(); it != foreignValues.end(); ++it)
        key.insert(it.key(), it.value());
    const QJsonObject otherKey{{"Program", stringValue("someone else's")}};
    QDir().mkpath(QFileInfo(settingsFilePath()).path());
    ASSERT_TRUE(writeBytes(settingsFilePath(),
                         QJsonDocument(QJsonObject{{"Software\\Tempovaro", key}, {"Software\\Other", otherKey}, {"Version", 7}})
                             .toJson()));

    ASSERT_TRUE(LoadSettings());
    DeviceProperties.storeMidiNoteNr(40);
    ASSERT_TRUE(SaveSettings());

    const QJsonObject saved = storeOnDisk();
    const QJsonObject savedKey = saved.value("Software\\Tempovaro").toObject();
    for (auto it = foreignValues.begin(); it != foreignValues.end(); ++it)
        EXPECT_EQ(savedKey.value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(savedKey.value("MidiNoteNr"), int32Value(40));
    EXPECT_EQ(saved.value("Software\\Other").toObject(), otherKey);
    EXPECT_EQ(saved.value("Version"), QJsonValue(7));
}

TEST_F(Settings, AudioDetectorIsReadAfterTheEightValuesAndNeverFailsTheLoad)
{
    struct Case {
        QJsonValue stored; // undefined: no such value
        std::int32_t expected;
    };
    const Case cases[] = {
        {QJsonValue::Undefined, kAudioDetectorStandard},
        {int32Value(1), kAudioDetectorFast},
        {int32Value(0), kAudioDetectorStandard},
        {int32Value(2), kAudioDetectorStandard},
        {int32Value(-1), kAudioDetectorStandard},
        {stringValue("1"), kAudioDetectorStandard},
        {binaryValue(QByteArray("\x01\x00\x00\x00", 4)), kAudioDetectorStandard},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QJsonDocument(QJsonArray{c.stored}).toJson().toStdString());
        SetDefaultSettings();
        DeviceProperties.AudioDetector = kAudioDetectorFast; // a load must replace it
        QJsonObject key = goodKey();
        if (!c.stored.isUndefined())
            key["AudioDetector"] = c.stored;
        writeStore(key);
        EXPECT_TRUE(LoadSettings());
        EXPECT_EQ(DeviceProperties.AudioDetector, c.expected);
        EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), 38) << "the eight values load as before";
    }
}

TEST_F(Settings, AudioDetectorRoundTripsAndStaysOutOfAStoreThatNeverChoseIt)
{
    ASSERT_TRUE(SaveSettings());
    EXPECT_FALSE(storedKey().contains("AudioDetector"));

    DeviceProperties.AudioDetector = kAudioDetectorFast;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(storedKey().value("AudioDetector"), int32Value(1));
    SetDefaultSettings();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(DeviceProperties.AudioDetector, kAudioDetectorFast);

    // Back to Standard: the value is rewritten, not left saying Fast.
    DeviceProperties.AudioDetector = kAudioDetectorStandard;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(storedKey().value("AudioDetector"), int32Value(0));

    TQX_DeviceProperties copy;
    copy = DeviceProperties;
    DeviceProperties.AudioDetector = kAudioDetectorFast;
    EXPECT_EQ(TQX_DeviceProperties(DeviceProperties).AudioDetector, kAudioDetectorFast) << "copied with the record";
    EXPECT_EQ(copy.AudioDetector, kAudioDetectorStandard);
}

TEST_F(Settings, ClickSettingsRoundTripAfterTheEightAndReadEachOnItsOwn)
{
    ASSERT_TRUE(SaveSettings());
    EXPECT_FALSE(storedKey().contains("ClickTempo")) << "a store that never saw the click keeps its values";

    TQX_ClickSettings chosen;
    chosen.WithMeasurement = true;
    chosen.TempoBpm = 184;
    chosen.Subdivision = 6;
    chosen.Accent = false;
    chosen.CountIn = false;
    chosen.BarsOn = 2;
    chosen.BarsOff = 1;
    chosen.VolumePercent = 35;
    chosen.DeviceID = "plughw:CARD=PCH,DEV=0";
    chosen.LatencyUs = -2750;
    chosen.MidiLatencyUs = 31500;
    chosen.MidiSpreadUs = 6200;
    ClickSettings = chosen;
    ASSERT_TRUE(SaveSettings());
    ClickSettings = TQX_ClickSettings{};
    ASSERT_TRUE(LoadSettings());
    EXPECT_TRUE(ClickSettings == chosen);

    // Damaged values: each falls back to its own default; the load still succeeds.
    QJsonObject key = storedKey();
    key["ClickTempo"] = int32Value(301);
    key["ClickSubdivision"] = int32Value(5);
    key["ClickAccent"] = stringValue("1");
    key["ClickLatencyUs"] = int32Value(5000000);
    key["ClickMidiSpreadUs"] = int32Value(-1);
    writeStore(key);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(ClickSettings.TempoBpm, 120);
    EXPECT_EQ(ClickSettings.Subdivision, 1);
    EXPECT_TRUE(ClickSettings.Accent);
    EXPECT_EQ(ClickSettings.LatencyUs, 0);
    EXPECT_EQ(ClickSettings.MidiSpreadUs, 0);
    EXPECT_EQ(ClickSettings.MidiLatencyUs, chosen.MidiLatencyUs);
    EXPECT_EQ(ClickSettings.BarsOff, 1);
    EXPECT_EQ(ClickSettings.DeviceID, chosen.DeviceID);
    EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), storedKey().value("MidiNoteNr").toObject().value("data").toInt());
}
