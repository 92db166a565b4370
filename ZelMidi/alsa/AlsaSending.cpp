#include "alsa/AlsaSending.h"

#include "alsa/AlsaClient.h"
#include "alsa/AlsaCodec.h"
#include "alsa/AlsaStatus.h"

#include <vector>

namespace alsa {

namespace {

OSStatus sendEvents(Client& client, int fromPort, int toClient, int toPort, bool hardware,
                    const MIDIPacketList* list) {
    // Whose room to wait for: the one software receiver, or every subscriber of a broadcast.
    std::vector<int> receivers;
    if (toClient < 0) {
        receivers = client.subscribers(fromPort);
    } else if (!hardware) {
        receivers.push_back(toClient);
    }
    RoomBudget room;
    EventEncoder encoder(client.largestChunkFor(receivers, packetListByteSize(list),
                                                EventEncoder::kDefaultSysExChunk, &room));
    if (!encoder.valid()) {
        return kMIDIUnknownError;
    }
    MIDIConstPacketPtr packet = packetListFirst(list);
    for (uint32_t i = 0, n = packetListCount(list); i < n; ++i, packet = packetNext(packet)) {
        const int r =
            encoder.encode(packetData(packet), packetLength(packet), [&](snd_seq_event_t& ev) {
                ev.source.port = static_cast<unsigned char>(fromPort);
                if (toClient < 0) {
                    snd_seq_ev_set_subs(&ev);
                } else {
                    ev.dest.client = static_cast<unsigned char>(toClient);
                    ev.dest.port = static_cast<unsigned char>(toPort);
                }
                snd_seq_ev_set_direct(&ev);
                return client.output(ev, receivers, hardware, room);
            });
        if (r < 0) {
            return statusFromAlsa(r); // the rest would only wait and fail the same way
        }
    }
    return noErr;
}

} // namespace

OSStatus sendToDestination(Client& client, int fromPort, int toClient, int toPort,
                           const MIDIPacketList* list) {
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    const bool hardware = client.prepareOutput(fromPort, toClient, toPort);
    return sendEvents(client, fromPort, toClient, toPort, hardware, list);
}

OSStatus publishFromSource(Client& client, int sourcePort, const MIDIPacketList* list) {
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    return sendEvents(client, sourcePort, -1, -1, false, list);
}

OSStatus flushDestination(Client& client, int toClient, int toPort) {
    // Everything goes out directly, so only events still scheduled in a queue can be dropped.
    const int r = client.withSeq([&](snd_seq_t* seq) {
        snd_seq_remove_events_t* remove = nullptr;
        snd_seq_remove_events_alloca(&remove);
        snd_seq_addr_t addr{static_cast<unsigned char>(toClient),
                            static_cast<unsigned char>(toPort)};
        snd_seq_remove_events_set_condition(remove, SND_SEQ_REMOVE_OUTPUT | SND_SEQ_REMOVE_DEST);
        snd_seq_remove_events_set_dest(remove, &addr);
        return snd_seq_remove_events(seq, remove);
    });
    return statusFromAlsa(r);
}

} // namespace alsa
