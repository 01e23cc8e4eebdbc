#pragma once
// The grids the click plays and the strokes are timed against, in the order
// the click and speed builder windows offer them.

struct GridChoice {
    const char* name;
    int subdivision; // strokes per beat
};

inline constexpr GridChoice kGridChoices[] = {{"Quarters", 1},   {"Eighths", 2},    {"Triplets", 3},
                                              {"Sixteenths", 4}, {"Sextuplets", 6}, {"Thirty-seconds", 8}};
