#include "ZelMidiConnection.h"

#include "OnePacketList.h"
#include "SystemLog.h"
#include "ZelMidi.h"

// ---- ReceiverLife ----------------------------------------------------------------------------

thread_local const ReceiverLife* ReceiverLife::innermostCall_ = nullptr;

ReceiverLife::ActiveCall::ActiveCall(const ReceiverLife* life) : previous(innermostCall_) {
    innermostCall_ = life;
}

ReceiverLife::ActiveCall::~ActiveCall() {
    innermostCall_ = previous;
}

bool ReceiverLife::isInsideCallOnThisThread() const {
    // Calls nest when a receiver's callback feeds another source; walk is not possible through
    // the thread_local alone, so only the innermost call counts (the common case: a receiver
    // that retires itself from inside its own callback).
    return innermostCall_ == this;
}

void ReceiverLife::retire() {
    retired_.store(true, std::memory_order_release);
    if (isInsideCallOnThisThread()) {
        // Retiring from inside our own call: waiting for the shared hold of this very thread
        // would never end. Later calls see the flag.
        return;
    }
    // Wait for calls in progress on other threads to return.
    std::unique_lock lock(mutex_);
}

ZelMidiSourceDelegate::~ZelMidiSourceDelegate() {
    retireReceiver();
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

ZelMidiSource::ZelMidiSource(ZelMidi* midi, MIDIEndpointRef endpoint)
    : ZelMidiConnection(midi, endpoint), delegates_(std::make_shared<const ReceiverList>()) {}

void ZelMidiSource::addDelegate(ZelMidiSourceDelegate* receiver) {
    const auto current = delegates_.load();
    for (const Receiver& r : *current) {
        if (r.delegate == receiver && r.life == receiver->life_) {
            return; // already registered
        }
    }
    // An entry at the same address with another life is a receiver that died without leaving:
    // the new object replaces it rather than being refused.
    auto next = std::make_shared<ReceiverList>(*current);
    std::erase_if(*next, [receiver](const Receiver& r) { return r.delegate == receiver; });
    next->push_back({receiver, receiver->life_});
    delegates_.store(std::move(next));
}

void ZelMidiSource::removeDelegate(ZelMidiSourceDelegate* receiver) {
    auto next = std::make_shared<ReceiverList>(*delegates_.load());
    std::erase_if(*next, [receiver](const Receiver& r) { return r.delegate == receiver; });
    delegates_.store(std::move(next));
}

void ZelMidiSource::setDelegates(std::shared_ptr<const ReceiverList> list) {
    delegates_.store(list ? std::move(list) : std::make_shared<const ReceiverList>());
}

void ZelMidiSource::midiRead(const MIDIPacketList* list) {
    // The list taken here stays alive and unchanged for the whole fan-out, whatever the main
    // thread stores meanwhile; each receiver is reached only while it has not retired.
    const std::shared_ptr<const ReceiverList> receivers = delegates_.load();
    for (const Receiver& r : *receivers) {
        r.life->callIfAlive([&] { r.delegate->midiSourceMidiReceived(*this, list); });
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
