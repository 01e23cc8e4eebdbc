// The audit trail end to end on made-up attempts: blocks go through a
// device's capture path into the audit writer, the attempt is saved and
// sealed, and the recount must agree with the live count; any change to the
// recording or the result must break the check.

#include "DrumRecording.h"
#include "FileBytes.h"
#include "ToolRunner.h"
#include "WaitUntil.h"
#include "analysis/SignalTones.h"
#include "audit/AttemptFlow.h"
#include "audit/AuditRecord.h"
#include "audit/AuditStore.h"
#include "audit/AuditWriter.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include "QtTempFolder.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

namespace {

// A capture back-end the test drives: it keeps the handler the device
// gives it, and the test calls it as the capture thread would.
class HandCapture : public TQX_AudioInput {
public:
    explicit HandCapture(QX_SampleHandler* handler, std::uint32_t* overruns) : m_handler(handler), m_overruns(overruns)
    {
    }
    HRESULT BuildGraph(const std::string&, QX_SampleHandler onSamples) override
    {
        *m_handler = onSamples;
        return S_OK;
    }
    HRESULT Run() override { return S_OK; }
    HRESULT SetInputLine(const std::string&, float) override { return S_OK; }
    std::uint32_t overrunCount() const override { return *m_overruns; }

private:
    QX_SampleHandler* m_handler;
    std::uint32_t* m_overruns;
};

// A short synthetic stick click: a decaying 2 kHz burst.
std::vector<float> click()
{
    std::vector<float> hit(660);
    for (std::size_t i = 0; i < hit.size(); ++i)
        hit[i] = 0.6f * std::exp(-static_cast<float>(i) / 90.0f) * std::sin(2.0f * 3.14159265f * 2000.0f * i / 44100.0f);
    return hit;
}

struct Attempt {
    std::int32_t liveCount = 0;
    AuditRecording recording;
    std::uint32_t dropouts = 0;
};

// Plays samples into a device of the given kind through its capture path
// with the writer's tap attached, doing on each block what the competition
// window does on its tick.
Attempt play(const drum::Samples& samples, AuditDetector detector, std::int32_t timeLimitMs, std::uint32_t overruns = 0)
{
    QX_SampleHandler handler;
    std::uint32_t overrunCount = overruns;
    std::unique_ptr<TQX_TriggerDevice> device;
    if (detector == AuditDetector::Fast)
        device = std::make_unique<TQX_FastAudioTriggerDevice>("x", std::make_unique<HandCapture>(&handler, &overrunCount));
    else
        device = std::make_unique<TQX_AudioTriggerDevice>("x", std::make_unique<HandCapture>(&handler, &overrunCount));
    AuditWriter writer;
    EXPECT_TRUE(device->attachSampleTap(&writer.tap()));
    device->Start(timeLimitMs);
    bool spanSet = false;
    std::vector<unsigned char> bytes(1764 * 2);
    for (std::size_t at = 0; at < samples.size(); at += 1764) {
        const std::size_t n = std::min<std::size_t>(1764, samples.size() - at);
        for (std::size_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint16_t>(samples[at + i]);
            bytes[2 * i] = static_cast<unsigned char>(v & 0xff);
            bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        handler(bytes.data(), static_cast<std::int32_t>(n * 2));
        // The capture runs in real time, the test far faster: let the writer
        // catch up before its ring (about six seconds) could fill.
        if (at % (64 * 1764) == 0) {
            EXPECT_TRUE(waitUntil([&] { return writer.tap().empty(); }));
        }
        device->drainStrokeEvents([&](const StrokeEvent& e) {
            if (!spanSet) {
                const AuditSpan span = auditSpan(e.tick, e.tick, timeLimitMs);
                writer.keepFrom(span.from);
                writer.keepUntil(span.until);
                spanSet = true;
            }
        });
        if (spanSet && writer.capturedThrough())
            break;
    }
    device->finishInput();
    Attempt a;
    a.liveCount = device->GetCount();
    a.dropouts = device->captureDropouts();
    a.recording = writer.finish();
    return a;
}

AuditRecord recordOf(const Attempt& a, AuditDetector detector, std::int32_t timeLimitMs)
{
    AuditRecord r;
    r.competition = QStringLiteral("Club night");
    r.drummer = QStringLiteral("Ana =cmd");
    r.timeLimitMs = timeLimitMs;
    r.count = a.liveCount;
    r.device = QStringLiteral("Pad");
    r.detector = detector;
    r.version = QStringLiteral("1.0");
    r.dropouts = a.dropouts;
    r.lostBlocks = a.recording.lostBlocks;
    r.settleSamples = a.recording.firstSample > 0 ? kAuditSettleSamples : 0;
    return r;
}

QByteArray bytesOf(const std::vector<unsigned char>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

TEST(Audit, RecountEqualsLiveCountAndTamperingIsCaught)
{
    // 3 s of quiet room, then a roll at 13.7 strokes a second that runs past
    // the 10 s recording time: strokes after the end must stay uncounted in
    // the recount too.
    const auto strokes = drum::evenStrokes(3 * 44100, 44100.0 / 13.7, 190, 0.8f);
    const drum::Samples signal = drum::render(click(), strokes, 18 * 44100, 0.002f);

    for (const AuditDetector detector : {AuditDetector::Standard, AuditDetector::Fast}) {
        SCOPED_TRACE(detectorName(detector).toStdString());
        const Attempt a = play(signal, detector, 10000);
        ASSERT_GT(a.liveCount, 130);
        ASSERT_LT(a.liveCount, 190);
        ASSERT_TRUE(a.recording.error.empty()) << a.recording.error;
        // A second before the first stroke (onset near 3 s) to a second after the end.
        EXPECT_NEAR(a.recording.firstSample, 2 * 44100, 441);
        EXPECT_NEAR(a.recording.frames, 12 * 44100, 441);
        EXPECT_EQ(a.recording.lostBlocks, 0u);

        QtTempFolder dir;
        AuditStore store(dir.path());
        AuditRecord r = recordOf(a, detector, 10000);
        QString error;
        ASSERT_TRUE(store.save(r, bytesOf(a.recording.flac), QStringLiteral(".flac"), error)) << error.toStdString();
        const AuditCheck ok = verifyAudit(dir.path(), r.id);
        EXPECT_EQ(ok.outcome, AuditCheck::Outcome::Verified) << ok.message.toStdString();
        EXPECT_EQ(ok.message, QStringLiteral("verified: %1 = %1").arg(a.liveCount));
        qputenv("TEMPOVARO_AUDIT_DIR", QFile::encodeName(dir.path()));
        const ToolRun verified = runCountTool({"--verify", std::to_string(r.id)});
        EXPECT_EQ(verified.status, 0) << verified.err;
        EXPECT_EQ(verified.out, "verified: " + std::to_string(a.liveCount) + " = " + std::to_string(a.liveCount) + "\n");

        struct Tamper {
            const char* what;
            std::function<void()> apply;
            AuditCheck::Outcome outcome;
        };
        const QString flacPath = QDir(dir.path()).filePath(r.recording);
        const QString jsonPath = QDir(dir.path()).filePath(QString::number(r.id) + QStringLiteral(".json"));
        auto rewrite = [](const QString& path, const std::function<void(QByteArray&)>& change) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            QByteArray b = f.readAll();
            change(b);
            f.resize(0);
            f.seek(0);
            f.write(b);
        };
        const Tamper tampers[] = {
            {"one byte of the recording", [&] { rewrite(flacPath, [](QByteArray& b) { b[b.size() / 2] = char(b[b.size() / 2] ^ 0x01); }); },
             AuditCheck::Outcome::BrokenDigest},
            {"the count", [&] { rewrite(jsonPath, [&](QByteArray& b) {
                 b.replace(QByteArray("\"count\": ") + QByteArray::number(a.liveCount),
                           QByteArray("\"count\": ") + QByteArray::number(a.liveCount + 1)); }); },
             AuditCheck::Outcome::BrokenDigest},
            // A result sealed anew with another count: the digest holds, the recount does not.
            {"a resealed count", [&] {
                 AuditRecord forged = r;
                 forged.count = a.liveCount + 3;
                 QFile f(flacPath);
                 ASSERT_TRUE(f.open(QIODevice::ReadOnly));
                 forged.digest = auditDigest(forged, f.readAll());
                 rewrite(jsonPath, [&](QByteArray& b) { b = forged.toJson(); }); },
             AuditCheck::Outcome::Mismatch},
        };
        QFile::copy(flacPath, flacPath + ".orig");
        QFile::copy(jsonPath, jsonPath + ".orig");
        for (const Tamper& t : tampers) {
            SCOPED_TRACE(t.what);
            QFile::remove(flacPath);
            QFile::remove(jsonPath);
            QFile::copy(flacPath + ".orig", flacPath);
            QFile::copy(jsonPath + ".orig", jsonPath);
            t.apply();
            const AuditCheck bad = verifyAudit(dir.path(), r.id);
            EXPECT_EQ(bad.outcome, t.outcome) << bad.message.toStdString();
            EXPECT_EQ(runCountTool({"--verify", std::to_string(r.id)}).status, 1);
        }
    }
}

TEST(Audit, CaptureOverrunsFlagTheAttempt)
{
    // The overruns the capture reports reach the record through the device,
    // and an attempt with any of them is flagged for the judges.
    const drum::Samples signal = drum::render(click(), drum::evenStrokes(44100, 4410, 30), 5 * 44100, 0.002f);
    const Attempt clean = play(signal, AuditDetector::Standard, 2000);
    const Attempt holed = play(signal, AuditDetector::Standard, 2000, 3);
    EXPECT_FALSE(recordOf(clean, AuditDetector::Standard, 2000).flagged());
    EXPECT_EQ(holed.dropouts, 3u);
    EXPECT_TRUE(recordOf(holed, AuditDetector::Standard, 2000).flagged());
}

TEST(Audit, CountdownHeardByTheMicrophoneIsNoStroke)
{
    // The countdown's beeps reach a drum's microphone: neither detector may
    // take them for strokes (a false start), in a silent or a noisy room.
    // The room starts a second early, so the detectors settle first.
    const std::vector<std::int16_t> beeps = countdownSignal(AttemptFlow::kBeats, AttemptFlow::kBeatMs);
    ASSERT_EQ(beeps.size(), static_cast<std::size_t>(AttemptFlow::goMs()) * 441 / 10);
    for (const float noise : {0.0f, 0.0003f, 0.003f, 0.01f}) {
        drum::Samples room = drum::render({}, {}, static_cast<std::int64_t>(beeps.size()) + 2 * 44100, noise);
        for (std::size_t i = 0; i < beeps.size(); ++i)
            room[44100 + i] = static_cast<std::int16_t>(std::clamp(room[44100 + i] + beeps[i], -32768, 32767));
        for (const AuditDetector d : {AuditDetector::Standard, AuditDetector::Fast})
            EXPECT_EQ(recountSamples(room, d, -1, kAuditSettleSamples), 0) << noise << " " << detectorName(d).toStdString();
    }
}

TEST(Audit, MidiEventsRecountAndRejectMalformedText)
{
    // Counted strokes 60 ms apart from 5 s on; a 2 s recording time counts 34
    // of them (0 .. 1.98 s; the end's last millisecond is left out).
    std::vector<StrokeEvent> events;
    for (int i = 0; i < 50; ++i)
        events.push_back(StrokeEvent{50'000'000 + i * 600'000LL, 100.0f / 127.0f, 38});
    const std::string text = midiEventsText(events);
    const auto parsed = parseMidiEvents(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(recountMidiEvents(*parsed, 2000), 34);
    EXPECT_EQ(recountMidiEvents(*parsed, -1), 50);
    for (const char* bad : {"12 38\n", "12 38 0\n", "12 200 5\n", "x 38 5\n", "12 38 5 9\n"})
        EXPECT_FALSE(parseMidiEvents(bad).has_value()) << bad;
}

TEST(Audit, LostBlocksAreFilledSoLaterSamplesKeepTheirTime)
{
    // The writer falls behind a tap written without pause: whatever the ring
    // refused comes back as silence, and every sample that got through sits
    // at its own position in the file.
    AuditWriter writer;
    writer.keepFrom(0);
    std::vector<unsigned char> block(2 * SampleBlock::kFrames);
    std::int64_t written = 0;
    while (writer.tap().overflowBlocks() == 0 && written < 2'000'000 * 1024LL) {
        for (int i = 0; i < SampleBlock::kFrames; ++i) {
            const auto v = static_cast<std::uint16_t>(1 + (written + i) % 30000);
            block[2 * i] = static_cast<unsigned char>(v & 0xff);
            block[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        writer.tap().write(block.data(), static_cast<std::int32_t>(block.size()));
        written += SampleBlock::kFrames;
    }
    // One more after the loss, once there is room, so the gap is followed
    // by real samples.
    ASSERT_TRUE(waitUntil([&] { return writer.tap().empty(); }));
    writer.tap().write(block.data(), static_cast<std::int32_t>(block.size()));
    written += SampleBlock::kFrames;
    const AuditRecording rec = writer.finish();
    ASSERT_GT(rec.lostBlocks, 0u);
    EXPECT_EQ(rec.firstSample, 0);
    EXPECT_EQ(rec.frames, written);

    QtTempFolder dir;
    const QString path = dir.filePath(QStringLiteral("gap.flac"));
    ASSERT_TRUE(writeBytes(path, bytesOf(rec.flac)));
    SF_INFO info{};
    SNDFILE* sf = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr);
    std::vector<std::int16_t> got(static_cast<std::size_t>(info.frames));
    ASSERT_EQ(sf_read_short(sf, got.data(), info.frames), written);
    sf_close(sf);
    std::int64_t silent = 0;
    for (std::int64_t i = 0; i < written - SampleBlock::kFrames; ++i) {
        if (got[static_cast<std::size_t>(i)] == 0)
            ++silent;
        else
            ASSERT_EQ(got[static_cast<std::size_t>(i)], 1 + i % 30000) << "sample " << i;
    }
    EXPECT_EQ(silent, static_cast<std::int64_t>(rec.lostBlocks) * SampleBlock::kFrames);
}

TEST(Audit, ADetachedTapIsLeftAloneAndCanBeFreedAtOnce)
{
    // A capture thread delivers without pause while taps are attached,
    // detached and freed: after a detach returns, the old tap gets nothing
    // more (the sanitizers would see a write into a freed tap).
    QX_SampleHandler handler;
    std::uint32_t overruns = 0;
    TQX_AudioTriggerDevice device("x", std::make_unique<HandCapture>(&handler, &overruns));
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> passes{0};
    std::thread capture([&] {
        std::vector<unsigned char> block(2 * 64, 0);
        while (!stop.load()) {
            handler(block.data(), static_cast<std::int32_t>(block.size()));
            passes.fetch_add(1);
        }
    });
    std::int64_t tapsFed = 0;
    for (int round = 0; round < 200; ++round) {
        auto tap = std::make_unique<SampleTap>();
        ASSERT_TRUE(device.attachSampleTap(tap.get()));
        const std::int64_t from = passes.load();
        ASSERT_TRUE(waitUntil([&] { return passes.load() > from + 1; }));
        device.attachSampleTap(nullptr);
        tapsFed += tap->empty() ? 0 : 1;
        while (tap->drain([](const SampleBlock&) {}) > 0) {
        }
        const std::int64_t detachedAt = passes.load();
        ASSERT_TRUE(waitUntil([&] { return passes.load() > detachedAt + 1; }));
        EXPECT_TRUE(tap->empty()) << "round " << round;
    }
    stop.store(true);
    capture.join();
    EXPECT_EQ(tapsFed, 200);
}
