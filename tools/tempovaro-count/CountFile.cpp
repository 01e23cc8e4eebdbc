#include "CountFile.h"

#include "CountOutput.h"
#include "CountReport.h"
#include "StrokeCounter.h"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// Below telephone quality nothing of a stroke's attack is left to detect, and
// above 768 kHz no converter records; a header outside that range is damaged
// (and would make the resampler's buffers follow its claim).
constexpr int kMinSampleRate = 4000;
constexpr int kMaxSampleRate = 768000;

// Conversion works on blocks of at most this many input samples (all channels
// together) and this many output frames, whatever the file claims.
constexpr sf_count_t kBlockSamples = 16384;
constexpr long kOutFrames = 8192;
// Float samples beyond this are far past full scale and clip to 16 bits
// anyway; the bound keeps a mix or the resampler's filter from overflowing.
constexpr float kFloatBound = 64.0f;

struct OpenFile {
    std::string path;
    SndFile file;
    SF_INFO info{};
    // Frames the header claims when the file holds fewer, else -1.
    sf_count_t claimedFrames = -1;
};

bool isNative(const SF_INFO& info)
{
    return info.samplerate == StrokeCounter::kSampleRate && info.channels == 1 &&
           (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
}

std::int16_t toSample(float v)
{
    if (!std::isfinite(v))
        return 0;
    const float scaled = std::nearbyint(v * 32768.0f);
    return static_cast<std::int16_t>(scaled > 32767.0f ? 32767.0f : (scaled < -32768.0f ? -32768.0f : scaled));
}

// libsndfile shortens the length of a cut-off file to the audio it really
// holds and notes the header's claim in its log ("data : 88200 (should be
// 20000)" for WAV, "SSND" for AIFF). Returns the claimed length in frames, or
// -1 when the log notes no such shortening.
sf_count_t claimedFramesFromLog(SNDFILE* file, const SF_INFO& info)
{
    std::array<char, 8192> log{};
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    log.back() = '\0';
    for (const char* line = log.data(); line && *line; line = std::strchr(line, '\n')) {
        if (*line == '\n')
            ++line;
        long long claimedBytes = 0, presentBytes = 0;
        if ((std::sscanf(line, "data : %lld (should be %lld)", &claimedBytes, &presentBytes) == 2 ||
             std::sscanf(line, "SSND : %lld (should be %lld)", &claimedBytes, &presentBytes) == 2) &&
            presentBytes > 0 && claimedBytes > presentBytes) {
            // The present bytes hold info.frames frames; the claim scales with them.
            return static_cast<sf_count_t>(static_cast<double>(info.frames) * static_cast<double>(claimedBytes) /
                                           static_cast<double>(presentBytes));
        }
    }
    return -1;
}

// Reads a file and hands it on as 16-bit mono samples at 44,100 Hz.
class SampleReader {
public:
    // Fails (with a message) when the file cannot be converted.
    bool prepare(const OpenFile& in, std::string& error)
    {
        m_channels = in.info.channels;
        m_native = isNative(in.info);
        m_ratio = static_cast<double>(StrokeCounter::kSampleRate) / in.info.samplerate;
        m_blockFrames = kBlockSamples / m_channels > 0 ? kBlockSamples / m_channels : 1;
        m_frames.resize(static_cast<std::size_t>(m_blockFrames * m_channels));
        m_mono.resize(static_cast<std::size_t>(m_blockFrames));
        m_samples.resize(static_cast<std::size_t>(kBlockSamples > kOutFrames ? kBlockSamples : kOutFrames));
        if (m_native || in.info.samplerate == StrokeCounter::kSampleRate)
            return true;
        int err = 0;
        if (!src_is_valid_ratio(m_ratio) || !(m_resampler = Resampler(src_new(SRC_SINC_MEDIUM_QUALITY, 1, &err)))) {
            error = std::string("cannot convert '") + in.path + "' to 44,100 Hz: " + src_strerror(err);
            return false;
        }
        m_out.resize(static_cast<std::size_t>(kOutFrames));
        return true;
    }

    // Calls feed(samples, count) block by block. Returns false when the
    // resampler fails halfway (error says why).
    template <class Feed>
    bool read(OpenFile& in, Feed&& feed, std::string& error)
    {
        SNDFILE* file = in.file.get();
        if (m_native) {
            sf_count_t got;
            while ((got = sf_read_short(file, m_samples.data(), kBlockSamples)) > 0) {
                m_framesRead += got;
                feed(m_samples.data(), got);
            }
            return true;
        }
        bool last = false;
        while (!last) {
            const sf_count_t got = sf_readf_float(file, m_frames.data(), m_blockFrames);
            last = got < m_blockFrames;
            m_framesRead += got > 0 ? got : 0;
            mixToMono(got);
            if (!m_resampler) {
                for (sf_count_t i = 0; i < got; ++i)
                    m_samples[static_cast<std::size_t>(i)] = toSample(m_mono[static_cast<std::size_t>(i)]);
                feed(m_samples.data(), got);
                continue;
            }
            if (!resample(got, last, feed, error))
                return false;
        }
        return true;
    }

    sf_count_t framesRead() const { return m_framesRead; }
    std::int64_t nonFiniteSamples() const { return m_nonFinite; }

private:
    void mixToMono(sf_count_t frames)
    {
        for (sf_count_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (int c = 0; c < m_channels; ++c) {
                float v = m_frames[static_cast<std::size_t>(i * m_channels + c)];
                // A damaged float file can hold NaN or infinity; as silence it
                // cannot fake a stroke, and its neighbours still count.
                if (!std::isfinite(v)) {
                    ++m_nonFinite;
                    v = 0.0f;
                }
                sum += v > kFloatBound ? kFloatBound : (v < -kFloatBound ? -kFloatBound : v);
            }
            m_mono[static_cast<std::size_t>(i)] = sum / static_cast<float>(m_channels);
        }
    }

    template <class Feed>
    bool resample(sf_count_t frames, bool last, Feed& feed, std::string& error)
    {
        SRC_DATA data{};
        data.data_in = m_mono.data();
        data.input_frames = static_cast<long>(frames);
        data.src_ratio = m_ratio;
        data.end_of_input = last ? 1 : 0;
        // Drain what the resampler holds; at the end of input it may take several calls.
        do {
            data.data_out = m_out.data();
            data.output_frames = kOutFrames;
            if (const int err = src_process(m_resampler.get(), &data); err != 0) {
                error = src_strerror(err);
                return false;
            }
            for (long i = 0; i < data.output_frames_gen; ++i)
                m_samples[static_cast<std::size_t>(i)] = toSample(m_out[static_cast<std::size_t>(i)]);
            feed(m_samples.data(), data.output_frames_gen);
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
            if (data.input_frames_used == 0 && data.output_frames_gen == 0)
                break;
        } while (data.input_frames > 0 || (last && data.output_frames_gen > 0));
        return true;
    }

    int m_channels = 1;
    bool m_native = false;
    double m_ratio = 1.0;
    sf_count_t m_blockFrames = 1;
    Resampler m_resampler;
    std::vector<float> m_frames;
    std::vector<float> m_mono;
    std::vector<float> m_out;
    std::vector<std::int16_t> m_samples;
    sf_count_t m_framesRead = 0;
    std::int64_t m_nonFinite = 0;
};

// Opens path for counting; on failure returns false with one line in error.
bool openRecording(const std::string& path, OpenFile& in, std::string& error)
{
    in.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = "cannot read '" + path + "': is a directory";
        return false;
    }
    in.file.reset(sf_open(path.c_str(), SFM_READ, &in.info));
    if (!in.file) {
        error = "cannot read '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    if (in.info.samplerate < kMinSampleRate || in.info.samplerate > kMaxSampleRate) {
        error = "cannot count '" + path + "': its sample rate of " + std::to_string(in.info.samplerate) +
                " Hz is outside 4000 to 768000 Hz";
        return false;
    }
    if (in.info.channels < 1) {
        error = "cannot count '" + path + "': it has no channels";
        return false;
    }
    in.claimedFrames = claimedFramesFromLog(in.file.get(), in.info);
    return true;
}

void warnIfCutOff(const OpenFile& in, sf_count_t framesRead)
{
    const sf_count_t claimed = in.claimedFrames > in.info.frames ? in.claimedFrames : in.info.frames;
    if (framesRead >= claimed || claimed <= 0)
        return;
    const double rate = in.info.samplerate;
    std::fprintf(stderr,
                 "tempovaro-count: warning: '%s' is cut off: %.3f s of the %.3f s its header claims are there "
                 "(%.1f %%); counted what is there\n",
                 in.path.c_str(), static_cast<double>(framesRead) / rate, static_cast<double>(claimed) / rate,
                 100.0 * static_cast<double>(framesRead) / static_cast<double>(claimed));
}

} // namespace

int countFiles(const std::vector<std::string>& files, std::int32_t timeLimitMs, bool fastDetector, bool report,
               const std::optional<TimingGrid>& grid)
{
    // Every file is opened first, so a bad name stops the run before any output.
    std::vector<OpenFile> opened;
    std::string error;
    for (const auto& path : files) {
        OpenFile in;
        if (!openRecording(path, in, error)) {
            std::fprintf(stderr, "tempovaro-count: %s\n", error.c_str());
            return 2;
        }
        opened.push_back(std::move(in));
    }

    for (auto& in : opened) {
        SampleReader reader;
        if (!reader.prepare(in, error)) {
            std::fprintf(stderr, "tempovaro-count: %s\n", error.c_str());
            return 2;
        }
        if (opened.size() > 1)
            std::printf("# file %s\n", in.path.c_str());
        if (!report)
            printCsvHeader(stdout, fastDetector);
        StrokeCounter counter(timeLimitMs, fastDetector);
        RunRecord run;
        run.recordingTimeMs = timeLimitMs;
        const auto onStroke = [&](const CountedStroke& s) {
            run.strokes.push_back({s.onsetSample, s.level, -1});
            if (!report)
                printStroke(stdout, s, fastDetector);
        };
        const bool complete = reader.read(
            in, [&](const std::int16_t* samples, std::int64_t n) { counter.feed(samples, n, onStroke); }, error);
        if (!complete) {
            // No summary: a half-converted file has no rate to report.
            std::fflush(stdout);
            std::fprintf(stderr, "tempovaro-count: cannot convert '%s' to 44,100 Hz: %s\n", in.path.c_str(),
                         error.c_str());
            return 2;
        }
        counter.finish(onStroke);
        // Timed when the recording lasted the whole time from the first onset.
        run.ranToEnd = timeLimitMs >= 0 && !run.strokes.empty() &&
                       counter.fed() >= run.strokes.front().tick + std::int64_t{timeLimitMs} * 441 / 10;
        if (report) {
            printReport(stdout, run);
            if (grid)
                printTimingReport(stdout, run, *grid);
        }
        printSummary(stdout, countSummary(counter.device().GetCount(), run));
        if (reader.nonFiniteSamples() > 0)
            std::fprintf(stderr, "tempovaro-count: warning: '%s' holds %" PRId64 " samples that are not numbers "
                                 "(NaN or infinite); counted as silence\n",
                         in.path.c_str(), reader.nonFiniteSamples());
        warnIfCutOff(in, reader.framesRead());
    }
    return std::fflush(stdout) == 0 ? 0 : 2;
}
