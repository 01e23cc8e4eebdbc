// Attempts played from recordings into a private sound server (PulseAudio,
// or PipeWire when TEMPOVARO_RIG says so) and captured live through
// ALSA with the audit tap attached: each kept recording, counted again, must
// give the live count, and its digest must verify, whatever the real-time
// capture did to the block boundaries. TEMPOVARO_RIG_ATTEMPTS sets how many
// attempts to play (2 unless told; the rig's long run plays 50).

#include "ChildProcess.h"
#include "DrumRecording.h"
#include "audit/AuditStore.h"
#include "audit/AuditWriter.h"
#include "RigServer.h"
#include "ServerEnvironment.h"
#include "WaitUntil.h"
#include "capture/QX_AlsaAudio.h"

#include <gtest/gtest.h>

#include "QtTempFolder.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

using Rig = ServerEnvironment<RigServer>;
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new Rig);

} // namespace

TEST(AuditRig, LiveAttemptsRecountToTheirLiveCount)
{
    if (!RigServer::binaryPresent() || !drum::kitsPresent())
        GTEST_SKIP() << "the sound server or hydrogen-drumkits is not installed";
    ASSERT_TRUE(Rig::server() && Rig::server()->running());
    QtTempFolder folder;
    AuditStore store(folder.path());
    const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");

    struct Attempt {
        double perSecond;
        float gain;
    };
    const Attempt kinds[] = {{9.0, 1.0f}, {17.0, 0.6f}, {12.5, 0.8f}, {21.0, 1.0f}, {6.0, 0.4f}};
    const char* requested = std::getenv("TEMPOVARO_RIG_ATTEMPTS");
    const int attempts = requested ? std::atoi(requested) : 2;
    int verified = 0;
    // 3 s attempts; the roll runs on past the end.
    for (int n = 0; n < attempts; ++n) {
        const Attempt a = kinds[n % std::size(kinds)];
        SCOPED_TRACE(n);
        const std::string path = Rig::server()->dir() + "/attempt.wav";
        const auto strokes = drum::evenStrokes(22050, 44100 / a.perSecond, static_cast<int>(4.5 * a.perSecond), a.gain);
        ASSERT_TRUE(drum::writeWav(path, drum::render(hit, strokes, 6 * 44100, 0.001f)));

        AuditWriter writer;
        auto device = CreateAudioTriggerDevice(RigServer::device());
        ASSERT_TRUE(device->attachSampleTap(&writer.tap()));
        device->Start(3000);
        const pid_t player = Rig::server()->playAsync(path);
        bool spanSet = false;
        const bool captured = waitUntil(
            [&] {
                device->drainStrokeEvents([&](const StrokeEvent& e) {
                    if (spanSet)
                        return;
                    const AuditSpan span = auditSpan(e.tick, e.tick, 3000);
                    writer.keepFrom(span.from);
                    writer.keepUntil(span.until);
                    spanSet = true;
                });
                return spanSet && writer.capturedThrough();
            },
            15000, 20);
        EXPECT_EQ(waitForExit(player), 0);
        ASSERT_TRUE(captured);
        device->finishInput();
        AuditRecord r;
        r.count = device->GetCount();
        r.timeLimitMs = 3000;
        r.dropouts = device->captureDropouts();
        device.reset();
        const AuditRecording rec = writer.finish();
        r.lostBlocks = rec.lostBlocks;
        r.settleSamples = rec.firstSample > 0 ? kAuditSettleSamples : 0;
        EXPECT_FALSE(r.flagged());
        // The detector's own misses on a ringing snare are not the point here.
        EXPECT_GT(r.count, 2 * a.perSecond);
        QString error;
        ASSERT_TRUE(store.save(r, QByteArray(reinterpret_cast<const char*>(rec.flac.data()),
                                             static_cast<qsizetype>(rec.flac.size())),
                               QStringLiteral(".flac"), error));
        const AuditCheck check = verifyAudit(folder.path(), r.id);
        EXPECT_EQ(check.outcome, AuditCheck::Outcome::Verified) << check.message.toStdString();
        verified += check.outcome == AuditCheck::Outcome::Verified ? 1 : 0;
    }
    std::printf("%d of %d attempts verified on %s\n", verified, attempts, RigServer::device());
}
