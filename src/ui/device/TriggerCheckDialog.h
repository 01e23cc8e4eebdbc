#pragma once
// TriggerCheckDialog: "Check Trigger..." from the device dialog. The player
// presses Start and plays for ten seconds (single strokes from soft to loud,
// then their fastest roll); the dialog then shows what TriggerCheck found,
// in plain words, and "Set Level" hands the recommended level change back.
//
// What it reads and when time is up come from outside: collect feeds the
// check with whatever arrived since its last call, nowMs is the clock, so
// tests drive the whole check without sound hardware or waiting. openFor
// wires both to the program's trigger device: an audio device's samples
// through a sample tap, a MIDI device's stroke events.
//
// Threads: user-interface thread only.

#include "analysis/TriggerCheck.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

class TriggerCheckDialog : public QDialog {
    Q_OBJECT
public:
    TriggerCheckDialog(std::function<void(TriggerCheck&)> collect, std::function<std::int64_t()> nowMs,
                       QWidget* parent = nullptr);

    // A window-modal check of the program's TriggerDevice, shown and deleted
    // when closed; audio says whether it is an audio device. onSetLevel gets
    // the recommended change in dB when the player accepts it; nowMs is the
    // clock (unset: the steady clock).
    static TriggerCheckDialog* openFor(bool audio, std::function<void(double)> onSetLevel, QWidget* parent,
                                       std::function<std::int64_t()> nowMs = {});

    // Called with the recommended change in dB when the player accepts it.
    std::function<void(double)> OnSetLevel;

    QLabel* Instructions = nullptr;
    QLabel* Progress = nullptr;
    QLabel* Results = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnSetLevel = nullptr;
    QPushButton* btnClose = nullptr;
    QTimer* Timer = nullptr;

    const TriggerCheckFigures& figures() const { return m_figures; }

public slots:
    void btnStartClick();
    void btnSetLevelClick();
    void TimerTick();

private:
    std::function<void(TriggerCheck&)> m_collect;
    std::function<std::int64_t()> m_nowMs;
    TriggerCheck m_check;
    TriggerCheckFigures m_figures;
    std::int64_t m_startMs = 0;
    bool m_running = false;
};
