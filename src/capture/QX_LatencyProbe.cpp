#include "capture/QX_LatencyProbe.h"

#include "capture/QX_AlsaAudio.h"
#include "capture/QX_ClickPlayer.h"
#include "capture/private/QX_AlsaShared.h"

#include <algorithm>

namespace {

constexpr double kRate = QX_ClickPlayer::kSampleRate;
// Half a second of stream before the first click, so both streams' clocks
// have settled reports when it sounds (QX_StreamClock leaves the first out).
constexpr std::int64_t kLeadSamples = 22050;
// After the last click: a second of output, then half a second of input,
// for the latest click the calibration looks for (kMaxLatencyMs).
constexpr std::int64_t kOutputTailSamples = 44100;
constexpr std::int64_t kInputTailSamples = 22050;
// The clicks, their lead and tails, and the input that ran before the
// output started, with room to spare.
constexpr std::size_t kRecordingSamples = 44100 * 14;

} // namespace

bool onOneClock(const std::string& inputId, const std::string& outputId)
{
    // Two PCMs of one card share its crystal; PCMs that name no card
    // ("default", "pulse", "pipewire") reach the one sound server, whose
    // streams all run on its clock.
    const int in = alsa::cardIndexOf(inputId), out = alsa::cardIndexOf(outputId);
    return in == out;
}

void QX_LatencyProbe::Recorder::onSamples(const void* data, std::int32_t byteCount)
{
    const auto* s = static_cast<const std::int16_t*>(data);
    std::int64_t at = count.load(std::memory_order_relaxed);
    const auto capacity = static_cast<std::int64_t>(samples.size());
    for (std::int32_t i = 0; i < byteCount / 2 && at < capacity; ++i)
        samples[static_cast<std::size_t>(at++)] = s[i];
    // Release: the reader that sees the count sees the samples before it.
    count.store(at, std::memory_order_release);
}

QX_LatencyProbe::QX_LatencyProbe() = default;

QX_LatencyProbe::~QX_LatencyProbe()
{
    finish();
}

std::optional<std::string> QX_LatencyProbe::start(const std::string& inputId, const std::string& line, float level,
                                                  const std::string& outputId, float volume)
{
    finish();
    m_recorder.samples.assign(kRecordingSamples, 0);
    m_recorder.count.store(0, std::memory_order_relaxed);
    m_waitUntilCaptured = -1;
    m_capture = std::make_unique<QX_AudioFilterGraph>();
    if (m_capture->BuildGraph(inputId, QX_SampleHandler::Bind<Recorder, &Recorder::onSamples>(&m_recorder)) != S_OK) {
        finish();
        return "The input \"" + inputId + "\" does not open.";
    }
    if (!line.empty())
        m_capture->SetInputLine(line, level);
    m_player = std::make_unique<QX_ClickPlayer>();
    if (!m_player->open(outputId)) {
        finish();
        return "The output \"" + outputId + "\" does not open.";
    }
    m_oneClock = onOneClock(inputId, outputId);
    m_segment = calibrationSegment(kLeadSamples, volume);
    if (m_capture->Run() != S_OK || !m_player->schedule(m_segment) || !m_player->start()) {
        finish();
        return std::string("The input or the output does not start.");
    }
    return std::nullopt;
}

std::int32_t QX_LatencyProbe::clicksPlayed() const
{
    if (!m_player)
        return 0;
    const std::int64_t heard = m_player->framesWritten() - m_player->bufferFrames();
    std::int32_t n = 0;
    while (n < kCalibrationClicks && m_segment.sampleOf(n, kRate) < heard)
        ++n;
    return n;
}

CalibrationResult QX_LatencyProbe::failed(const std::string& why)
{
    finish();
    CalibrationResult r;
    r.clicks = kCalibrationClicks;
    r.message = why;
    return r;
}

std::optional<CalibrationResult> QX_LatencyProbe::poll()
{
    if (!m_capture || !m_player)
        return std::nullopt;
    if (!m_player->isPlaying() || !m_capture->isCapturing())
        return failed("The input or the output stopped during the calibration. Check the devices and try again.");
    if (m_player->underruns() != 0 || m_capture->overrunCount() != 0)
        return failed("The sound card lost samples during the calibration (a busy computer?). Try again.");
    const std::int64_t captured = m_recorder.count.load(std::memory_order_acquire);
    const std::int64_t last = m_segment.sampleOf(kCalibrationClicks - 1, kRate);
    if (m_waitUntilCaptured < 0) {
        if (m_player->framesWritten() <= last + kOutputTailSamples)
            return std::nullopt;
        m_waitUntilCaptured = captured + kInputTailSamples;
    }
    if (captured < m_waitUntilCaptured && captured < static_cast<std::int64_t>(m_recorder.samples.size()))
        return std::nullopt;

    // Each click's output sample is put on the capture's clock. On one clock
    // the streams' offsets do it exactly; across two cards through both
    // streams' fitted rates, which follow the drift but carry the fits'
    // noise (about 10 ppm over a calibration through a sound server).
    std::vector<std::int64_t> expected;
    if (m_oneClock) {
        const auto out = m_player->streamOffsetFrames();
        const auto in = m_capture->streamOffsetFrames();
        if (!out || !in)
            return failed("The devices did not report their positions. Try again.");
        for (std::int64_t k = 0; k < kCalibrationClicks; ++k)
            expected.push_back(std::llround(static_cast<double>(m_segment.sampleOf(k, kRate)) - *out + *in));
    } else {
        const auto out = m_player->streamLine();
        const auto in = m_capture->streamLine();
        if (!out || !in)
            return failed("The devices did not report their positions. Try again.");
        for (std::int64_t k = 0; k < kCalibrationClicks; ++k)
            expected.push_back(std::llround(inputFrameOf(static_cast<double>(m_segment.sampleOf(k, kRate)), *out, *in)));
    }
    // The capture thread is joined first, so the recording is no longer written.
    m_capture.reset();
    m_player.reset();
    m_recorder.samples.resize(static_cast<std::size_t>(std::min<std::int64_t>(captured, kRecordingSamples)));
    return calibrateLatency(m_recorder.samples, 0, expected, kRate);
}

void QX_LatencyProbe::finish()
{
    m_capture.reset();
    m_player.reset();
}
