#include "alsa/AlsaMidiService.h"

#include "alsa/AlsaClient.h"
#include "alsa/AlsaCodec.h"
#include "alsa/AlsaNames.h"
#include "alsa/AlsaRefs.h"
#include "alsa/AlsaStatus.h"
#include "alsa/AlsaUniqueIds.h"

#include <QThread>
#include <unistd.h>

using alsa::Client;
using alsa::makeRef;
using alsa::PortRole;
using alsa::RefKind;
using alsa::splitRef;

namespace {

uint32_t addressKey(int client, int port) {
    return (static_cast<uint32_t>(client) << 8) | static_cast<uint32_t>(port);
}

bool isSourceCaps(unsigned caps) {
    const unsigned want = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return (caps & want) == want;
}
bool isDestinationCaps(unsigned caps) {
    const unsigned want = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    return (caps & want) == want;
}

// Ports nobody else may route to, and ports that are switched off, are no endpoints.
constexpr unsigned kInactiveCap = 1u << 8; // SND_SEQ_PORT_CAP_INACTIVE on newer kernels
bool isHiddenCaps(unsigned caps) {
    return (caps & (SND_SEQ_PORT_CAP_NO_EXPORT | kInactiveCap)) != 0;
}

AlsaMidiService::KnownPort knownFrom(snd_seq_client_info_t* client, snd_seq_port_info_t* port) {
    const unsigned caps = snd_seq_port_info_get_capability(port);
    AlsaMidiService::KnownPort k;
    k.clientName = QString::fromUtf8(snd_seq_client_info_get_name(client));
    k.portName = QString::fromUtf8(snd_seq_port_info_get_name(port));
    k.kernel = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT;
    k.source = !isHiddenCaps(caps) && isSourceCaps(caps);
    k.destination = !isHiddenCaps(caps) && isDestinationCaps(caps);
    return k;
}

} // namespace

AlsaMidiService::AlsaMidiService(std::string sequencer) : sequencer_(std::move(sequencer)) {}

AlsaMidiService::~AlsaMidiService() {
    std::vector<int> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, client] : clients_) {
            ids.push_back(id);
        }
    }
    for (const int id : ids) {
        clientDispose(makeRef(RefKind::Client, id, 0));
    }
}

std::shared_ptr<Client> AlsaMidiService::findClient(int id) const {
    std::lock_guard lock(mutex_);
    const auto it = clients_.find(id);
    return it == clients_.end() ? nullptr : it->second;
}

std::shared_ptr<Client> AlsaMidiService::anyClient() const {
    std::lock_guard lock(mutex_);
    return clients_.empty() ? nullptr : clients_.begin()->second;
}

bool AlsaMidiService::isOwnClient(int id) const {
    std::lock_guard lock(mutex_);
    return clients_.count(id) != 0;
}

// ---- Client ---------------------------------------------------------------------------------

OSStatus AlsaMidiService::clientCreate(const QString& name, MIDINotifyProc notifyProc,
                                       void* notifyRefCon, MIDIClientRef* outClient) {
    if (outClient != nullptr) {
        *outClient = 0;
    }
    std::shared_ptr<Client> client;
    auto onAnnouncements = [this](Client& c, const std::vector<alsa::Announcement>& batch) {
        handleAnnouncements(c, batch);
    };
    if (const int r = Client::open(sequencer_, name, this, &shared_, onAnnouncements, &client);
        r < 0 || !client) {
        return r < 0 ? alsa::clientCreateStatus(r) : kMIDIServerStartErr;
    }
    shared_.directoryStale.store(true);
    client->notifyProc = notifyProc;
    client->notifyRefCon = notifyRefCon;
    {
        std::lock_guard lock(mutex_);
        clients_[client->id()] = client;
    }
    if (outClient != nullptr) {
        *outClient = makeRef(RefKind::Client, client->id(), 0);
    }
    return noErr;
}

OSStatus AlsaMidiService::clientDispose(MIDIClientRef ref) {
    const auto parts = splitRef(ref);
    if (parts.kind != RefKind::Client) {
        return kMIDIInvalidClient;
    }
    std::shared_ptr<Client> client;
    {
        std::lock_guard lock(mutex_);
        const auto it = clients_.find(parts.client);
        if (it == clients_.end()) {
            return kMIDIInvalidClient;
        }
        client = it->second;
        clients_.erase(it);
    }
    client->stopReceiving();
    client->stopAnnouncements();
    const int id = parts.client;
    alsa::UniqueIds::shared().releaseIf([id](MIDIObjectRef r) { return splitRef(r).client == id; });
    return noErr; // the handle closes with the last reference (a send may still hold one)
}

OSStatus AlsaMidiService::createPort(MIDIClientRef clientRef, const QString& name, int role,
                                     MIDIReadProc readProc, void* refCon, MIDIObjectRef* out) {
    if (out != nullptr) {
        *out = 0;
    }
    const auto parts = splitRef(clientRef);
    const auto client = parts.kind == RefKind::Client ? findClient(parts.client) : nullptr;
    if (!client) {
        return kMIDIInvalidClient;
    }
    const auto portRole = static_cast<PortRole>(role);
    const int port = client->createPort(name, portRole, readProc, refCon);
    if (port < 0) {
        return alsa::statusFromAlsa(port);
    }
    RefKind kind = RefKind::Port;
    if (portRole == PortRole::VirtualSource) {
        kind = RefKind::Source;
    } else if (portRole == PortRole::VirtualDestination) {
        kind = RefKind::Destination;
    }
    const MIDIObjectRef ref = makeRef(kind, client->id(), port);
    if (kind != RefKind::Port) {
        alsa::UniqueIds::shared().idFor(ref); // a fresh ID from the start
    }
    if (out != nullptr) {
        *out = ref;
    }
    return noErr;
}

OSStatus AlsaMidiService::outputPortCreate(MIDIClientRef client, const QString& portName,
                                           MIDIPortRef* outPort) {
    return createPort(client, portName, static_cast<int>(PortRole::Output), nullptr, nullptr,
                      outPort);
}

OSStatus AlsaMidiService::inputPortCreate(MIDIClientRef client, const QString& portName,
                                          MIDIReadProc readProc, void* refCon,
                                          MIDIPortRef* outPort) {
    return createPort(client, portName, static_cast<int>(PortRole::Input), readProc, refCon,
                      outPort);
}

OSStatus AlsaMidiService::sourceCreate(MIDIClientRef client, const QString& name,
                                       MIDIEndpointRef* outSource) {
    return createPort(client, name, static_cast<int>(PortRole::VirtualSource), nullptr, nullptr,
                      outSource);
}

OSStatus AlsaMidiService::destinationCreate(MIDIClientRef client, const QString& name,
                                            MIDIReadProc readProc, void* refCon,
                                            MIDIEndpointRef* outDestination) {
    return createPort(client, name, static_cast<int>(PortRole::VirtualDestination), readProc,
                      refCon, outDestination);
}

OSStatus AlsaMidiService::portDispose(MIDIPortRef ref) {
    const auto parts = splitRef(ref);
    const auto client = parts.kind == RefKind::Port ? findClient(parts.client) : nullptr;
    if (!client || !client->portInfo(parts.port, nullptr, nullptr)) {
        return kMIDIInvalidPort;
    }
    return alsa::statusFromAlsa(client->deletePort(parts.port));
}

OSStatus AlsaMidiService::endpointDispose(MIDIEndpointRef ref) {
    const auto parts = splitRef(ref);
    const auto client = parts.kind == RefKind::Source || parts.kind == RefKind::Destination
                            ? findClient(parts.client)
                            : nullptr;
    PortRole role{};
    if (!client || !client->portInfo(parts.port, &role, nullptr) ||
        (role != PortRole::VirtualSource && role != PortRole::VirtualDestination)) {
        return kMIDIUnknownEndpoint;
    }
    alsa::UniqueIds::shared().release(ref);
    return alsa::statusFromAlsa(client->deletePort(parts.port));
}

// ---- Enumeration ----------------------------------------------------------------------------

void AlsaMidiService::readKernelDirectory() {
    const auto client = anyClient();
    std::map<uint32_t, KnownPort> found;
    std::vector<MIDIEndpointRef> sources;
    std::vector<MIDIEndpointRef> destinations;
    if (client) {
        std::vector<std::pair<uint32_t, KnownPort>> ports; // kernel order: client, then port
        client->withSeq([&](snd_seq_t* seq) {
            snd_seq_client_info_t* ci = nullptr;
            snd_seq_port_info_t* pi = nullptr;
            snd_seq_client_info_alloca(&ci);
            snd_seq_port_info_alloca(&pi);
            snd_seq_client_info_set_client(ci, -1);
            while (snd_seq_query_next_client(seq, ci) >= 0) {
                const int c = snd_seq_client_info_get_client(ci);
                if (c == SND_SEQ_CLIENT_SYSTEM) {
                    continue;
                }
                snd_seq_port_info_set_client(pi, c);
                snd_seq_port_info_set_port(pi, -1);
                while (snd_seq_query_next_port(seq, pi) >= 0) {
                    ports.emplace_back(addressKey(c, snd_seq_port_info_get_port(pi)),
                                       knownFrom(ci, pi));
                }
            }
            return 0;
        });
        for (auto& [key, port] : ports) {
            const int c = static_cast<int>(key >> 8);
            const int p = static_cast<int>(key & 0xffu);
            if (isOwnClient(c)) {
                continue;
            }
            if (port.source) {
                sources.push_back(makeRef(RefKind::Source, c, p));
            }
            if (port.destination) {
                destinations.push_back(makeRef(RefKind::Destination, c, p));
            }
            found[key] = std::move(port);
        }
    }
    directoryReads_.fetch_add(1);
    std::lock_guard lock(mutex_);
    known_ = std::move(found);
    if (sources != directory_.sources || destinations != directory_.destinations) {
        ++directoryGeneration_;
        directory_ = Directory{std::move(sources), std::move(destinations)};
    }
    lastRead_ = std::chrono::steady_clock::now();
}

// Idle, the counts answer from the last full read: the kernel is read again only when a
// receive thread saw the port list change (or lost announcements), and once a slow period.
void AlsaMidiService::readDirectoryIfDue() {
    bool due = shared_.directoryStale.exchange(false);
    {
        std::lock_guard lock(mutex_);
        due = due || std::chrono::steady_clock::now() - lastRead_ >= kDirectoryReadPeriod;
    }
    if (due) {
        readKernelDirectory();
    }
}

void AlsaMidiService::refreshEndpoints() {
    readDirectoryIfDue();
    std::lock_guard lock(mutex_);
    snapshots_[std::this_thread::get_id()] = directory_;
}

uint64_t AlsaMidiService::endpointListGeneration() {
    readDirectoryIfDue();
    std::lock_guard lock(mutex_);
    return directoryGeneration_;
}

const AlsaMidiService::Directory& AlsaMidiService::callerSnapshot() const {
    static const Directory kNone;
    const auto it = snapshots_.find(std::this_thread::get_id());
    return it == snapshots_.end() ? kNone : it->second;
}

// Each thread fetches from the snapshot its own last count took, whatever others count meanwhile.
ItemCount AlsaMidiService::getNumberOfSources() {
    refreshEndpoints();
    std::lock_guard lock(mutex_);
    return callerSnapshot().sources.size();
}

MIDIEndpointRef AlsaMidiService::getSource(ItemCount index) {
    std::lock_guard lock(mutex_);
    const auto& sources = callerSnapshot().sources;
    return index < sources.size() ? sources[index] : 0;
}

ItemCount AlsaMidiService::getNumberOfDestinations() {
    refreshEndpoints();
    std::lock_guard lock(mutex_);
    return callerSnapshot().destinations.size();
}

MIDIEndpointRef AlsaMidiService::getDestination(ItemCount index) {
    std::lock_guard lock(mutex_);
    const auto& destinations = callerSnapshot().destinations;
    return index < destinations.size() ? destinations[index] : 0;
}

// Asks the kernel about one port and remembers the answer; false when it is not there.
bool AlsaMidiService::lookUpPort(int clientId, int port, KnownPort* out) {
    const auto client = anyClient();
    if (!client || clientId == SND_SEQ_CLIENT_SYSTEM) {
        return false;
    }
    KnownPort k;
    const bool ok = client->withSeq([&](snd_seq_t* seq) {
        snd_seq_client_info_t* ci = nullptr;
        snd_seq_port_info_t* pi = nullptr;
        snd_seq_client_info_alloca(&ci);
        snd_seq_port_info_alloca(&pi);
        if (snd_seq_get_any_client_info(seq, clientId, ci) < 0 ||
            snd_seq_get_any_port_info(seq, clientId, port, pi) < 0) {
            return false;
        }
        k = knownFrom(ci, pi);
        return true;
    });
    if (!ok) {
        return false;
    }
    std::lock_guard lock(mutex_);
    known_[addressKey(clientId, port)] = k;
    if (out != nullptr) {
        *out = k;
    }
    return true;
}

// ---- Announcements --------------------------------------------------------------------------

void AlsaMidiService::notify(Client& client, MIDINotificationMessageID id, MIDIObjectRef child,
                             MIDIObjectType childType) {
    if (client.notifyProc == nullptr) {
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
        client.notifyProc(reinterpret_cast<const MIDINotification*>(&n), client.notifyRefCon);
    } else {
        MIDINotification n{id, sizeof(MIDINotification)};
        client.notifyProc(&n, client.notifyRefCon);
    }
}

void AlsaMidiService::handleAnnouncements(Client& client,
                                          const std::vector<alsa::Announcement>& batch) {
    for (const alsa::Announcement& a : batch) {
        if (client.announcementsStopped()) {
            break; // disposed by a notice handler
        }
        if (a.type == alsa::kAnnouncementOverrun) {
            notify(client, kMIDIMsgSetupChanged, 0, 0);
            continue;
        }
        if (a.client == SND_SEQ_CLIENT_SYSTEM || isOwnClient(a.client)) {
            continue;
        }
        handleAnnouncement(client, a);
    }
}

void AlsaMidiService::handleAnnouncement(Client& client, const alsa::Announcement& a) {
    KnownPort before;
    bool wasKnown = false;
    std::vector<std::pair<int, KnownPort>> gone; // for a client that exits
    {
        std::lock_guard lock(mutex_);
        if (a.type == SND_SEQ_EVENT_CLIENT_EXIT) {
            for (auto it = known_.begin(); it != known_.end();) {
                if (static_cast<int>(it->first >> 8) == a.client) {
                    gone.emplace_back(static_cast<int>(it->first & 0xffu), it->second);
                    it = known_.erase(it);
                } else {
                    ++it;
                }
            }
        } else if (const auto it = known_.find(addressKey(a.client, a.port)); it != known_.end()) {
            before = it->second;
            wasKnown = true;
            if (a.type == SND_SEQ_EVENT_PORT_EXIT) {
                known_.erase(it);
            }
        }
    }
    switch (a.type) {
    case SND_SEQ_EVENT_PORT_START:
        announcePortStart(client, a.client, a.port);
        break;
    case SND_SEQ_EVENT_PORT_CHANGE:
        announcePortChange(client, a.client, a.port, before);
        break;
    case SND_SEQ_EVENT_PORT_EXIT:
        announcePortExit(client, a.client, a.port, wasKnown ? &before : nullptr);
        break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
        announceClientExit(client, a.client, gone);
        break;
    default:
        break;
    }
}

void AlsaMidiService::announcePortStart(Client& client, int owner, int port) {
    KnownPort now;
    if (!lookUpPort(owner, port, &now)) {
        return;
    }
    if (now.source) {
        notify(client, kMIDIMsgObjectAdded, makeRef(RefKind::Source, owner, port),
               kMIDIObjectType_Source);
    }
    if (now.destination) {
        notify(client, kMIDIMsgObjectAdded, makeRef(RefKind::Destination, owner, port),
               kMIDIObjectType_Destination);
    }
}

void AlsaMidiService::announcePortChange(Client& client, int owner, int port,
                                         const KnownPort& before) {
    KnownPort now;
    if (!lookUpPort(owner, port, &now)) {
        return;
    }
    if (before.source != now.source) {
        notify(client, now.source ? kMIDIMsgObjectAdded : kMIDIMsgObjectRemoved,
               makeRef(RefKind::Source, owner, port), kMIDIObjectType_Source);
    }
    if (before.destination != now.destination) {
        notify(client, now.destination ? kMIDIMsgObjectAdded : kMIDIMsgObjectRemoved,
               makeRef(RefKind::Destination, owner, port), kMIDIObjectType_Destination);
    }
}

void AlsaMidiService::announcePortExit(Client& client, int owner, int port,
                                       const KnownPort* before) {
    // Unknown here (a concurrent read forgot it): say both, the listener ignores what it does
    // not list.
    if (before == nullptr || before->source) {
        notify(client, kMIDIMsgObjectRemoved, makeRef(RefKind::Source, owner, port),
               kMIDIObjectType_Source);
    }
    if (before == nullptr || before->destination) {
        notify(client, kMIDIMsgObjectRemoved, makeRef(RefKind::Destination, owner, port),
               kMIDIObjectType_Destination);
    }
    client.forgetDestination(owner, port);
    for (const RefKind kind : {RefKind::Source, RefKind::Destination, RefKind::Entity}) {
        alsa::UniqueIds::shared().release(makeRef(kind, owner, port));
    }
}

void AlsaMidiService::announceClientExit(Client& client, int owner,
                                         const std::vector<std::pair<int, KnownPort>>& gone) {
    for (const auto& [port, k] : gone) {
        if (k.source) {
            notify(client, kMIDIMsgObjectRemoved, makeRef(RefKind::Source, owner, port),
                   kMIDIObjectType_Source);
        }
        if (k.destination) {
            notify(client, kMIDIMsgObjectRemoved, makeRef(RefKind::Destination, owner, port),
                   kMIDIObjectType_Destination);
        }
    }
    client.forgetDestination(owner, -1);
    alsa::UniqueIds::shared().releaseIf([owner](MIDIObjectRef r) {
        const auto p = splitRef(r);
        return p.kind != RefKind::Client && p.kind != RefKind::Port && p.client == owner;
    });
}

// ---- Connections ----------------------------------------------------------------------------

OSStatus AlsaMidiService::portConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                            void* connRefCon) {
    const auto p = splitRef(port);
    const auto client = p.kind == RefKind::Port ? findClient(p.client) : nullptr;
    PortRole role{};
    if (!client || !client->portInfo(p.port, &role, nullptr) || role != PortRole::Input) {
        return kMIDIInvalidPort;
    }
    const auto s = splitRef(source);
    if (s.kind != RefKind::Source) {
        return s.kind == RefKind::Destination ? kMIDIWrongEndpointType : kMIDIUnknownEndpoint;
    }
    return alsa::statusFromAlsa(client->connectSource(p.port, s.client, s.port, connRefCon));
}

OSStatus AlsaMidiService::portDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
    const auto p = splitRef(port);
    const auto client = p.kind == RefKind::Port ? findClient(p.client) : nullptr;
    PortRole role{};
    if (!client || !client->portInfo(p.port, &role, nullptr) || role != PortRole::Input) {
        return kMIDIInvalidPort;
    }
    const auto s = splitRef(source);
    if (s.kind != RefKind::Source) {
        return s.kind == RefKind::Destination ? kMIDIWrongEndpointType : kMIDIUnknownEndpoint;
    }
    const int r = client->disconnectSource(p.port, s.client, s.port);
    return r == -ENOENT ? kMIDINoConnection : alsa::statusFromAlsa(r);
}

// ---- Sending --------------------------------------------------------------------------------

OSStatus AlsaMidiService::sendEvents(Client& client, int fromPort, int toClient, int toPort,
                                     bool hardware, const MIDIPacketList* list) {
    // Whose room to wait for: the one software receiver, or every subscriber of a broadcast.
    std::vector<int> receivers;
    if (toClient < 0) {
        receivers = client.subscribers(fromPort);
    } else if (!hardware) {
        receivers.push_back(toClient);
    }
    alsa::RoomBudget room;
    alsa::EventEncoder encoder(client.largestChunkFor(
        receivers, packetListByteSize(list), alsa::EventEncoder::kDefaultSysExChunk, &room));
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
            return alsa::statusFromAlsa(r); // the rest would only wait and fail the same way
        }
    }
    return noErr;
}

OSStatus AlsaMidiService::send(MIDIPortRef port, MIDIEndpointRef destination,
                               const MIDIPacketList* list) {
    const auto p = splitRef(port);
    const auto client = p.kind == RefKind::Port ? findClient(p.client) : nullptr;
    PortRole role{};
    if (!client || !client->portInfo(p.port, &role, nullptr) || role != PortRole::Output) {
        return kMIDIInvalidPort;
    }
    const auto d = splitRef(destination);
    if (d.kind != RefKind::Destination) {
        return d.kind == RefKind::Source ? kMIDIWrongEndpointType : kMIDIUnknownEndpoint;
    }
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    const bool hardware = client->prepareOutput(p.port, d.client, d.port);
    return sendEvents(*client, p.port, d.client, d.port, hardware, list);
}

OSStatus AlsaMidiService::received(MIDIEndpointRef source, const MIDIPacketList* list) {
    const auto s = splitRef(source);
    const auto client = s.kind == RefKind::Source ? findClient(s.client) : nullptr;
    PortRole role{};
    if (!client || !client->portInfo(s.port, &role, nullptr) || role != PortRole::VirtualSource) {
        return kMIDIUnknownEndpoint;
    }
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    return sendEvents(*client, s.port, -1, -1, false, list);
}

OSStatus AlsaMidiService::flushOutput(MIDIEndpointRef destination) {
    const auto d = splitRef(destination);
    if (d.kind != RefKind::Destination) {
        return kMIDIUnknownEndpoint;
    }
    const auto client = anyClient();
    if (!client) {
        return kMIDIUnknownEndpoint;
    }
    // Everything goes out directly, so only events still scheduled in a queue can be dropped.
    const int r = client->withSeq([&](snd_seq_t* seq) {
        snd_seq_remove_events_t* remove = nullptr;
        snd_seq_remove_events_alloca(&remove);
        snd_seq_addr_t addr{static_cast<unsigned char>(d.client),
                            static_cast<unsigned char>(d.port)};
        snd_seq_remove_events_set_condition(remove, SND_SEQ_REMOVE_OUTPUT | SND_SEQ_REMOVE_DEST);
        snd_seq_remove_events_set_dest(remove, &addr);
        return snd_seq_remove_events(seq, remove);
    });
    return alsa::statusFromAlsa(r);
}

// ---- Properties -----------------------------------------------------------------------------

OSStatus AlsaMidiService::objectGetStringProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                  QString* outValue) {
    if (key != kMIDIPropertyName && key != kMIDIPropertyDisplayName) {
        return kMIDIUnknownProperty;
    }
    const bool display = key == kMIDIPropertyDisplayName;
    const auto parts = splitRef(object);
    QString value;
    OSStatus status = noErr;
    switch (parts.kind) {
    case RefKind::None:
        return kMIDIObjectNotFound;
    case RefKind::Client: {
        const auto client = findClient(parts.client);
        if (!client) {
            return kMIDIObjectNotFound;
        }
        value = client->name();
        break;
    }
    case RefKind::Port:
    case RefKind::Source:
    case RefKind::Destination:
    case RefKind::Entity:
        if (const auto own = findClient(parts.client)) {
            status = ownPortName(*own, parts.kind, parts.port, display, &value);
        } else {
            status = externalPortName(parts.kind, parts.client, parts.port, display, &value);
        }
        break;
    }
    if (status == noErr && outValue != nullptr) {
        *outValue = value;
    }
    return status;
}

OSStatus AlsaMidiService::ownPortName(Client& own, RefKind kind, int port, bool display,
                                      QString* out) {
    PortRole role{};
    QString name;
    if (!own.portInfo(port, &role, &name)) {
        return kMIDIObjectNotFound;
    }
    const bool fits =
        (kind == RefKind::Port) == (role == PortRole::Output || role == PortRole::Input);
    if (!fits) {
        return kMIDIObjectNotFound;
    }
    *out = display && kind != RefKind::Port ? alsa::composeDisplayName(own.name(), name) : name;
    return noErr;
}

OSStatus AlsaMidiService::externalPortName(RefKind kind, int owner, int port, bool display,
                                           QString* out) {
    if (kind == RefKind::Port) {
        return kMIDIObjectNotFound;
    }
    KnownPort k;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        if (const auto it = known_.find(addressKey(owner, port)); it != known_.end()) {
            k = it->second;
            found = true;
        }
    }
    if (!found && !lookUpPort(owner, port, &k)) {
        return kMIDIObjectNotFound;
    }
    if ((kind == RefKind::Source && !k.source) ||
        (kind == RefKind::Destination && !k.destination)) {
        return kMIDIObjectNotFound;
    }
    *out = display ? alsa::composeDisplayName(k.clientName, k.portName) : k.portName;
    return noErr;
}

OSStatus AlsaMidiService::objectGetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                   int32_t* outValue) {
    if (key != kMIDIPropertyUniqueID) {
        return kMIDIUnknownProperty;
    }
    // An object exists when it has a name.
    if (const OSStatus s = objectGetStringProperty(object, kMIDIPropertyName, nullptr);
        s != noErr) {
        return s;
    }
    if (outValue != nullptr) {
        *outValue = alsa::UniqueIds::shared().idFor(object);
    }
    return noErr;
}

OSStatus AlsaMidiService::objectSetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                   int32_t value) {
    if (key != kMIDIPropertyUniqueID) {
        return kMIDIUnknownProperty;
    }
    if (const OSStatus s = objectGetStringProperty(object, kMIDIPropertyName, nullptr);
        s != noErr) {
        return s;
    }
    if (!findClient(splitRef(object).client)) {
        return kMIDINotPermitted; // another program's object
    }
    return alsa::UniqueIds::shared().set(object, value);
}

OSStatus AlsaMidiService::objectGetProperties(MIDIObjectRef object, QVariantMap* outProperties,
                                              bool deep) {
    QString name;
    if (const OSStatus s = objectGetStringProperty(object, kMIDIPropertyName, &name); s != noErr) {
        return s;
    }
    QVariantMap map;
    map.insert(QString::fromLatin1(kMIDIPropertyName.data(),
                                   static_cast<qsizetype>(kMIDIPropertyName.size())),
               name);
    map.insert(QString::fromLatin1(kMIDIPropertyUniqueID.data(),
                                   static_cast<qsizetype>(kMIDIPropertyUniqueID.size())),
               alsa::UniqueIds::shared().idFor(object));
    const auto parts = splitRef(object);
    if (deep && parts.kind == RefKind::Entity) {
        for (const auto& [kind, label] : {std::pair{RefKind::Source, "sources"},
                                          std::pair{RefKind::Destination, "destinations"}}) {
            const MIDIObjectRef child = makeRef(kind, parts.client, parts.port);
            QString childName;
            if (objectGetStringProperty(child, kMIDIPropertyName, &childName) == noErr) {
                QVariantMap entry;
                entry.insert(QStringLiteral("name"), childName);
                entry.insert(QStringLiteral("uniqueID"), alsa::UniqueIds::shared().idFor(child));
                map.insert(QString::fromLatin1(label), QVariantList{entry});
            }
        }
    }
    if (outProperties != nullptr) {
        *outProperties = map;
    }
    return noErr;
}

OSStatus AlsaMidiService::endpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity) {
    const auto parts = splitRef(endpoint);
    if ((parts.kind != RefKind::Source && parts.kind != RefKind::Destination) ||
        isOwnClient(parts.client)) {
        return kMIDIObjectNotFound; // this process's virtual endpoints have no entity
    }
    if (const OSStatus s = objectGetStringProperty(endpoint, kMIDIPropertyName, nullptr);
        s != noErr) {
        return s;
    }
    if (outEntity != nullptr) {
        *outEntity = makeRef(RefKind::Entity, parts.client, parts.port);
    }
    return noErr;
}
