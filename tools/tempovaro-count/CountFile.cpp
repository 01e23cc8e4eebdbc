#include "CountFile.h"

#include "CountOutput.h"
#include "CountReport.h"
#include "StrokeCounter.h"

#include <samplerate.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

struct SndFileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

struct SrcDeleter {
    void operator()(SRC_STATE* s) const { src_delete(s); }
};
using Resampler = std::unique_ptr<SRC_STATE, SrcDeleter>;

constexpr sf_count_t kChunkFrames = 44100;

struct OpenFile {
    std::string path;
    SndFile file;
    SF_INFO info{};
};

bool isNative(const SF_INFO& info)
{
    return info.samplerate == StrokeCounter::kSampleRate && info.channels == 1 &&
           (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
}

std::int16_t toSample(float v)
{
    const float scaled = std::nearbyint(v * 32768.0f);
    return static_cast<std::int16_t>(scaled > 32767.0f ? 32767.0f : (scaled < -32768.0f ? -32768.0f : scaled));
}

// 44.1 kHz mono 16-bit goes in sample for sample; anything else is mixed to
// mono, resampled to 44.1 kHz and rounded to 16 bits.
template <class Feed>
bool readSamples(OpenFile& in, Feed&& feed)
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kChunkFrames) * 4);
    if (isNative(in.info)) {
        sf_count_t got;
        while ((got = sf_read_short(in.file.get(), samples.data(), kChunkFrames)) > 0)
            feed(samples.data(), got);
        return true;
    }

    const int channels = in.info.channels;
    const bool resample = in.info.samplerate != StrokeCounter::kSampleRate;
    Resampler resampler;
    if (resample) {
        int err = 0;
        resampler.reset(src_new(SRC_SINC_MEDIUM_QUALITY, 1, &err));
        if (!resampler)
            return false;
    }
    const double ratio = static_cast<double>(StrokeCounter::kSampleRate) / in.info.samplerate;
    std::vector<float> frames(static_cast<std::size_t>(kChunkFrames * channels));
    std::vector<float> mono(static_cast<std::size_t>(kChunkFrames));
    std::vector<float> out(static_cast<std::size_t>(std::ceil(kChunkFrames * ratio)) + 64);
    samples.resize(out.size());
    bool last = false;
    while (!last) {
        const sf_count_t got = sf_readf_float(in.file.get(), frames.data(), kChunkFrames);
        last = got < kChunkFrames;
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += frames[static_cast<std::size_t>(i * channels + c)];
            mono[static_cast<std::size_t>(i)] = sum / static_cast<float>(channels);
        }
        if (!resample) {
            for (sf_count_t i = 0; i < got; ++i)
                samples[static_cast<std::size_t>(i)] = toSample(mono[static_cast<std::size_t>(i)]);
            feed(samples.data(), got);
            continue;
        }
        SRC_DATA data{};
        data.data_in = mono.data();
        data.input_frames = static_cast<long>(got);
        data.src_ratio = ratio;
        data.end_of_input = last ? 1 : 0;
        // Drain what the resampler holds; at the end of input it may take several calls.
        do {
            data.data_out = out.data();
            data.output_frames = static_cast<long>(out.size());
            if (src_process(resampler.get(), &data) != 0)
                return false;
            for (long i = 0; i < data.output_frames_gen; ++i)
                samples[static_cast<std::size_t>(i)] = toSample(out[static_cast<std::size_t>(i)]);
            feed(samples.data(), data.output_frames_gen);
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
            if (data.input_frames_used == 0 && data.output_frames_gen == 0)
                break;
        } while (data.input_frames > 0 || (last && data.output_frames_gen > 0));
    }
    return true;
}

} // namespace

int countFiles(const std::vector<std::string>& files, std::int32_t timeLimitMs, bool report)
{
    // Every file is opened first, so a bad name stops the run before any output.
    std::vector<OpenFile> opened;
    for (const auto& path : files) {
        OpenFile in;
        in.path = path;
        in.file.reset(sf_open(path.c_str(), SFM_READ, &in.info));
        if (!in.file) {
            std::fprintf(stderr, "tempovaro-count: cannot read '%s': %s\n", path.c_str(), sf_strerror(nullptr));
            return 2;
        }
        opened.push_back(std::move(in));
    }

    for (auto& in : opened) {
        if (opened.size() > 1)
            std::printf("# file %s\n", in.path.c_str());
        if (!report)
            printCsvHeader(stdout);
        StrokeCounter counter(timeLimitMs);
        // The device's millisecond clock follows the samples, so a recording
        // time ends exactly where it would have live.
        SampleClock clock(counter);
        RunRecord run;
        run.recordingTimeMs = timeLimitMs;
        const bool complete = readSamples(in, [&](const std::int16_t* samples, std::int64_t n) {
            counter.feed(samples, n, [&](const CountedStroke& s) {
                if (report)
                    run.strokes.push_back({s.windowEndSample, s.level, -1});
                else
                    printStroke(stdout, s);
            });
        });
        if (report) {
            // Timed when the recording lasted the whole time on the device's own clock.
            run.ranToEnd = timeLimitMs >= 0 && !run.strokes.empty() &&
                           SampleClock::msAt(counter.fed()) - SampleClock::msAt(run.strokes.front().tick) >=
                               static_cast<std::uint32_t>(timeLimitMs);
            printReport(stdout, run);
        }
        printSummary(stdout, counter.summaryBySamples());
        if (!complete) {
            std::fprintf(stderr, "tempovaro-count: cannot convert '%s' to 44,100 Hz\n", in.path.c_str());
            return 2;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 2;
}
