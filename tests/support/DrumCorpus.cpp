#include "DrumCorpus.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

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
    constexpr std::int64_t kBefore = kRate / 100;      // 10 ms
    constexpr std::int64_t kAfter = kRate * 25 / 1000; // 25 ms
    Score score{static_cast<int>(attacks.size()), static_cast<int>(detections.size()), 0};
    // Each stroke's window, cut at the middle of the gap to its neighbours,
    // so a detection can only hit the stroke nearest to it: in a fast roll
    // a count of the ring after one stroke must not pass for the next.
    const auto start = [&](std::size_t k) {
        if (k == 0)
            return attacks[k] - kBefore;
        const std::int64_t gap = attacks[k] - attacks[k - 1];
        return attacks[k] - std::min(kBefore, gap - gap / 2 - 1);
    };
    const auto end = [&](std::size_t k) {
        return k + 1 == attacks.size() ? attacks[k] + kAfter
                                       : attacks[k] + std::min(kAfter, (attacks[k + 1] - attacks[k]) / 2);
    };
    std::vector<std::int64_t> sorted = detections;
    std::sort(sorted.begin(), sorted.end());
    // Both lists in time order: each detection hits the stroke whose window
    // holds it if that stroke is still open; strokes whose window has passed are missed.
    std::size_t next = 0;
    for (const std::int64_t d : sorted) {
        while (next < attacks.size() && end(next) < d)
            ++next;
        if (next < attacks.size() && start(next) <= d) {
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

// ---- The generalisation corpus

namespace {

// The text between <tag> and </tag> from `from` on; npos when absent before `end`.
std::string tagText(const std::string& xml, const std::string& tag, std::size_t from, std::size_t end,
                    std::size_t* at = nullptr)
{
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const std::size_t a = xml.find(open, from);
    if (a == std::string::npos || a >= end)
        return {};
    const std::size_t b = xml.find(close, a);
    if (b == std::string::npos || b > end)
        return {};
    if (at)
        *at = b + close.size();
    return xml.substr(a + open.size(), b - a - open.size());
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool contains(const std::string& s, const char* part)
{
    return s.find(part) != std::string::npos;
}

// Snares (rimshots too), toms, rims and sticks, and the electronic kits'
// numbered drums; not claps, rolls, kicks, cymbals or hand drums.
bool isStrokeDrum(const std::string& instrumentName)
{
    const std::string n = lower(instrumentName);
    if (contains(n, "roll") || contains(n, "clap") || contains(n, "kick") || contains(n, "bass") || contains(n, "ride")
        || contains(n, "hat") || contains(n, "crash") || contains(n, "cymbal"))
        return false;
    if (contains(n, "snare") || contains(n, "tom") || contains(n, "rim") || contains(n, "stick"))
        return true;
    return n.size() >= 6 && n.compare(n.size() - 6, 5, "drum ") == 0 && std::isdigit(static_cast<unsigned char>(n.back()));
}

// FNV-1a: a seed from a name that is the same on every platform.
std::uint32_t nameSeed(const std::string& s)
{
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s)
        h = (h ^ c) * 16777619u;
    return h;
}

float peakOf(const std::vector<float>& v)
{
    float peak = 0.0f;
    for (float x : v)
        peak = std::max(peak, std::fabs(x));
    return peak;
}

// A pad or trigger: the attack kept until 1 ms after it reaches half its
// peak (a few samples that swell in slowly keep their swell), then the sound
// falls 43 dB by lengthSamples and stops there.
std::vector<float> chokeAfter(std::vector<float> hit, std::int64_t lengthSamples)
{
    const float peak = peakOf(hit);
    std::int64_t half = 0;
    while (half < static_cast<std::int64_t>(hit.size()) && std::fabs(hit[static_cast<std::size_t>(half)]) < 0.5f * peak)
        ++half;
    const std::int64_t start = std::max(attackOffset(hit) + kRate * 3 / 1000, half + kRate / 1000);
    lengthSamples = std::max(lengthSamples, start - attackOffset(hit) + kRate / 200);
    const float tau = static_cast<float>(lengthSamples - kRate * 3 / 1000) / 5.0f;
    for (std::size_t i = 0; i < hit.size(); ++i)
        if (static_cast<std::int64_t>(i) > start)
            hit[i] *= std::exp(-static_cast<float>(static_cast<std::int64_t>(i) - start) / tau);
    hit.resize(std::min<std::size_t>(hit.size(), static_cast<std::size_t>(attackOffset(hit) + lengthSamples)));
    return hit;
}

float styleGain(Style style, std::size_t k, std::size_t count)
{
    const float ramp = count > 1 ? static_cast<float>(k) / static_cast<float>(count - 1) : 1.0f;
    const float hand = k % 2 == 0 ? 1.0f : 0.7f; // the weaker hand 3 dB down
    switch (style) {
    case Style::Hands:
        return hand;
    case Style::Accents:
        return k % 4 == 0 ? 1.0f : 0.5f * hand;
    case Style::Ghosts:
        return k % 4 == 0 ? 1.0f : 0.1f; // 20 dB under the accents
    case Style::Crescendo:
        return hand * std::pow(10.0f, ramp - 1.0f); // 20 dB over the roll
    case Style::Decrescendo:
        return hand * std::pow(10.0f, -ramp);
    case Style::Clipped:
        return 3.0f * hand; // the strong hand's peaks 10 dB past full scale
    }
    return 1.0f;
}

// Whether a sample holds a second stroke: its 2 ms peaks fall 20 dB under
// the top and later come back within 3 dB of it. A drum's ring beats by a
// few decibels; a sample cut from a loop, or a "crunch" of two hits, does
// this, and one stroke's true onset cannot be given for it.
bool holdsSecondStroke(const std::vector<float>& hit)
{
    const float peak = peakOf(hit);
    constexpr std::size_t kBlock = kRate / 500;
    bool fell = false;
    bool started = false;
    for (std::size_t at = 0; at + kBlock <= hit.size(); at += kBlock) {
        float top = 0.0f;
        for (std::size_t i = at; i < at + kBlock; ++i)
            top = std::max(top, std::fabs(hit[i]));
        started = started || top >= 0.5f * peak;
        if (!started)
            continue;
        if (top < 0.1f * peak)
            fell = true;
        else if (fell && top >= 0.7f * peak)
            return true;
    }
    return false;
}

// Room noise (render's low-passed noise and hum) added to a float mix, then
// rounded to 16 bits with clipping.
Samples finish(const std::vector<float>& mix, float noiseRms, std::uint32_t seed)
{
    const Samples noise = render({}, {}, static_cast<std::int64_t>(mix.size()), noiseRms, seed);
    Samples out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const float v = std::nearbyint(mix[i] * 32768.0f) + noise[i];
        out[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    return out;
}

} // namespace

const char* styleName(Style style)
{
    switch (style) {
    case Style::Hands: return "hands";
    case Style::Accents: return "accents";
    case Style::Ghosts: return "ghosts";
    case Style::Crescendo: return "crescendo";
    case Style::Decrescendo: return "decrescendo";
    case Style::Clipped: return "clipped";
    }
    return "";
}

std::vector<std::string> kitNames()
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kitsFolder(), error))
        if (std::filesystem::exists(entry.path() / "drumkit.xml"))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<KitDrum> kitDrums()
{
    std::vector<KitDrum> drums;
    for (const auto& kit : kitNames()) {
        std::ifstream in(kitsFolder() + kit + "/drumkit.xml");
        std::stringstream text;
        text << in.rdbuf();
        const std::string xml = text.str();
        std::size_t at = 0;
        while ((at = xml.find("<instrument>", at)) != std::string::npos) {
            const std::size_t end = std::min(xml.find("</instrument>", at), xml.size());
            KitDrum drum{kit, tagText(xml, "name", at, end), {}};
            // Layers with velocity ranges, or (older kits) one file for the instrument.
            std::size_t layer = at;
            while ((layer = xml.find("<layer>", layer)) != std::string::npos && layer < end) {
                const std::size_t layerEnd = std::min(xml.find("</layer>", layer), end);
                const std::string file = tagText(xml, "filename", layer, layerEnd);
                const std::string minText = tagText(xml, "min", layer, layerEnd);
                const std::string maxText = tagText(xml, "max", layer, layerEnd);
                if (!file.empty())
                    drum.layers.push_back({kit + "/" + file, minText.empty() ? 0.0f : std::stof(minText),
                                           maxText.empty() ? 1.0f : std::stof(maxText)});
                layer = layerEnd;
            }
            if (drum.layers.empty()) {
                const std::string file = tagText(xml, "filename", at, end);
                if (!file.empty())
                    drum.layers.push_back({kit + "/" + file, 0.0f, 1.0f});
            }
            if (!drum.layers.empty() && isStrokeDrum(drum.name))
                drums.push_back(std::move(drum));
            at = end;
        }
    }
    return drums;
}

const std::vector<int>& corpusRates()
{
    static const std::vector<int> rates{4, 8, 12, 16, 20, 25, 30, 35, 40};
    return rates;
}

std::vector<KitCase> kitCases(const KitDrum& drum, double seconds, std::string_view nameEnd)
{
    // Each layer loaded once; a ring longer than 1.5 s adds nothing a detector must see.
    std::vector<std::vector<float>> layers;
    for (const auto& layer : drum.layers) {
        auto hit = loadHit(layer.path);
        if (holdsSecondStroke(hit))
            hit.clear(); // left out, as a missing file is
        hit.resize(std::min<std::size_t>(hit.size(), kRate * 3 / 2));
        // Every layer at one peak: the stroke's gain alone sets its level,
        // the layer only its timbre, so ghost notes lie exactly 20 dB down.
        const float peak = peakOf(hit);
        for (float& v : hit)
            v = peak > 0.0f ? v / peak : 0.0f;
        layers.push_back(std::move(hit));
    }
    // The layer played at a velocity: the one whose range holds it, else the nearest.
    const auto layerFor = [&](float velocity) {
        std::size_t best = 0;
        float bestDistance = 1e9f;
        for (std::size_t i = 0; i < drum.layers.size(); ++i) {
            const float d = std::max({0.0f, drum.layers[i].minVelocity - velocity, velocity - drum.layers[i].maxVelocity});
            if (d < bestDistance && !layers[i].empty()) {
                bestDistance = d;
                best = i;
            }
        }
        return best;
    };
    const std::size_t loudest = layerFor(1.0f);
    if (layers[loudest].empty())
        return {};
    const float loudestPeak = peakOf(layers[loudest]);
    // The accent's attack RMS (its first 20 ms), for the noise's level.
    double attackPower = 0.0;
    const std::int64_t attack = attackOffset(layers[loudest]);
    for (std::int64_t i = attack; i < attack + kRate / 50 && i < static_cast<std::int64_t>(layers[loudest].size()); ++i)
        attackPower += layers[loudest][static_cast<std::size_t>(i)] * layers[loudest][static_cast<std::size_t>(i)];
    const float attackRms = static_cast<float>(std::sqrt(attackPower / (kRate / 50))) / loudestPeak;

    const std::uint32_t drumSeed = nameSeed(drum.kit + "/" + drum.name);
    std::mt19937 rng(drumSeed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<KitCase> cases;
    const auto& rates = corpusRates();
    for (int pad = 0; pad < 2; ++pad) {
        const auto chokeSamples = static_cast<std::int64_t>((0.015f + 0.005f * unit(rng)) * kRate);
        // Each layer as this way of playing sounds it, and where its attack lies.
        std::vector<std::vector<float>> choked;
        for (const auto& layer : layers)
            if (pad)
                choked.push_back(chokeAfter(layer, chokeSamples));
        const auto& hits = pad ? choked : layers;
        std::vector<std::int64_t> attacks;
        for (const auto& hit : hits)
            attacks.push_back(attackOffset(hit));
        for (std::size_t r = 0; r < rates.size(); ++r) {
            const Style style = static_cast<Style>((drumSeed % 6 + r + 3 * pad) % 6);
            // The input level the player set: the accent's peak -3 to -9 dBFS
            // on a pad, -6 to -12 by microphone (the ring of overlapping
            // strokes adds up).
            const float levelDb = (pad ? -3.0f : -6.0f) - 6.0f * unit(rng);
            const float scale = std::pow(10.0f, levelDb / 20.0f) / loudestPeak;
            // Soft strokes 20 dB down still stand 10 dB or more over the room.
            const bool soft = style == Style::Ghosts || style == Style::Crescendo || style == Style::Decrescendo;
            const float snrDb = soft ? 30.0f + 10.0f * unit(rng) : 20.0f + 20.0f * unit(rng);
            const float noiseRms = attackRms * std::pow(10.0f, levelDb / 20.0f) * std::pow(10.0f, -snrDb / 20.0f);

            const auto times = evenTimes(rates[r], seconds);
            std::uniform_real_distribution<double> jitter(-0.0005 * kRate, 0.0005 * kRate);
            KitCase c;
            c.recording.name = drum.kit + "/" + drum.name + (pad ? " pad " : " mic ") + std::to_string(rates[r])
                + "/s " + styleName(style);
            // A case left out still draws its random numbers: the others stay as they are.
            const bool wanted = c.recording.name.ends_with(nameEnd);
            const std::int64_t length = kLead + static_cast<std::int64_t>((seconds + (pad ? 0.3 : 1.0)) * kRate);
            std::vector<float> mix(wanted ? static_cast<std::size_t>(length) : 0, 0.0f);
            for (std::size_t k = 0; k < times.size(); ++k) {
                const float gain = styleGain(style, k, times.size()) * (0.95f + 0.05f * unit(rng));
                const std::size_t layer = layerFor(std::min(gain, 1.0f));
                const std::int64_t start = static_cast<std::int64_t>(std::llround(times[k] + jitter(rng)));
                if (!wanted)
                    continue;
                const std::vector<float>& hit = hits[layer];
                for (std::size_t i = 0; i < hit.size() && start + static_cast<std::int64_t>(i) < length; ++i)
                    mix[static_cast<std::size_t>(start) + i] += gain * scale * hit[i];
                c.recording.attacks.push_back(start + attacks[layer]);
            }
            if (!wanted)
                continue;
            c.recording.samples = finish(mix, noiseRms, drumSeed + static_cast<std::uint32_t>(r));
            c.kit = drum.kit;
            c.drum = drum.name;
            c.pad = pad != 0;
            c.perSecond = rates[r];
            c.style = style;
            c.snrDb = snrDb;
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

namespace {

// A voice reading for a minute: espeak-ng's speech, repeated; empty when
// espeak-ng cannot run.
std::vector<float> speech(std::int64_t lengthSamples)
{
    const std::string wav = (std::filesystem::temp_directory_path()
                             / ("tempovaro-speech-" + std::to_string(getpid()) + ".wav")).string();
    const std::string command = "espeak-ng -s 150 -w '" + wav
        + "' 'One, two, three, four. Let us take it from the top, a little slower this time. Keep the wrists "
          "loose and let the stick come back up on its own. Count out loud: one and two and three and four. "
          "That was better, the left hand is still a little late.' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    std::vector<float> voice = status == 0 ? loadSound(wav) : std::vector<float>{};
    std::filesystem::remove(wav);
    if (voice.empty())
        return {};
    std::vector<float> out(static_cast<std::size_t>(lengthSamples));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = voice[i % voice.size()];
    return out;
}

} // namespace

std::vector<Recording> falseAlarmCorpus()
{
    constexpr std::int64_t kMinute = 60 * kRate;
    constexpr float kMinus50Db = 0.00316f;
    constexpr float kMinus60Db = 0.001f;
    constexpr float kMinus70Db = 0.000316f;
    std::vector<Recording> corpus;
    corpus.push_back({"room noise 60 s", render({}, {}, kMinute, kMinus50Db, 91), {}});

    std::vector<float> voice = speech(kMinute);
    if (!voice.empty()) {
        double power = 0.0;
        for (float v : voice)
            power += v * v;
        const float gain = kMinus60Db / static_cast<float>(std::sqrt(power / static_cast<double>(voice.size())));
        for (float& v : voice)
            v *= gain;
        corpus.push_back({"speech 60 s", finish(voice, kMinus70Db, 92), {}});
    }

    // A metronome's click: 2 ms of 2 kHz, falling fast, 120 a minute.
    std::vector<float> click(kRate / 200);
    for (std::size_t i = 0; i < click.size(); ++i)
        click[i] = kMinus60Db * std::exp(-static_cast<float>(i) / (0.0015f * kRate))
            * std::sin(2.0f * 3.14159265f * 2000.0f * static_cast<float>(i) / kRate);
    std::vector<float> bleed(static_cast<std::size_t>(kMinute), 0.0f);
    for (std::int64_t at = kRate / 4; at + static_cast<std::int64_t>(click.size()) < kMinute; at += kRate / 2)
        for (std::size_t i = 0; i < click.size(); ++i)
            bleed[static_cast<std::size_t>(at) + i] += click[i];
    corpus.push_back({"click bleed 60 s", finish(bleed, kMinus70Db, 93), {}});
    return corpus;
}

} // namespace drum
