// Sending a few bytes as one packet, now: the list is built in a stack buffer, never on the heap.
#pragma once

#include "MidiService.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace zelmidi_detail {

// Room for the list and packet headers (14 bytes) with some to spare.
inline constexpr size_t kHeaderRoom = 100;

[[noreturn]] inline void sizePreconditionBroken() {
    std::fputs("Assertion failed: size < 65536\n", stderr);
    std::abort();
}

// One packet of `size` bytes (below 65536, or the program stops), timestamp 0, handed to
// `deliver` as a packet list that lives for the length of the call.
template <typename Deliver>
void withOnePacketList(const uint8_t* bytes, uint32_t size, Deliver&& deliver) {
    if (!(size < 65536)) {
        sizePreconditionBroken();
    }
    alignas(MIDIPacketList) std::array<uint8_t, kMaxPacketDataSize + kHeaderRoom> buffer;
    const size_t listSize = size + kHeaderRoom;
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketPtr packet = packetListInit(list, listSize);
    (void)packetListAdd(list, listSize, packet, 0, size, bytes);
    deliver(list);
}

} // namespace zelmidi_detail
