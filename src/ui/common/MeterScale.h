#pragma once
// The device dialog's level meter arithmetic, kept apart from the widgets so
// it can be checked without a display. Levels are fractions of full scale
// (0..1); meter positions are 0 (empty) .. 1 (full). Pure functions, any thread.

// Whether a device level counts as clipping. Compared in double: the float
// nearest 0.999 lies above it and counts.
bool meterClips(float deviceLevel);

// An audio device level on the meter's decibel scale: about -48 dB of full
// scale is the empty bar, 0 dB the full one. Silence and anything quieter
// than the bottom give 0.
float audioMeterPosition(float deviceLevel);

// The meter's next position: a louder level shows at once, otherwise the bar
// falls by a tenth per 100 ms tick.
float meterPeakHold(float shown, float position);
