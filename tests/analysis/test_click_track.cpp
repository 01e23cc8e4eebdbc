// The click generator: every click on its sample, of its kind, whatever
// blocks the stream is rendered in.
#include "analysis/ClickTrack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 44100.0;

std::vector<std::int16_t> renderInBlocks(ClickGenerator& g, std::int64_t total, const std::vector<std::int32_t>& blocks,
                                         std::vector<RenderedClick>& clicks)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(total));
    std::size_t b = 0;
    for (std::int64_t at = 0; at < total;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(blocks[b++ % blocks.size()], total - at));
        g.render(out.data() + at, n, [&](const RenderedClick& c) { clicks.push_back(c); });
        at += n;
    }
    return out;
}

} // namespace

TEST(ClickTrack, ClicksLandOnTheirSamplesInAnyBlocks)
{
    ClickSegment seg;
    seg.pattern.tempoBpm = 100.0;
    seg.pattern.subdivision = 3; // 8820 samples a point
    seg.pattern.silent = {1, 1};
    seg.pattern.volume = 0.5f;
    seg.startSample = 1000;
    seg.bars = 4;
    const std::int64_t total = *seg.endSample(kRate) + 4410;

    std::vector<std::vector<RenderedClick>> heard(3);
    std::vector<std::vector<std::int16_t>> streams;
    const std::vector<std::vector<std::int32_t>> blockings = {{44100 * 30}, {441, 1, 4103}, {1764}};
    for (std::size_t i = 0; i < blockings.size(); ++i) {
        ClickGenerator g(kRate);
        ASSERT_TRUE(g.schedule(seg));
        streams.push_back(renderInBlocks(g, total, blockings[i], heard[i]));
    }
    EXPECT_EQ(streams[1], streams[0]);
    EXPECT_EQ(streams[2], streams[0]);

    // Count-in: four beats, the first accented; then bars 0 and 2 of the
    // grid (1 and 3 are silent): per beat one beat click and two between.
    const auto& clicks = heard[0];
    ASSERT_EQ(clicks.size(), 4u + 2 * 12);
    EXPECT_EQ(heard[1].size(), clicks.size());
    EXPECT_EQ(clicks[0].kind, ClickKind::Accent);
    EXPECT_EQ(clicks[1].kind, ClickKind::Beat);
    EXPECT_EQ(clicks[1].point, -9);
    EXPECT_EQ(clicks[4].point, 0);
    EXPECT_EQ(clicks[4].kind, ClickKind::Accent);
    EXPECT_EQ(clicks[5].kind, ClickKind::Between);
    EXPECT_EQ(clicks[7].kind, ClickKind::Beat);
    EXPECT_EQ(clicks[16].point, 24); // bar 2
    const ClickGenerator g(kRate);
    const std::vector<float> levels = {g.waveform(ClickKind::Accent)[0], g.waveform(ClickKind::Beat)[0],
                                       g.waveform(ClickKind::Between)[0]};
    for (const auto& c : clicks) {
        const double exact = 1000.0 + static_cast<double>(c.point + 12) * 8820.0;
        EXPECT_LE(std::abs(static_cast<double>(c.sample) - exact), 0.5);
        // Silence, then the click at its full level on its very sample.
        EXPECT_EQ(streams[0][static_cast<std::size_t>(c.sample - 1)], 0);
        EXPECT_EQ(streams[0][static_cast<std::size_t>(c.sample)],
                  std::lround(0.5f * levels[static_cast<std::size_t>(c.kind)] * 32767.0f));
    }

    // The grid its strokes are timed against: strokes on the clicks are on time.
    std::vector<double> strokes;
    for (const auto& c : clicks)
        if (c.point >= 0)
            strokes.push_back(static_cast<double>(c.sample) / kRate);
    const auto timing = analyzeTiming(strokes, seg.grid(kRate)).figures;
    EXPECT_NEAR(*timing.all.meanMs, 0.0, 0.0114); // half a sample
    EXPECT_EQ(timing.missedGridPoints, 24);       // the silent bars
    EXPECT_EQ(timing.outsideStrokes, 0);
    EXPECT_NEAR(seg.grid(kRate, 441.0).startS - seg.grid(kRate).startS, 0.01, 1e-12);
}

TEST(ClickTrack, SegmentsFollowOneAnotherAndMakeRoomWhenEnded)
{
    ClickGenerator g(kRate);
    ClickSegment first;
    first.pattern.tempoBpm = 300.0;
    first.pattern.countIn = false;
    first.bars = 1; // four beats, 8820 samples apart
    ClickSegment endless = first;
    endless.bars = 0;
    endless.startSample = 100000;
    ASSERT_TRUE(g.schedule(first));
    for (std::size_t i = 1; i < ClickGenerator::kMaxSegments; ++i)
        ASSERT_TRUE(g.schedule(endless));
    EXPECT_FALSE(g.schedule(endless));

    std::vector<std::int16_t> out(50000);
    std::vector<RenderedClick> clicks;
    g.render(out.data(), 50000, [&](const RenderedClick& c) { clicks.push_back(c); });
    ASSERT_EQ(clicks.size(), 4u);
    EXPECT_EQ(clicks.back().sample, 3 * 8820);
    EXPECT_TRUE(g.schedule(endless)); // the finished one made room

    g.clear();
    g.render(out.data(), 50000);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t s) { return s == 0; }));
}
