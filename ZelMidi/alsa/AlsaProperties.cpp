#include "alsa/AlsaProperties.h"

#include "alsa/AlsaClient.h"
#include "alsa/AlsaClientRegistry.h"
#include "alsa/AlsaEndpointDirectory.h"
#include "alsa/AlsaNames.h"
#include "alsa/AlsaUniqueIds.h"

namespace alsa {

namespace {
QString keyText(MIDIPropertyKey key) {
    return QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
}
} // namespace

Properties::Properties(const ClientRegistry& clients, EndpointDirectory& directory)
    : clients_(clients), directory_(directory) {}

OSStatus Properties::getString(MIDIObjectRef object, MIDIPropertyKey key, QString* outValue) {
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
        const auto client = clients_.find(parts.client);
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
        if (const auto own = clients_.find(parts.client)) {
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

OSStatus Properties::ownPortName(Client& own, RefKind kind, int port, bool display, QString* out) {
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
    *out = display && kind != RefKind::Port ? composeDisplayName(own.name(), name) : name;
    return noErr;
}

OSStatus Properties::externalPortName(RefKind kind, int owner, int port, bool display,
                                      QString* out) {
    if (kind == RefKind::Port) {
        return kMIDIObjectNotFound;
    }
    KnownPort k;
    if (!directory_.findPort(owner, port, &k)) {
        return kMIDIObjectNotFound;
    }
    if ((kind == RefKind::Source && !k.source) ||
        (kind == RefKind::Destination && !k.destination)) {
        return kMIDIObjectNotFound;
    }
    *out = display ? composeDisplayName(k.clientName, k.portName) : k.portName;
    return noErr;
}

OSStatus Properties::getInteger(MIDIObjectRef object, MIDIPropertyKey key, int32_t* outValue) {
    if (key != kMIDIPropertyUniqueID) {
        return kMIDIUnknownProperty;
    }
    // An object exists when it has a name.
    if (const OSStatus s = getString(object, kMIDIPropertyName, nullptr); s != noErr) {
        return s;
    }
    if (outValue != nullptr) {
        *outValue = UniqueIds::shared().idFor(object);
    }
    return noErr;
}

OSStatus Properties::setInteger(MIDIObjectRef object, MIDIPropertyKey key, int32_t value) {
    if (key != kMIDIPropertyUniqueID) {
        return kMIDIUnknownProperty;
    }
    if (const OSStatus s = getString(object, kMIDIPropertyName, nullptr); s != noErr) {
        return s;
    }
    if (!clients_.find(splitRef(object).client)) {
        return kMIDINotPermitted; // another program's object
    }
    return UniqueIds::shared().set(object, value);
}

OSStatus Properties::getAll(MIDIObjectRef object, QVariantMap* outProperties, bool deep) {
    QString name;
    if (const OSStatus s = getString(object, kMIDIPropertyName, &name); s != noErr) {
        return s;
    }
    QVariantMap map;
    map.insert(keyText(kMIDIPropertyName), name);
    map.insert(keyText(kMIDIPropertyUniqueID), UniqueIds::shared().idFor(object));
    const auto parts = splitRef(object);
    if (deep && parts.kind == RefKind::Entity) {
        addChildren(parts, &map);
    }
    if (outProperties != nullptr) {
        *outProperties = map;
    }
    return noErr;
}

void Properties::addChildren(const RefParts& entity, QVariantMap* map) {
    for (const auto& [kind, label] :
         {std::pair{RefKind::Source, "sources"}, std::pair{RefKind::Destination, "destinations"}}) {
        const MIDIObjectRef child = makeRef(kind, entity.client, entity.port);
        QString childName;
        if (getString(child, kMIDIPropertyName, &childName) == noErr) {
            QVariantMap entry;
            entry.insert(QStringLiteral("name"), childName);
            entry.insert(QStringLiteral("uniqueID"), UniqueIds::shared().idFor(child));
            map->insert(QString::fromLatin1(label), QVariantList{entry});
        }
    }
}

OSStatus Properties::entityOf(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity) {
    const auto parts = splitRef(endpoint);
    if ((parts.kind != RefKind::Source && parts.kind != RefKind::Destination) ||
        clients_.isOwn(parts.client)) {
        return kMIDIObjectNotFound; // this process's virtual endpoints have no entity
    }
    if (const OSStatus s = getString(endpoint, kMIDIPropertyName, nullptr); s != noErr) {
        return s;
    }
    if (outEntity != nullptr) {
        *outEntity = makeRef(RefKind::Entity, parts.client, parts.port);
    }
    return noErr;
}

} // namespace alsa
