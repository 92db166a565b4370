// The properties of sequencer objects: names, display names, unique IDs and entities.
#pragma once

#include "MidiService.h"
#include "alsa/AlsaRefs.h"

#include <QString>
#include <QVariantMap>

namespace alsa {

class Client;
class ClientRegistry;
class EndpointDirectory;

class Properties {
public:
    Properties(const ClientRegistry& clients, EndpointDirectory& directory);

    OSStatus getString(MIDIObjectRef object, MIDIPropertyKey key, QString* outValue);
    OSStatus getInteger(MIDIObjectRef object, MIDIPropertyKey key, int32_t* outValue);
    OSStatus setInteger(MIDIObjectRef object, MIDIPropertyKey key, int32_t value);
    OSStatus getAll(MIDIObjectRef object, QVariantMap* outProperties, bool deep);
    OSStatus entityOf(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity);

private:
    OSStatus ownPortName(Client& own, RefKind kind, int port, bool display, QString* out);
    OSStatus externalPortName(RefKind kind, int owner, int port, bool display, QString* out);
    void addChildren(const RefParts& entity, QVariantMap* map);

    const ClientRegistry& clients_;
    EndpointDirectory& directory_;
};

} // namespace alsa
