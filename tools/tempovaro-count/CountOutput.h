#pragma once
// The CSV that tempovaro-count prints.

#include "StrokeCounter.h"

#include <cinttypes>
#include <cstdio>

// The standard detector's rows end with the stroke's onset; the fast
// detector's second column is its onset already.
inline void printCsvHeader(std::FILE* out, bool fastDetector = false)
{
    std::fputs(fastDetector ? "stroke,onset_sample,time_s,interval_samples,level\n"
                            : "stroke,window_end_sample,time_s,interval_samples,level,onset_sample\n",
               out);
}

inline void printStroke(std::FILE* out, const CountedStroke& s, bool fastDetector = false)
{
    std::fprintf(out, "%" PRId32 ",%" PRId64 ",%.6f,%" PRId32 ",%.9g", s.number, s.windowEndSample,
                 static_cast<double>(s.windowEndSample) / StrokeCounter::kSampleRate, s.intervalSamples,
                 static_cast<double>(s.level));
    if (fastDetector)
        std::fputc('\n', out);
    else
        std::fprintf(out, ",%" PRId64 "\n", s.onsetSample);
}

inline void printSummary(std::FILE* out, const CountSummary& summary)
{
    std::fprintf(out, "# strokes %" PRId32 ", seconds %.3f, strokes per minute %.1f\n", summary.strokes, summary.seconds,
                 summary.strokesPerMinute);
}
