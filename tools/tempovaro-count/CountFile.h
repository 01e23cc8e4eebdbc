#pragma once
// Counting recordings.

#include "analysis/TimingFigures.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Counts each file with a fresh device and prints its CSV (or, with report,
// its figures) to stdout. Returns
// the exit status: 0, or 2 when a file cannot be read or claims a sample rate
// outside 4,000..768,000 Hz (one line on stderr, before anything is counted)
// or cannot be converted (no summary for it). A file shorter than its header
// claims, or with samples that are not numbers, is counted with a warning on
// stderr. Memory stays bounded whatever the file's length or header says.
// With grid, the report goes on with the strokes' timing against it.
int countFiles(const std::vector<std::string>& files, std::int32_t timeLimitMs, bool fastDetector, bool report,
               const std::optional<TimingGrid>& grid = std::nullopt);
