#include "alsa/AlsaMidiService.h"

#include "alsa/AlsaAnnouncements.h"
#include "alsa/AlsaSending.h"
#include "alsa/AlsaStatus.h"
#include "alsa/AlsaUniqueIds.h"

#include <algorithm>

using alsa::Client;
using alsa::makeRef;
using alsa::PortRole;
using alsa::RefKind;
using alsa::splitRef;

AlsaMidiService::AlsaMidiService(std::string sequencer) : sequencer_(std::move(sequencer)) {}

AlsaMidiService::~AlsaMidiService() {
    for (const int id : clients_.ids()) {
        clientDispose(makeRef(RefKind::Client, id, 0));
    }
}

RefKind AlsaMidiService::refKindFor(PortRole role) {
    switch (role) {
    case PortRole::VirtualSource:
        return RefKind::Source;
    case PortRole::VirtualDestination:
        return RefKind::Destination;
    case PortRole::Output:
    case PortRole::Input:
        break;
    }
    return RefKind::Port;
}

// The one check of a reference to one of our ports: ours, still there, of one of the roles the
// call takes, and named with the kind of reference that role is given.
AlsaMidiService::OwnPort AlsaMidiService::ownPort(MIDIObjectRef ref,
                                                  std::initializer_list<PortRole> roles,
                                                  OSStatus failure) const {
    const auto parts = splitRef(ref);
    OwnPort own;
    own.status = failure;
    own.client = clients_.find(parts.client);
    if (parts.kind == RefKind::None || !own.client ||
        !own.client->portInfo(parts.port, &own.role, nullptr) ||
        std::find(roles.begin(), roles.end(), own.role) == roles.end() ||
        refKindFor(own.role) != parts.kind) {
        own.client.reset();
        return own;
    }
    own.port = parts.port;
    own.status = noErr;
    return own;
}

OSStatus AlsaMidiService::endpointKindStatus(MIDIEndpointRef endpoint, RefKind wanted) {
    const RefKind kind = splitRef(endpoint).kind;
    if (kind == wanted) {
        return noErr;
    }
    const bool otherDirection = kind == RefKind::Source || kind == RefKind::Destination;
    return otherDirection ? kMIDIWrongEndpointType : kMIDIUnknownEndpoint;
}

AlsaMidiService::OwnPort AlsaMidiService::portAndEndpoint(MIDIPortRef port, PortRole role,
                                                          MIDIEndpointRef endpoint,
                                                          RefKind wanted) const {
    OwnPort own = ownPort(port, {role}, kMIDIInvalidPort);
    if (own.status == noErr) {
        own.status = endpointKindStatus(endpoint, wanted);
    }
    return own;
}

// ---- Client ---------------------------------------------------------------------------------

OSStatus AlsaMidiService::clientCreate(const QString& name, MIDINotifyProc notifyProc,
                                       void* notifyRefCon, MIDIClientRef* outClient) {
    if (outClient != nullptr) {
        *outClient = 0;
    }
    auto notices =
        std::make_shared<alsa::Announcements>(notifyProc, notifyRefCon, clients_, directory_);
    auto onAnnouncements = [notices](Client& c, const std::vector<alsa::Announcement>& batch) {
        notices->handle(c, batch);
    };
    std::shared_ptr<Client> client;
    if (const int r = Client::open(sequencer_, name, this, &shared_, onAnnouncements, &client);
        r < 0 || !client) {
        return r < 0 ? alsa::clientCreateStatus(r) : kMIDIServerStartErr;
    }
    clients_.add(client);
    notices->start(); // read once the client is ours, so its own ports are left out
    if (outClient != nullptr) {
        *outClient = makeRef(RefKind::Client, client->id(), 0);
    }
    return noErr;
}

OSStatus AlsaMidiService::clientDispose(MIDIClientRef ref) {
    const auto parts = splitRef(ref);
    const auto client = parts.kind == RefKind::Client ? clients_.take(parts.client) : nullptr;
    if (!client) {
        return kMIDIInvalidClient;
    }
    client->cancelWaits(); // a send still under way on another thread stops waiting for room
    client->stopReceiving();
    client->stopAnnouncements();
    const int id = parts.client;
    alsa::UniqueIds::shared().releaseIf([id](MIDIObjectRef r) { return splitRef(r).client == id; });
    return noErr; // the handle closes with the last reference (a send may still hold one)
}

// ---- Ports and virtual endpoints ------------------------------------------------------------

OSStatus AlsaMidiService::createPort(MIDIClientRef clientRef, const QString& name, PortRole role,
                                     MIDIReadProc readProc, void* refCon, MIDIObjectRef* out) {
    if (out != nullptr) {
        *out = 0;
    }
    const auto parts = splitRef(clientRef);
    const auto client = parts.kind == RefKind::Client ? clients_.find(parts.client) : nullptr;
    if (!client) {
        return kMIDIInvalidClient;
    }
    const int port = client->createPort(name, role, readProc, refCon);
    if (port < 0) {
        return alsa::statusFromAlsa(port);
    }
    const RefKind kind = refKindFor(role);
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
    return createPort(client, portName, PortRole::Output, nullptr, nullptr, outPort);
}

OSStatus AlsaMidiService::inputPortCreate(MIDIClientRef client, const QString& portName,
                                          MIDIReadProc readProc, void* refCon,
                                          MIDIPortRef* outPort) {
    return createPort(client, portName, PortRole::Input, readProc, refCon, outPort);
}

OSStatus AlsaMidiService::sourceCreate(MIDIClientRef client, const QString& name,
                                       MIDIEndpointRef* outSource) {
    return createPort(client, name, PortRole::VirtualSource, nullptr, nullptr, outSource);
}

OSStatus AlsaMidiService::destinationCreate(MIDIClientRef client, const QString& name,
                                            MIDIReadProc readProc, void* refCon,
                                            MIDIEndpointRef* outDestination) {
    return createPort(client, name, PortRole::VirtualDestination, readProc, refCon, outDestination);
}

OSStatus AlsaMidiService::portDispose(MIDIPortRef port) {
    const auto own = ownPort(port, {PortRole::Output, PortRole::Input}, kMIDIInvalidPort);
    if (own.status != noErr) {
        return own.status;
    }
    return alsa::statusFromAlsa(own.client->deletePort(own.port));
}

OSStatus AlsaMidiService::endpointDispose(MIDIEndpointRef endpoint) {
    const auto own = ownPort(endpoint, {PortRole::VirtualSource, PortRole::VirtualDestination},
                             kMIDIUnknownEndpoint);
    if (own.status != noErr) {
        return own.status;
    }
    alsa::UniqueIds::shared().release(endpoint);
    return alsa::statusFromAlsa(own.client->deletePort(own.port));
}

// ---- Enumeration ----------------------------------------------------------------------------

uint64_t AlsaMidiService::endpointListGeneration() {
    return directory_.generation();
}

ItemCount AlsaMidiService::getNumberOfSources() {
    return directory_.numberOfSources();
}

MIDIEndpointRef AlsaMidiService::getSource(ItemCount index) {
    return directory_.source(index);
}

ItemCount AlsaMidiService::getNumberOfDestinations() {
    return directory_.numberOfDestinations();
}

MIDIEndpointRef AlsaMidiService::getDestination(ItemCount index) {
    return directory_.destination(index);
}

// ---- Connections ----------------------------------------------------------------------------

OSStatus AlsaMidiService::portConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                            void* connRefCon) {
    const auto own = portAndEndpoint(port, PortRole::Input, source, RefKind::Source);
    if (own.status != noErr) {
        return own.status;
    }
    const auto s = splitRef(source);
    return alsa::statusFromAlsa(own.client->connectSource(own.port, s.client, s.port, connRefCon));
}

OSStatus AlsaMidiService::portDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
    const auto own = portAndEndpoint(port, PortRole::Input, source, RefKind::Source);
    if (own.status != noErr) {
        return own.status;
    }
    const auto s = splitRef(source);
    const int r = own.client->disconnectSource(own.port, s.client, s.port);
    return r == -ENOENT ? kMIDINoConnection : alsa::statusFromAlsa(r);
}

// ---- Sending --------------------------------------------------------------------------------

OSStatus AlsaMidiService::send(MIDIPortRef port, MIDIEndpointRef destination,
                               const MIDIPacketList* list) {
    const auto own = portAndEndpoint(port, PortRole::Output, destination, RefKind::Destination);
    if (own.status != noErr) {
        return own.status;
    }
    const auto d = splitRef(destination);
    return alsa::sendToDestination(*own.client, own.port, d.client, d.port, list);
}

OSStatus AlsaMidiService::received(MIDIEndpointRef source, const MIDIPacketList* list) {
    const auto own = ownPort(source, {PortRole::VirtualSource}, kMIDIUnknownEndpoint);
    if (own.status != noErr) {
        return own.status;
    }
    return alsa::publishFromSource(*own.client, own.port, list);
}

OSStatus AlsaMidiService::flushOutput(MIDIEndpointRef destination) {
    const auto d = splitRef(destination);
    const auto client = d.kind == RefKind::Destination ? clients_.any() : nullptr;
    if (!client) {
        return kMIDIUnknownEndpoint;
    }
    return alsa::flushDestination(*client, d.client, d.port);
}

// ---- Properties -----------------------------------------------------------------------------

OSStatus AlsaMidiService::objectGetStringProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                  QString* outValue) {
    return properties_.getString(object, key, outValue);
}

OSStatus AlsaMidiService::objectGetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                   int32_t* outValue) {
    return properties_.getInteger(object, key, outValue);
}

OSStatus AlsaMidiService::objectSetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                   int32_t value) {
    return properties_.setInteger(object, key, value);
}

OSStatus AlsaMidiService::objectGetProperties(MIDIObjectRef object, QVariantMap* outProperties,
                                              bool deep) {
    return properties_.getAll(object, outProperties, deep);
}

OSStatus AlsaMidiService::endpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity) {
    return properties_.entityOf(endpoint, outEntity);
}
