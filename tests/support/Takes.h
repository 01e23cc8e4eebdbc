#pragma once
// Takes of a test played in real time through a sound server.

#include <iostream>

// On a loaded machine (sanitizers, parallel builds) a server now and then
// glitches a period, loses a click or holds a note back a cycle, and a burst
// of load can spoil two takes running. A take so disturbed is played again,
// up to three takes in all; a fault of the program shows in every take, and
// the checks after the takes see it. take() says whether its take was
// undisturbed; takes() whether one was.
template <class Take>
bool takes(Take take)
{
    constexpr int kTakes = 3;
    for (int n = 1; n <= kTakes; ++n) {
        if (take())
            return true;
        if (n < kTakes)
            std::cout << "[ RETAKE   ] take " << n << " was disturbed; playing it again" << std::endl;
    }
    return false;
}
