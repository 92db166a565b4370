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

// A fan-out nested too deep to be marked on its thread: counted at the source, and linked into
// a per-thread chain so that a writer on this thread knows not to wait for it.
class ZelMidiSource::DeepFanOut {
public:
    explicit DeepFanOut(ZelMidiSource& source) : source_(source), previous_(innermost_) {
        source_.deepReaders_.fetch_add(1, std::memory_order_seq_cst);
        list_ = source_.current_.load(std::memory_order_seq_cst);
        innermost_ = this;
    }
    ~DeepFanOut() {
        innermost_ = previous_;
        source_.deepReaders_.fetch_sub(1, std::memory_order_release);
    }
    DeepFanOut(const DeepFanOut&) = delete;
    DeepFanOut& operator=(const DeepFanOut&) = delete;

    const ReceiverList& list() const { return *list_; }
    bool superseded() const { return superseded_; }
    static DeepFanOut* innermost() { return innermost_; }
    DeepFanOut* previous() const { return previous_; }
    const ZelMidiSource& source() const { return source_; }
    void supersede(const std::shared_ptr<const ReceiverList>& old) {
        superseded_ = true;
        if (old.get() == list_) {
            keep_ = old;
        }
    }

private:
    static thread_local DeepFanOut* innermost_;
    ZelMidiSource& source_;
    DeepFanOut* const previous_;
    const ReceiverList* list_ = nullptr;
    bool superseded_ = false;
    std::shared_ptr<const ReceiverList> keep_; // released after the count is dropped
};

thread_local ZelMidiSource::DeepFanOut* ZelMidiSource::DeepFanOut::innermost_ = nullptr;

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
    // This thread's own fan-outs go on with the list they hold, skipping removed receivers. The
    // first list replaced under one is the one it walks, unless another thread replaced that
    // first; then that thread's wait (for this very fan-out) keeps it alive.
    zelmidi_detail::FanOutMarks::forOwn(this, [&old](zelmidi_detail::FanOutMarks::Mark& m) {
        m.superseded = true;
        if (!m.keep) {
            m.keep = old;
        }
    });
    uint32_t ownDeep = 0;
    for (DeepFanOut* f = DeepFanOut::innermost(); f != nullptr; f = f->previous()) {
        if (&f->source() == this) {
            f->supersede(old);
            ++ownDeep;
        }
    }
    zelmidi_detail::FanOutMarks::waitForOtherThreads(this);
    while (deepReaders_.load(std::memory_order_seq_cst) > ownDeep) {
        std::this_thread::yield();
    }
}

bool ZelMidiSource::isRegistered(const ZelMidiSourceDelegate* receiver) const {
    // Callers hold the write lock or are counted as a reader, so the list stays alive.
    const ReceiverList& list = *current_.load(std::memory_order_seq_cst);
    return std::ranges::any_of(list,
                               [receiver](const Receiver& r) { return r.delegate == receiver; });
}

// A change this thread made from a receiver's own call may have removed, even destroyed, a
// receiver further on; other threads' changes wait for the walk to end.
void ZelMidiSource::deliverRemaining(const ReceiverList& receivers, size_t from,
                                     const MIDIPacketList* list) {
    for (size_t i = from; i < receivers.size(); ++i) {
        if (isRegistered(receivers[i].delegate)) {
            receivers[i].delegate->midiSourceMidiReceived(*this, list);
        }
    }
}

void ZelMidiSource::midiReadNested(const MIDIPacketList* list) {
    const DeepFanOut fanOut(*this);
    for (const Receiver& r : fanOut.list()) {
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
