#include "CountMidi.h"

#include "CountAudio.h"
#include "CountOutput.h"
#include "CountReport.h"
#include "capture/QX_MidiPort.h"
#include "trigger/QX_Clock.h"
#include "trigger/QX_MidiTriggerDevice.h"
#include "trigger/SpscRing.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <memory>
#include <thread>

namespace {

struct MidiStroke {
    std::int32_t number = 0;
    std::int64_t sinceFirst100ns = 0; // from the first counted stroke
    std::int32_t interval100ns = 0;
    float level = 0.0f;
};

// The strokes on their way to the printer, and the tick of the first one.
// The ring is far larger than the strokes of one poll interval; when the
// printer has fallen that far behind, a stroke is dropped from the printout
// only, and the device still counts it for the summary.
struct MidiStrokeRing : SpscRing<MidiStroke, 1024> {
    // Millisecond tick of the first counted stroke, 0 before it.
    std::atomic<std::uint32_t> firstStrokeTick{0};
};

// Sits between the trigger device and its port: passes every note on to the
// device, exactly as the program's own port would, and afterwards reports
// each stroke the device counted. Runs on the reader thread.
class StrokeTap : public TQX_MidiInput {
public:
    explicit StrokeTap(MidiStrokeRing& ring) : m_port(std::make_unique<QX_MidiPort>()), m_ring(ring) {}

    HRESULT OpenPort(const std::string& PortID, QX_NoteHandler OnNote) override
    {
        m_deviceHandler = OnNote;
        m_openResult = m_port->OpenPort(PortID, QX_NoteHandler::Bind<StrokeTap, &StrokeTap::onNote>(this));
        return m_openResult;
    }
    // What opening the port gave; the device itself does not look.
    HRESULT openResult() const { return m_openResult; }
    void SetChannel(std::int32_t Channel) override { m_port->SetChannel(Channel); }
    void Resume() override { m_port->Resume(); }
    void Terminate() override { m_port->Terminate(); }
    bool IsDelivering() const override { return m_port->IsDelivering(); }

    // Before Start: the device whose strokes are reported.
    void attach(const TQX_MidiTriggerDevice* device) { m_device = device; }

private:
    void onNote(std::uint8_t note, std::uint8_t velocity, std::int64_t time100ns)
    {
        if (m_deviceHandler)
            m_deviceHandler(note, velocity, time100ns);
        const std::int32_t count = m_device ? m_device->GetCount() : 0;
        if (count == m_reported)
            return;
        m_reported = count;
        if (count == 1) {
            m_firstTime100ns = time100ns;
            const std::uint32_t tick = tickCountMs();
            m_ring.firstStrokeTick.store(tick != 0 ? tick : 1, std::memory_order_release);
        }
        const auto record = m_device->lastStroke();
        m_ring.push({count, time100ns - m_firstTime100ns, record.intervalTicks, record.level});
    }

    std::unique_ptr<QX_MidiPort> m_port;
    HRESULT m_openResult = E_FAIL;
    MidiStrokeRing& m_ring;
    QX_NoteHandler m_deviceHandler;
    const TQX_MidiTriggerDevice* m_device = nullptr;
    std::int32_t m_reported = 0;
    std::int64_t m_firstTime100ns = 0;
};

void printMidiStroke(std::FILE* out, const MidiStroke& s)
{
    constexpr double kUnitsPerSecond = 1.0e7;
    std::fprintf(out, "%" PRId32 ",%.6f,%.6f,%.9g\n", s.number, static_cast<double>(s.sinceFirst100ns) / kUnitsPerSecond,
                 static_cast<double>(s.interval100ns) / kUnitsPerSecond, static_cast<double>(s.level));
}

bool portListed(const std::string& portId)
{
    QX_DeviceList ports;
    QX_MidiPort lister;
    lister.EnumPorts(ports);
    for (const auto& p : ports)
        if (p.ID == portId)
            return true;
    return false;
}

} // namespace

int countMidiLive(const std::string& portId, int channel, int note, std::int32_t timeLimitMs, bool report)
{
    if (!portListed(portId)) {
        std::fprintf(stderr, "tempovaro-count: no MIDI input port '%s' (see --list)\n", portId.c_str());
        return 1;
    }
    // The note filter lives as long as the device, like the program's setting.
    static std::int32_t noteFilter = -1;
    noteFilter = note;

    MidiStrokeRing strokes;
    auto tapOwned = std::make_unique<StrokeTap>(strokes);
    StrokeTap* tap = tapOwned.get();
    auto device = std::make_unique<TQX_MidiTriggerDevice>(portId, std::move(tapOwned), &noteFilter);
    tap->attach(device.get());
    if (FAILED(tap->openResult())) {
        std::fprintf(stderr, "tempovaro-count: cannot open MIDI input port '%s'\n", portId.c_str());
        return 1;
    }
    device->SetChannel(channel);

    installInterruptHandler();
    if (!report)
        std::fputs("stroke,time_s,interval_s,level\n", stdout);
    std::fflush(stdout);
    std::fputs("tempovaro-count: waiting for notes (the first one arms, the second is stroke 1)\n", stderr);
    device->Start(timeLimitMs);

    std::int32_t printed = 0;
    bool portLost = false;
    RunRecord run;
    run.recordingTimeMs = timeLimitMs;
    run.ticksPerSecond = kMidiTicksPerSecond;
    const auto printQueued = [&] {
        MidiStroke stroke;
        while (strokes.pop(stroke)) {
            run.strokes.push_back({stroke.sinceFirst100ns, stroke.level, -1});
            if (!report)
                printMidiStroke(stdout, stroke);
            printed = stroke.number;
        }
        std::fflush(stdout);
    };
    // Like the main window: once the stopwatch has run out, the notes' own
    // stamps decide, and a note still on its way is waited for a moment.
    std::chrono::steady_clock::time_point timeUp{};
    bool waiting = false;
    for (;;) {
        printQueued();
        if (timeLimitMs >= 0 && device->IsTimeOver())
            break;
        if (timeLimitMs >= 0 && strokes.firstStrokeTick.load() != 0 && device->GetElapsedTime() >= timeLimitMs) {
            const auto now = std::chrono::steady_clock::now();
            if (!waiting) {
                waiting = true;
                timeUp = now;
            }
            if (now - timeUp >= std::chrono::milliseconds(device->endWaitMs()))
                break;
        }
        if (interruptRequested())
            break;
        // Ending here keeps the summary's time to the time the port delivered.
        if (device->captureHealth() == CaptureHealth::StoppedDelivering) {
            portLost = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.ranToEnd = timeLimitMs >= 0 && (device->IsTimeOver() || waiting);
    // Freeing the device stops and joins the reader; after it, the ring holds
    // every stroke there will be, and the summary counts what was printed.
    device.reset();
    printQueued();
    if (report)
        printReport(stdout, run);
    printSummary(stdout, countSummary(printed, run));
    if (portLost) {
        std::fprintf(stderr, "tempovaro-count: the MIDI input port '%s' stopped delivering\n", portId.c_str());
        return 1;
    }
    return 0;
}

void listMidiPorts(std::FILE* out)
{
    QX_DeviceList ports;
    QX_MidiPort lister;
    lister.EnumPorts(ports);
    for (const auto& p : ports)
        std::fprintf(out, "midi\t%s\t%s\n", p.ID.c_str(), p.Name.c_str());
}
