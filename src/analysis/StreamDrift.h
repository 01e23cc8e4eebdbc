#pragma once
// Two audio streams on two devices run on two crystals: a click written at
// the output's 44,100 Hz is heard on the input's 44,100 Hz, and the two
// differ by tens of parts per million (a few milliseconds a minute). Each
// stream's position is measured against the monotonic clock, from the
// reports its audio thread makes after every transfer, and a least-squares
// line through them gives the stream's true rate and where it stood at any
// moment; mapping the output's sample to a time and that time to the
// input's sample follows both streams however they drift apart.
//
// StreamRateFit keeps running sums about its first report (so a monotonic
// clock of days and a stream of billions of frames lose no precision), and
// never allocates: the audio thread adds to it. A report far off the line
// (a thread woken late, a sound server's hiccup) would tilt a least-squares
// line by a sample or more; once the line stands on kTrustedReports, a
// report more than six times the typical distance off it (and at least
// kMinRejectS of the stream's time: 32 frames of audio, as many 100 ns
// stamps of MIDI, whose reports come late by far more) is left out. When kJumpReports in a row are off, the
// stream itself has jumped (a lost period): the fit starts again from there.
// Standard C++ only; one thread owns a fit.

#include <cstdint>
#include <optional>

// A stream's position against the monotonic clock.
struct StreamLine {
    double originS = 0.0;        // a moment on the monotonic clock, seconds
    double framesAtOrigin = 0.0; // the stream's position then
    double rateHz = 0.0;         // frames per second, as measured

    double framesAt(double s) const { return framesAtOrigin + rateHz * (s - originS); }
    double timeOf(double frames) const { return originS + (frames - framesAtOrigin) / rateHz; }
};

class StreamRateFit {
public:
    static constexpr std::int64_t kTrustedReports = 50;
    static constexpr double kMinRejectS = 32.0 / 44100.0;
    static constexpr std::int32_t kJumpReports = 25;

    // A report: the stream stood at frames at timeS on the monotonic clock.
    void add(double timeS, double frames);
    void clear() { *this = StreamRateFit{}; }
    // Reports in the line, and reports left out as far off it.
    std::int64_t count() const { return m_count; }
    std::int64_t rejected() const { return m_rejected; }
    // The line through the reports; empty before two reports at different times.
    std::optional<StreamLine> line() const;

private:
    void accumulate(double timeS, double frames);

    std::int64_t m_count = 0;
    std::int64_t m_rejected = 0;
    std::int32_t m_offInARow = 0;
    double m_t0 = 0.0, m_f0 = 0.0;
    double m_t = 0.0, m_f = 0.0, m_tt = 0.0, m_tf = 0.0;
    double m_squaredResiduals = 0.0; // of the reports kept after the line stood
    std::int64_t m_residuals = 0;
};

// The input's position when the output's sample outFrames is played: the
// moment the output reached it, and where the input stood at that moment.
inline double inputFrameOf(double outFrames, const StreamLine& out, const StreamLine& in)
{
    return in.framesAt(out.timeOf(outFrames));
}

// How much faster the input's clock runs than the output's, in parts per
// million (negative: slower).
inline double driftPpm(const StreamLine& out, const StreamLine& in)
{
    return (in.rateHz / out.rateHz - 1.0) * 1e6;
}
