#include "FakeClock.h"
#include "trigger/QX_MidiTriggerDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kSecond = 10'000'000;
// Message times are far above one second, as the port delivers them.
constexpr std::int64_t kT0 = 1000 * kSecond;

class Probe : public TQX_MidiTriggerDevice {
public:
    using TQX_MidiTriggerDevice::TQX_MidiTriggerDevice;
    std::int32_t interval(int slot) const { return StrokeIntervals[slot].load(); }
    float strokeLevel(int slot) const { return StrokeLevels[slot].load(); }
    int filledSlots() const
    {
        int n = 0;
        for (const auto& s : StrokeIntervals)
            n += s.load() != EmptyInterval;
        return n;
    }
};

TEST(MidiTrigger, FirstNoteArmsThenEachNoteCountsItsInterval)
{
    FakeClock clock(5000);
    Probe d("");
    d.Start(-1);
    d.HandleNote(38, 100, kT0);
    EXPECT_EQ(d.GetCount(), 0) << "the first note only arms";
    EXPECT_EQ(d.filledSlots(), 0);

    clock.set(6000);
    d.HandleNote(38, 100, kT0 + kSecond / 2);
    EXPECT_EQ(d.GetCount(), 1);
    EXPECT_EQ(d.interval(0), 5'000'000);
    clock.set(7000);
    EXPECT_EQ(d.GetElapsedTime(), 0) << "endless measurements report no elapsed time";

    d.HandleNote(38, 100, kT0 + kSecond);
    EXPECT_EQ(d.GetCount(), 2);
    EXPECT_EQ(d.interval(1), 5'000'000);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 0.5f);
}

TEST(MidiTrigger, RecordingTimeStartsAtTheFirstCountedNote)
{
    FakeClock clock(5000);
    Probe d("");
    d.Start(10000);
    d.HandleNote(38, 100, kT0);
    clock.set(5500);
    d.HandleNote(38, 100, kT0 + kSecond / 2);
    clock.set(8500);
    EXPECT_EQ(d.GetElapsedTime(), 3000);
}

TEST(MidiTrigger, OneSecondBoundary)
{
    FakeClock clock;
    Probe d("");
    d.Start(-1);
    d.HandleNote(36, 90, kT0);
    d.HandleNote(36, 90, kT0 + kSecond);
    EXPECT_EQ(d.GetCount(), 1) << "exactly one second still counts";
    EXPECT_EQ(d.interval(0), 10'000'000);

    d.HandleNote(36, 90, kT0 + 2 * kSecond + 1);
    EXPECT_EQ(d.GetCount(), 1) << "a note after more than one second only re-arms";
    EXPECT_EQ(d.filledSlots(), 0) << "and empties the history";
    EXPECT_EQ(d.GetMeanInterval(), TQX_TriggerDevice::NoInterval);

    d.HandleNote(36, 90, kT0 + 2 * kSecond + 1 + 10000);
    EXPECT_EQ(d.GetCount(), 2) << "there is no dead time: 1 ms later counts";
    EXPECT_EQ(d.interval(1), 10000) << "the history ring goes on at the next slot";
}

TEST(MidiTrigger, NoteFilterIsReadAtEveryMessage)
{
    FakeClock clock;
    std::int32_t noteNr = 38;
    Probe d("", nullptr, &noteNr);
    d.Start(-1);
    d.HandleNote(38, 50, kT0);
    d.HandleNote(36, 127, kT0 + kSecond / 4);
    EXPECT_EQ(d.GetLastNote(), 36);
    EXPECT_FLOAT_EQ(d.GetLevel(), 1.0f) << "a filtered note still moves the meter";
    EXPECT_EQ(d.GetCount(), 0);
    EXPECT_EQ(d.filledSlots(), 0);

    // The interval runs from the last accepted note, not from the filtered one.
    d.HandleNote(38, 50, kT0 + kSecond / 2);
    EXPECT_EQ(d.GetCount(), 1);
    EXPECT_EQ(d.interval(0), 5'000'000);

    noteNr = -1;
    d.HandleNote(36, 50, kT0 + kSecond * 6 / 10);
    d.HandleNote(40, 50, kT0 + kSecond * 7 / 10);
    EXPECT_EQ(d.GetCount(), 3) << "-1 accepts every note";

    noteNr = 40;
    d.HandleNote(36, 50, kT0 + kSecond * 8 / 10);
    d.HandleNote(40, 50, kT0 + kSecond * 9 / 10);
    EXPECT_EQ(d.GetCount(), 4);
    EXPECT_EQ(d.interval(3), 2'000'000);
}

TEST(MidiTrigger, VelocityGivesTheLevel)
{
    FakeClock clock;
    Probe d("");
    d.Start(-1);
    d.HandleNote(36, 64, kT0);
    EXPECT_FLOAT_EQ(d.GetLevel(), 0.50393701f);
    d.HandleNote(36, 127, kT0 + 1000);
    EXPECT_EQ(d.GetLevel(), 1.0f);
    EXPECT_EQ(d.strokeLevel(0), 1.0f);
    d.HandleNote(36, 64, kT0 + 2000);
    EXPECT_EQ(d.GetLevel(), 1.0f) << "the level holds the peak until reset";
    EXPECT_FLOAT_EQ(d.strokeLevel(1), 0.50393701f) << "each stroke keeps its own velocity";
    d.ResetLevel();
    d.HandleNote(36, 1, kT0 + 3000);
    EXPECT_FLOAT_EQ(d.GetLevel(), 1.0f / 127.0f);
}

// The recording time runs on the notes' stamps from the first counted one to
// 1 ms before its end: a note stamped just inside counts whenever it arrives,
// the first one past it closes the recording; then only note and level move.
TEST(MidiTrigger, AfterTheTimeIsOverOnlyNoteAndLevelMove)
{
    FakeClock clock(1000);
    Probe d("");
    d.Start(10000);
    // Notes every half second: the first arms, stroke 1 starts the time and
    // the 21st note after it is stamped on the last 100 ns inside.
    const std::int64_t end = kT0 + 21 * kSecond / 2 - kSecond / 1000;
    for (int k = 0; k <= 21; ++k) {
        clock.advance(k == 21 ? 60000 : 500);
        d.HandleNote(36, 10, k == 21 ? end - 1 : kT0 + k * kSecond / 2);
    }
    EXPECT_EQ(d.GetCount(), 21) << "the last one stamped inside the end, however late it came";
    EXPECT_FALSE(d.IsTimeOver());
    ASSERT_TRUE(d.FetchNewStroke());

    d.HandleNote(42, 120, end);
    EXPECT_TRUE(d.IsTimeOver());
    d.HandleNote(42, 127, end + 2);
    EXPECT_EQ(d.GetLastNote(), 42);
    EXPECT_EQ(d.GetLevel(), 1.0f);
    EXPECT_EQ(d.GetCount(), 21);
    EXPECT_FALSE(d.FetchNewStroke());
}

TEST(MidiTrigger, MeanOfQuarterSecondStrokes)
{
    FakeClock clock;
    Probe d("");
    d.Start(-1);
    for (int i = 0; i < 4; ++i)
        d.HandleNote(36, 100, kT0 + i * kSecond / 4);
    EXPECT_EQ(d.GetCount(), 3);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 0.25f);
}

TEST(MidiTrigger, StartForgetsTheLastNoteTime)
{
    FakeClock clock;
    Probe d("");
    d.Start(-1);
    d.HandleNote(36, 100, kT0);
    d.HandleNote(36, 100, kT0 + 1000);
    ASSERT_EQ(d.GetCount(), 1);
    d.Start(-1);
    EXPECT_EQ(d.filledSlots(), 0);
    d.HandleNote(36, 100, kT0 + 2000);
    EXPECT_EQ(d.filledSlots(), 0) << "after Start the next note arms again";
}

// A port that records how the device drives it.
class FakePort : public TQX_MidiInput {
public:
    explicit FakePort(std::vector<std::string>& log) : m_log(log) {}
    ~FakePort() override { m_log.push_back("destroyed"); }
    HRESULT OpenPort(const std::string& id, QX_NoteHandler onNote) override
    {
        m_log.push_back("open " + id);
        handler = onNote;
        return E_FAIL;
    }
    void SetChannel(std::int32_t channel) override { m_log.push_back("channel " + std::to_string(channel)); }
    void Resume() override { m_log.push_back("resume"); }
    void Terminate() override { m_log.push_back("terminate"); }

    static inline QX_NoteHandler handler;

private:
    std::vector<std::string>& m_log;
};

TEST(MidiTrigger, DrivesItsPortInOrder)
{
    FakeClock clock;
    std::vector<std::string> log;
    {
        auto d = std::make_unique<Probe>("{A}", std::make_unique<FakePort>(log));
        d->SetChannel(10);
        d->Start(-1);
        ASSERT_TRUE(FakePort::handler);
        // The handler given to the port leads to this device's HandleNote.
        FakePort::handler(50, 127, kT0);
        EXPECT_EQ(d->GetLastNote(), 50);
        d.reset();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"open {A}", "channel 10", "resume", "terminate", "destroyed"}));

    Probe portless("");
    portless.SetChannel(3); // no port: nothing happens, nothing breaks
    portless.Start(-1);
    EXPECT_EQ(portless.GetLastNote(), -1);
}

// The reader thread plays notes while the user-interface thread polls and
// changes the note filter, as the main window and the dialog do.
TEST(MidiTrigger, ReaderAndUserInterfaceThreads)
{
    FakeClock clock;
    std::int32_t noteNr = -1;
    Probe d("", nullptr, &noteNr);
    d.Start(-1);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (int i = 0; i < 20000; ++i)
            d.HandleNote(static_cast<std::uint8_t>(36 + i % 2), static_cast<std::uint8_t>(1 + i % 127),
                         kT0 + i * 1000);
        done = true;
    });
    while (!done) {
        d.FetchNewStroke();
        d.GetMeanInterval();
        d.GetLevel();
        d.ResetLevel();
        std::atomic_ref<std::int32_t>(noteNr).store(noteNr == -1 ? 36 : -1, std::memory_order_relaxed);
    }
    reader.join();
    EXPECT_GT(d.GetCount(), 0);
    EXPECT_LE(d.GetCount(), 19999);
    // Accepted notes are 1000 or, with the filter on note 36, 2000 units apart.
    EXPECT_GE(d.GetMeanInterval(), 0.0001f * 0.999f);
    EXPECT_LE(d.GetMeanInterval(), 0.0002f * 1.001f);
}

} // namespace
