#include "trigger/QX_TriggerDevice.h"

#include "trigger/QX_Clock.h"

std::unique_ptr<TQX_TriggerDevice> TriggerDevice;

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

namespace {
std::atomic<std::uint64_t> g_nextSerial{1};
}

TQX_TriggerDevice::TQX_TriggerDevice() : m_serial(g_nextSerial.fetch_add(1, std::memory_order_relaxed))
{
    ResetHistory();
}

TQX_TriggerDevice::~TQX_TriggerDevice() = default;

std::int32_t TQX_TriggerDevice::GetCount() const
{
    return Count.load(std::memory_order_acquire);
}

float TQX_TriggerDevice::GetLevel() const
{
    return Level.load(kRelaxed);
}

void TQX_TriggerDevice::ResetLevel()
{
    Level.store(0.0f, kRelaxed);
}

std::int32_t TQX_TriggerDevice::GetLastNote() const
{
    return LastNote.load(kRelaxed);
}

bool TQX_TriggerDevice::FetchNewStroke()
{
    // One exchange: a stroke flagged between a separate read and clear would be lost.
    return NewStroke.exchange(false, std::memory_order_acq_rel);
}

void TQX_TriggerDevice::ResetHistory()
{
    for (auto& interval : StrokeIntervals)
        interval.store(EmptyInterval, kRelaxed);
    for (auto& level : StrokeLevels)
        level.store(0.0f, kRelaxed);
    GapCounter = 0;
}

bool TQX_TriggerDevice::IsTimeOver() const
{
    return m_closedShared.load(std::memory_order_acquire);
}

std::int32_t TQX_TriggerDevice::GetElapsedTime() const
{
    const std::int32_t limit = TimeLimit.load(kRelaxed);
    const std::uint32_t start = StartTick.load(kRelaxed);
    if (limit < 0 || start == 0)
        return 0;
    // The unsigned difference survives the wrap of the tick; read as signed,
    // a tick behind the start (never seen with a monotonic clock) stays below the limit.
    const auto elapsed = static_cast<std::int32_t>(tickCountMs() - start);
    return elapsed < limit ? elapsed : limit;
}

void TQX_TriggerDevice::RecordStroke(std::int32_t Interval, float StrokeLevel)
{
    StrokeIntervals[HistoryIndex].store(Interval, kRelaxed);
    StrokeLevels[HistoryIndex].store(StrokeLevel, kRelaxed);
    HistoryIndex = (HistoryIndex + 1) % 8;
    // The first counted stroke starts the recording time.
    if (StartTick.load(kRelaxed) == 0)
        StartTick.store(tickCountMs(), kRelaxed);
    Count.fetch_add(1, std::memory_order_release);
    NewStroke.store(true, std::memory_order_release);
}

void TQX_TriggerDevice::raiseLevel(float v)
{
    float current = Level.load(kRelaxed);
    // The user-interface thread may zero Level at any moment; the loop keeps a
    // peak from being written over a reset that came in between.
    while (v > current && !Level.compare_exchange_weak(current, v, kRelaxed, kRelaxed)) {
    }
}

float TQX_TriggerDevice::meanIntervalSeconds(std::int32_t ticksPerSecond) const
{
    std::int32_t n = 0;
    float sum = 0.0f;
    for (const auto& slot : StrokeIntervals) {
        const std::int32_t interval = slot.load(kRelaxed);
        if (interval < EmptyInterval) {
            ++n;
            sum = sum + static_cast<float>(interval);
        }
    }
    if (n == 0)
        return NoInterval;
    const std::int32_t divisor = n * ticksPerSecond;
    return static_cast<float>(static_cast<double>(sum) / static_cast<double>(divisor));
}

std::size_t TQX_TriggerDevice::drainStrokeEvents(std::vector<StrokeEvent>& out)
{
    return m_strokeEvents.drain([&out](const StrokeEvent& e) { out.push_back(e); });
}

std::uint64_t TQX_TriggerDevice::droppedStrokeEvents() const
{
    return m_strokeEvents.droppedCount() - m_droppedAtStart.load(kRelaxed);
}

void TQX_TriggerDevice::publishStroke(std::int64_t tick, float level, std::int32_t note)
{
    if (!m_hasEnd) {
        const std::int32_t limit = TimeLimit.load(kRelaxed);
        // A stroke in the last millisecond is left out: in an even roll whose
        // pace divides the recording time it is the stroke that lands on the
        // end, and a sample of difference in its onset must not decide the count.
        if (limit >= 0) {
            m_hasEnd = true;
            m_endTick = lastTickInside(tick, limit, ticksPerSecond());
        }
    }
    m_strokeEvents.push(StrokeEvent{tick, level, note});
}

void TQX_TriggerDevice::closeRecording()
{
    m_closed = true;
    m_closedShared.store(true, std::memory_order_release);
}

void TQX_TriggerDevice::clearStrokeEvents()
{
    m_strokeEvents.drain([](const StrokeEvent&) {});
    m_droppedAtStart.store(m_strokeEvents.droppedCount(), kRelaxed);
    m_hasEnd = false;
    m_closed = false;
    m_closedShared.store(false, kRelaxed);
}

TQX_TriggerDevice::StrokeRecord TQX_TriggerDevice::lastStroke(std::int32_t back) const
{
    const std::int32_t slot = (HistoryIndex + 7 - (back & 7)) % 8;
    return {StrokeIntervals[slot].load(kRelaxed), StrokeLevels[slot].load(kRelaxed)};
}
