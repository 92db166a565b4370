#include "alsa/AlsaEndpointDiff.h"

#include "alsa/AlsaRefs.h"

namespace alsa {

namespace {

struct Direction {
    bool KnownPort::*has;
    RefKind kind;
    MIDIObjectType type;
};
constexpr Direction kDirections[] = {
    {&KnownPort::source, RefKind::Source, kMIDIObjectType_Source},
    {&KnownPort::destination, RefKind::Destination, kMIDIObjectType_Destination},
};

const KnownPort* portAt(const PortSnapshot& snapshot, uint32_t key) {
    const auto it = snapshot.find(key);
    return it == snapshot.end() ? nullptr : &it->second;
}

std::set<uint32_t> addressesOf(const PortSnapshot& before, const PortSnapshot& after,
                               const AnnouncedExits& exits) {
    std::set<uint32_t> keys(exits.ports);
    for (const auto* snapshot : {&before, &after}) {
        for (const auto& [key, port] : *snapshot) {
            keys.insert(key);
        }
    }
    return keys;
}

} // namespace

std::vector<EndpointChange> diffEndpoints(const PortSnapshot& before, const PortSnapshot& after,
                                          const AnnouncedExits& exits) {
    std::vector<EndpointChange> removed;
    std::vector<EndpointChange> added;
    for (const uint32_t key : addressesOf(before, after, exits)) {
        const KnownPort* was = portAt(before, key);
        const KnownPort* now = portAt(after, key);
        const bool exited = exits.contains(key);
        for (const Direction& d : kDirections) {
            const bool wasThere = was != nullptr ? was->*d.has : exits.ports.count(key) != 0;
            const bool isThere = now != nullptr && now->*d.has;
            const MIDIObjectRef ref = makeRef(d.kind, keyClient(key), keyPort(key));
            if (wasThere && (exited || !isThere)) {
                removed.push_back({kMIDIMsgObjectRemoved, ref, d.type});
            }
            if (isThere && (exited || !wasThere)) {
                added.push_back({kMIDIMsgObjectAdded, ref, d.type});
            }
        }
    }
    removed.insert(removed.end(), added.begin(), added.end());
    return removed;
}

} // namespace alsa
