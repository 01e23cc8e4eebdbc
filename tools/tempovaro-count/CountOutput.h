#pragma once
// The CSV that tempovaro-count prints.

#include "StrokeCounter.h"

#include <cinttypes>
#include <cstdio>

inline void printCsvHeader(std::FILE* out, bool fastDetector = false)
{
    std::fputs(fastDetector ? "stroke,onset_sample,time_s,interval_samples,level\n"
                            : "stroke,window_end_sample,time_s,interval_samples,level\n",
               out);
}

inline void printStroke(std::FILE* out, const CountedStroke& s)
{
    std::fprintf(out, "%" PRId32 ",%" PRId64 ",%.6f,%" PRId32 ",%.9g\n", s.number, s.windowEndSample,
                 static_cast<double>(s.windowEndSample) / StrokeCounter::kSampleRate, s.intervalSamples,
                 static_cast<double>(s.level));
}

inline void printSummary(std::FILE* out, const CountSummary& summary)
{
    std::fprintf(out, "# strokes %" PRId32 ", seconds %.3f, strokes per minute %.1f\n", summary.strokes, summary.seconds,
                 summary.strokesPerMinute);
}
