// The ALSA sequencer backend of the MIDI service: the real MIDI service on Linux.
//
// Each client is one sequencer client with a receive thread of its own. The receive thread only
// reads: MIDI goes to the read callbacks, announcements of ports coming and going are handed in
// batches to the thread that created the client, through the same main-thread inbox the updater
// uses. Every other call on the sequencer handle (output, queries, ports) is serialised by the
// client's lock.
//
// The service itself only checks references and hands each call to the part that does the job:
// the endpoint directory, the announcements of each client, the properties and the sending.
#pragma once

#include "MidiService.h"
#include "alsa/AlsaClient.h"
#include "alsa/AlsaClientRegistry.h"
#include "alsa/AlsaEndpointDirectory.h"
#include "alsa/AlsaProperties.h"
#include "alsa/AlsaRefs.h"

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>

class AlsaMidiService final : public MidiService {
public:
    // `sequencer` is the ALSA name of the sequencer to open ("default").
    explicit AlsaMidiService(std::string sequencer = "default");
    ~AlsaMidiService() override;
    AlsaMidiService(const AlsaMidiService&) = delete;
    AlsaMidiService& operator=(const AlsaMidiService&) = delete;

    OSStatus clientCreate(const QString& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient) override;
    OSStatus clientDispose(MIDIClientRef client) override;
    OSStatus outputPortCreate(MIDIClientRef client, const QString& portName,
                              MIDIPortRef* outPort) override;
    OSStatus inputPortCreate(MIDIClientRef client, const QString& portName, MIDIReadProc readProc,
                             void* refCon, MIDIPortRef* outPort) override;
    OSStatus portDispose(MIDIPortRef port) override;
    // Reads the kernel's port list when it is due (as the counts do) and says how often what
    // it listed has changed.
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

    // For tests: while set, announcements are read and dropped, as when the sequencer's input
    // overflows, so only a rescan finds what came or went.
    void setAnnouncementsIgnored(bool ignored) { shared_.announcementsIgnored.store(ignored); }
    // Before the first client: how fast a hardware port drains and how much of its buffer one
    // send may fill, and how long a send waits for room in a software receiver.
    void setHardwarePacing(double bytesPerSecond, size_t burstBytes) {
        shared_.hardwareBytesPerSecond = bytesPerSecond;
        shared_.hardwareBurstBytes = burstBytes;
    }
    void setRoomWait(std::chrono::milliseconds wait) { shared_.roomWait = wait; }
    // For tests and benchmarks: the full reads of the kernel's port list so far.
    uint64_t directoryReads() const { return directory_.reads(); }

private:
    // One of this process's ports, found by its reference: its client and its role, or the
    // status the call returns.
    struct OwnPort {
        std::shared_ptr<alsa::Client> client;
        int port = -1;
        alsa::PortRole role{};
        OSStatus status = noErr;
    };
    OwnPort ownPort(MIDIObjectRef ref, std::initializer_list<alsa::PortRole> roles,
                    OSStatus failure) const;
    // The kind of reference a port of this role is named by.
    static alsa::RefKind refKindFor(alsa::PortRole role);
    // noErr when `endpoint` is of the kind wanted, else what the call returns.
    static OSStatus endpointKindStatus(MIDIEndpointRef endpoint, alsa::RefKind wanted);
    // One of our ports of `role` and another program's endpoint of the kind `wanted`: the port,
    // or the status the call returns.
    OwnPort portAndEndpoint(MIDIPortRef port, alsa::PortRole role, MIDIEndpointRef endpoint,
                            alsa::RefKind wanted) const;
    OSStatus createPort(MIDIClientRef client, const QString& name, alsa::PortRole role,
                        MIDIReadProc readProc, void* refCon, MIDIObjectRef* out);

    const std::string sequencer_;
    alsa::ClientShared shared_;
    alsa::ClientRegistry clients_;
    alsa::EndpointDirectory directory_{clients_, shared_.directoryStale};
    alsa::Properties properties_{clients_, directory_};
};
