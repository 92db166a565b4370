// An in-process model of a MIDI service, for tests: endpoints with display names and entities,
// hot-plug with or without a notice, unique IDs, a receive thread, per-call failure injection and
// a log of every call with its arguments. Not a mock: it keeps its own state and answers from it.
#pragma once

#include "MidiService.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class SimulatedMidiService : public MidiService {
public:
    // Create on the main thread: notices are delivered on the event loop of the thread that
    // created the client, packet lists on the service's own receive thread.
    SimulatedMidiService();
    ~SimulatedMidiService() override;

    // ---- The outside world ------------------------------------------------------------------

    struct EndpointOptions {
        bool notify = true;    // post an object-added/removed notice
        bool hasName = true;   // false: the display name cannot be read
        bool hasEntity = true; // false: endpointGetEntity fails, entity 0
        // What objectGetProperties(entity) yields. (= {} spares designated initializers a
        // missing-initializer warning.)
        QVariantMap entityProperties = {};
        bool entityPropertiesReadable = true;
    };
    // An external endpoint appears (appended to the platform's enumeration order).
    // (Overloads rather than a default argument: GCC cannot default a nested aggregate with
    // member initializers inside its own class.)
    MIDIEndpointRef addSource(const QString& displayName, EndpointOptions options);
    MIDIEndpointRef addSource(const QString& displayName);
    MIDIEndpointRef addDestination(const QString& displayName, EndpointOptions options);
    MIDIEndpointRef addDestination(const QString& displayName);
    // An endpoint goes away; with notify, an object-removed notice is posted.
    void removeEndpoint(MIDIEndpointRef endpoint, bool notify = true);
    // Posts an arbitrary notice to every client (for notices about devices, entities, other IDs).
    void postNotice(const MIDIObjectAddRemoveNotification& notice);
    void postNotice(MIDINotificationMessageID messageID); // a plain MIDINotification

    // A hole in the enumeration: getSource/getDestination answer `endpoint` (typically 0) at this
    // index, within the current count, until clearEnumerationOverrides; counts do not change.
    void setSourceAt(ItemCount index, MIDIEndpointRef endpoint);
    void setDestinationAt(ItemCount index, MIDIEndpointRef endpoint);

    // Data arriving from a source (external, or another program sending to one of our virtual
    // destinations). Delivered on the receive thread to every connection of that endpoint.
    // The list is copied; deliver() returns at once, deliverAndWait() after the callbacks ran.
    // A virtual destination made by destinationCreate gets its read proc called with
    // (list, refCon, nullptr). Called on the receive thread itself, neither waits.
    void deliver(MIDIEndpointRef source, std::vector<uint8_t> packetListBytes);
    void deliverAndWait(MIDIEndpointRef source, std::vector<uint8_t> packetListBytes);
    // Blocks until everything deliver() queued has been handed to the callbacks.
    void waitForDeliveries();
    // Builds packet-list bytes of one packet per entry, timestamps as given.
    static std::vector<uint8_t> makePacketList(const std::vector<std::vector<uint8_t>>& packets,
                                               MIDITimeStamp timeStamp = 0);

    // ---- What the code under test did -------------------------------------------------------

    struct Sent {
        MIDIPortRef port;          // 0 for received()
        MIDIEndpointRef endpoint;  // destination for send(), virtual source for received()
        std::vector<uint8_t> list; // the packet-list bytes as they were at the call
    };
    std::vector<Sent> sent() const;      // every send(), in call order
    std::vector<Sent> published() const; // every received() at a virtual source
    // One line per call, in call order, also for calls that fail. References and integers in
    // decimal, names in double quotes as given, property keys bare, flags as true/false:
    //   clientCreate(name="ZelMidi MIDI Client")        clientDispose(client=1)
    //   outputPortCreate(client=1, name="...")           inputPortCreate(client=1, name="...")
    //   portDispose(port=2)
    //   getNumberOfSources()      getSource(index=0)
    //   getNumberOfDestinations() getDestination(index=0)
    //   portConnectSource(port=3, source=7)              portDisconnectSource(port=3, source=7)
    //   send(port=2, destination=9)   received(source=5)   flushOutput(destination=9)
    //   objectGetStringProperty(object=7, key=displayName)
    //   objectGetIntegerProperty(object=7, key=uniqueID)
    //   objectSetIntegerProperty(object=7, key=uniqueID, value=-42)
    //   objectGetProperties(object=8, deep=true)         endpointGetEntity(endpoint=7)
    //   sourceCreate(client=1, name="Portwatch Source")
    //   destinationCreate(client=1, name="Portwatch Destination")
    //   endpointDispose(endpoint=7)   hostTime()
    // Callbacks and context pointers are not logged (see connectionRefCon).
    QStringList calls() const;
    QStringList callsNamed(const QString& name) const; // only the lines of that call
    void clearCalls();

    // Introspection of the model.
    bool isConnected(MIDIPortRef port, MIDIEndpointRef source) const;
    bool exists(MIDIObjectRef object) const;
    std::optional<QString> virtualEndpointName(MIDIEndpointRef endpoint) const;
    int32_t uniqueID(MIDIObjectRef object) const; // 0 if none
    // Makes an ID count as taken by some other object.
    void reserveUniqueID(int32_t id);
    // The ID the next created endpoint gets (otherwise IDs are handed out in sequence; IDs in
    // use or reserved are skipped).
    void setNextUniqueID(int32_t id);
    // The context given to portConnectSource for that connection; nullptr when not connected.
    void* connectionRefCon(MIDIPortRef port, MIDIEndpointRef source) const;
    // The entity of an external endpoint, 0 for none (virtual endpoints have none).
    MIDIEntityRef entityOf(MIDIEndpointRef endpoint) const;
    // Changes an endpoint's display name (the platform renaming a device).
    void renameEndpoint(MIDIEndpointRef endpoint, const QString& displayName);
    // Drops every setSourceAt/setDestinationAt override.
    void clearEnumerationOverrides();
    // The thread that runs read callbacks.
    std::thread::id receiveThreadId() const;

    // ---- Failure injection and clock --------------------------------------------------------

    // Every later call of `call` (e.g. "clientCreate") returns `status` (0 removes the failure)
    // and does nothing else: it is logged, but out-references of create calls are set to 0 and
    // other out-values stay untouched. Counts, fetches and hostTime cannot fail; naming one of
    // them, or no MidiService call at all, throws std::invalid_argument.
    void failCall(const QString& call, OSStatus status);
    // Only the next call of `call` fails (before any failCall failure of the same call).
    void failNextCall(const QString& call, OSStatus status);
    // Freezes hostTime() at t; until then it follows CLOCK_MONOTONIC.
    void setHostTime(MIDITimeStamp t);
    // With true, endpointListGeneration() counts the changes of the enumeration (as a backend
    // that can tell does); by default it answers 0, "cannot tell". Not logged.
    void setKeepsListGeneration(bool keeps);

    // ---- MidiService ------------------------------------------------------------------------
    //
    // How the model answers (besides injected failures):
    // - References are small, nonzero and never reused. Virtual endpoints join the enumeration
    //   like external ones and post added/removed notices (parent 0) to every client.
    // - Unknown client: kMIDIInvalidClient. Unknown port, or an input port given to send / an
    //   output port to portConnectSource: kMIDIInvalidPort. Unknown object: kMIDIObjectNotFound.
    //   An endpoint of the other direction: kMIDIWrongEndpointType. portDisconnectSource without
    //   a connection: kMIDINoConnection; connecting again only replaces the connection's context.
    // - Names (kMIDIPropertyName, kMIDIPropertyDisplayName) of clients, ports and endpoints;
    //   kMIDIUnknownProperty for an endpoint added with hasName false, for entities, other keys.
    // - kMIDIPropertyUniqueID: every endpoint has one. Only this process's virtual endpoints may
    //   change theirs (else kMIDINotPermitted, also for 0); a taken or reserved ID gives
    //   kMIDIIDNotUnique and changes nothing.
    // - objectGetProperties: an entity's map (kMIDIUnknownProperty when unreadable); for other
    //   objects their name and unique ID. endpointGetEntity: kMIDIObjectNotFound for unknown
    //   endpoints and those without entity (all virtual ones), the out-value untouched.
    // - received at a virtual source is recorded and reaches input ports connected to it; send
    //   to this process's virtual destination is recorded and reaches its read proc.
    // - endpointDispose only for virtual endpoints (kMIDINotPermitted otherwise). clientDispose
    //   also disposes of the client's ports and virtual endpoints.
    // - portDisconnectSource, portDispose, endpointDispose, clientDispose and removeEndpoint
    //   return only after a read callback they cut off has finished (not on the receive
    //   thread, where a callback may remove itself).
    OSStatus clientCreate(const QString& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient) override;
    OSStatus clientDispose(MIDIClientRef client) override;
    OSStatus outputPortCreate(MIDIClientRef client, const QString& portName,
                              MIDIPortRef* outPort) override;
    OSStatus inputPortCreate(MIDIClientRef client, const QString& portName, MIDIReadProc readProc,
                             void* refCon, MIDIPortRef* outPort) override;
    OSStatus portDispose(MIDIPortRef port) override;
    uint64_t endpointListGeneration() override;
    ItemCount getNumberOfSources() override;
    MIDIEndpointRef getSource(ItemCount index) override;
    ItemCount getNumberOfDestinations() override;
    MIDIEndpointRef getDestination(ItemCount index) override;
    OSStatus portConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon) override;
    OSStatus portDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) override;
    OSStatus send(MIDIPortRef port, MIDIEndpointRef destination,
                  const MIDIPacketList* list) override;
    OSStatus received(MIDIEndpointRef source, const MIDIPacketList* list) override;
    OSStatus flushOutput(MIDIEndpointRef destination) override;
    OSStatus objectGetStringProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                     QString* outValue) override;
    OSStatus objectGetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                      int32_t* outValue) override;
    OSStatus objectSetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                      int32_t value) override;
    OSStatus objectGetProperties(MIDIObjectRef object, QVariantMap* outProperties,
                                 bool deep) override;
    OSStatus endpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity) override;
    OSStatus sourceCreate(MIDIClientRef client, const QString& name,
                          MIDIEndpointRef* outSource) override;
    OSStatus destinationCreate(MIDIClientRef client, const QString& name, MIDIReadProc readProc,
                               void* refCon, MIDIEndpointRef* outDestination) override;
    OSStatus endpointDispose(MIDIEndpointRef endpoint) override;
    MIDITimeStamp hostTime() override;

private:
    OSStatus createPort(const QString& call, MIDIClientRef client, const QString& portName,
                        MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort);

    struct Impl;
    std::unique_ptr<Impl> d;
};
