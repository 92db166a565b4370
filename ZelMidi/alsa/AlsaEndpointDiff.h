// Which endpoints came and went between two snapshots of the kernel's ports.
#pragma once

#include "MidiService.h"
#include "alsa/AlsaKnownPort.h"

#include <set>
#include <vector>

namespace alsa {

// The exits announced in one batch. A port that left and came back at the same address between
// two snapshots looks unchanged, yet the kernel dropped every subscription it had: so an
// announced exit counts as a removal whatever the second snapshot holds.
struct AnnouncedExits {
    std::set<uint32_t> ports; // by address key
    std::set<int> clients;    // every port of these clients
    bool contains(uint32_t key) const {
        return ports.count(key) != 0 || clients.count(keyClient(key)) != 0;
    }
};

struct EndpointChange {
    MIDINotificationMessageID id = kMIDIMsgObjectAdded; // kMIDIMsgObjectAdded or ...Removed
    MIDIObjectRef endpoint = 0;                         // a Source or Destination reference
    MIDIObjectType type = kMIDIObjectType_Source;
    bool operator==(const EndpointChange&) const = default;
};

// Every removal, then every addition; within each, in address order, a port's source before its
// destination. A port whose exit was announced but that `before` does not hold is removed in
// both directions: the listener ignores what it does not list.
std::vector<EndpointChange> diffEndpoints(const PortSnapshot& before, const PortSnapshot& after,
                                          const AnnouncedExits& exits);

} // namespace alsa
