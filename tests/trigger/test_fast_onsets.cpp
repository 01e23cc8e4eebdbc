// The fast detector's published stroke times: each decided stroke waits for
// the envelope after it, then is published at its onset and judged against
// the recording time on that onset.
#include "DrumCorpus.h"
#include "trigger/QX_FastAudioTriggerDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

TEST(FastDetectorOnsets, AStrokeAtTheEndIsJudgedAndPublishedOnItsOnset)
{
    if (!drum::kitsPresent())
        GTEST_SKIP() << "hydrogen-drumkits is not installed";
    // A stroke waits 10 ms after its rise for its onset. One whose onset lies
    // 1 ms inside a timed run's end counts, one 1 ms past it does not, and
    // count and published strokes agree, whether the input goes on or ends
    // (a file, a stopped device) 6 ms after that stroke, before its wait is over.
    const std::int64_t first = drum::kRate / 2;
    const std::int64_t oneMs = drum::kRate / 1000;
    // Where this pad's onset lies against its attack.
    const auto alone = drum::padAt({{first, 0.8f}}, drum::kRate);
    TQX_FastAudioTriggerDevice probe("");
    probe.Start(-1);
    probe.AnalyzeSamples(alone.samples.data(), static_cast<std::int32_t>(alone.samples.size() * 2));
    std::vector<StrokeEvent> probed;
    probe.drainStrokeEvents(probed);
    ASSERT_EQ(probed.size(), 1u);
    const std::int64_t lead = probed[0].tick - first;
    const std::int64_t end = TQX_TriggerDevice::lastTickInside(probed[0].tick, 1000, drum::kRate);
    for (const std::int64_t past : {-oneMs, oneMs}) {
        for (const std::int64_t tail : {6 * oneMs, 100 * oneMs}) {
            const std::int64_t last = end + past - lead;
            const auto r = drum::padAt({{first, 0.8f}, {first + drum::kRate / 2, 0.8f}, {last, 0.8f}}, last + tail);
            TQX_FastAudioTriggerDevice device("");
            device.Start(1000);
            std::vector<StrokeEvent> events;
            for (std::size_t at = 0; at < r.samples.size() && !device.IsTimeOver(); at += 441) {
                const std::size_t n = std::min<std::size_t>(441, r.samples.size() - at);
                device.AnalyzeSamples(r.samples.data() + at, static_cast<std::int32_t>(n * 2));
                device.drainStrokeEvents(events);
            }
            device.finishInput();
            device.drainStrokeEvents(events);
            SCOPED_TRACE(testing::Message() << "onset " << past << " past the end, input " << tail << " after it");
            EXPECT_EQ(device.GetCount(), past < 0 ? 3 : 2);
            ASSERT_EQ(events.size(), static_cast<std::size_t>(device.GetCount()));
            EXPECT_EQ(events.back().tick, past < 0 ? end + past : first + drum::kRate / 2 + lead);
            // With input to spare the device closes the recording on its own.
            if (tail > 10 * oneMs) {
                EXPECT_TRUE(device.IsTimeOver());
            }
        }
    }
}
