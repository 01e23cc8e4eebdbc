#pragma once
// A millisecond tick that tests set by hand. Installing it replaces the
// process-wide tick source until the guard goes out of scope.

#include "trigger/QX_Clock.h"

#include <atomic>
#include <cstdint>

class FakeClock {
public:
    explicit FakeClock(std::uint32_t startMs = 1000)
    {
        now().store(startMs);
        setTickSource(&read);
    }
    ~FakeClock() { setTickSource(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void set(std::uint32_t ms) { now().store(ms); }
    void advance(std::uint32_t ms) { now().fetch_add(ms); }
    std::uint32_t get() const { return now().load(); }

private:
    static std::atomic<std::uint32_t>& now()
    {
        static std::atomic<std::uint32_t> value{0};
        return value;
    }
    static std::uint32_t read() { return now().load(); }
};
