#include "DrumRecording.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

namespace drum {

namespace {
const std::string kKits = "/usr/share/hydrogen/data/drumkits/";
}

const std::string& kitsFolder()
{
    return kKits;
}

bool kitsPresent()
{
    SF_INFO info{};
    SNDFILE* f = sf_open((kKits + "The Black Pearl 1.0/PearlSnare-Med.wav").c_str(), SFM_READ, &info);
    if (f)
        sf_close(f);
    return f != nullptr;
}

std::vector<float> loadHit(const std::string& kitRelativePath)
{
    return loadSound(kKits + kitRelativePath);
}

std::vector<float> loadSound(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<float> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        float sum = 0.0f;
        for (int c = 0; c < info.channels; ++c)
            sum += frames[i * info.channels + c];
        mono[i] = sum / static_cast<float>(info.channels);
    }
    if (info.samplerate == kRate)
        return mono;
    const double ratio = static_cast<double>(kRate) / info.samplerate;
    std::vector<float> out(static_cast<std::size_t>(std::ceil(mono.size() * ratio)) + 16);
    SRC_DATA data{};
    data.data_in = mono.data();
    data.input_frames = static_cast<long>(mono.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1) != 0)
        return {};
    out.resize(static_cast<std::size_t>(data.output_frames_gen));
    return out;
}

Samples render(const std::vector<float>& hit, const std::vector<Stroke>& strokes, std::int64_t lengthSamples,
               float noiseRms, std::uint32_t seed)
{
    std::vector<float> mix(static_cast<std::size_t>(lengthSamples), 0.0f);
    for (const auto& stroke : strokes)
        for (std::size_t i = 0; i < hit.size(); ++i) {
            const std::int64_t at = stroke.startSample + static_cast<std::int64_t>(i);
            if (at >= 0 && at < lengthSamples)
                mix[static_cast<std::size_t>(at)] += stroke.gain * hit[i];
        }
    if (noiseRms > 0.0f) {
        // Room tone: noise low-passed around 8 kHz (a one-pole filter) and
        // mains hum, split evenly in power.
        std::mt19937 rng(seed);
        std::normal_distribution<float> white(0.0f, 1.0f);
        const float pole = std::exp(-2.0f * std::numbers::pi_v<float> * 8000.0f / kRate);
        const float noiseGain = noiseRms * std::sqrt(0.5f) * std::sqrt((1 + pole) / (1 - pole)) * (1 - pole);
        const float humAmplitude = noiseRms; // sine RMS = amplitude / sqrt 2
        float lp = 0.0f;
        for (std::size_t i = 0; i < mix.size(); ++i) {
            lp = pole * lp + white(rng);
            mix[i] += noiseGain * lp + humAmplitude * std::sin(2.0f * std::numbers::pi_v<float> * 50.0f * i / kRate);
        }
    }
    Samples out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const float v = std::nearbyint(mix[i] * 32768.0f);
        out[i] = static_cast<std::int16_t>(v > 32767.0f ? 32767.0f : (v < -32768.0f ? -32768.0f : v));
    }
    return out;
}

std::vector<Stroke> evenStrokes(std::int64_t firstSample, double intervalSamples, int count, float gain)
{
    std::vector<Stroke> strokes;
    for (int i = 0; i < count; ++i)
        strokes.push_back({firstSample + static_cast<std::int64_t>(std::llround(i * intervalSamples)), gain});
    return strokes;
}

Mix::Mix(std::int64_t lengthSamples) : m_length(lengthSamples), m_sum(static_cast<std::size_t>(lengthSamples), 0) {}

Mix& Mix::add(const std::vector<float>& hit, const std::vector<Stroke>& strokes, float noiseRms, std::uint32_t seed)
{
    const Samples layer = render(hit, strokes, m_length, noiseRms, seed);
    for (std::size_t i = 0; i < m_sum.size(); ++i)
        m_sum[i] += layer[i];
    return *this;
}

Samples Mix::samples() const
{
    Samples out(m_sum.size());
    for (std::size_t i = 0; i < m_sum.size(); ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(m_sum[i], -32768, 32767));
    return out;
}

bool writeWav(const std::string& path, const Samples& samples, int rate, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const auto written = sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return written == static_cast<sf_count_t>(samples.size());
}

bool writeRaw(const std::string& path, const Samples& samples)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const auto written = std::fwrite(samples.data(), sizeof(std::int16_t), samples.size(), f);
    return std::fclose(f) == 0 && written == samples.size();
}

} // namespace drum
