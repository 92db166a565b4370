// The platform seam of the MIDI layer: the platform's types, the packet-list helpers and the
// abstract MIDI service. The session talks to nothing else, so a new platform needs only a new
// MidiService; tests run the layer on a simulated one.
#pragma once

#include <QString>
#include <QVariantMap>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

// ---- References, statuses, times -------------------------------------------------------------

using MIDIObjectRef = uint32_t; // 0 = no object
using MIDIClientRef = MIDIObjectRef;
using MIDIPortRef = MIDIObjectRef;
using MIDIEndpointRef = MIDIObjectRef;
using MIDIEntityRef = MIDIObjectRef;
using OSStatus = int32_t;       // 0 = success
using MIDITimeStamp = uint64_t; // host clock, nanoseconds; 0 = "now"
using MIDIUniqueID = int32_t;
using ItemCount = unsigned long;

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus kMIDIInvalidClient = -10830;
inline constexpr OSStatus kMIDIInvalidPort = -10831;
inline constexpr OSStatus kMIDIWrongEndpointType = -10832;
inline constexpr OSStatus kMIDINoConnection = -10833;
inline constexpr OSStatus kMIDIUnknownEndpoint = -10834;
inline constexpr OSStatus kMIDIUnknownProperty = -10835;
inline constexpr OSStatus kMIDIMessageSendErr = -10838;
inline constexpr OSStatus kMIDIServerStartErr = -10839;
inline constexpr OSStatus kMIDIObjectNotFound = -10842;
inline constexpr OSStatus kMIDIIDNotUnique = -10843;
inline constexpr OSStatus kMIDINotPermitted = -10844;
inline constexpr OSStatus kMIDIUnknownError = -10845;
// Not one of the platform's: a SysEx sent in parts stopped after its first part (no room in the
// receiver in time); the receiver got what went, closed with an F7.
inline constexpr OSStatus kMIDIMessagePartlyDeliveredErr = -10860;

// ---- Property keys ---------------------------------------------------------------------------

using MIDIPropertyKey = std::string_view;
inline constexpr MIDIPropertyKey kMIDIPropertyName = "name";
inline constexpr MIDIPropertyKey kMIDIPropertyDisplayName = "displayName";
inline constexpr MIDIPropertyKey kMIDIPropertyUniqueID = "uniqueID";

// The key whose presence in an entity's properties marks a network MIDI session.
inline constexpr std::string_view kMIDINetworkSessionKey = "apple.midirtp.session";

// ---- Notices ---------------------------------------------------------------------------------

using MIDINotificationMessageID = int32_t;
inline constexpr MIDINotificationMessageID kMIDIMsgSetupChanged = 1;
inline constexpr MIDINotificationMessageID kMIDIMsgObjectAdded = 2;
inline constexpr MIDINotificationMessageID kMIDIMsgObjectRemoved = 3;
inline constexpr MIDINotificationMessageID kMIDIMsgPropertyChanged = 4;
inline constexpr MIDINotificationMessageID kMIDIMsgThruConnectionsChanged = 5;
inline constexpr MIDINotificationMessageID kMIDIMsgSerialPortOwnerChanged = 6;
inline constexpr MIDINotificationMessageID kMIDIMsgIOError = 7;

using MIDIObjectType = int32_t;
inline constexpr MIDIObjectType kMIDIObjectType_Other = -1;
inline constexpr MIDIObjectType kMIDIObjectType_Device = 0;
inline constexpr MIDIObjectType kMIDIObjectType_Entity = 1;
inline constexpr MIDIObjectType kMIDIObjectType_Source = 2;
inline constexpr MIDIObjectType kMIDIObjectType_Destination = 3;
inline constexpr MIDIObjectType kMIDIObjectType_ExternalDevice = 0x10;

struct MIDINotification {
    MIDINotificationMessageID messageID;
    uint32_t messageSize;
};

struct MIDIObjectAddRemoveNotification {
    MIDINotificationMessageID messageID;
    uint32_t messageSize;
    MIDIObjectRef parent;
    MIDIObjectType parentType;
    MIDIObjectRef child;
    MIDIObjectType childType;
};

// ---- Packets ---------------------------------------------------------------------------------
//
// A packet list is a 32-bit count followed by packets; each packet starts right after the last
// data byte of the one before, so its fields are generally unaligned. Positions inside a list are
// therefore byte pointers, and fields are read and written with memcpy only.

#pragma pack(push, 4)
struct MIDIPacket {
    MIDITimeStamp timeStamp;
    uint16_t length;
    uint8_t data[256];
};
struct MIDIPacketList {
    uint32_t numPackets;
    MIDIPacket packet[1];
};
#pragma pack(pop)

static_assert(sizeof(MIDIPacket) == 268, "a packet record is 268 bytes");
static_assert(offsetof(MIDIPacket, timeStamp) == 0);
static_assert(offsetof(MIDIPacket, length) == 8);
static_assert(offsetof(MIDIPacket, data) == 10, "no padding between length and data");
static_assert(offsetof(MIDIPacketList, packet) == 4, "no padding between count and packets");

inline constexpr size_t kPacketListHeaderSize = offsetof(MIDIPacketList, packet);
inline constexpr size_t kPacketHeaderSize = offsetof(MIDIPacket, data);
inline constexpr size_t kMaxPacketDataSize = 65535;

// A packet inside a list: a byte position, never dereferenced as a MIDIPacket.
using MIDIPacketPtr = uint8_t*;
using MIDIConstPacketPtr = const uint8_t*;

inline uint32_t packetListCount(const MIDIPacketList* list) {
    uint32_t n;
    std::memcpy(&n, list, sizeof n);
    return n;
}
inline MIDIPacketPtr packetListFirst(MIDIPacketList* list) {
    return reinterpret_cast<uint8_t*>(list) + kPacketListHeaderSize;
}
inline MIDIConstPacketPtr packetListFirst(const MIDIPacketList* list) {
    return reinterpret_cast<const uint8_t*>(list) + kPacketListHeaderSize;
}
inline MIDITimeStamp packetTimeStamp(MIDIConstPacketPtr p) {
    MIDITimeStamp t;
    std::memcpy(&t, p + offsetof(MIDIPacket, timeStamp), sizeof t);
    return t;
}
inline void setPacketTimeStamp(MIDIPacketPtr p, MIDITimeStamp t) {
    std::memcpy(p + offsetof(MIDIPacket, timeStamp), &t, sizeof t);
}
inline uint16_t packetLength(MIDIConstPacketPtr p) {
    uint16_t n;
    std::memcpy(&n, p + offsetof(MIDIPacket, length), sizeof n);
    return n;
}
inline MIDIConstPacketPtr packetData(MIDIConstPacketPtr p) {
    return p + kPacketHeaderSize;
}
inline MIDIPacketPtr packetData(MIDIPacketPtr p) {
    return p + kPacketHeaderSize;
}
inline MIDIConstPacketPtr packetNext(MIDIConstPacketPtr p) {
    return p + kPacketHeaderSize + packetLength(p);
}
inline MIDIPacketPtr packetNext(MIDIPacketPtr p) {
    return p + kPacketHeaderSize + packetLength(p);
}

// Starts an empty list in a buffer of bufferSize bytes. Returns the position of the first packet,
// or nullptr when the buffer cannot even hold the count.
inline MIDIPacketPtr packetListInit(MIDIPacketList* list, size_t bufferSize) {
    if (list == nullptr || bufferSize < kPacketListHeaderSize) {
        return nullptr;
    }
    const uint32_t zero = 0;
    std::memcpy(list, &zero, sizeof zero);
    return packetListFirst(list);
}

// Appends one packet of nData bytes. `current` is what packetListInit or the previous
// packetListAdd returned: on an empty list the packet goes there, otherwise right after it.
// Returns the new packet, or nullptr (list unchanged) when it would not fit in listSize bytes
// or when nData does not fit the 16-bit length. Packets are never merged.
inline MIDIPacketPtr packetListAdd(MIDIPacketList* list, size_t listSize, MIDIPacketPtr current,
                                   MIDITimeStamp time, size_t nData, const uint8_t* data) {
    if (list == nullptr || current == nullptr || nData > kMaxPacketDataSize ||
        (nData > 0 && data == nullptr)) {
        return nullptr;
    }
    const uint32_t count = packetListCount(list);
    const uint8_t* base = reinterpret_cast<const uint8_t*>(list);
    const uint8_t* end = base + listSize;
    if (current < packetListFirst(list) || current > end) {
        return nullptr;
    }
    MIDIPacketPtr p = current;
    if (count > 0) {
        if (static_cast<size_t>(end - current) < kPacketHeaderSize) {
            return nullptr;
        }
        p = packetNext(current);
    }
    if (p > end || static_cast<size_t>(end - p) < kPacketHeaderSize + nData) {
        return nullptr;
    }
    const auto length = static_cast<uint16_t>(nData);
    setPacketTimeStamp(p, time);
    std::memcpy(p + offsetof(MIDIPacket, length), &length, sizeof length);
    if (nData > 0) {
        std::memcpy(packetData(p), data, nData);
    }
    const uint32_t newCount = count + 1;
    std::memcpy(list, &newCount, sizeof newCount);
    return p;
}

// The bytes a list occupies, from its count to the end of its last packet.
inline size_t packetListByteSize(const MIDIPacketList* list) {
    MIDIConstPacketPtr p = packetListFirst(list);
    for (uint32_t i = 0, n = packetListCount(list); i < n; ++i) {
        p = packetNext(p);
    }
    return static_cast<size_t>(p - reinterpret_cast<const uint8_t*>(list));
}

// ---- Callbacks -------------------------------------------------------------------------------

using MIDINotifyProc = void (*)(const MIDINotification* message, void* refCon);
using MIDIReadProc = void (*)(const MIDIPacketList* list, void* readProcRefCon,
                              void* srcConnRefCon);

// ---- The service -----------------------------------------------------------------------------
//
// One operation per call the MIDI layer makes. Threads and lifetimes every backend guarantees:
// - Notices are delivered on the event loop of the thread that created the client.
// - Packet lists are delivered on a receive thread of the backend's own, valid only during the
//   call. Once portDisconnectSource, portDispose, endpointDispose or clientDispose has returned,
//   no read callback for that connection, port, endpoint or client runs or will run, so a
//   context may be destroyed right afterwards.
// - send, received and flushOutput may be called from any thread.
class MidiService {
public:
    virtual ~MidiService() = default;

    // The real MIDI service of this platform (the ALSA sequencer on Linux).
    static std::shared_ptr<MidiService> platformDefault();

    virtual OSStatus clientCreate(const QString& name, MIDINotifyProc notifyProc,
                                  void* notifyRefCon, MIDIClientRef* outClient) = 0;
    virtual OSStatus clientDispose(MIDIClientRef client) = 0;
    virtual OSStatus outputPortCreate(MIDIClientRef client, const QString& portName,
                                      MIDIPortRef* outPort) = 0;
    virtual OSStatus inputPortCreate(MIDIClientRef client, const QString& portName,
                                     MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort) = 0;
    virtual OSStatus portDispose(MIDIPortRef port) = 0;

    // A number that stays the same while the endpoint lists the counts give stay the same, so
    // a periodic rescan can skip its walk over them. 0 means the backend cannot tell: walk
    // every time.
    virtual uint64_t endpointListGeneration() { return 0; }
    virtual ItemCount getNumberOfSources() = 0;
    virtual MIDIEndpointRef getSource(ItemCount index) = 0;
    virtual ItemCount getNumberOfDestinations() = 0;
    virtual MIDIEndpointRef getDestination(ItemCount index) = 0;

    virtual OSStatus portConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                       void* connRefCon) = 0;
    virtual OSStatus portDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) = 0;

    virtual OSStatus send(MIDIPortRef port, MIDIEndpointRef destination,
                          const MIDIPacketList* list) = 0;
    // Publishes a list at one of this process's virtual sources.
    virtual OSStatus received(MIDIEndpointRef source, const MIDIPacketList* list) = 0;
    virtual OSStatus flushOutput(MIDIEndpointRef destination) = 0;

    virtual OSStatus objectGetStringProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                             QString* outValue) = 0;
    virtual OSStatus objectGetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                              int32_t* outValue) = 0;
    virtual OSStatus objectSetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                              int32_t value) = 0;
    virtual OSStatus objectGetProperties(MIDIObjectRef object, QVariantMap* outProperties,
                                         bool deep) = 0;
    virtual OSStatus endpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity) = 0;

    virtual OSStatus sourceCreate(MIDIClientRef client, const QString& name,
                                  MIDIEndpointRef* outSource) = 0;
    virtual OSStatus destinationCreate(MIDIClientRef client, const QString& name,
                                       MIDIReadProc readProc, void* refCon,
                                       MIDIEndpointRef* outDestination) = 0;
    virtual OSStatus endpointDispose(MIDIEndpointRef endpoint) = 0;

    // The host clock in timestamp units (CLOCK_MONOTONIC nanoseconds); injectable for tests.
    virtual MIDITimeStamp hostTime();
};
