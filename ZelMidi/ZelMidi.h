// The MIDI session: one platform client with an input and an output port, a wrapper for every
// source and destination the platform reports, kept in step by hot-plug notices and a rescan
// once a second, each change announced to the delegate and then by notification.
#pragma once

#include "AtomicShared.h"
#include "MidiService.h"
#include "ZelMidiConnection.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class QTimer;
class ZelMidi;

// Hears every wrapper that joins or leaves the session's lists (and its own virtual wrappers).
class ZelMidiDelegate {
public:
    virtual void midiSourceAdded(ZelMidi& midi, const std::shared_ptr<ZelMidiSource>& source) = 0;
    virtual void midiSourceRemoved(ZelMidi& midi, const std::shared_ptr<ZelMidiSource>& source) = 0;
    virtual void midiDestinationAdded(ZelMidi& midi,
                                      const std::shared_ptr<ZelMidiDestination>& destination) = 0;
    virtual void midiDestinationRemoved(ZelMidi& midi,
                                        const std::shared_ptr<ZelMidiDestination>& destination) = 0;

protected:
    ~ZelMidiDelegate() = default;
};

// Notification names (each text equals its name) and the user-info key. The value under the key
// is a std::shared_ptr<ZelMidiConnection>; the notification's object is the session.
inline constexpr const char* ZelMidiSourceAddedNotification = "ZelMidiSourceAddedNotification";
inline constexpr const char* ZelMidiSourceRemovedNotification = "ZelMidiSourceRemovedNotification";
inline constexpr const char* ZelMidiDestinationAddedNotification =
    "ZelMidiDestinationAddedNotification";
inline constexpr const char* ZelMidiDestinationRemovedNotification =
    "ZelMidiDestinationRemovedNotification";
inline constexpr const char* ZelMidiConnectionKey = "connection";

// Where the virtual destination's unique ID is kept between runs (QSettings).
inline constexpr const char* ZelMidiSavedVirtualDestinationIDKey =
    "ZELMIDI Saved Virtual Destination ID";

class ZelMidi : public std::enable_shared_from_this<ZelMidi> {
public:
    using SourceList = std::vector<std::shared_ptr<ZelMidiSource>>;
    using DestinationList = std::vector<std::shared_ptr<ZelMidiDestination>>;

    // Creates the client and the ports, wraps every endpoint there is (announced by notification
    // only, since no delegate can be set yet) and starts the rescan timer on this thread, which
    // must run an event loop. Whoever drops the last reference, on whatever thread, the teardown
    // runs on the creating thread while its event loop runs; when that loop ends, the timer, the
    // ports and the client go at once, and the rest with the last reference, where it is dropped.
    static std::shared_ptr<ZelMidi> create(std::shared_ptr<MidiService> service);
    ~ZelMidi();
    ZelMidi(const ZelMidi&) = delete;
    ZelMidi& operator=(const ZelMidi&) = delete;

    static bool midiAvailable() { return true; }

    // What creating the platform client returned: noErr, kMIDIServerStartErr when there is no
    // MIDI system, kMIDINotPermitted when this user may not use it.
    OSStatus clientCreateStatus() const { return clientCreateStatus_; }

    MidiService& service() const { return *service_; }

    ZelMidiDelegate* delegate() const { return delegate_; }
    void setDelegate(ZelMidiDelegate* delegate) { delegate_ = delegate; }

    // The live lists; callers only read them, on the session's thread.
    const SourceList& sources() const { return sources_; }
    const DestinationList& destinations() const { return destinations_; }
    uint64_t numberOfConnections() const { return sources_.size() + destinations_.size(); }

    MIDIClientRef client() const { return client_; }
    MIDIPortRef outputPort() const { return outputPort_; }
    MIDIPortRef inputPort() const { return inputPort_; }

    bool networkEnabled() const { return false; }
    // Network MIDI does not exist here; says so in the log, whatever the value.
    void setNetworkEnabled(bool enabled);

    std::shared_ptr<ZelMidiSource> getSource(MIDIEndpointRef endpoint) const;
    std::shared_ptr<ZelMidiDestination> getDestination(MIDIEndpointRef endpoint) const;

    // Run by the rescan and the hot-plug handling.
    void connectSource(MIDIEndpointRef endpoint);
    void disconnectSource(MIDIEndpointRef endpoint);
    void connectDestination(MIDIEndpointRef endpoint);
    void disconnectDestination(MIDIEndpointRef endpoint);
    void scanExistingDevices();
    // The rescan timer's tick: scans only when the platform's lists, or ours, may have changed
    // since the last scan.
    void rescanIfChanged();

    void midiNotify(const MIDINotification* notification);
    void midiNotifyAdd(const MIDIObjectAddRemoveNotification* notification);
    void midiNotifyRemove(const MIDIObjectAddRemoveNotification* notification);

    // Broadcast to every destination the platform reports. Any thread.
    void sendPacketList(const MIDIPacketList* list);
    // One packet of `size` bytes (below 65536, or the program stops), timestamp 0, broadcast.
    // Any thread; no heap allocation.
    void sendBytes(const uint8_t* bytes, uint32_t size);

    const std::optional<QString>& virtualEndpointName() const { return virtualEndpointName_; }
    void setVirtualEndpointName(std::optional<QString> name) {
        virtualEndpointName_ = std::move(name);
    }

    QTimer* rescanTimer() const { return rescanTimer_.get(); }
    void setRescanTimer(std::unique_ptr<QTimer> timer);

    // ---- The session's own virtual endpoints (ZelMidiVirtual.cpp) ----
    MIDIEndpointRef virtualSourceEndpoint() const { return virtualSourceEndpoint_; }
    MIDIEndpointRef virtualDestinationEndpoint() const { return virtualDestinationEndpoint_; }
    bool virtualSourceEnabled() const { return virtualSourceDestination_.load() != nullptr; }
    void setVirtualSourceEnabled(bool enabled);
    bool virtualDestinationEnabled() const { return virtualDestinationSource_.load() != nullptr; }
    void setVirtualDestinationEnabled(bool enabled);
    std::shared_ptr<ZelMidiDestination> virtualSourceDestination() const {
        return virtualSourceDestination_.load();
    }
    std::shared_ptr<ZelMidiSource> virtualDestinationSource() const {
        return virtualDestinationSource_.load();
    }

    // ---- FindingConnections (ZelMidiFind.cpp) ----
    std::shared_ptr<ZelMidiSource> findSourceCalled(const QString& name) const;
    std::shared_ptr<ZelMidiDestination> findDestinationCalled(const QString& name) const;
    void findMatchingSourceAndDestination(std::shared_ptr<ZelMidiSource>* outSource,
                                          std::shared_ptr<ZelMidiDestination>* outDestination,
                                          const QStringList* avoidNames) const;
    void
    findMatchingSourceAndDestination(std::shared_ptr<ZelMidiSource>* outSource,
                                     std::shared_ptr<ZelMidiDestination>* outDestination) const;

private:
    explicit ZelMidi(std::shared_ptr<MidiService> service);
    void init();
    // The teardown's platform part: the timer, the ports, the client, the virtual endpoints.
    void releasePlatform();
    void announce(const char* notification, const std::shared_ptr<ZelMidiConnection>& wrapper);
    // The session's own entry points run on the thread that created it (debug builds check).
    void assertOnHomeThread() const;

    const std::shared_ptr<MidiService> service_;
    MIDIClientRef client_ = 0;
    MIDIPortRef outputPort_ = 0;
    MIDIPortRef inputPort_ = 0;
    std::optional<QString> virtualEndpointName_;
    MIDIEndpointRef virtualSourceEndpoint_ = 0;
    MIDIEndpointRef virtualDestinationEndpoint_ = 0;
    // Read on the receive thread by the virtual destination's read callback.
    AtomicShared<ZelMidiSource> virtualDestinationSource_;
    AtomicShared<ZelMidiDestination> virtualSourceDestination_;
    SourceList sources_;
    DestinationList destinations_;
    // Wrappers of sources the platform failed to disconnect: it may still call their read
    // callback, so they live as long as the client does.
    SourceList stillRouted_;
    OSStatus clientCreateStatus_ = noErr;
    bool clientDisposed_ = false;
    bool platformReleased_ = false;
    // Lives as long as the session: what hears the end of the event loop.
    const std::unique_ptr<QObject> loopWatch_ = std::make_unique<QObject>();
    QThread* const home_;
    ZelMidiDelegate* delegate_ = nullptr; // not owned
    std::unique_ptr<QTimer> rescanTimer_;
    // The platform's list generation the last whole scan started from; 0 after any change of
    // our lists outside a scan, and when the platform cannot tell.
    uint64_t scannedGeneration_ = 0;

    friend void ZELMIDIVirtualDestinationReadProc(const MIDIPacketList*, void*, void*);
};

// The callbacks handed to the platform.
void ZELMIDINotifyProc(const MIDINotification* notification, void* refCon);
void ZELMIDIReadProc(const MIDIPacketList* list, void* readProcRefCon, void* srcConnRefCon);
void ZELMIDIVirtualDestinationReadProc(const MIDIPacketList* list, void* readProcRefCon,
                                       void* srcConnRefCon);
