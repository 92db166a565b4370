#include "ZelMidiConnection.h"

#include "OnePacketList.h"
#include "SystemLog.h"
#include "ZelMidi.h"

#include <algorithm>
#include <thread>

// ---- ZelMidiSourceDelegate ------------------------------------------------------------------

ZelMidiSourceDelegate::~ZelMidiSourceDelegate() {
    std::vector<std::weak_ptr<ZelMidiConnection>> sources;
    {
        std::lock_guard lock(sourcesMutex_);
        sources.swap(sources_);
    }
    for (const auto& weak : sources) {
        if (const auto source = weak.lock()) {
            static_cast<ZelMidiSource&>(*source).removeDelegate(this);
        }
    }
}

void ZelMidiSourceDelegate::joined(std::weak_ptr<ZelMidiConnection> source) {
    std::lock_guard lock(sourcesMutex_);
    sources_.push_back(std::move(source));
}

void ZelMidiSourceDelegate::left(const ZelMidiSource* source) {
    std::lock_guard lock(sourcesMutex_);
    std::erase_if(sources_, [source](const std::weak_ptr<ZelMidiConnection>& weak) {
        const auto held = weak.lock();
        return held == nullptr || held.get() == source;
    });
}

// ---- ZelMidiConnection -----------------------------------------------------------------------

ZelMidiConnection::ZelMidiConnection(ZelMidi* midi, MIDIEndpointRef endpoint)
    : midi_(midi), endpoint_(endpoint) {
    MidiService& service = midi_->service();

    QString displayName;
    name_ =
        service.objectGetStringProperty(endpoint_, kMIDIPropertyDisplayName, &displayName) == noErr
            ? displayName
            : QStringLiteral("Unknown name");

    MIDIEntityRef entity = 0;
    (void)service.endpointGetEntity(endpoint_, &entity); // no entity (a program's own endpoint)
    QVariantMap properties;
    if (service.objectGetProperties(entity, &properties, true) == noErr) {
        isNetworkSession_ = properties.contains(QLatin1StringView(
                                kMIDINetworkSessionKey.data(),
                                static_cast<qsizetype>(kMIDINetworkSessionKey.size())))
                                ? 1
                                : 0;
    }
}

// ---- ZelMidiSource ---------------------------------------------------------------------------

// One fan-out in progress on this thread: counted in the source's reader slot for its length,
// and linked into a per-thread chain so that a writer on this thread knows not to wait for it.
class ZelMidiSource::FanOut {
public:
    explicit FanOut(ZelMidiSource& source)
        : source_(source), slot_(source.epoch_.load(std::memory_order_relaxed) & 1u),
          previous_(innermost_) {
        source_.readers_[slot_].fetch_add(1, std::memory_order_seq_cst);
        // Read after being counted: a writer that replaced the list before this load is seen
        // here; one that replaces it later waits for this count.
        list_ = source_.current_.load(std::memory_order_seq_cst);
        innermost_ = this;
    }
    ~FanOut() {
        innermost_ = previous_;
        source_.readers_[slot_].fetch_sub(1, std::memory_order_release);
    }
    FanOut(const FanOut&) = delete;
    FanOut& operator=(const FanOut&) = delete;

    const ReceiverList& list() const { return *list_; }
    // Whether this thread changed the source's receivers during this fan-out.
    bool superseded() const { return superseded_; }

    static FanOut* innermost() { return innermost_; }
    FanOut* previous() const { return previous_; }
    const ZelMidiSource& source() const { return source_; }
    uint32_t slot() const { return slot_; }

    // The list this fan-out walks was replaced by this very thread: it stays alive until the
    // walk ends, and receivers removed meanwhile are skipped.
    void supersede(const std::shared_ptr<const ReceiverList>& old) {
        superseded_ = true;
        if (old.get() == list_) {
            keep_ = old;
        }
    }

private:
    static thread_local FanOut* innermost_;
    ZelMidiSource& source_;
    const uint32_t slot_;
    FanOut* const previous_;
    const ReceiverList* list_ = nullptr;
    bool superseded_ = false;
    std::shared_ptr<const ReceiverList> keep_; // released after the count is dropped
};

thread_local ZelMidiSource::FanOut* ZelMidiSource::FanOut::innermost_ = nullptr;

ZelMidiSource::ZelMidiSource(ZelMidi* midi, MIDIEndpointRef endpoint)
    : ZelMidiConnection(midi, endpoint), owned_(std::make_shared<const ReceiverList>()),
      current_(owned_.get()) {}

std::shared_ptr<const ZelMidiSource::ReceiverList> ZelMidiSource::delegates() const {
    std::lock_guard lock(writeMutex_);
    return owned_;
}

void ZelMidiSource::addDelegate(ZelMidiSourceDelegate* receiver) {
    std::unique_lock lock(writeMutex_);
    for (const Receiver& r : *owned_) {
        if (r.delegate == receiver) {
            return; // already registered
        }
    }
    auto next = std::make_shared<ReceiverList>(*owned_);
    next->push_back({receiver});
    receiver->joined(weak_from_this());
    publish(std::move(next), lock);
}

void ZelMidiSource::removeDelegate(ZelMidiSourceDelegate* receiver) {
    std::unique_lock lock(writeMutex_);
    if (!isRegistered(receiver)) {
        return;
    }
    auto next = std::make_shared<ReceiverList>(*owned_);
    std::erase_if(*next, [receiver](const Receiver& r) { return r.delegate == receiver; });
    receiver->left(this);
    publish(std::move(next), lock);
}

void ZelMidiSource::publish(std::shared_ptr<const ReceiverList> next,
                            std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<const ReceiverList> old = std::exchange(owned_, std::move(next));
    current_.store(owned_.get(), std::memory_order_seq_cst);
    // Waiting happens unlocked: a receiver's call may itself add or remove receivers.
    lock.unlock();
    waitForReadersOf(old);
}

void ZelMidiSource::waitForReadersOf(const std::shared_ptr<const ReceiverList>& old) {
    for (FanOut* f = FanOut::innermost(); f != nullptr; f = f->previous()) {
        if (&f->source() == this) {
            f->supersede(old);
        }
    }
    // Each slot must be seen empty once, counting only other threads: a reader of the old list
    // stays counted in its slot until it is done. Moving new readers to the other slot first
    // lets the slot drain under steady input.
    for (int round = 0; round < 2; ++round) {
        const uint32_t slot = epoch_.fetch_add(1, std::memory_order_seq_cst) & 1u;
        uint32_t own = 0;
        for (FanOut* f = FanOut::innermost(); f != nullptr; f = f->previous()) {
            own += (&f->source() == this && f->slot() == slot) ? 1u : 0u;
        }
        while (readers_[slot].load(std::memory_order_seq_cst) > own) {
            std::this_thread::yield();
        }
    }
}

bool ZelMidiSource::isRegistered(const ZelMidiSourceDelegate* receiver) const {
    // Callers hold the write lock or are counted as a reader, so the list stays alive.
    const ReceiverList& list = *current_.load(std::memory_order_seq_cst);
    return std::ranges::any_of(list,
                               [receiver](const Receiver& r) { return r.delegate == receiver; });
}

void ZelMidiSource::midiRead(const MIDIPacketList* list) {
    const FanOut fanOut(*this);
    for (const Receiver& r : fanOut.list()) {
        // Other threads' changes wait for this walk to end; a change made by this thread (from a
        // receiver's own call) may have removed, even destroyed, a receiver further on.
        if (fanOut.superseded() && !isRegistered(r.delegate)) {
            continue;
        }
        r.delegate->midiSourceMidiReceived(*this, list);
    }
}

// ---- ZelMidiDestination ----------------------------------------------------------------------

ZelMidiDestination::ZelMidiDestination(ZelMidi* midi, MIDIEndpointRef endpoint)
    : ZelMidiConnection(midi, endpoint) {}

void ZelMidiDestination::flushOutput() {
    (void)midi()->service().flushOutput(endpoint());
}

void ZelMidiDestination::sendBytes(const uint8_t* bytes, uint32_t size) {
    zelmidi_detail::withOnePacketList(bytes, size,
                                      [this](MIDIPacketList* list) { sendPacketList(list); });
}

void ZelMidiDestination::sendPacketList(MIDIPacketList* list) {
    logStatusError(midi()->service().send(midi()->outputPort(), endpoint(), list), "Sending MIDI");
}

void ZelMidiVirtualSourceDestination::sendPacketList(MIDIPacketList* list) {
    MidiService& service = midi()->service();
    MIDIPacketPtr packet = packetListFirst(list);
    for (uint32_t i = 0, n = packetListCount(list); i < n; ++i) {
        if (packetTimeStamp(packet) == 0) {
            setPacketTimeStamp(packet, service.hostTime());
        }
        packet = packetNext(packet);
    }
    logStatusError(service.received(endpoint(), list), "Sending MIDI");
}
