#pragma once
// tempovaro-count --verify: checks one competition attempt as it was kept.

#include <cstdint>
#include <cstdio>

// Prints the check's line to out (a failure to err); returns 0 when the
// digest holds and the recount equals the count, else 1.
int verifyAttempt(std::int64_t id, std::FILE* out, std::FILE* err);
