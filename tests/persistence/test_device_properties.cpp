#include "persistence/QX_Global.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// The MIDI reader filters notes through a pointer to the global's
// MidiNoteNr while the device dialog assigns whole records on the
// user-interface thread; ThreadSanitizer checks that the two never race.
TEST(DeviceProperties, NoteFilterReadsWhileRecordsAreAssigned)
{
    DeviceProperties.storeMidiNoteNr(38);
    const std::int32_t* filter = &DeviceProperties.MidiNoteNr;
    std::atomic<bool> done{false};
    std::atomic<int> oddValues{0};
    std::thread reader([&] {
        while (!done.load(std::memory_order_acquire)) {
            const std::int32_t n = std::atomic_ref<const std::int32_t>(*filter).load(std::memory_order_relaxed);
            if (n != 38 && n != -1)
                oddValues.fetch_add(1);
        }
    });

    TQX_DeviceProperties allNotes;
    allNotes.MidiChannel.ID = "10";
    allNotes.storeMidiNoteNr(-1);
    TQX_DeviceProperties snare = allNotes;
    snare.storeMidiNoteNr(38);
    for (int i = 0; i < 20000; ++i) {
        const TQX_DeviceProperties copy(i % 2 ? snare : allNotes);
        DeviceProperties = copy;
        EXPECT_EQ(DeviceProperties.loadMidiNoteNr(), i % 2 ? 38 : -1);
    }
    done.store(true, std::memory_order_release);
    reader.join();
    EXPECT_EQ(oddValues.load(), 0);
    EXPECT_EQ(DeviceProperties.MidiChannel.ID, "10");
}

} // namespace
