#include "MidiService.h"

#include <ctime>

MIDITimeStamp MidiService::hostTime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<MIDITimeStamp>(ts.tv_sec) * 1'000'000'000u +
           static_cast<MIDITimeStamp>(ts.tv_nsec);
}
