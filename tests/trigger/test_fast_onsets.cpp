// The fast detector's published stroke times: each decided stroke waits for
// the envelope after it, then is published at its onset and judged against
// the recording time on that onset.
#include "DrumCorpus.h"
#include "trigger/QX_FastAudioTriggerDevice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

TEST(FastDetectorOnsets, AStrokeAtTheEndIsJudgedAndPublishedOnItsOnset)
{
    if (!drum::kitsPresent())
        GTEST_SKIP() << "hydrogen-drumkits is not installed";
    // A stroke waits 10 ms after its rise for its onset. One whose onset lies
    // 1 ms inside a timed run's end counts, one 1 ms past it does not, and
    // count and published strokes agree, whether the input goes on or ends
    // (a file, a stopped device) 6 ms after that stroke, before its wait is over.
    const auto feed = [](TQX_FastAudioTriggerDevice& device, const drum::Samples& s) {
        device.AnalyzeSamples(s.data(), static_cast<std::int32_t>(s.size() * 2));
        const bool closedByItself = device.IsTimeOver();
        device.finishInput();
        std::vector<StrokeEvent> events;
        device.drainStrokeEvents(events);
        return std::pair{events, closedByItself};
    };
    const std::int64_t first = drum::kRate / 2, second = first + drum::kRate / 2, oneMs = drum::kRate / 1000;
    TQX_FastAudioTriggerDevice probe("");
    probe.Start(-1);
    const auto alone = feed(probe, drum::padAt({{first, 0.8f}}, drum::kRate).samples).first;
    ASSERT_EQ(alone.size(), 1u);
    const std::int64_t lead = alone[0].tick - first; // where this pad's onset lies against its attack
    const std::int64_t end = TQX_TriggerDevice::lastTickInside(alone[0].tick, 1000, drum::kRate);
    for (const std::int64_t past : {-oneMs, oneMs}) {
        for (const std::int64_t tail : {6 * oneMs, 100 * oneMs}) {
            const std::int64_t last = end + past - lead;
            TQX_FastAudioTriggerDevice device("");
            device.Start(1000);
            const auto [events, closedByItself] =
                feed(device, drum::padAt({{first, 0.8f}, {second, 0.8f}, {last, 0.8f}}, last + tail).samples);
            SCOPED_TRACE(testing::Message() << "onset " << past << " past the end, input " << tail << " after it");
            EXPECT_EQ(device.GetCount(), past < 0 ? 3 : 2);
            ASSERT_EQ(events.size(), static_cast<std::size_t>(device.GetCount()));
            EXPECT_EQ(events.back().tick, past < 0 ? end + past : second + lead);
            // With input to spare the device closes the recording on its own.
            EXPECT_TRUE(closedByItself || tail < 10 * oneMs);
        }
    }
}
