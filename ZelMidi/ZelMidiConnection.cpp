#include "ZelMidiConnection.h"

#include "OnePacketList.h"
#include "SystemLog.h"
#include "ZelMidi.h"

#include <algorithm>

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
    : ZelMidiConnection(midi, endpoint), receivers_(std::make_shared<const ReceiverList>()) {}

void ZelMidiSource::addDelegate(std::shared_ptr<ZelMidiSourceDelegate> receiver) {
    if (receiver == nullptr) {
        return;
    }
    std::lock_guard lock(writeMutex_);
    const auto current = receivers_.load();
    if (std::ranges::find(*current, receiver) != current->end()) {
        return; // already registered
    }
    auto next = std::make_shared<ReceiverList>(*current);
    next->push_back(std::move(receiver));
    receivers_.store(std::move(next));
}

void ZelMidiSource::removeDelegate(const ZelMidiSourceDelegate* receiver) {
    std::shared_ptr<const ReceiverList> replaced;
    {
        std::lock_guard lock(writeMutex_);
        const auto current = receivers_.load();
        const auto held = [receiver](const auto& r) { return r.get() == receiver; };
        if (std::ranges::none_of(*current, held)) {
            return;
        }
        auto next = std::make_shared<ReceiverList>(*current);
        std::erase_if(*next, held);
        replaced = receivers_.exchange(std::move(next));
    }
    // The old list may hold the receiver's last reference: it goes outside the lock, since a
    // receiver's destructor may change receivers too.
}

void ZelMidiSource::midiRead(const MIDIPacketList* list) {
    const std::shared_ptr<const ReceiverList> receivers = receivers_.load();
    for (const auto& receiver : *receivers) {
        receiver->midiSourceMidiReceived(*this, list);
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
