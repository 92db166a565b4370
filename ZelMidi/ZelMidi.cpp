#include "ZelMidi.h"

#include "MainThreadTeardown.h"
#include "NotificationCenter.h"
#include "OnePacketList.h"
#include "SystemLog.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace {

constexpr auto kRescanInterval = std::chrono::seconds(1);

template <typename List, typename Wrapper> void eraseEvery(List& list, const Wrapper& wrapper) {
    std::erase_if(list, [&](const auto& w) { return w == wrapper; });
}

} // namespace

// ---- Callbacks handed to the platform -----------------------------------------------------

void ZELMIDINotifyProc(const MIDINotification* notification, void* refCon) {
    // The session may be dropped by a delegate during the call; keep it until the call ends.
    const std::shared_ptr<ZelMidi> midi = static_cast<ZelMidi*>(refCon)->weak_from_this().lock();
    if (midi) {
        midi->midiNotify(notification);
    }
}

void ZELMIDIReadProc(const MIDIPacketList* list, void* /*readProcRefCon*/, void* srcConnRefCon) {
    // The platform stops calling for a connection before the session lets its wrapper go, so
    // the wrapper is alive here; no lock and nothing of the session is touched.
    static_cast<ZelMidiSource*>(srcConnRefCon)->midiRead(list);
}

// ---- Creation and teardown ----------------------------------------------------------------

std::shared_ptr<ZelMidi> ZelMidi::create(std::shared_ptr<MidiService> service) {
    QThread* home = QThread::currentThread();
    MainThreadTeardown::prepare();
    std::shared_ptr<ZelMidi> midi(new ZelMidi(std::move(service)), [home](ZelMidi* p) {
        // The timer and the platform client belong to the creating thread; a background
        // sender that happens to hold the last reference hands the teardown back to it while
        // its event loop runs.
        const QCoreApplication* app = QCoreApplication::instance();
        if (QThread::currentThread() != home && app != nullptr && app->thread() == home) {
            MainThreadTeardown::run([p] { delete p; });
        } else {
            delete p;
        }
    });
    midi->init();
    return midi;
}

ZelMidi::ZelMidi(std::shared_ptr<MidiService> service)
    : service_(std::move(service)), home_(QThread::currentThread()) {}

void ZelMidi::assertOnHomeThread() const {
    Q_ASSERT_X(QThread::currentThread() == home_, "ZelMidi",
               "called off the thread that created the session");
}

void ZelMidi::init() {
    MidiService& s = *service_;
    clientCreateStatus_ =
        s.clientCreate(QStringLiteral("ZelMidi MIDI Client"), ZELMIDINotifyProc, this, &client_);
    logStatusError(clientCreateStatus_, "Create MIDI client");
    logStatusError(s.outputPortCreate(client_, QStringLiteral("ZelMidi Output Port"), &outputPort_),
                   "Create output MIDI port");
    logStatusError(s.inputPortCreate(client_, QStringLiteral("ZelMidi Input Port"), ZELMIDIReadProc,
                                     this, &inputPort_),
                   "Create input MIDI port");

    scanExistingDevices();

    auto timer = std::make_unique<QTimer>();
    timer->setInterval(kRescanInterval);
    timer->setSingleShot(false);
    QObject::connect(timer.get(), &QTimer::timeout, [weak = weak_from_this()] {
        if (const auto midi = weak.lock()) {
            midi->rescanIfChanged();
        }
    });
    timer->start();
    rescanTimer_ = std::move(timer);
    // The session cannot work without its thread's event loop: when that ends, the platform's
    // objects go at once, which also ends every wait of a send still holding the session.
    MainThreadTeardown::whenLoopEnds(loopWatch_.get(), [this] { releasePlatform(); });
}

ZelMidi::~ZelMidi() {
    releasePlatform();
    // The lists and the virtual wrappers go with the members, unannounced.
}

void ZelMidi::releasePlatform() {
    if (std::exchange(platformReleased_, true)) {
        return;
    }
    if (rescanTimer_) {
        rescanTimer_->stop();
    }
    rescanTimer_.reset();
    if (outputPort_ != 0) {
        logStatusError(service_->portDispose(outputPort_), "Dispose MIDI port");
    }
    if (inputPort_ != 0) {
        logStatusError(service_->portDispose(inputPort_), "Dispose MIDI port");
    }
    if (client_ != 0) {
        const OSStatus status = service_->clientDispose(client_);
        logStatusError(status, "Dispose MIDI client");
        // The client's virtual endpoints went with it: disposing them again only fails.
        clientDisposed_ = status == noErr;
    }
    virtualEndpointName_.reset();
    setVirtualSourceEnabled(false);
    setVirtualDestinationEnabled(false);
}

void ZelMidi::setRescanTimer(std::unique_ptr<QTimer> timer) {
    rescanTimer_ = std::move(timer);
}

void ZelMidi::setNetworkEnabled(bool /*enabled*/) {
    systemLog(QStringLiteral("MIDINetworkSession not available on Mac OS X"));
}

// ---- Lists --------------------------------------------------------------------------------

std::shared_ptr<ZelMidiSource> ZelMidi::getSource(MIDIEndpointRef endpoint) const {
    const auto it = std::find_if(sources_.begin(), sources_.end(),
                                 [endpoint](const auto& s) { return s->endpoint() == endpoint; });
    return it != sources_.end() ? *it : nullptr;
}

std::shared_ptr<ZelMidiDestination> ZelMidi::getDestination(MIDIEndpointRef endpoint) const {
    const auto it = std::find_if(destinations_.begin(), destinations_.end(),
                                 [endpoint](const auto& d) { return d->endpoint() == endpoint; });
    return it != destinations_.end() ? *it : nullptr;
}

void ZelMidi::announce(const char* notification,
                       const std::shared_ptr<ZelMidiConnection>& wrapper) {
    NotificationCenter::defaultCenter().post(
        {notification, this, {{ZelMidiConnectionKey, std::any(wrapper)}}});
}

void ZelMidi::connectSource(MIDIEndpointRef endpoint) {
    assertOnHomeThread();
    if (getSource(endpoint)) {
        return; // a rescan wrapped it before its notice came: one wrapper holds the route
    }
    scannedGeneration_ = 0;
    auto source = std::make_shared<ZelMidiSource>(this, endpoint);
    sources_.push_back(source);
    if (delegate_ != nullptr) {
        delegate_->midiSourceAdded(*this, source);
    }
    announce(ZelMidiSourceAddedNotification, source);
    // Connected last, so every listener has attached before the first packet can arrive.
    logStatusError(service_->portConnectSource(inputPort_, endpoint, source.get()),
                   "Connecting to MIDI source");
}

void ZelMidi::disconnectSource(MIDIEndpointRef endpoint) {
    const std::shared_ptr<ZelMidiSource> source = getSource(endpoint);
    if (!source) {
        return;
    }
    assertOnHomeThread();
    scannedGeneration_ = 0;
    const OSStatus status = service_->portDisconnectSource(inputPort_, endpoint);
    logStatusError(status, "Disconnecting from MIDI source");
    if (status != noErr && status != kMIDINoConnection) {
        stillRouted_.push_back(source); // its read callback may still come
    }
    eraseEvery(sources_, source);
    if (delegate_ != nullptr) {
        delegate_->midiSourceRemoved(*this, source);
    }
    announce(ZelMidiSourceRemovedNotification, source);
}

void ZelMidi::connectDestination(MIDIEndpointRef endpoint) {
    assertOnHomeThread();
    if (getDestination(endpoint)) {
        return;
    }
    scannedGeneration_ = 0;
    auto destination = std::make_shared<ZelMidiDestination>(this, endpoint);
    destinations_.push_back(destination);
    if (delegate_ != nullptr) {
        delegate_->midiDestinationAdded(*this, destination);
    }
    announce(ZelMidiDestinationAddedNotification, destination);
}

void ZelMidi::disconnectDestination(MIDIEndpointRef endpoint) {
    const std::shared_ptr<ZelMidiDestination> destination = getDestination(endpoint);
    if (!destination) {
        return;
    }
    scannedGeneration_ = 0;
    eraseEvery(destinations_, destination);
    if (delegate_ != nullptr) {
        delegate_->midiDestinationRemoved(*this, destination);
    }
    announce(ZelMidiDestinationRemovedNotification, destination);
}

// ---- Rescan -------------------------------------------------------------------------------

void ZelMidi::rescanIfChanged() {
    const uint64_t generation = service_->endpointListGeneration();
    if (generation != 0 && generation == scannedGeneration_) {
        return; // the walk would find what the lists already hold
    }
    scanExistingDevices();
    // The generation from before the walk: a change during it makes the next tick walk again.
    scannedGeneration_ = generation;
}

void ZelMidi::scanExistingDevices() {
    assertOnHomeThread();
    const ItemCount destinationCount = service_->getNumberOfDestinations();
    const ItemCount sourceCount = service_->getNumberOfSources();
    DestinationList staleDestinations = destinations_;
    SourceList staleSources = sources_;

    // Our own virtual endpoints are never wrapped as external ones, and 0 names no endpoint.
    for (ItemCount i = 0; i < destinationCount; ++i) {
        const MIDIEndpointRef ref = service_->getDestination(i);
        if (ref == 0 || ref == virtualDestinationEndpoint_) {
            continue;
        }
        if (const auto listed = getDestination(ref)) {
            const auto it = std::find(staleDestinations.begin(), staleDestinations.end(), listed);
            if (it != staleDestinations.end()) {
                staleDestinations.erase(it);
            }
        } else {
            connectDestination(ref);
        }
    }
    for (ItemCount i = 0; i < sourceCount; ++i) {
        const MIDIEndpointRef ref = service_->getSource(i);
        if (ref == 0 || ref == virtualSourceEndpoint_) {
            continue;
        }
        if (const auto listed = getSource(ref)) {
            const auto it = std::find(staleSources.begin(), staleSources.end(), listed);
            if (it != staleSources.end()) {
                staleSources.erase(it);
            }
        } else {
            connectSource(ref);
        }
    }
    for (const auto& destination : staleDestinations) {
        disconnectDestination(destination->endpoint());
    }
    for (const auto& source : staleSources) {
        disconnectSource(source->endpoint());
    }
}

// ---- Hot-plug notices ---------------------------------------------------------------------

namespace {

// Reads an added/removed notice; nullptr when the record is too short to be one.
const MIDIObjectAddRemoveNotification* asAddRemove(const MIDINotification* notification) {
    if (notification->messageSize < sizeof(MIDIObjectAddRemoveNotification)) {
        return nullptr;
    }
    return reinterpret_cast<const MIDIObjectAddRemoveNotification*>(notification);
}

} // namespace

void ZelMidi::midiNotify(const MIDINotification* notification) {
    assertOnHomeThread();
    if (notification == nullptr) {
        return;
    }
    switch (notification->messageID) {
    case kMIDIMsgObjectRemoved:
        if (const auto* notice = asAddRemove(notification)) {
            midiNotifyRemove(notice);
        }
        break;
    case kMIDIMsgObjectAdded:
        if (const auto* notice = asAddRemove(notification)) {
            midiNotifyAdd(notice);
        }
        break;
    default:
        break;
    }
}

void ZelMidi::midiNotifyAdd(const MIDIObjectAddRemoveNotification* notification) {
    const MIDIObjectRef child = notification->child;
    if (child == 0 || child == virtualDestinationEndpoint_ || child == virtualSourceEndpoint_) {
        return;
    }
    if (notification->childType == kMIDIObjectType_Source) {
        connectSource(child);
    } else if (notification->childType == kMIDIObjectType_Destination) {
        connectDestination(child);
    }
}

void ZelMidi::midiNotifyRemove(const MIDIObjectAddRemoveNotification* notification) {
    const MIDIObjectRef child = notification->child;
    if (child == 0 || child == virtualDestinationEndpoint_ || child == virtualSourceEndpoint_) {
        return;
    }
    if (notification->childType == kMIDIObjectType_Source) {
        disconnectSource(child);
    } else if (notification->childType == kMIDIObjectType_Destination) {
        disconnectDestination(child);
    }
}

// ---- Sending ------------------------------------------------------------------------------

void ZelMidi::sendPacketList(const MIDIPacketList* list) {
    if (service_->getNumberOfDestinations() == 0) {
        return;
    }
    // The count is asked again after every index: endpoints may come and go meanwhile.
    ItemCount index = 0;
    do {
        const MIDIEndpointRef destination = service_->getDestination(index);
        if (destination != 0) {
            logStatusError(service_->send(outputPort_, destination, list), "Sending MIDI");
        }
        ++index;
    } while (index < service_->getNumberOfDestinations());
}

void ZelMidi::sendBytes(const uint8_t* bytes, uint32_t size) {
    zelmidi_detail::withOnePacketList(bytes, size,
                                      [this](const MIDIPacketList* list) { sendPacketList(list); });
}
