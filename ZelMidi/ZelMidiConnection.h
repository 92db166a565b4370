// One wrapper per MIDI endpoint that a session tracks: sources hand their input to registered
// receivers, destinations send to their one endpoint.
#pragma once

#include "AtomicShared.h"
#include "MidiService.h"

#include <QString>
#include <memory>
#include <mutex>
#include <vector>

class ZelMidi;
class ZelMidiConnection;
class ZelMidiSource;

// A receiver of a source's input (the source's "delegates"). Sources hold their receivers by
// shared ownership, and a fan-out holds the list it walks, so a receiver lives for as long as a
// source lists it or a call to it may still start: nothing has to be done before letting it go.
class ZelMidiSourceDelegate {
public:
    virtual ~ZelMidiSourceDelegate() = default;
    // Runs on the platform's receive thread. The list is read-only and valid only during the call.
    virtual void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) = 0;

protected:
    ZelMidiSourceDelegate() = default;
    ZelMidiSourceDelegate(const ZelMidiSourceDelegate&) = default;
    ZelMidiSourceDelegate& operator=(const ZelMidiSourceDelegate&) = default;
};

class ZelMidiConnection : public std::enable_shared_from_this<ZelMidiConnection> {
public:
    ZelMidiConnection(ZelMidi* midi, MIDIEndpointRef endpoint);
    virtual ~ZelMidiConnection() = default;
    ZelMidiConnection(const ZelMidiConnection&) = delete;
    ZelMidiConnection& operator=(const ZelMidiConnection&) = delete;

    ZelMidi* midi() const { return midi_; }
    MIDIEndpointRef endpoint() const { return endpoint_; }
    const QString& name() const { return name_; }
    bool isNetworkSession() const { return isNetworkSession_ != 0; }

private:
    ZelMidi* const midi_; // not owned: the session owns its connections and outlives them
    const MIDIEndpointRef endpoint_;
    QString name_;
    int8_t isNetworkSession_ = 0;
};

class ZelMidiSource : public ZelMidiConnection {
public:
    using ReceiverList = std::vector<std::shared_ptr<ZelMidiSourceDelegate>>;

    ZelMidiSource(ZelMidi* midi, MIDIEndpointRef endpoint);

    // Any thread, also from inside a receiver's call; neither waits for a fan-out. A fan-out
    // already under way may still hand its one packet list to a receiver just removed.
    void addDelegate(std::shared_ptr<ZelMidiSourceDelegate> receiver);
    void removeDelegate(const ZelMidiSourceDelegate* receiver);

    // Hands the list, uncopied, to every receiver in registration order. Any thread; takes the
    // current list (one reference) for the walk and allocates nothing.
    void midiRead(const MIDIPacketList* list);

    // The current list; it is never changed after it was stored (copy on write).
    std::shared_ptr<const ReceiverList> delegates() const { return receivers_.load(); }

private:
    std::mutex writeMutex_; // serialises writers; a fan-out never takes it
    AtomicShared<const ReceiverList> receivers_;
};

class ZelMidiDestination : public ZelMidiConnection {
public:
    ZelMidiDestination(ZelMidi* midi, MIDIEndpointRef endpoint);

    // Drops what is still scheduled for this destination.
    void flushOutput();
    // One packet of `size` bytes (below 65536), timestamp 0. Any thread; no heap allocation.
    void sendBytes(const uint8_t* bytes, uint32_t size);
    virtual void sendPacketList(MIDIPacketList* list);
};

// The handle through which a session feeds its own virtual source: what is sent to it is
// published there, where other programs receive it.
class ZelMidiVirtualSourceDestination : public ZelMidiDestination {
public:
    using ZelMidiDestination::ZelMidiDestination;
    // Stamps packets whose timestamp is 0 with the host clock, in the caller's list.
    void sendPacketList(MIDIPacketList* list) override;
};
