#pragma once
// Counting recordings.

#include <cstdint>
#include <string>
#include <vector>

// Counts each file with a fresh device and prints its CSV (or, with report,
// its figures) to stdout. Returns the exit status: 0, or 2 when a file cannot
// be read (one line on stderr, before anything is counted).
int countFiles(const std::vector<std::string>& files, std::int32_t timeLimitMs, bool report);
