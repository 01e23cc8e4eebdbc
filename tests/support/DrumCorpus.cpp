#include "DrumCorpus.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace drum {

namespace {

const std::string kKit = "The Black Pearl 1.0/";
constexpr std::int64_t kLead = kRate / 4; // quiet before the first stroke

// Where a sample's attack begins: its first value above 2 % of its peak.
// The kit's files start within a millisecond of the attack, but not at 0.
std::int64_t attackOffset(const std::vector<float>& hit)
{
    float peak = 0.0f;
    for (float v : hit)
        peak = std::max(peak, std::fabs(v));
    for (std::size_t i = 0; i < hit.size(); ++i)
        if (std::fabs(hit[i]) > 0.02f * peak)
            return static_cast<std::int64_t>(i);
    return 0;
}

// A pad or an electronic trigger: the stick's attack, then the sound stops
// within a few milliseconds (flat for 2 ms, then falling 8.7 dB per ms).
std::vector<float> choke(std::vector<float> hit)
{
    const std::int64_t start = attackOffset(hit) + kRate / 500;
    for (std::size_t i = 0; i < hit.size(); ++i)
        if (static_cast<std::int64_t>(i) > start)
            hit[i] *= std::exp(-static_cast<float>(static_cast<std::int64_t>(i) - start) / (0.001f * kRate));
    hit.resize(std::min<std::size_t>(hit.size(), static_cast<std::size_t>(start + kRate / 50)));
    return hit;
}

void mixInto(Samples& mix, const Samples& track)
{
    for (std::size_t i = 0; i < mix.size() && i < track.size(); ++i)
        mix[i] = static_cast<std::int16_t>(std::clamp(mix[i] + track[i], -32768, 32767));
}

// Strokes at the given times with the two hands a little uneven: the weaker
// hand 2 dB down, and each stroke up to +-0.5 ms off the grid.
std::vector<Stroke> handStrokes(const std::vector<double>& times, float gain, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-0.0005 * kRate, 0.0005 * kRate);
    std::uniform_real_distribution<float> spread(0.9f, 1.0f);
    std::vector<Stroke> strokes;
    for (std::size_t k = 0; k < times.size(); ++k)
        strokes.push_back({static_cast<std::int64_t>(std::llround(times[k] + jitter(rng))),
                           gain * spread(rng) * (k % 2 == 0 ? 1.0f : 0.8f)});
    return strokes;
}

std::vector<double> evenTimes(double perSecond, double seconds)
{
    std::vector<double> times;
    const double interval = kRate / perSecond;
    for (double t = kLead; t < kLead + seconds * kRate; t += interval)
        times.push_back(t);
    return times;
}

Recording build(std::string name, const std::vector<float>& hit, const std::vector<Stroke>& strokes,
                std::int64_t lengthSamples, float noiseRms = 0.0f)
{
    Recording r{std::move(name), render(hit, strokes, lengthSamples, noiseRms), {}};
    const std::int64_t offset = attackOffset(hit);
    for (const auto& s : strokes)
        r.attacks.push_back(s.startSample + offset);
    return r;
}

std::string rateName(const char* what, double perSecond)
{
    return std::string(what) + " " + std::to_string(static_cast<int>(std::lround(perSecond))) + "/s";
}

} // namespace

double Score::fMeasure() const
{
    const double p = precision(), r = recall();
    return p + r == 0.0 ? 0.0 : 2.0 * p * r / (p + r);
}

Score scoreDetections(const std::vector<std::int64_t>& attacks, const std::vector<std::int64_t>& detections)
{
    constexpr std::int64_t kBefore = kRate / 100;     // 10 ms
    constexpr std::int64_t kAfter = kRate * 45 / 1000; // 45 ms
    Score score{static_cast<int>(attacks.size()), static_cast<int>(detections.size()), 0};
    std::vector<std::int64_t> sorted = detections;
    std::sort(sorted.begin(), sorted.end());
    // Both lists in time order: each detection takes the earliest stroke still
    // open whose window holds it; strokes whose window has passed are missed.
    std::size_t next = 0;
    for (const std::int64_t d : sorted) {
        while (next < attacks.size() && attacks[next] + kAfter < d)
            ++next;
        if (next < attacks.size() && attacks[next] - kBefore <= d) {
            ++score.hits;
            ++next;
        }
    }
    return score;
}

Recording padStrokes(double perSecond, double seconds)
{
    const auto hit = choke(loadHit(kKit + "PearlSnare-Med.wav"));
    const auto strokes = handStrokes(evenTimes(perSecond, seconds), 0.9f, 7);
    return build(rateName("pad", perSecond), hit, strokes, static_cast<std::int64_t>((seconds + 0.5) * kRate));
}

Recording padAt(const std::vector<Stroke>& strokes, std::int64_t lengthSamples)
{
    return build("pad", choke(loadHit(kKit + "PearlSnare-Med.wav")), strokes, lengthSamples);
}

Recording snareStrokes(double perSecond, double seconds)
{
    // Overlapping strokes add up: the level keeps the sum below clipping.
    const auto hit = loadHit(kKit + "PearlSnare-Med.wav");
    const auto strokes = handStrokes(evenTimes(perSecond, seconds), 0.5f, 11);
    return build(rateName("snare mic", perSecond), hit, strokes, static_cast<std::int64_t>((seconds + 1.0) * kRate));
}

Recording otherSnareStrokes(double perSecond, double seconds)
{
    const auto hit = loadHit("ColomboAcousticDrumkit/snare-opaque-normal-mic-normal_shot2.flac");
    auto strokes = handStrokes(evenTimes(perSecond, seconds), 0.5f, 17);
    for (std::size_t k = 0; k < strokes.size(); ++k)
        strokes[k].gain *= k % 4 == 0 ? 1.0f : (k % 4 == 2 ? 0.6f : 0.5f);
    return build(rateName("other snare mic", perSecond), hit, strokes,
                 static_cast<std::int64_t>((seconds + 1.0) * kRate));
}

Recording snareAccentsInThrees(double perSecond, double seconds)
{
    const auto hit = loadHit(kKit + "PearlSnare-Hard.wav");
    auto strokes = handStrokes(evenTimes(perSecond, seconds), 0.5f, 19);
    for (std::size_t k = 0; k < strokes.size(); ++k)
        if (k % 3 != 0)
            strokes[k].gain *= k % 2 == 0 ? 0.3f : 0.375f; // the weaker hand's 0.8 makes both 0.3
    return build(rateName("snare accents in threes", perSecond), hit, strokes,
                 static_cast<std::int64_t>((seconds + 1.0) * kRate));
}

Recording acceleratingRoll(double fromPerSecond, double toPerSecond, double seconds)
{
    std::vector<double> times;
    double t = 0.0;
    while (t < seconds) {
        times.push_back(kLead + t * kRate);
        t += 1.0 / (fromPerSecond + (toPerSecond - fromPerSecond) * t / seconds);
    }
    const auto hit = choke(loadHit(kKit + "PearlSnare-Med.wav"));
    return build(rateName("pad roll 4 to", toPerSecond), hit, handStrokes(times, 0.9f, 5),
                 static_cast<std::int64_t>((seconds + 0.5) * kRate));
}

Recording accentsAndGhosts()
{
    const auto hard = loadHit(kKit + "PearlSnare-Hard.wav");
    const auto ghost = loadHit(kKit + "PearlSnare-Softest.wav");
    std::vector<Stroke> accents, ghosts;
    for (int k = 0; k < 64; ++k)
        (k % 4 == 0 ? accents : ghosts).push_back({kLead + k * kRate / 8, k % 4 == 0 ? 0.8f : 0.6f});
    const std::int64_t length = kLead + 9 * kRate;
    Recording r = build("accents and ghosts", hard, accents, length);
    const Recording g = build("", ghost, ghosts, length);
    mixInto(r.samples, g.samples);
    r.attacks.insert(r.attacks.end(), g.attacks.begin(), g.attacks.end());
    std::sort(r.attacks.begin(), r.attacks.end());
    return r;
}

Recording floorTom()
{
    const auto hit = loadHit(kKit + "PearlTomFloor-Med.wav");
    return build("floor tom 8/s", hit, handStrokes(evenTimes(8, 5), 0.5f, 3), 7 * kRate);
}

Recording noisyRoom()
{
    const auto hit = loadHit(kKit + "PearlSnare-Med.wav");
    return build("noisy room 10/s", hit, handStrokes(evenTimes(10, 5), 0.5f, 13), 6 * kRate, 0.03f);
}

Recording snareWithEcho()
{
    const auto hit = loadHit(kKit + "PearlSnare-Hard.wav");
    std::vector<Stroke> strokes, echoes;
    for (int k = 0; k < 15; ++k) {
        strokes.push_back({kLead + k * kRate / 3, 0.6f});
        echoes.push_back({kLead + k * kRate / 3 + kRate * 6 / 100, 0.6f * 0.16f});
    }
    Recording r = build("snare echo 3/s", hit, strokes, 7 * kRate);
    mixInto(r.samples, render(hit, echoes, 7 * kRate));
    return r;
}

Recording roomNoise()
{
    return Recording{"room noise 20 s", render({}, {}, 20 * kRate, 0.01f), {}};
}

std::vector<Recording> detectorCorpus()
{
    std::vector<Recording> corpus;
    for (double rate : {4, 8, 12, 16, 20, 25, 30, 35, 40})
        corpus.push_back(padStrokes(rate));
    for (double rate : {8, 12, 16, 20, 25, 30})
        corpus.push_back(snareStrokes(rate));
    for (double rate : {12, 20})
        corpus.push_back(otherSnareStrokes(rate));
    corpus.push_back(snareAccentsInThrees(12));
    corpus.push_back(acceleratingRoll(4, 40, 8));
    corpus.push_back(accentsAndGhosts());
    corpus.push_back(floorTom());
    corpus.push_back(noisyRoom());
    corpus.push_back(snareWithEcho());
    corpus.push_back(roomNoise());
    return corpus;
}

std::vector<Recording> kitSweep()
{
    const char* const hits[] = {
        "The Black Pearl 1.0/PearlSnare-Med.wav",
        "The Black Pearl 1.0/PearlSnare-Hard.wav",
        "The Black Pearl 1.0/PearlTomFloor-Med.wav",
        "The Black Pearl 1.0/PearlTom1-Med.wav",
        "ForzeeStereo/Snare-2.wav",
        "ForzeeStereo/SnareOff-2.wav",
        "ColomboAcousticDrumkit/snare-opaque-normal-mic-normal_shot3.flac",
        "ColomboAcousticDrumkit/snare-opaque-normal-mic-rimshot2.flac",
        "Millo_MultiLayered2/jsnare_03.flac",
        "ElectricEmpireKit/EE_Snare_Ring.flac",
        "Millo-Drums_v.1/snare1.flac",
    };
    const std::vector<std::vector<float>> patterns{{1.0f, 0.8f}, {1.0f, 0.5f, 0.5f, 0.5f}, {1.0f, 0.35f, 0.35f}};
    std::vector<Recording> sweep;
    for (const char* path : hits) {
        const auto hit = loadHit(path);
        if (hit.empty())
            continue;
        for (double rate : {8, 12, 16, 20}) {
            for (std::size_t p = 0; p < patterns.size(); ++p) {
                std::mt19937 rng(42);
                std::uniform_real_distribution<double> jitter(-0.0005 * kRate, 0.0005 * kRate);
                std::uniform_real_distribution<float> spread(0.9f, 1.0f);
                std::vector<Stroke> strokes;
                const auto times = evenTimes(rate, 5.0);
                for (std::size_t k = 0; k < times.size(); ++k)
                    strokes.push_back({static_cast<std::int64_t>(std::llround(times[k] + jitter(rng))),
                                       0.5f * spread(rng) * patterns[p][k % patterns[p].size()]});
                sweep.push_back(build(rateName(path, rate) + " pattern " + std::to_string(p + 1), hit, strokes,
                                      6 * kRate));
            }
        }
    }
    return sweep;
}

} // namespace drum
