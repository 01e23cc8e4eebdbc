#pragma once
// Waiting in tests for something another process or thread makes true: a
// server that answers, a capture thread that has delivered, a note that
// arrived. Never a way to let time pass: the deadline only keeps a broken
// build from hanging the run.

#include <chrono>
#include <thread>

// Checks cond every pollMs until it holds or timeoutMs have passed; true
// when it held. cond may also act (send a probe) while it waits.
template <class Cond>
bool waitUntil(Cond cond, int timeoutMs = 10000, int pollMs = 5)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}
