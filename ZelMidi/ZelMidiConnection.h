// One wrapper per MIDI endpoint that a session tracks: sources hand their input to registered
// receivers, destinations send to their one endpoint.
#pragma once

#include "FanOutMarks.h"
#include "MidiService.h"

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class ZelMidi;
class ZelMidiConnection;
class ZelMidiSource;

// A receiver of a source's input (the source's "delegates"). Removing it from a source waits for
// a call in progress on another thread; a receiver that removes itself from inside its own call
// does not wait for itself. Whoever registers a receiver that another thread may call removes it
// before destroying it: the base's destructor also leaves every source still holding it, but it
// runs only after the subclass is gone.
class ZelMidiSourceDelegate {
public:
    // Runs on the platform's receive thread. The list is read-only and valid only during the call.
    virtual void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) = 0;

    ZelMidiSourceDelegate(const ZelMidiSourceDelegate&) = delete;
    ZelMidiSourceDelegate& operator=(const ZelMidiSourceDelegate&) = delete;

protected:
    ZelMidiSourceDelegate() = default;
    // Leaves every source still holding it, so no list keeps a dangling receiver.
    virtual ~ZelMidiSourceDelegate();

private:
    friend class ZelMidiSource;
    void joined(std::weak_ptr<ZelMidiConnection> source);
    void left(const ZelMidiSource* source);

    std::mutex sourcesMutex_; // registration only; never taken by a fan-out
    std::vector<std::weak_ptr<ZelMidiConnection>> sources_;
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
    struct Receiver {
        ZelMidiSourceDelegate* delegate; // not owned
    };
    using ReceiverList = std::vector<Receiver>;

    ZelMidiSource(ZelMidi* midi, MIDIEndpointRef endpoint);

    // Main thread, or a receiver's own call. Both return once no fan-out on another thread still
    // walks the list they replaced.
    void addDelegate(ZelMidiSourceDelegate* receiver);
    void removeDelegate(ZelMidiSourceDelegate* receiver);

    // Hands the list, uncopied, to every receiver in registration order. Any thread; wait-free,
    // no allocation.
    void midiRead(const MIDIPacketList* list);

    // The current list; it is never changed after it was stored (copy on write).
    std::shared_ptr<const ReceiverList> delegates() const;

private:
    class DeepFanOut;
    void deliverRemaining(const ReceiverList& receivers, size_t from, const MIDIPacketList* list);
    void midiReadNested(const MIDIPacketList* list);
    void publish(std::shared_ptr<const ReceiverList> next, std::unique_lock<std::mutex>& lock);
    void waitForReadersOf(const std::shared_ptr<const ReceiverList>& old);
    bool isRegistered(const ZelMidiSourceDelegate* receiver) const;

    mutable std::mutex writeMutex_; // serialises writers; a fan-out never takes it
    std::shared_ptr<const ReceiverList> owned_;
    std::atomic<const ReceiverList*> current_;
    // Fan-outs nested too deep on their thread to be marked there count themselves here.
    std::atomic<uint32_t> deepReaders_{0};
};

// Inline, so that the platform's read callback pays for no further call.
inline void ZelMidiSource::midiRead(const MIDIPacketList* list) {
    const zelmidi_detail::FanOutMarks::Held mark(this);
    if (!mark) [[unlikely]] {
        midiReadNested(list);
        return;
    }
    const ReceiverList& receivers = *current_.load(std::memory_order_seq_cst);
    const Receiver* const first = receivers.data();
    const Receiver* const end = first + receivers.size();
    for (const Receiver* r = first; r != end; ++r) {
        r->delegate->midiSourceMidiReceived(*this, list);
        // Only a receiver's own call on this thread can change the list under this walk.
        if (mark->superseded) [[unlikely]] {
            deliverRemaining(receivers, static_cast<size_t>(r + 1 - first), list);
            return;
        }
    }
}

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
