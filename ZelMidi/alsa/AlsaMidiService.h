// The ALSA sequencer backend of the MIDI service: the real MIDI service on Linux.
//
// Each client is one sequencer client with a receive thread of its own. The receive thread only
// reads: MIDI goes to the read callbacks, announcements of ports coming and going are handed in
// batches to the thread that created the client, through the same main-thread inbox the updater
// uses. Every other call on the sequencer handle (output, queries, ports) is serialised by the
// client's lock.
#pragma once

#include "MidiService.h"
#include "alsa/AlsaClient.h"
#include "alsa/AlsaRefs.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // How often the counts re-read the kernel's port list when no announcement said it changed.
    static constexpr auto kDirectoryReadPeriod = std::chrono::seconds(10);
    // For tests and benchmarks: the full reads of the kernel's port list so far.
    uint64_t directoryReads() const { return directoryReads_.load(); }

    // What the backend knows of one external port (names are kept after the port is gone).
    struct KnownPort {
        QString clientName;
        QString portName;
        bool kernel = false;
        bool source = false;
        bool destination = false;
    };

private:
    friend class alsa::Client;

    std::shared_ptr<alsa::Client> findClient(int id) const;
    std::shared_ptr<alsa::Client> anyClient() const;
    bool isOwnClient(int id) const;
    // The endpoints as one caller sees them between its count and its fetches.
    struct Directory {
        std::vector<MIDIEndpointRef> sources;
        std::vector<MIDIEndpointRef> destinations;
    };
    void refreshEndpoints();
    void readDirectoryIfDue();
    void readKernelDirectory();
    const Directory& callerSnapshot() const; // with mutex_ held
    bool lookUpPort(int client, int port, KnownPort* out);
    OSStatus ownPortName(alsa::Client& own, alsa::RefKind kind, int port, bool display,
                         QString* out);
    OSStatus externalPortName(alsa::RefKind kind, int owner, int port, bool display, QString* out);
    void handleAnnouncements(alsa::Client& client, const std::vector<alsa::Announcement>& batch);
    void handleAnnouncement(alsa::Client& client, const alsa::Announcement& a);
    void announcePortStart(alsa::Client& client, int owner, int port);
    void announcePortChange(alsa::Client& client, int owner, int port, const KnownPort& before);
    void announcePortExit(alsa::Client& client, int owner, int port, const KnownPort* before);
    void announceClientExit(alsa::Client& client, int owner,
                            const std::vector<std::pair<int, KnownPort>>& gone);
    void notify(alsa::Client& client, MIDINotificationMessageID id, MIDIObjectRef child,
                MIDIObjectType childType);
    OSStatus createPort(MIDIClientRef client, const QString& name, int role, MIDIReadProc readProc,
                        void* refCon, MIDIObjectRef* out);
    OSStatus sendEvents(alsa::Client& client, int fromPort, int toClient, int toPort, bool hardware,
                        const MIDIPacketList* list);

    const std::string sequencer_;
    alsa::ClientShared shared_;
    std::atomic<uint64_t> directoryReads_{0};

    mutable std::mutex mutex_; // guards everything below
    std::map<int, std::shared_ptr<alsa::Client>> clients_;
    std::map<uint32_t, KnownPort> known_; // by client << 8 | port
    Directory directory_;                 // the last full read
    uint64_t directoryGeneration_ = 1;    // bumped when a read lists other endpoints
    std::chrono::steady_clock::time_point lastRead_{};
    std::map<std::thread::id, Directory> snapshots_; // one per calling thread
};
