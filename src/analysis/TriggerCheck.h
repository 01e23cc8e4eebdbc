#pragma once
// TriggerCheck: what ten seconds of playing say about a trigger's set-up.
// The player plays single strokes from soft to loud, then the fastest roll
// they can; the check finds the strokes (the Fast detector's for audio, the
// module's own notes for MIDI) and reports, in plain words, the noise floor,
// the strokes' level range and headroom, clipping, the drum's decay time,
// suspected double triggers, a MIDI module's mask time and the rate it caps,
// and a recommended level change and detector.
//
// Plain values, no threads: fed and read on one thread (the dialog's).
// Units: audio samples are 16-bit at 44,100 Hz; levels are dB of full
// scale (dBFS); times in milliseconds; MIDI times in 100 ns ticks.

#include <cstdint>
#include <string>
#include <vector>

struct TriggerCheckFigures {
    bool audio = true;
    int strokes = 0;
    double noiseFloorDb = -120.0; // the quietest tenth of the 10 ms stretches, RMS
    double softestDb = -120.0;    // the softest stroke's peak
    double loudestDb = -120.0;    // the loudest stroke's peak
    double headroomDb = 120.0;    // from the loudest peak to full scale
    int clippedStrokes = 0;       // strokes that reached full scale
    double decayMs = 0.0;         // median time a lone stroke takes to fall 20 dB; 0 when none was alone
    double fastestPerSecond = 0.0; // the fastest eight strokes in a row
    int suspectedDoubles = 0;      // strokes that look like the echo or ring of the one before
    double maskMs = 0.0;           // MIDI: the shortest interval the module sent
    double rateCapPerSecond = 0.0; // MIDI: the most strokes per second that mask allows
    double levelChangeDb = 0.0;    // audio: raise (+) or lower (-) the input level by this much
    bool recommendFast = false;    // audio: the Fast detector suits this playing better
    std::vector<std::string> verdicts; // one sentence per finding, in plain words
};

class TriggerCheck {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr double kCheckSeconds = 10.0;

    // Audio: appends samples (any count); the check keeps at most twelve seconds.
    void addSamples(const std::int16_t* samples, std::size_t count);
    // MIDI: one note-on the module sent, its time stamp and velocity (1..127).
    void addMidiStroke(std::int64_t tick100ns, int velocity);

    TriggerCheckFigures figures() const;

private:
    TriggerCheckFigures audioFigures() const;
    TriggerCheckFigures midiFigures() const;

    std::vector<std::int16_t> m_samples;
    struct MidiStroke {
        std::int64_t tick;
        int velocity;
    };
    std::vector<MidiStroke> m_midi;
};
