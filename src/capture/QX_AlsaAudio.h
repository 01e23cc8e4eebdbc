#pragma once
// Audio capture on ALSA and the device lists of the device dialog.
//
// QX_AudioFilterGraph opens one ALSA PCM for capture (16-bit little-endian
// mono at 44,100 Hz, 40 ms periods) and, once running, hands every period to
// its OnSamples handler on its own capture thread. The capture thread never
// allocates, locks, logs or throws; everything it needs is created in
// BuildGraph and Run. BuildGraph, Run, SetInputLine and the destructor run on
// the user-interface thread; the destructor stops and joins the capture
// thread before anything it uses goes.
//
// Device IDs are ALSA PCM names ("default", "pulse", "plughw:CARD=PCH,DEV=0");
// input lines are the capture elements of the device's mixer.
//
// The one header of the ALSA back-end: the stream is QX_AlsaAudio.cpp, the
// input lines QX_AlsaInputLines.cpp, the device list QX_AlsaDeviceList.cpp;
// what they share, and the ALSA handle owners, are private/ and stay there.

#include "analysis/StreamDrift.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"
#include "trigger/QX_Inputs.h"
#include "trigger/QX_Status.h"
#include "trigger/QX_Tuning.h"

#include <memory>
#include <optional>
#include <string>

class QX_AudioFilterGraph : public TQX_AudioInput {
public:
    QX_AudioFilterGraph();
    ~QX_AudioFilterGraph() override;
    QX_AudioFilterGraph(const QX_AudioFilterGraph&) = delete;
    QX_AudioFilterGraph& operator=(const QX_AudioFilterGraph&) = delete;

    // Opens DeviceID for capture without starting it; E_FAIL when the device
    // does not exist, refuses to open or cannot deliver the format.
    HRESULT BuildGraph(const std::string& DeviceID, QX_SampleHandler OnSamples) override;
    // Starts the capture thread; again on a started graph: no change.
    HRESULT Run() override;
    // The capture element (or capture-source item) listed as LineName:
    // capture switch on, capture volume from Level (0..1 over its range).
    // E_FAIL without an open device; S_OK when no line matched.
    HRESULT SetInputLine(const std::string& LineName, float Level) override;

    // True while the capture thread runs (it ends by itself when the device goes away).
    bool isCapturing() const override;
    // Where the capture stands against the monotonic clock (QX_StreamClock):
    // empty until the capture has run a few periods. Any thread.
    std::optional<double> streamOffsetFrames() const override;
    // The capture's fitted position against the monotonic clock (StreamDrift.h).
    std::optional<StreamLine> streamLine() const override;
    std::uint32_t overrunCount() const override;

    struct Capture;

private:
    std::unique_ptr<Capture> m_capture;
};

// The PCMs that can capture, the system default first: Name = description,
// ID = PCM name. E_FAIL and the list untouched when there is none.
HRESULT EnumAudioDevices(QX_DeviceList& List);

// The PCMs that can play the click, listed the same way.
HRESULT EnumPlaybackDevices(QX_DeviceList& List);

// The capture elements of DeviceID's mixer: Name = ID = element name (a
// repeated name gets its index from 1 after it: "Capture 2"), Level =
// capture volume on 0..1 or -1.0. E_FAIL and an empty list for an unknown device.
HRESULT EnumInputLines(const std::string& DeviceID, QX_DeviceList& List);

// An audio trigger device capturing from DeviceID (not started).
std::unique_ptr<TQX_AudioTriggerDevice> CreateAudioTriggerDevice(const std::string& DeviceID);
// The same with the fast detector.
std::unique_ptr<TQX_FastAudioTriggerDevice> CreateFastAudioTriggerDevice(const std::string& DeviceID);
