#pragma once
// Test recordings with known stroke times, mixed from the real drum samples
// of Debian's hydrogen-drumkits (or synthetic clicks), 16-bit mono 44.1 kHz.

#include <cstdint>
#include <string>
#include <vector>

namespace drum {

using Samples = std::vector<std::int16_t>;
constexpr int kRate = 44100;

// A drum sample from the kits folder ("The Black Pearl 1.0/PearlSnare-Med.wav"),
// mixed to mono, at 44.1 kHz, on the -1..1 scale. Empty when it is missing.
std::vector<float> loadHit(const std::string& kitRelativePath);
// Any sound file, mixed to mono and resampled to 44.1 kHz; empty when unreadable.
std::vector<float> loadSound(const std::string& path);
// The folder holding the kits, ending in '/'.
const std::string& kitsFolder();
bool kitsPresent();

struct Stroke {
    std::int64_t startSample;
    float gain = 1.0f;
};

// Mixes hit at every stroke into lengthSamples of silence, adds room noise
// (low-passed noise plus 50 Hz hum, noiseRms of full scale, fixed seed) and
// rounds to 16 bits with clipping.
Samples render(const std::vector<float>& hit, const std::vector<Stroke>& strokes, std::int64_t lengthSamples,
               float noiseRms = 0.0f, std::uint32_t seed = 1);

// Strokes every intervalSamples (may be fractional), the first at firstSample.
std::vector<Stroke> evenStrokes(std::int64_t firstSample, double intervalSamples, int count, float gain = 1.0f);

// A recording built from layers: each layer of hits is rendered as render()
// does (rounded and clipped to 16 bits on its own), then the layers add up
// and clip once more, as tracks mixed on a desk would.
//   drum::Mix(8 * kRate).add(snare, snares, 0.003f).add(kick, kicks).samples()
class Mix {
public:
    explicit Mix(std::int64_t lengthSamples);
    Mix& add(const std::vector<float>& hit, const std::vector<Stroke>& strokes, float noiseRms = 0.0f,
             std::uint32_t seed = 1);
    Samples samples() const;

private:
    std::int64_t m_length;
    std::vector<std::int32_t> m_sum;
};

bool writeWav(const std::string& path, const Samples& samples, int rate = kRate, int channels = 1);
bool writeRaw(const std::string& path, const Samples& samples);

} // namespace drum
