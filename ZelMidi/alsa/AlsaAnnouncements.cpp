#include "alsa/AlsaAnnouncements.h"

#include "alsa/AlsaClient.h"
#include "alsa/AlsaClientRegistry.h"
#include "alsa/AlsaEndpointDirectory.h"
#include "alsa/AlsaRefs.h"
#include "alsa/AlsaUniqueIds.h"

#include <algorithm>

namespace alsa {

Announcements::Announcements(MIDINotifyProc notifyProc, void* notifyRefCon,
                             const ClientRegistry& clients, EndpointDirectory& directory)
    : notifyProc_(notifyProc), notifyRefCon_(notifyRefCon), clients_(clients),
      directory_(directory) {}

void Announcements::start() {
    told_ = directory_.readNow();
}

Announcements::Summary Announcements::summarise(const std::vector<Announcement>& batch) const {
    Summary summary;
    for (const Announcement& a : batch) {
        if (a.type == kAnnouncementOverrun) {
            summary.overrun = true;
            continue;
        }
        if (a.client == SND_SEQ_CLIENT_SYSTEM || clients_.isOwn(a.client)) {
            continue;
        }
        summary.foreign = true;
        if (a.type != SND_SEQ_EVENT_CLIENT_EXIT) {
            summary.named.insert(addressKey(a.client, a.port));
        }
        if (a.type == SND_SEQ_EVENT_PORT_EXIT) {
            summary.exits.ports.insert(addressKey(a.client, a.port));
        } else if (a.type == SND_SEQ_EVENT_CLIENT_EXIT) {
            summary.exits.clients.insert(a.client);
        }
    }
    return summary;
}

void Announcements::handle(Client& client, const std::vector<Announcement>& batch) {
    const Summary summary = summarise(batch);
    if (client.announcementsStopped() || (!summary.foreign && !summary.overrun)) {
        return;
    }
    PortSnapshot before = std::move(told_);
    std::erase_if(before,
                  [this](const auto& entry) { return clients_.isOwn(keyClient(entry.first)); });
    told_ = readChanges(client, summary, before);
    const auto changes = diffEndpoints(before, told_, summary.exits);
    const auto firstAdded = std::find_if(changes.begin(), changes.end(),
                                         [](const auto& c) { return c.id == kMIDIMsgObjectAdded; });
    const auto removals = static_cast<size_t>(firstAdded - changes.begin());
    // Nothing of the service is touched once a notice ran: its handler may have ended it.
    const bool going = notifyAll(client, changes, 0, removals);
    forgetExits(client, summary.exits); // before the additions: a port back gets fresh IDs
    if (going && notifyAll(client, changes, removals, changes.size()) && summary.overrun) {
        notify(kMIDIMsgSetupChanged, 0, 0);
    }
}

PortSnapshot Announcements::readChanges(Client& client, const Summary& summary,
                                        const PortSnapshot& before) {
    if (summary.overrun) {
        client.resubscribeSources();
        return directory_.readNow();
    }
    // A few ports asked, rather than every port of every client: this runs between the kernel's
    // announcement and the listener's notice. The next count reads the whole list (the receive
    // thread marked it stale).
    PortSnapshot after = before;
    std::erase_if(after, [&](const auto& entry) {
        return summary.exits.clients.count(keyClient(entry.first));
    });
    for (const uint32_t key : summary.named) {
        KnownPort port;
        if (directory_.lookUpPort(keyClient(key), keyPort(key), &port)) {
            after[key] = port;
        } else {
            after.erase(key);
        }
    }
    return after;
}

bool Announcements::notifyAll(Client& client, const std::vector<EndpointChange>& changes,
                              size_t begin, size_t end) const {
    for (size_t i = begin; i < end; ++i) {
        if (client.announcementsStopped()) {
            return false; // disposed by a notice handler
        }
        notify(changes[i].id, changes[i].endpoint, changes[i].type);
    }
    return !client.announcementsStopped();
}

void Announcements::notify(MIDINotificationMessageID id, MIDIObjectRef child,
                           MIDIObjectType childType) const {
    if (notifyProc_ == nullptr) {
        return;
    }
    if (id == kMIDIMsgObjectAdded || id == kMIDIMsgObjectRemoved) {
        const auto parts = splitRef(child);
        MIDIObjectAddRemoveNotification n{id,
                                          sizeof(MIDIObjectAddRemoveNotification),
                                          makeRef(RefKind::Entity, parts.client, parts.port),
                                          kMIDIObjectType_Entity,
                                          child,
                                          childType};
        notifyProc_(reinterpret_cast<const MIDINotification*>(&n), notifyRefCon_);
    } else {
        MIDINotification n{id, sizeof(MIDINotification)};
        notifyProc_(&n, notifyRefCon_);
    }
}

// What an exit ends: the output subscription we kept towards the port, and its unique IDs.
void Announcements::forgetExits(Client& client, const AnnouncedExits& exits) {
    for (const uint32_t key : exits.ports) {
        const int owner = keyClient(key);
        const int port = keyPort(key);
        client.forgetDestination(owner, port);
        for (const RefKind kind : {RefKind::Source, RefKind::Destination, RefKind::Entity}) {
            UniqueIds::shared().release(makeRef(kind, owner, port));
        }
    }
    for (const int owner : exits.clients) {
        client.forgetDestination(owner, -1);
        UniqueIds::shared().releaseIf([owner](MIDIObjectRef r) {
            const auto p = splitRef(r);
            return p.kind != RefKind::Client && p.kind != RefKind::Port && p.client == owner;
        });
    }
}

} // namespace alsa
