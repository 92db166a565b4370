// One wrapper per MIDI endpoint that a session tracks: sources hand their input to registered
// receivers, destinations send to their one endpoint.
#pragma once

#include "AtomicShared.h"
#include "MidiService.h"

#include <QString>
#include <atomic>
#include <memory>
#include <shared_mutex>
#include <vector>

class ZelMidi;
class ZelMidiSource;

// Guards one receiver against being called while, or after, it is destroyed. Fan-outs hold it
// shared for the length of one call; retiring takes it exclusively, so it waits for calls in
// progress on other threads and makes every later call a no-op.
class ReceiverLife {
public:
    template <typename F> void callIfAlive(F&& call) {
        std::shared_lock lock(mutex_);
        if (retired_.load(std::memory_order_acquire)) {
            return;
        }
        ActiveCall active(this);
        call();
    }
    void retire();

private:
    struct ActiveCall {
        explicit ActiveCall(const ReceiverLife* life);
        ~ActiveCall();
        const ReceiverLife* previous;
    };
    static thread_local const ReceiverLife* innermostCall_;
    bool isInsideCallOnThisThread() const;

    std::shared_mutex mutex_;
    std::atomic<bool> retired_{false};
};

// A receiver of a source's input (the source's "delegates").
class ZelMidiSourceDelegate {
public:
    // Runs on the platform's receive thread. The list is read-only and valid only during the call.
    virtual void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) = 0;

    ZelMidiSourceDelegate(const ZelMidiSourceDelegate&) = delete;
    ZelMidiSourceDelegate& operator=(const ZelMidiSourceDelegate&) = delete;

protected:
    ZelMidiSourceDelegate() = default;
    virtual ~ZelMidiSourceDelegate();

    // A receiver that can be registered with a source on another thread calls this first thing
    // in its destructor: it waits for a delivery in progress and stops later ones, so no
    // fan-out, not even one that took an older list, reaches the half-destroyed object.
    void retireReceiver() { life_->retire(); }

private:
    friend class ZelMidiSource;
    const std::shared_ptr<ReceiverLife> life_ = std::make_shared<ReceiverLife>();
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
        std::shared_ptr<ReceiverLife> life;
    };
    using ReceiverList = std::vector<Receiver>;

    ZelMidiSource(ZelMidi* midi, MIDIEndpointRef endpoint);

    void addDelegate(ZelMidiSourceDelegate* receiver);
    void removeDelegate(ZelMidiSourceDelegate* receiver);

    // Hands the list, uncopied, to every receiver in registration order. Any thread.
    void midiRead(const MIDIPacketList* list);

    // The current list; it is never changed after it was stored (copy on write).
    std::shared_ptr<const ReceiverList> delegates() const { return delegates_.load(); }
    void setDelegates(std::shared_ptr<const ReceiverList> list);

private:
    AtomicShared<const ReceiverList> delegates_;
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
