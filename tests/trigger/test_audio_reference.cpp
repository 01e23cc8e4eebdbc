// The device against an independent plain implementation of the detector:
// every stroke's window end, interval and level, the count, the peak level
// and the mean interval must agree bit for bit, on synthetic signals and on
// recordings mixed from real drum samples, however the bytes are cut into
// blocks (including odd byte counts, whose last byte is dropped).
#include "AudioReference.h"
#include "DrumRecording.h"
#include "trigger/QX_AudioTriggerDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Signal = std::vector<std::int16_t>;

Signal lcgNoise(std::size_t n, int amplitude, std::uint32_t seed)
{
    Signal s(n);
    for (auto& v : s) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::int16_t>(static_cast<int>(seed >> 16) % (2 * amplitude + 1) - amplitude);
    }
    return s;
}

void put(Signal& s, std::size_t at, std::int16_t v)
{
    if (at < s.size())
        s[at] = v;
}

struct Case {
    std::string name;
    Signal samples;
};

std::vector<Case> syntheticCases()
{
    std::vector<Case> cases;
    cases.push_back({"silence", Signal(3 * 44100, 0)});

    // The first click's peak is the 22,066th sample, the rest follow every 5512.
    Signal train(130000, 0);
    for (std::size_t k = 0; k < 20; ++k)
        put(train, 22065 + k * 5512, 16384);
    cases.push_back({"click train", train});

    // Clicks 20 ms apart, a pause longer than the history timeout, clicks
    // right after the history was emptied, a weak click after strong ones.
    Signal mixed(6 * 44100, 0);
    for (std::size_t at : {1000u, 5000u, 5882u, 11000u, 60000u, 89200u, 90100u, 95000u})
        put(mixed, at, 20000);
    put(mixed, 100000, 900);
    put(mixed, 106000, 3000);
    cases.push_back({"clicks and pauses", mixed});

    // Full-scale square bursts (overload), then clicks while the floor decays;
    // negative full scale alone must not raise the floor.
    Signal clip(9 * 44100, 0);
    for (std::size_t i = 0; i < 2000; ++i)
        clip[22050 + i] = (i / 20) % 2 ? 32767 : -32768;
    for (std::size_t k = 0; k < 30; ++k)
        put(clip, 30000 + k * 11025, static_cast<std::int16_t>(4000 + 300 * k));
    for (std::size_t i = 0; i < 300; ++i)
        clip[370000 + i] = i % 2 ? -32768 : 0;
    cases.push_back({"overload and floor decay", clip});

    // Noise at rest level and louder, with bursts of noise as strokes.
    Signal noisy = lcgNoise(6 * 44100, 150, 11);
    const Signal loud = lcgNoise(6 * 44100, 12000, 5);
    for (std::size_t k = 0; k < 25; ++k)
        for (std::size_t i = 0; i < 600; ++i)
            noisy[20000 + k * 9000 + i] = loud[k * 600 + i];
    cases.push_back({"noise bursts", noisy});
    cases.push_back({"full-range noise", lcgNoise(2 * 44100, 32768, 3)});
    return cases;
}

std::vector<Case> drumCases()
{
    std::vector<Case> cases;
    if (!drum::kitsPresent())
        return cases;
    const auto med = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
    const auto hard = drum::loadHit("The Black Pearl 1.0/PearlSnare-Hard.wav");
    const auto soft = drum::loadHit("The Black Pearl 1.0/PearlSnare-Soft.wav");
    const auto kick = drum::loadHit("The Black Pearl 1.0/PearlKick-Hard.wav");
    cases.push_back({"snare roll", drum::render(med, drum::evenStrokes(22050, 5512.5, 40), 7 * 44100, 0.002f)});
    cases.push_back({"fast roll", drum::render(med, drum::evenStrokes(10000, 1102.5, 80), 3 * 44100, 0.004f, 2)});
    cases.push_back({"clipped hard snare", drum::render(hard, drum::evenStrokes(5000, 7350.0, 30, 4.0f), 6 * 44100)});
    std::vector<drum::Stroke> accents, ghosts;
    for (int k = 0; k < 48; ++k)
        (k % 4 == 0 ? accents : ghosts).push_back({15000 + k * 6300, 1.0f});
    cases.push_back({"accents, ghost notes and kick", drum::Mix(8 * 44100)
                                                          .add(hard, accents, 0.003f, 7)
                                                          .add(soft, ghosts)
                                                          .add(kick, drum::evenStrokes(18000, 22050.0, 15, 0.7f))
                                                          .samples()});
    return cases;
}

std::uint32_t bits(float f)
{
    return std::bit_cast<std::uint32_t>(f);
}

// Feeds the same bytes to both, cut into blocks of blockBytes, and compares
// after every block: each stroke counted in the block must be one of the
// reference's strokes whose window ended inside that block.
void compare(const Case& c, std::size_t blockBytes)
{
    SCOPED_TRACE(c.name + ", blocks of " + std::to_string(blockBytes) + " bytes");
    std::vector<unsigned char> bytes(c.samples.size() * 2);
    for (std::size_t i = 0; i < c.samples.size(); ++i) {
        const auto u = static_cast<std::uint16_t>(c.samples[i]);
        bytes[2 * i] = static_cast<unsigned char>(u & 0xff);
        bytes[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
    ref::AudioDetector reference;
    TQX_AudioTriggerDevice device("", nullptr);
    device.Start(-1);
    std::vector<unsigned char> block(blockBytes); // an exact-size copy, so reading past it is caught
    for (std::size_t at = 0; at < bytes.size(); at += blockBytes) {
        const std::size_t n = std::min(blockBytes, bytes.size() - at);
        std::memcpy(block.data(), bytes.data() + at, n);
        const std::int32_t before = device.GetCount();
        device.AnalyzeSamples(block.data(), static_cast<std::int32_t>(n));
        reference.feed(block.data(), static_cast<std::int32_t>(n));
        ASSERT_EQ(device.GetCount(), reference.count) << "at byte " << at;
        ASSERT_EQ(bits(device.GetLevel()), bits(reference.level)) << "at byte " << at;
        for (std::int32_t k = before; k < device.GetCount(); ++k) {
            const auto got = device.lastStroke(device.GetCount() - 1 - k);
            const auto& want = reference.strokes[static_cast<std::size_t>(k)];
            EXPECT_EQ(got.intervalTicks, want.interval) << "stroke " << k << " ending at sample " << want.fedSamples;
            EXPECT_EQ(bits(got.level), bits(want.level)) << "stroke " << k << " ending at sample " << want.fedSamples;
        }
        if (device.GetCount() != before) {
            ASSERT_EQ(bits(device.GetMeanInterval()), bits(reference.meanIntervalSeconds()));
        }
    }
    EXPECT_EQ(bits(device.GetMeanInterval()), bits(reference.meanIntervalSeconds()));
}

} // namespace

TEST(AudioReference, DeviceAgreesWithTheReferenceBitForBit)
{
    auto cases = syntheticCases();
    for (auto& c : drumCases())
        cases.push_back(std::move(c));
    ASSERT_GE(cases.size(), 6u);

    // Sample by sample the window ends are exact and stated once here.
    {
        ref::AudioDetector train;
        train.feed(cases[1].samples);
        ASSERT_GE(train.strokes.size(), 9u);
        EXPECT_EQ(train.strokes[0].interval, 22066);
        EXPECT_EQ(train.strokes[0].fedSamples, 22491); // the end of the window holding sample 22,066
        EXPECT_NEAR(train.meanIntervalSeconds(), 0.125, 0.001);
    }
    for (const auto& c : cases)
        for (std::size_t blockBytes : {2u, 882u, 3528u, 8192u, 1u, 441u, 3529u, 4097u})
            compare(c, blockBytes);
}
