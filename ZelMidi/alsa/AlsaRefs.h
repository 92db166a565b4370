// How sequencer objects are named by 32-bit references. The top byte is the kind of object, the
// low 16 bits the ALSA client and port numbers (bits 16 to 23 are zero). A port that is both a
// source and a destination therefore gives two distinct references, and no reference is 0.
#pragma once

#include "MidiService.h"

#include <cstdint>

namespace alsa {

enum class RefKind : uint8_t {
    None = 0,
    Client = 1,      // a client of this process; the port byte is 0
    Port = 2,        // an input or output port of this process
    Source = 3,      // a port others can read from (READ and SUBS_READ)
    Destination = 4, // a port others can write to (WRITE and SUBS_WRITE)
    Entity = 5,      // the port as a whole, the parent of its source and destination
};

struct RefParts {
    RefKind kind = RefKind::None;
    int client = 0;
    int port = 0;
};

inline constexpr MIDIObjectRef makeRef(RefKind kind, int client, int port) {
    if (kind == RefKind::None || client < 0 || client > 255 || port < 0 || port > 255) {
        return 0;
    }
    return (static_cast<uint32_t>(kind) << 24) | (static_cast<uint32_t>(client) << 8) |
           static_cast<uint32_t>(port);
}

// Any value that makeRef cannot produce splits into kind None.
inline constexpr RefParts splitRef(MIDIObjectRef ref) {
    const uint32_t kind = ref >> 24;
    if (kind < static_cast<uint32_t>(RefKind::Client) ||
        kind > static_cast<uint32_t>(RefKind::Entity) || ((ref >> 16) & 0xffu) != 0) {
        return {};
    }
    return {static_cast<RefKind>(kind), static_cast<int>((ref >> 8) & 0xffu),
            static_cast<int>(ref & 0xffu)};
}

} // namespace alsa
