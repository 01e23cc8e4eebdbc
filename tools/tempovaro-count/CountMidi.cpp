#include "CountMidi.h"

int countMidiLive(const std::string&, int, int, int)
{
    std::fputs("tempovaro-count: MIDI input is not available in this build\n", stderr);
    return 1;
}

void listMidiPorts(std::FILE*) {}
