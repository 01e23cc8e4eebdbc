// The fast detector at its limits and on the comparison corpus.
#include "AudioFeed.h"
#include "DrumCorpus.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"
#include "trigger/StrikeFlux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr std::int64_t kTwoMs = 88;
constexpr std::int64_t kFiveMs = 220;

struct Found {
    std::int64_t onset;
    std::int64_t countedAt; // samples fed when the count went up
    float peak;
    bool operator==(const Found&) const = default;
};

std::vector<Found> feedFast(const drum::Samples& s, std::size_t blockSamples = 1)
{
    TQX_FastAudioTriggerDevice device("");
    device.Start(-1);
    std::vector<Found> found;
    for (std::size_t at = 0; at < s.size(); at += blockSamples) {
        const std::size_t n = std::min(blockSamples, s.size() - at);
        const std::int32_t before = device.GetCount();
        device.AnalyzeSamples(s.data() + at, static_cast<std::int32_t>(n * 2));
        for (std::int32_t back = device.GetCount() - before - 1; back >= 0; --back) {
            const auto onset = device.recentOnset(back);
            found.push_back({onset.onsetSample, static_cast<std::int64_t>(at + n), onset.peakLevel});
        }
    }
    EXPECT_EQ(device.samplesSinceStart(), static_cast<std::int64_t>(s.size()));
    return found;
}

std::vector<std::int64_t> onsets(const std::vector<Found>& found)
{
    std::vector<std::int64_t> times;
    for (const auto& f : found)
        times.push_back(f.onset);
    return times;
}

// Every attack found once, at its onset to within 2 ms, and counted no more
// than 5 ms of audio after that onset.
void expectOnsetsOnTime(const drum::Recording& r, const std::vector<Found>& found)
{
    ASSERT_EQ(found.size(), r.attacks.size()) << r.name;
    for (std::size_t k = 0; k < found.size(); ++k) {
        EXPECT_NEAR(static_cast<double>(found[k].onset), static_cast<double>(r.attacks[k]), kTwoMs)
            << r.name << " stroke " << k;
        EXPECT_LE(found[k].countedAt - found[k].onset, kFiveMs) << r.name << " stroke " << k;
    }
}

class FastDetector : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!drum::kitsPresent())
            GTEST_SKIP() << "hydrogen-drumkits is not installed";
    }
};

} // namespace

// The largest flux StrikeFlux reports over samples [from, to) of x.
float largestFlux(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    StrikeFlux flux;
    flux.reset(drum::kRate);
    float largest = 0.0f;
    for (std::size_t i = 0; i < to; ++i)
        if (flux.push(x[i]) && i >= from)
            largest = std::max(largest, flux.flux());
    return largest;
}

TEST(StrikeFlux, ARingDoesNotRiseAndAStrikeDoesAtAnyLevel)
{
    // A drum's ring: three partials, two of them beating 7 Hz apart, dying
    // away over 0.7 s; a strike: 3 ms of noise falling 40 dB.
    const std::size_t n = drum::kRate;
    const auto ring = [](std::size_t i) {
        const double t = static_cast<double>(i) / drum::kRate;
        return 0.3 * std::exp(-t / 0.7)
            * (std::sin(2 * M_PI * 620 * t) + std::sin(2 * M_PI * 627 * t) + 0.5 * std::sin(2 * M_PI * 1710 * t));
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> strike(132);
    for (std::size_t i = 0; i < strike.size(); ++i)
        strike[i] = noise(random) * std::pow(0.01, static_cast<double>(i) / strike.size());
    const std::size_t at = n / 2;
    const struct {
        double ringGain;
        double strikeGain;
        bool rises;
    } cases[] = {
        {1.0, 0.0, false},
        // A ghost note 20 dB under an accent of 0.3, out of the room and
        // out of the ring the accent left 300 ms before it.
        {0.0, 0.03, true},
        {0.0, 0.3, true},
        {1.0, 0.1, true},
    };
    std::vector<float> lone;
    for (const auto& c : cases) {
        std::vector<float> x(n);
        for (std::size_t i = 0; i < n; ++i)
            x[i] = static_cast<float>(c.ringGain * ring(i) + 1e-4 * noise(random));
        for (std::size_t i = 0; i < strike.size(); ++i)
            x[at + i] += static_cast<float>(c.strikeGain * strike[i]);
        // From 20 ms on: the ring's own start is an attack.
        const float before = largestFlux(x, 882, at);
        const float after = largestFlux(x, at, at + 441);
        EXPECT_LT(before, 15.0f) << c.ringGain << " " << c.strikeGain;
        if (c.rises)
            EXPECT_GE(after, 15.0f) << c.ringGain << " " << c.strikeGain;
        else
            EXPECT_LT(after, 15.0f) << c.ringGain;
        if (c.ringGain == 0.0)
            lone.push_back(after);
    }
    // In decibels: a stroke 20 dB softer rises out of the room nearly as
    // far (each band counts 12 dB at most, 72 in all).
    ASSERT_EQ(lone.size(), 2u);
    EXPECT_NEAR(lone[0], lone[1], 12.0f);
}

TEST(FastDetectorSignals, SilenceAndDigitalNoiseCountNothing)
{
    drum::Samples s(3 * drum::kRate, 0);
    TQX_FastAudioTriggerDevice device("");
    device.Start(-1);
    device.AnalyzeSamples(s.data(), static_cast<std::int32_t>(s.size() * 2));
    EXPECT_EQ(device.GetCount(), 0);
    EXPECT_EQ(device.GetLevel(), 0.0f);
    // The lowest bit toggling: dither, far under any stroke.
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>((i * 7919) % 3) - 1;
    device.AnalyzeSamples(s.data(), static_cast<std::int32_t>(s.size() * 2));
    EXPECT_EQ(device.GetCount(), 0);
    device.AnalyzeSamples(nullptr, 100);
    device.AnalyzeSamples(s.data(), 1);
    EXPECT_EQ(device.samplesSinceStart(), static_cast<std::int64_t>(2 * s.size()));
}

TEST(FastDetectorSignals, AClickLeakingFromHeadphonesCountsNothing)
{
    // 2 ms of 2 kHz falling fast, twice a second, peaking at -60 dBFS.
    drum::Samples s(5 * drum::kRate, 0);
    for (std::size_t at = drum::kRate / 4; at + 220 < s.size(); at += drum::kRate / 2)
        for (std::size_t i = 0; i < 220; ++i)
            s[at + i] = static_cast<std::int16_t>(std::lround(
                32.8 * std::exp(-static_cast<double>(i) / 66.0) * std::sin(2.0 * M_PI * 2000.0 * static_cast<double>(i) / drum::kRate)));
    EXPECT_TRUE(feedFast(s).empty());
}

TEST_F(FastDetector, TwoStrokesTwelveMillisecondsApartBothCountAtTheirOnsets)
{
    const std::int64_t first = drum::kRate / 2;
    const std::int64_t twelveMs = drum::kRate * 12 / 1000;
    const auto r = drum::padAt({{first, 0.8f}, {first + twelveMs, 0.7f}, {first + drum::kRate, 0.8f}}, 2 * drum::kRate);
    const auto found = feedFast(r.samples);
    expectOnsetsOnTime(r, found);
}

TEST_F(FastDetector, OneRingingStrokeAndItsEchoCountOnce)
{
    const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Hard.wav");
    const auto tom = drum::loadHit("The Black Pearl 1.0/PearlTomFloor-Hard.wav");
    for (const auto* sound : {&hit, &tom}) {
        // A full second of ring, then a quieter copy 50 ms later as a wall sends it back.
        auto s = drum::render(*sound, {{drum::kRate / 4, 0.9f}}, 2 * drum::kRate);
        const auto echo = drum::render(*sound, {{drum::kRate / 4 + drum::kRate / 20, 0.1f}}, 2 * drum::kRate);
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<std::int16_t>(std::clamp(s[i] + echo[i], -32768, 32767));
        const auto found = feedFast(s);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_NEAR(static_cast<double>(found[0].onset), drum::kRate / 4.0, kTwoMs);
    }
}

TEST_F(FastDetector, AnAttackInTwoBurstsCountsOnceFromTheFirstStroke)
{
    // This snare's attack swells again 16 ms after the stick: before a
    // pace is known the second burst must not count as another stroke.
    const auto hit = drum::loadHit("Millo-Drums_v.1/snare1.flac");
    ASSERT_FALSE(hit.empty());
    for (const double perSecond : {8.0, 12.0, 16.0}) {
        const int strokes = static_cast<int>(3 * perSecond);
        const auto s = drum::render(hit, drum::evenStrokes(drum::kRate / 4, drum::kRate / perSecond, strokes),
                                    4 * drum::kRate, 0.002f);
        EXPECT_EQ(static_cast<int>(feedFast(s).size()), strokes) << perSecond << " per second";
    }
}

TEST_F(FastDetector, LoudAndSoftStrokesOfOneDrumStartAlike)
{
    // Accents from the hard layer with ghost notes from the softest, and a
    // ringing snare's two unequal hands: every stroke's onset lies the same
    // distance from its attack, not earlier on a loud stroke's faint lead-in
    // or a ring's ripple (they spread 0.13 and 0.29 ms when they did).
    for (const auto& r : {drum::accentsAndGhosts(), drum::snareStrokes(8, 3.0)}) {
        const auto found = feedFast(r.samples);
        ASSERT_EQ(found.size(), r.attacks.size()) << r.name;
        double sum = 0.0, sumSquares = 0.0;
        for (std::size_t k = 0; k < found.size(); ++k) {
            const double error = static_cast<double>(found[k].onset - r.attacks[k]);
            sum += error;
            sumSquares += error * error;
        }
        const double n = static_cast<double>(found.size());
        EXPECT_LT(std::sqrt(sumSquares / n - (sum / n) * (sum / n)), 0.05 * drum::kRate / 1000.0) << r.name;
    }
}

TEST_F(FastDetector, StrokesRightAfterClippingCount)
{
    // One wild accent driven twice past full scale, then a normal stroke
    // 30 ms later; and a whole roll at 30 per second that clips on every stroke.
    const std::int64_t first = drum::kRate / 2;
    const auto accent = drum::padAt({{first, 6.0f}, {first + drum::kRate * 3 / 100, 0.9f}}, 2 * drum::kRate);
    std::vector<drum::Stroke> roll;
    for (int k = 0; k < 30; ++k)
        roll.push_back({first + k * drum::kRate / 30, 6.0f});
    for (const auto& r : {accent, drum::padAt(roll, 2 * drum::kRate)}) {
        ASSERT_EQ(*std::max_element(r.samples.begin(), r.samples.end()), 32767) << "the strokes must clip";
        expectOnsetsOnTime(r, feedFast(r.samples));
    }
}

TEST_F(FastDetector, BlocksOfAnySizeGiveTheSameStrokes)
{
    // Up to 4096 samples (93 ms) a block holds fewer strokes than the eight
    // recentOnset remembers.
    const auto r = drum::snareStrokes(20, 2.0);
    auto single = feedFast(r.samples, 1);
    ASSERT_GT(single.size(), 30u);
    for (auto& f : single)
        f.countedAt = 0;
    for (std::size_t block : {441u, 1764u, 4096u}) {
        auto parted = feedFast(r.samples, block);
        // Only when the count went up depends on the block; onset and level must not.
        for (auto& f : parted)
            f.countedAt = 0;
        EXPECT_EQ(parted, single) << "blocks of " << block;
    }
}

TEST_F(FastDetector, OnsetsOnTimeOnPadAndSnare)
{
    expectOnsetsOnTime(drum::padStrokes(40, 2.0), feedFast(drum::padStrokes(40, 2.0).samples));
    const auto snare = drum::snareStrokes(12, 2.0);
    expectOnsetsOnTime(snare, feedFast(snare.samples));
}

TEST_F(FastDetector, LevelReadsAsTheStandardDetectorsMeter)
{
    const auto r = drum::noisyRoom();
    TQX_FastAudioTriggerDevice fast("");
    TQX_AudioTriggerDevice standard("");
    fast.Start(-1);
    standard.Start(-1);
    for (std::size_t at = 0; at + 1764 <= r.samples.size(); at += 1764) {
        fast.AnalyzeSamples(r.samples.data() + at, 1764 * 2);
        standard.AnalyzeSamples(r.samples.data() + at, 1764 * 2);
        ASSERT_EQ(fast.GetLevel(), standard.GetLevel()) << "block at " << at;
        fast.ResetLevel();
        standard.ResetLevel();
    }
}

TEST_F(FastDetector, MeetsItsTargetsOnTheCorpus)
{
    for (const auto& r : drum::detectorCorpus()) {
        SCOPED_TRACE(r.name);
        const auto fast = drum::scoreDetections(r.attacks, onsets(feedFast(r.samples, 1764)));
        TQX_AudioTriggerDevice device("");
        device.Start(-1);
        std::vector<std::int64_t> standardTimes;
        for (const auto& s : feedInBlocks(device, r.samples, 441))
            standardTimes.push_back(s.fedSamples);
        const auto standard = drum::scoreDetections(r.attacks, standardTimes);

        if (r.name.rfind("pad", 0) == 0) {
            EXPECT_GE(fast.fMeasure(), 0.99);
        }
        if (r.name == "snare mic 20/s") {
            EXPECT_GE(fast.fMeasure(), 0.95);
        }
        if (r.attacks.empty()) {
            EXPECT_EQ(fast.detections, 0);
        }
        // Nowhere behind the standard detector: not where it is all but
        // perfect, and not on the ringing drums (the floor tom's beating
        // ring, another kit's snare at 20/s) where it is not.
        EXPECT_GE(fast.fMeasure(), standard.fMeasure() - 0.01)
            << "precision " << fast.precision() << " recall " << fast.recall();
    }
}

TEST_F(FastDetector, CountsGhostNotesAndNothingElseOnTheHardestKitCases)
{
    // Cases of the generalisation corpus each lost once: ghost notes 20 dB
    // under the accents (judged by the recent peaks they were all dropped),
    // on a pad and under a ringing snare's or stick's sound by microphone;
    // and a ringing tom played softly, whose beats must not count.
    const struct {
        const char* kit;
        const char* drum;
        const char* name;
        double leastF;
    } cases[] = {
        {"rumpf_kit_z01_h2", "e3 - snare 2", "mic 12/s ghosts", 0.97},
        {"ForzeeStereo", "Stick", "mic 16/s ghosts", 0.97},
        // The side stick's body still sounds from the accent: only the
        // ghost note's click tells it.
        {"The Black Pearl 1.0", "Pearl Side Stick", "mic 12/s ghosts", 0.95},
        {"Millo_MultiLayered2", "Tom Mid", "pad 12/s ghosts", 0.99},
        // Ghost notes under -40 dBFS between the accents of a run.
        {"ForzeeStereo", "Snare (Pearl Free Floating Maple 14x3.5)", "pad 20/s ghosts", 0.95},
        {"ColomboAcousticDrumkit", "Tom Low", "mic 4/s ghosts", 0.95},
        // Seen by the bands' flux only: ghost notes out of a ringing tom
        // and on a tom pad (0.77 and 0.88 by the envelope alone), a low
        // tom's weaker hand at 30/s (0.76) and a clipping snare at 30/s
        // (0.79), each stroke in the ring of the one before.
        {"Audiophob", "Tom Low", "mic 16/s ghosts", 0.97},
        {"Millo-Drums_v.1", "Tom Low", "pad 12/s ghosts", 0.97},
        {"rumpf_kit_z01_h2", "b3 - low tom", "mic 30/s hands", 0.97},
        {"ForzeeStereo", "Snare 2 (Pearl Free Floating Maple 14x3.5)", "mic 30/s clipped", 0.97},
        // A high tom's ring beats 20 ms before the next stroke is due, 30 dB
        // under the strokes: waived the gain on the beat, it hid two strokes.
        {"Millo_MultiLayered3", "Tom Hi", "mic 4/s clipped", 0.99},
        // A tom's body swelling 40 ms after each stroke, louder than the
        // stick's attack, and a high tom's swells at 16/s: no strike in the
        // bands, treble falling (0.65 and 0.85 before they were dropped).
        {"rumpf_kit_z01_h2", "b3 - low tom", "mic 4/s hands", 0.9},
        {"Millo-Drums_v.1", "Tom Hi", "mic 16/s clipped", 0.97},
        // The weaker hand at 40/s under the ring of the stronger: a strike
        // plain in the bands, with no gain in power (0.88 when it needed it).
        {"Millo_MultiLayered2", "Tom Low", "mic 40/s clipped", 0.93},
        // A low tom's swell about 15 ms after the stick (here before a
        // pad's choke), louder than the stroke and without a strike, once
        // the pace is known (0.73 when it counted).
        {"rumpf_kit_z01_h2", "b3 - low tom", "pad 30/s crescendo", 0.9},
        // Ghost notes on a pad between accents a second apart, struck and
        // rising 6 dB out of the room before any pace is known (0.59).
        {"BJA_Pacific", "Snare Dry", "pad 4/s ghosts", 0.9},
        // The soft stroke 25 ms after an accent on a pad, once the accent
        // has stopped: its 12 ms level, held 15 dB over the room, hid it
        // (0.84 and 0.63).
        {"BJA_Pacific", "Snare", "pad 40/s accents", 0.9},
        // A low tom's body bursting 12 ms after the stick, twice as loud, at
        // 40/s, where the refractory time ends just before it: counted, it
        // took the next stroke's place (0.82, 172 counted for 120).
        {"rumpf_kit_z01_h2", "b3 - low tom", "pad 40/s clipped", 0.99},
        // A low tom pad's ghost notes, 2 to 4 dB out of the room over the
        // high-pass after a choked stroke, with little treble and little in
        // the bands: judged as a ring's swell they were masked by the accent
        // (0.47 when they had to rise 4 dB, 0.56 when they had to be struck,
        // 0.70 and 0.42 at 40/s). Those after another ghost note need the
        // drum known to stop dead: a soft stroke's sound cannot fall 25 dB
        // into the room (0.78, 0.72 and 0.85 before).
        {"Millo_MultiLayered2", "Tom Low", "pad 12/s ghosts", 0.95},
        {"Millo-Drums_v.1", "Tom Low", "pad 40/s ghosts", 0.88},
        {"Millo_MultiLayered2", "Tom Low", "pad 40/s ghosts", 0.9},
        {"BJA_Pacific", "Tom", "pad 40/s ghosts", 0.97},
        // Ghost notes after ghost notes on a tom pad and a snare pad where
        // the room lies under 30 dB below the accents (0.65, 0.70, 0.62).
        {"ForzeeStereo", "Tom Mid (Tama Superstar 13\")", "pad 16/s ghosts", 0.99},
        {"BJA_Pacific", "Floor Tom", "pad 30/s ghosts", 0.95},
        {"ElectricEmpireKit", "Snare Low", "pad 35/s ghosts", 0.93},
        // A low tom by microphone whose ring dips into the room for a few
        // milliseconds 20 to 40 ms after a stroke and sounds again: taken
        // for a drum that stops dead, its ring's beats counted (0.94 and 0.97
        // with no wait).
        {"Audiophob", "Tom Low", "mic 12/s accents", 0.99},
        {"Audiophob", "Tom Low", "mic 20/s crescendo", 0.99},
        // A snare's ring beating 20 to 30 ms after a stroke at 4/s, before
        // the pace is known: one beat counted among 12 strokes (0.96).
        {"Millo_MultiLayered2", "Snare Rock", "mic 4/s crescendo", 0.99},
        {"Millo_MultiLayered2", "Snare Jazz", "mic 4/s clipped", 0.99},
        // A sample's own second burst 12 to 17 ms after the stick, softer and
        // with no strike in the bands, at the start of a run before any pace
        // is known (0.96 and 0.98 while it counted).
        {"Millo-Drums_v.1", "Tom Hi", "mic 8/s crescendo", 0.99},
        {"Millo_MultiLayered3", "Snare Rock", "mic 8/s accents", 0.99},
    };
    const auto drums = drum::kitDrums();
    for (const auto& c : cases) {
        const auto d = std::find_if(drums.begin(), drums.end(),
                                    [&](const drum::KitDrum& k) { return k.kit == c.kit && k.name == c.drum; });
        ASSERT_NE(d, drums.end()) << c.kit << "/" << c.drum;
        const auto only = drum::kitCases(*d, 3.0, c.name);
        ASSERT_EQ(only.size(), 1u) << c.name;
        const auto& r = only.front().recording;
        const auto score = drum::scoreDetections(r.attacks, onsets(feedFast(r.samples, 1764)));
        EXPECT_GE(score.fMeasure(), c.leastF)
            << r.name << ": precision " << score.precision() << " recall " << score.recall();
    }
}

TEST_F(FastDetector, RoomNoiseAVoiceAndAClickCountNothing)
{
    // A voice's pulses at -60 dBFS RMS peak up to -41 dBFS, each within
    // 15 dB of the last: before soft strokes had to rise out of the room
    // they counted 1,077 times a minute.
    for (const auto& r : drum::falseAlarmCorpus())
        EXPECT_EQ(feedFast(r.samples, 1764).size(), 0u) << r.name;
    // A loud room (-30 dBFS) from the first sample: the levels must have
    // settled on it when the 10 ms warm-up ends.
    for (std::uint32_t seed = 1; seed <= 4; ++seed)
        EXPECT_TRUE(feedFast(drum::render({}, {}, drum::kRate / 2, 0.0316f, seed), 1764).empty()) << seed;
}

TEST(DrumCorpusScore, EachStrokeAndDetectionMatchesOnceWithinItsWindow)
{
    // Windows run from 10 ms (441) before to 25 ms (1102) after each attack,
    // cut halfway to a neighbour: the second ends at 20250, the third starts at 20251.
    const std::vector<std::int64_t> attacks{10000, 20000, 20500};
    const auto score = drum::scoreDetections(attacks, {9558, 9559, 11103, 20250, 20251, 21603, 30000});
    // 9558 is early; 9559 hits the first; 11103 is past its window; 20250
    // hits the second; 20251 the third; 21603 is late; 30000 is nowhere.
    EXPECT_EQ(score.hits, 3);
    EXPECT_EQ(score.detections, 7);
    // A count of the second stroke's ring 240 samples on lies nearer to it
    // than to the third, and must not stand in for the third.
    EXPECT_EQ(drum::scoreDetections(attacks, {20000, 20240}).hits, 1);
    EXPECT_DOUBLE_EQ(drum::scoreDetections(attacks, {10000, 20000, 20500, 25000}).fMeasure(), 2.0 * 0.75 / 1.75);
    EXPECT_DOUBLE_EQ(drum::scoreDetections({}, {}).fMeasure(), 1.0);
    EXPECT_DOUBLE_EQ(drum::scoreDetections({}, {5}).fMeasure(), 0.0);
}
