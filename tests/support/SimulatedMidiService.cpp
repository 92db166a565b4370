#include "SimulatedMidiService.h"

#include "QueuedCall.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>

namespace {

enum class Kind { Client, InputPort, OutputPort, Source, Destination, Entity };

struct Object {
    Kind kind = Kind::Client;
    QString name;
    MIDIClientRef client = 0; // owner of a port or a virtual endpoint
    // Client
    MIDINotifyProc notifyProc = nullptr;
    void* notifyRefCon = nullptr;
    QObject* context = nullptr; // lives on the creating thread; notices are queued to it
    // Input port, virtual destination
    MIDIReadProc readProc = nullptr;
    void* refCon = nullptr;
    // Endpoint
    bool isVirtual = false;
    bool hasName = true;
    MIDIEntityRef entity = 0;
    int32_t uniqueID = 0;
    // Entity
    QVariantMap properties;
    bool propertiesReadable = true;
};

struct Connection {
    uint64_t id;
    MIDIPortRef port;
    MIDIEndpointRef source;
    void* refCon;
};

// One read callback about to run or running on the receive thread.
struct Target {
    uint64_t connectionID = 0; // 0: a virtual destination's own read proc
    MIDIPortRef port = 0;
    MIDIEndpointRef endpoint = 0;
    MIDIClientRef client = 0;
    MIDIReadProc proc = nullptr;
    void* refCon = nullptr;
    void* connRefCon = nullptr;
};

struct Delivery {
    MIDIEndpointRef endpoint;
    std::vector<uint8_t> bytes;
};

union AnyNotice {
    MIDINotification plain;
    MIDIObjectAddRemoveNotification addRemove;
};

const std::set<QString>& failableCalls() {
    static const std::set<QString> names{
        "clientCreate",
        "clientDispose",
        "outputPortCreate",
        "inputPortCreate",
        "portDispose",
        "portConnectSource",
        "portDisconnectSource",
        "send",
        "received",
        "flushOutput",
        "objectGetStringProperty",
        "objectGetIntegerProperty",
        "objectSetIntegerProperty",
        "objectGetProperties",
        "endpointGetEntity",
        "sourceCreate",
        "destinationCreate",
        "endpointDispose",
    };
    return names;
}

QString quoted(const QString& s) {
    return QLatin1Char('"') + s + QLatin1Char('"');
}
QString keyText(MIDIPropertyKey key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

void deleteContext(QObject* context) {
    if (context == nullptr) {
        return;
    }
    if (context->thread() == QThread::currentThread()) {
        delete context; // also drops its queued notices
    } else {
        context->deleteLater();
    }
}

// The model; shared with queued notices so that a notice outliving the service finds it gone.
struct Model {
    mutable std::mutex mutex;
    std::condition_variable changed;

    MIDIObjectRef nextRef = 1;
    int32_t nextUniqueID = 0x1000;
    std::map<MIDIObjectRef, Object> objects;
    std::vector<MIDIClientRef> clients; // creation order
    std::vector<MIDIEndpointRef> sourceOrder;
    std::vector<MIDIEndpointRef> destinationOrder;
    std::map<ItemCount, MIDIEndpointRef> sourceOverrides;
    std::map<ItemCount, MIDIEndpointRef> destinationOverrides;
    std::vector<Connection> connections;
    uint64_t nextConnectionID = 1;
    std::set<int32_t> reservedIDs;

    QStringList calls;
    std::vector<SimulatedMidiService::Sent> sent;
    std::vector<SimulatedMidiService::Sent> published;
    std::map<QString, OSStatus> failures;
    std::map<QString, OSStatus> nextFailures;
    std::optional<MIDITimeStamp> hostTime;
    bool keepsListGeneration = false;
    uint64_t listGeneration = 0;
    std::vector<MIDIEndpointRef> sourcesSeen; // the enumeration when the generation was asked
    std::vector<MIDIEndpointRef> destinationsSeen;
    std::map<ItemCount, MIDIEndpointRef> sourceOverridesSeen;
    std::map<ItemCount, MIDIEndpointRef> destinationOverridesSeen;

    // Receive thread
    std::deque<Delivery> queue;
    uint64_t enqueued = 0;
    uint64_t handled = 0;
    std::optional<Target> current;
    bool stopping = false;
    std::thread::id receiveThread;

    const Object* find(MIDIObjectRef ref) const {
        const auto it = objects.find(ref);
        return it == objects.end() ? nullptr : &it->second;
    }
    Object* find(MIDIObjectRef ref) {
        const auto it = objects.find(ref);
        return it == objects.end() ? nullptr : &it->second;
    }
    bool isKind(MIDIObjectRef ref, Kind kind) const {
        const Object* o = find(ref);
        return o != nullptr && o->kind == kind;
    }

    // Logs the call and answers an injected failure, if any.
    std::optional<OSStatus> enter(const QString& line, const QString& name) {
        calls.append(line);
        if (const auto it = nextFailures.find(name); it != nextFailures.end()) {
            const OSStatus status = it->second;
            nextFailures.erase(it);
            return status;
        }
        if (const auto it = failures.find(name); it != failures.end()) {
            return it->second;
        }
        return std::nullopt;
    }

    bool idTaken(int32_t id) const {
        if (id == 0 || reservedIDs.count(id) != 0) {
            return true;
        }
        return std::any_of(objects.begin(), objects.end(),
                           [id](const auto& e) { return e.second.uniqueID == id; });
    }
    int32_t freshUniqueID() {
        while (idTaken(nextUniqueID)) {
            nextUniqueID = static_cast<int32_t>(static_cast<uint32_t>(nextUniqueID) + 1u);
        }
        const int32_t id = nextUniqueID;
        nextUniqueID = static_cast<int32_t>(static_cast<uint32_t>(nextUniqueID) + 1u);
        return id;
    }

    MIDIObjectRef add(Object object) {
        const MIDIObjectRef ref = nextRef++;
        objects.emplace(ref, std::move(object));
        return ref;
    }

    // Queues a notice to every live client, on the event loop of its creating thread.
    void post(const std::shared_ptr<Model>& self, const AnyNotice& notice) {
        const std::weak_ptr<Model> weak = self;
        for (const MIDIClientRef client : clients) {
            QObject* context = find(client)->context;
            queuedcall::post(context, [weak, client, notice] {
                const std::shared_ptr<Model> model = weak.lock();
                if (!model) {
                    return;
                }
                MIDINotifyProc proc = nullptr;
                void* refCon = nullptr;
                {
                    const std::lock_guard lock(model->mutex);
                    const Object* c = model->find(client);
                    if (c == nullptr || c->kind != Kind::Client) {
                        return; // disposed before delivery
                    }
                    proc = c->notifyProc;
                    refCon = c->notifyRefCon;
                }
                if (proc != nullptr) {
                    proc(&notice.plain, refCon);
                }
            });
        }
    }
    void postAddRemove(const std::shared_ptr<Model>& self, MIDINotificationMessageID id,
                       MIDIEndpointRef endpoint) {
        const Object& e = *find(endpoint);
        AnyNotice n{};
        n.addRemove.messageID = id;
        n.addRemove.messageSize = sizeof(MIDIObjectAddRemoveNotification);
        n.addRemove.parent = e.entity;
        n.addRemove.parentType = e.entity != 0 ? kMIDIObjectType_Entity : kMIDIObjectType_Other;
        n.addRemove.child = endpoint;
        n.addRemove.childType =
            e.kind == Kind::Source ? kMIDIObjectType_Source : kMIDIObjectType_Destination;
        post(self, n);
    }

    // Removes an endpoint, its entity and its connections (no notice, no waiting).
    void eraseEndpoint(MIDIEndpointRef endpoint) {
        const Object* e = find(endpoint);
        if (e->entity != 0) {
            objects.erase(e->entity);
        }
        auto& order = e->kind == Kind::Source ? sourceOrder : destinationOrder;
        order.erase(std::remove(order.begin(), order.end(), endpoint), order.end());
        std::erase_if(connections,
                      [endpoint](const Connection& c) { return c.source == endpoint; });
        objects.erase(endpoint);
    }
    void erasePort(MIDIPortRef port) {
        std::erase_if(connections, [port](const Connection& c) { return c.port == port; });
        objects.erase(port);
    }

    // Whether a read callback that is about to run may still run.
    bool stillValid(const Target& t) const {
        if (t.connectionID != 0) {
            return std::any_of(connections.begin(), connections.end(),
                               [&t](const Connection& c) { return c.id == t.connectionID; });
        }
        return isKind(t.endpoint, Kind::Destination);
    }

    // After a removal: wait until a read callback that involves the removed object has returned.
    // The receive thread itself never waits (a callback may remove its own connection).
    template <typename Pred>
    void waitForCallback(std::unique_lock<std::mutex>& lock, Pred involves) {
        if (std::this_thread::get_id() == receiveThread) {
            return;
        }
        changed.wait(lock, [&] { return !current || !involves(*current); });
    }

    std::vector<Target> targetsFor(MIDIEndpointRef endpoint) const {
        std::vector<Target> targets;
        const Object* e = find(endpoint);
        if (e == nullptr) {
            return targets;
        }
        if (e->kind == Kind::Destination && e->isVirtual) {
            targets.push_back(Target{0, 0, endpoint, e->client, e->readProc, e->refCon, nullptr});
        }
        for (const Connection& c : connections) {
            if (c.source == endpoint) {
                const Object& port = *find(c.port);
                targets.push_back(Target{c.id, c.port, endpoint, port.client, port.readProc,
                                         port.refCon, c.refCon});
            }
        }
        return targets;
    }

    void enqueue(MIDIEndpointRef endpoint, std::vector<uint8_t> bytes) {
        queue.push_back(Delivery{endpoint, std::move(bytes)});
        ++enqueued;
        changed.notify_all();
    }
};

} // namespace

struct SimulatedMidiService::Impl {
    std::shared_ptr<Model> model = std::make_shared<Model>();
    std::thread receiver;

    void receiveLoop() {
        Model& m = *model;
        std::unique_lock lock(m.mutex);
        for (;;) {
            m.changed.wait(lock, [&] { return m.stopping || !m.queue.empty(); });
            if (m.stopping) {
                return;
            }
            Delivery delivery = std::move(m.queue.front());
            m.queue.pop_front();
            const std::vector<Target> targets = m.targetsFor(delivery.endpoint);
            // An aligned copy, alive for the callbacks; short lists are padded to a full count.
            std::vector<uint32_t> buffer(
                std::max<size_t>(delivery.bytes.size(), kPacketListHeaderSize) / 4 + 1, 0);
            std::memcpy(buffer.data(), delivery.bytes.data(), delivery.bytes.size());
            const auto* list = reinterpret_cast<const MIDIPacketList*>(buffer.data());
            for (const Target& t : targets) {
                if (!m.stillValid(t) || t.proc == nullptr) {
                    continue;
                }
                m.current = t;
                lock.unlock();
                t.proc(list, t.refCon, t.connRefCon);
                lock.lock();
                m.current.reset();
                m.changed.notify_all();
            }
            ++m.handled;
            m.changed.notify_all();
        }
    }
};

SimulatedMidiService::SimulatedMidiService() : d(std::make_unique<Impl>()) {
    std::lock_guard lock(d->model->mutex);
    d->receiver = std::thread([impl = d.get()] { impl->receiveLoop(); });
    d->model->receiveThread = d->receiver.get_id();
}

SimulatedMidiService::~SimulatedMidiService() {
    std::vector<QObject*> contexts;
    {
        std::lock_guard lock(d->model->mutex);
        d->model->stopping = true;
        d->model->changed.notify_all();
        for (const MIDIClientRef client : d->model->clients) {
            contexts.push_back(std::exchange(d->model->find(client)->context, nullptr));
        }
    }
    d->receiver.join();
    std::for_each(contexts.begin(), contexts.end(), deleteContext);
}

// ---- The outside world ----------------------------------------------------------------------

namespace {

MIDIEndpointRef addExternal(const std::shared_ptr<Model>& model, Kind kind,
                            const QString& displayName,
                            const SimulatedMidiService::EndpointOptions& options) {
    std::lock_guard lock(model->mutex);
    Object endpoint;
    endpoint.kind = kind;
    endpoint.name = displayName;
    endpoint.hasName = options.hasName;
    endpoint.uniqueID = model->freshUniqueID();
    if (options.hasEntity) {
        Object entity;
        entity.kind = Kind::Entity;
        entity.properties = options.entityProperties;
        entity.propertiesReadable = options.entityPropertiesReadable;
        endpoint.entity = model->add(std::move(entity));
    }
    const MIDIEndpointRef ref = model->add(std::move(endpoint));
    (kind == Kind::Source ? model->sourceOrder : model->destinationOrder).push_back(ref);
    if (options.notify) {
        model->postAddRemove(model, kMIDIMsgObjectAdded, ref);
    }
    return ref;
}

} // namespace

MIDIEndpointRef SimulatedMidiService::addSource(const QString& displayName,
                                                EndpointOptions options) {
    return addExternal(d->model, Kind::Source, displayName, options);
}

MIDIEndpointRef SimulatedMidiService::addDestination(const QString& displayName,
                                                     EndpointOptions options) {
    return addExternal(d->model, Kind::Destination, displayName, options);
}

MIDIEndpointRef SimulatedMidiService::addSource(const QString& displayName) {
    return addExternal(d->model, Kind::Source, displayName, EndpointOptions{});
}

MIDIEndpointRef SimulatedMidiService::addDestination(const QString& displayName) {
    return addExternal(d->model, Kind::Destination, displayName, EndpointOptions{});
}

void SimulatedMidiService::removeEndpoint(MIDIEndpointRef endpoint, bool notify) {
    Model& m = *d->model;
    std::unique_lock lock(m.mutex);
    const Object* e = m.find(endpoint);
    if (e == nullptr || (e->kind != Kind::Source && e->kind != Kind::Destination)) {
        return;
    }
    if (notify) {
        m.postAddRemove(d->model, kMIDIMsgObjectRemoved, endpoint);
    }
    m.eraseEndpoint(endpoint);
    m.waitForCallback(lock, [endpoint](const Target& t) { return t.endpoint == endpoint; });
}

void SimulatedMidiService::postNotice(const MIDIObjectAddRemoveNotification& notice) {
    std::lock_guard lock(d->model->mutex);
    AnyNotice n{};
    n.addRemove = notice;
    d->model->post(d->model, n);
}

void SimulatedMidiService::postNotice(MIDINotificationMessageID messageID) {
    std::lock_guard lock(d->model->mutex);
    AnyNotice n{};
    n.plain = MIDINotification{messageID, sizeof(MIDINotification)};
    d->model->post(d->model, n);
}

void SimulatedMidiService::setSourceAt(ItemCount index, MIDIEndpointRef endpoint) {
    std::lock_guard lock(d->model->mutex);
    d->model->sourceOverrides[index] = endpoint;
}

void SimulatedMidiService::setDestinationAt(ItemCount index, MIDIEndpointRef endpoint) {
    std::lock_guard lock(d->model->mutex);
    d->model->destinationOverrides[index] = endpoint;
}

void SimulatedMidiService::clearEnumerationOverrides() {
    std::lock_guard lock(d->model->mutex);
    d->model->sourceOverrides.clear();
    d->model->destinationOverrides.clear();
}

void SimulatedMidiService::deliver(MIDIEndpointRef source, std::vector<uint8_t> packetListBytes) {
    std::lock_guard lock(d->model->mutex);
    d->model->enqueue(source, std::move(packetListBytes));
}

void SimulatedMidiService::deliverAndWait(MIDIEndpointRef source,
                                          std::vector<uint8_t> packetListBytes) {
    Model& m = *d->model;
    std::unique_lock lock(m.mutex);
    m.enqueue(source, std::move(packetListBytes));
    const uint64_t mine = m.enqueued;
    if (std::this_thread::get_id() != m.receiveThread) {
        m.changed.wait(lock, [&] { return m.handled >= mine; });
    }
}

void SimulatedMidiService::waitForDeliveries() {
    Model& m = *d->model;
    std::unique_lock lock(m.mutex);
    const uint64_t all = m.enqueued;
    if (std::this_thread::get_id() != m.receiveThread) {
        m.changed.wait(lock, [&] { return m.handled >= all; });
    }
}

std::vector<uint8_t>
SimulatedMidiService::makePacketList(const std::vector<std::vector<uint8_t>>& packets,
                                     MIDITimeStamp timeStamp) {
    size_t size = kPacketListHeaderSize;
    for (const auto& p : packets) {
        size += kPacketHeaderSize + p.size();
    }
    std::vector<uint32_t> buffer(size / 4 + 1, 0);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketPtr current = packetListInit(list, size);
    for (const auto& p : packets) {
        current = packetListAdd(list, size, current, timeStamp, p.size(), p.data());
        if (current == nullptr) {
            throw std::invalid_argument("packet too long for a packet list");
        }
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
    return {bytes, bytes + size};
}

// ---- What the code under test did -----------------------------------------------------------

std::vector<SimulatedMidiService::Sent> SimulatedMidiService::sent() const {
    std::lock_guard lock(d->model->mutex);
    return d->model->sent;
}

std::vector<SimulatedMidiService::Sent> SimulatedMidiService::published() const {
    std::lock_guard lock(d->model->mutex);
    return d->model->published;
}

QStringList SimulatedMidiService::calls() const {
    std::lock_guard lock(d->model->mutex);
    return d->model->calls;
}

QStringList SimulatedMidiService::callsNamed(const QString& name) const {
    const QString prefix = name + QLatin1Char('(');
    QStringList result;
    std::lock_guard lock(d->model->mutex);
    for (const QString& line : d->model->calls) {
        if (line.startsWith(prefix)) {
            result.append(line);
        }
    }
    return result;
}

void SimulatedMidiService::clearCalls() {
    std::lock_guard lock(d->model->mutex);
    d->model->calls.clear();
}

bool SimulatedMidiService::isConnected(MIDIPortRef port, MIDIEndpointRef source) const {
    std::lock_guard lock(d->model->mutex);
    const auto& cs = d->model->connections;
    return std::any_of(cs.begin(), cs.end(),
                       [&](const Connection& c) { return c.port == port && c.source == source; });
}

void* SimulatedMidiService::connectionRefCon(MIDIPortRef port, MIDIEndpointRef source) const {
    std::lock_guard lock(d->model->mutex);
    for (const Connection& c : d->model->connections) {
        if (c.port == port && c.source == source) {
            return c.refCon;
        }
    }
    return nullptr;
}

bool SimulatedMidiService::exists(MIDIObjectRef object) const {
    std::lock_guard lock(d->model->mutex);
    return d->model->find(object) != nullptr;
}

std::optional<QString> SimulatedMidiService::virtualEndpointName(MIDIEndpointRef endpoint) const {
    std::lock_guard lock(d->model->mutex);
    const Object* e = d->model->find(endpoint);
    if (e == nullptr || !e->isVirtual) {
        return std::nullopt;
    }
    return e->name;
}

MIDIEntityRef SimulatedMidiService::entityOf(MIDIEndpointRef endpoint) const {
    std::lock_guard lock(d->model->mutex);
    const Object* e = d->model->find(endpoint);
    return e == nullptr ? 0 : e->entity;
}

void SimulatedMidiService::renameEndpoint(MIDIEndpointRef endpoint, const QString& displayName) {
    std::lock_guard lock(d->model->mutex);
    if (Object* e = d->model->find(endpoint)) {
        e->name = displayName;
    }
}

int32_t SimulatedMidiService::uniqueID(MIDIObjectRef object) const {
    std::lock_guard lock(d->model->mutex);
    const Object* o = d->model->find(object);
    return o == nullptr ? 0 : o->uniqueID;
}

void SimulatedMidiService::reserveUniqueID(int32_t id) {
    std::lock_guard lock(d->model->mutex);
    d->model->reservedIDs.insert(id);
}

void SimulatedMidiService::setNextUniqueID(int32_t id) {
    std::lock_guard lock(d->model->mutex);
    d->model->nextUniqueID = id;
}

std::thread::id SimulatedMidiService::receiveThreadId() const {
    std::lock_guard lock(d->model->mutex);
    return d->model->receiveThread;
}

// ---- Failure injection and clock --------------------------------------------------------------

namespace {
void checkFailable(const QString& call) {
    if (failableCalls().count(call) == 0) {
        throw std::invalid_argument("not a MidiService call that can fail: " + call.toStdString());
    }
}
} // namespace

void SimulatedMidiService::failCall(const QString& call, OSStatus status) {
    checkFailable(call);
    std::lock_guard lock(d->model->mutex);
    if (status == noErr) {
        d->model->failures.erase(call);
    } else {
        d->model->failures[call] = status;
    }
}

void SimulatedMidiService::failNextCall(const QString& call, OSStatus status) {
    checkFailable(call);
    std::lock_guard lock(d->model->mutex);
    d->model->nextFailures[call] = status;
}

void SimulatedMidiService::setHostTime(MIDITimeStamp t) {
    std::lock_guard lock(d->model->mutex);
    d->model->hostTime = t;
}

void SimulatedMidiService::setKeepsListGeneration(bool keeps) {
    std::lock_guard lock(d->model->mutex);
    d->model->keepsListGeneration = keeps;
}

uint64_t SimulatedMidiService::endpointListGeneration() {
    Model& m = *d->model;
    std::lock_guard lock(m.mutex);
    if (!m.keepsListGeneration) {
        return 0;
    }
    if (m.listGeneration == 0 || m.sourceOrder != m.sourcesSeen ||
        m.destinationOrder != m.destinationsSeen || m.sourceOverrides != m.sourceOverridesSeen ||
        m.destinationOverrides != m.destinationOverridesSeen) {
        ++m.listGeneration;
        m.sourcesSeen = m.sourceOrder;
        m.destinationsSeen = m.destinationOrder;
        m.sourceOverridesSeen = m.sourceOverrides;
        m.destinationOverridesSeen = m.destinationOverrides;
    }
    return m.listGeneration;
}

MIDITimeStamp SimulatedMidiService::hostTime() {
    {
        std::lock_guard lock(d->model->mutex);
        d->model->calls.append(QStringLiteral("hostTime()"));
        if (d->model->hostTime) {
            return *d->model->hostTime;
        }
    }
    return MidiService::hostTime();
}

// ---- MidiService ------------------------------------------------------------------------------

OSStatus SimulatedMidiService::clientCreate(const QString& name, MIDINotifyProc notifyProc,
                                            void* notifyRefCon, MIDIClientRef* outClient) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("clientCreate(name=%1)").arg(quoted(name)),
                               QStringLiteral("clientCreate"))) {
        if (outClient != nullptr) {
            *outClient = 0;
        }
        return *failure;
    }
    if (outClient == nullptr) {
        return kMIDIUnknownError;
    }
    Object client;
    client.kind = Kind::Client;
    client.name = name;
    client.notifyProc = notifyProc;
    client.notifyRefCon = notifyRefCon;
    client.context = new QObject; // owned by the model; affinity: the calling thread
    *outClient = m.add(std::move(client));
    m.clients.push_back(*outClient);
    return noErr;
}

OSStatus SimulatedMidiService::clientDispose(MIDIClientRef client) {
    Model& m = *d->model;
    QObject* context = nullptr;
    {
        std::unique_lock lock(m.mutex);
        if (auto failure = m.enter(QStringLiteral("clientDispose(client=%1)").arg(client),
                                   QStringLiteral("clientDispose"))) {
            return *failure;
        }
        if (!m.isKind(client, Kind::Client)) {
            return kMIDIInvalidClient;
        }
        context = std::exchange(m.find(client)->context, nullptr);
        m.clients.erase(std::remove(m.clients.begin(), m.clients.end(), client), m.clients.end());
        std::vector<MIDIObjectRef> owned;
        for (const auto& [ref, object] : m.objects) {
            if (object.client == client) {
                owned.push_back(ref);
            }
        }
        for (const MIDIObjectRef ref : owned) {
            const Kind kind = m.find(ref)->kind;
            if (kind == Kind::InputPort || kind == Kind::OutputPort) {
                m.erasePort(ref);
            } else {
                // The client's virtual endpoints vanish; the other clients hear of it.
                m.postAddRemove(d->model, kMIDIMsgObjectRemoved, ref);
                m.eraseEndpoint(ref);
            }
        }
        m.objects.erase(client);
        m.waitForCallback(lock, [client](const Target& t) { return t.client == client; });
    }
    deleteContext(context);
    return noErr;
}

// The two port creations differ only in the kind of port and its read callback.
OSStatus SimulatedMidiService::createPort(const QString& call, MIDIClientRef client,
                                          const QString& portName, MIDIReadProc readProc,
                                          void* refCon, MIDIPortRef* outPort) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(
            QStringLiteral("%1(client=%2, name=%3)").arg(call).arg(client).arg(quoted(portName)),
            call)) {
        if (outPort != nullptr) {
            *outPort = 0;
        }
        return *failure;
    }
    if (outPort == nullptr) {
        return kMIDIUnknownError;
    }
    if (!m.isKind(client, Kind::Client)) {
        *outPort = 0;
        return kMIDIInvalidClient;
    }
    Object port;
    port.kind = call == QLatin1String("inputPortCreate") ? Kind::InputPort : Kind::OutputPort;
    port.name = portName;
    port.client = client;
    port.readProc = readProc;
    port.refCon = refCon;
    *outPort = m.add(std::move(port));
    return noErr;
}

OSStatus SimulatedMidiService::outputPortCreate(MIDIClientRef client, const QString& portName,
                                                MIDIPortRef* outPort) {
    return createPort(QStringLiteral("outputPortCreate"), client, portName, nullptr, nullptr,
                      outPort);
}

OSStatus SimulatedMidiService::inputPortCreate(MIDIClientRef client, const QString& portName,
                                               MIDIReadProc readProc, void* refCon,
                                               MIDIPortRef* outPort) {
    return createPort(QStringLiteral("inputPortCreate"), client, portName, readProc, refCon,
                      outPort);
}

OSStatus SimulatedMidiService::portDispose(MIDIPortRef port) {
    Model& m = *d->model;
    std::unique_lock lock(m.mutex);
    if (auto failure = m.enter(QStringLiteral("portDispose(port=%1)").arg(port),
                               QStringLiteral("portDispose"))) {
        return *failure;
    }
    if (!m.isKind(port, Kind::InputPort) && !m.isKind(port, Kind::OutputPort)) {
        return kMIDIInvalidPort;
    }
    m.erasePort(port);
    m.waitForCallback(lock, [port](const Target& t) { return t.port == port; });
    return noErr;
}

ItemCount SimulatedMidiService::getNumberOfSources() {
    std::lock_guard lock(d->model->mutex);
    d->model->calls.append(QStringLiteral("getNumberOfSources()"));
    return d->model->sourceOrder.size();
}

MIDIEndpointRef SimulatedMidiService::getSource(ItemCount index) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    m.calls.append(QStringLiteral("getSource(index=%1)").arg(index));
    if (index >= m.sourceOrder.size()) {
        return 0;
    }
    if (const auto it = m.sourceOverrides.find(index); it != m.sourceOverrides.end()) {
        return it->second;
    }
    return m.sourceOrder[index];
}

ItemCount SimulatedMidiService::getNumberOfDestinations() {
    std::lock_guard lock(d->model->mutex);
    d->model->calls.append(QStringLiteral("getNumberOfDestinations()"));
    return d->model->destinationOrder.size();
}

MIDIEndpointRef SimulatedMidiService::getDestination(ItemCount index) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    m.calls.append(QStringLiteral("getDestination(index=%1)").arg(index));
    if (index >= m.destinationOrder.size()) {
        return 0;
    }
    if (const auto it = m.destinationOverrides.find(index); it != m.destinationOverrides.end()) {
        return it->second;
    }
    return m.destinationOrder[index];
}

OSStatus SimulatedMidiService::portConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                                 void* connRefCon) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure =
            m.enter(QStringLiteral("portConnectSource(port=%1, source=%2)").arg(port).arg(source),
                    QStringLiteral("portConnectSource"))) {
        return *failure;
    }
    if (!m.isKind(port, Kind::InputPort)) {
        return kMIDIInvalidPort;
    }
    const Object* s = m.find(source);
    if (s == nullptr) {
        return kMIDIObjectNotFound;
    }
    if (s->kind != Kind::Source) {
        return kMIDIWrongEndpointType;
    }
    // One connection per port and source; connecting again only replaces its context.
    for (Connection& c : m.connections) {
        if (c.port == port && c.source == source) {
            c.refCon = connRefCon;
            return noErr;
        }
    }
    m.connections.push_back(Connection{m.nextConnectionID++, port, source, connRefCon});
    return noErr;
}

OSStatus SimulatedMidiService::portDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
    Model& m = *d->model;
    std::unique_lock lock(m.mutex);
    if (auto failure = m.enter(
            QStringLiteral("portDisconnectSource(port=%1, source=%2)").arg(port).arg(source),
            QStringLiteral("portDisconnectSource"))) {
        return *failure;
    }
    if (!m.isKind(port, Kind::InputPort)) {
        return kMIDIInvalidPort;
    }
    const auto it =
        std::find_if(m.connections.begin(), m.connections.end(),
                     [&](const Connection& c) { return c.port == port && c.source == source; });
    if (it == m.connections.end()) {
        return kMIDINoConnection;
    }
    const uint64_t id = it->id;
    m.connections.erase(it);
    m.waitForCallback(lock, [id](const Target& t) { return t.connectionID == id; });
    return noErr;
}

OSStatus SimulatedMidiService::send(MIDIPortRef port, MIDIEndpointRef destination,
                                    const MIDIPacketList* list) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure =
            m.enter(QStringLiteral("send(port=%1, destination=%2)").arg(port).arg(destination),
                    QStringLiteral("send"))) {
        return *failure;
    }
    if (!m.isKind(port, Kind::OutputPort)) {
        return kMIDIInvalidPort;
    }
    const Object* dest = m.find(destination);
    if (dest == nullptr) {
        return kMIDIObjectNotFound;
    }
    if (dest->kind != Kind::Destination) {
        return kMIDIWrongEndpointType;
    }
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(list);
    std::vector<uint8_t> copy(bytes, bytes + packetListByteSize(list));
    if (dest->isVirtual) {
        m.enqueue(destination, copy); // our own virtual destination hears it
    }
    m.sent.push_back(Sent{port, destination, std::move(copy)});
    return noErr;
}

OSStatus SimulatedMidiService::received(MIDIEndpointRef source, const MIDIPacketList* list) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("received(source=%1)").arg(source),
                               QStringLiteral("received"))) {
        return *failure;
    }
    const Object* s = m.find(source);
    if (s == nullptr) {
        return kMIDIObjectNotFound;
    }
    if (s->kind != Kind::Source || !s->isVirtual) {
        return kMIDIWrongEndpointType;
    }
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(list);
    std::vector<uint8_t> copy(bytes, bytes + packetListByteSize(list));
    if (std::any_of(m.connections.begin(), m.connections.end(),
                    [source](const Connection& c) { return c.source == source; })) {
        m.enqueue(source, copy); // ports of this process connected to the virtual source
    }
    m.published.push_back(Sent{0, source, std::move(copy)});
    return noErr;
}

OSStatus SimulatedMidiService::flushOutput(MIDIEndpointRef destination) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("flushOutput(destination=%1)").arg(destination),
                               QStringLiteral("flushOutput"))) {
        return *failure;
    }
    if (destination == 0) {
        return noErr; // every destination
    }
    const Object* dest = m.find(destination);
    if (dest == nullptr) {
        return kMIDIObjectNotFound;
    }
    return dest->kind == Kind::Destination ? noErr : kMIDIWrongEndpointType;
}

OSStatus SimulatedMidiService::objectGetStringProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                       QString* outValue) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("objectGetStringProperty(object=%1, key=%2)")
                                   .arg(object)
                                   .arg(keyText(key)),
                               QStringLiteral("objectGetStringProperty"))) {
        return *failure;
    }
    const Object* o = m.find(object);
    if (o == nullptr) {
        return kMIDIObjectNotFound;
    }
    if ((key != kMIDIPropertyName && key != kMIDIPropertyDisplayName) || o->kind == Kind::Entity ||
        !o->hasName) {
        return kMIDIUnknownProperty;
    }
    if (outValue == nullptr) {
        return kMIDIUnknownError;
    }
    *outValue = o->name;
    return noErr;
}

OSStatus SimulatedMidiService::objectGetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                        int32_t* outValue) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("objectGetIntegerProperty(object=%1, key=%2)")
                                   .arg(object)
                                   .arg(keyText(key)),
                               QStringLiteral("objectGetIntegerProperty"))) {
        return *failure;
    }
    const Object* o = m.find(object);
    if (o == nullptr) {
        return kMIDIObjectNotFound;
    }
    if (key != kMIDIPropertyUniqueID || o->uniqueID == 0) {
        return kMIDIUnknownProperty;
    }
    if (outValue == nullptr) {
        return kMIDIUnknownError;
    }
    *outValue = o->uniqueID;
    return noErr;
}

OSStatus SimulatedMidiService::objectSetIntegerProperty(MIDIObjectRef object, MIDIPropertyKey key,
                                                        int32_t value) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure =
            m.enter(QStringLiteral("objectSetIntegerProperty(object=%1, key=%2, value=%3)")
                        .arg(object)
                        .arg(keyText(key))
                        .arg(value),
                    QStringLiteral("objectSetIntegerProperty"))) {
        return *failure;
    }
    Object* o = m.find(object);
    if (o == nullptr) {
        return kMIDIObjectNotFound;
    }
    if (key != kMIDIPropertyUniqueID || o->uniqueID == 0) {
        return kMIDIUnknownProperty;
    }
    // Only the owner may change its objects: external endpoints belong to their drivers.
    if (!o->isVirtual || value == 0) {
        return kMIDINotPermitted;
    }
    if (value == o->uniqueID) {
        return noErr;
    }
    if (m.idTaken(value)) {
        return kMIDIIDNotUnique;
    }
    o->uniqueID = value;
    return noErr;
}

OSStatus SimulatedMidiService::objectGetProperties(MIDIObjectRef object, QVariantMap* outProperties,
                                                   bool deep) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("objectGetProperties(object=%1, deep=%2)")
                                   .arg(object)
                                   .arg(deep ? QStringLiteral("true") : QStringLiteral("false")),
                               QStringLiteral("objectGetProperties"))) {
        return *failure;
    }
    const Object* o = m.find(object);
    if (o == nullptr) {
        return kMIDIObjectNotFound;
    }
    if (outProperties == nullptr) {
        return kMIDIUnknownError;
    }
    if (o->kind == Kind::Entity) {
        if (!o->propertiesReadable) {
            return kMIDIUnknownProperty;
        }
        *outProperties = o->properties;
        return noErr;
    }
    QVariantMap properties;
    if (o->hasName) {
        properties.insert(keyText(kMIDIPropertyName), o->name);
    }
    if (o->uniqueID != 0) {
        properties.insert(keyText(kMIDIPropertyUniqueID), o->uniqueID);
    }
    *outProperties = properties;
    return noErr;
}

OSStatus SimulatedMidiService::endpointGetEntity(MIDIEndpointRef endpoint,
                                                 MIDIEntityRef* outEntity) {
    std::lock_guard lock(d->model->mutex);
    Model& m = *d->model;
    if (auto failure = m.enter(QStringLiteral("endpointGetEntity(endpoint=%1)").arg(endpoint),
                               QStringLiteral("endpointGetEntity"))) {
        return *failure;
    }
    const Object* e = m.find(endpoint);
    if (e == nullptr || e->entity == 0) {
        return kMIDIObjectNotFound;
    }
    if (e->kind != Kind::Source && e->kind != Kind::Destination) {
        return kMIDIUnknownEndpoint;
    }
    if (outEntity == nullptr) {
        return kMIDIUnknownError;
    }
    *outEntity = e->entity;
    return noErr;
}

namespace {

OSStatus createVirtual(const std::shared_ptr<Model>& model, Kind kind, const QString& call,
                       MIDIClientRef client, const QString& name, MIDIReadProc readProc,
                       void* refCon, MIDIEndpointRef* outEndpoint) {
    std::lock_guard lock(model->mutex);
    Model& m = *model;
    if (auto failure = m.enter(
            QStringLiteral("%1(client=%2, name=%3)").arg(call).arg(client).arg(quoted(name)),
            call)) {
        if (outEndpoint != nullptr) {
            *outEndpoint = 0;
        }
        return *failure;
    }
    if (outEndpoint == nullptr) {
        return kMIDIUnknownError;
    }
    if (!m.isKind(client, Kind::Client)) {
        *outEndpoint = 0;
        return kMIDIInvalidClient;
    }
    Object endpoint;
    endpoint.kind = kind;
    endpoint.name = name;
    endpoint.client = client;
    endpoint.isVirtual = true;
    endpoint.readProc = readProc;
    endpoint.refCon = refCon;
    endpoint.uniqueID = m.freshUniqueID();
    *outEndpoint = m.add(std::move(endpoint));
    (kind == Kind::Source ? m.sourceOrder : m.destinationOrder).push_back(*outEndpoint);
    m.postAddRemove(model, kMIDIMsgObjectAdded, *outEndpoint);
    return noErr;
}

} // namespace

OSStatus SimulatedMidiService::sourceCreate(MIDIClientRef client, const QString& name,
                                            MIDIEndpointRef* outSource) {
    return createVirtual(d->model, Kind::Source, QStringLiteral("sourceCreate"), client, name,
                         nullptr, nullptr, outSource);
}

OSStatus SimulatedMidiService::destinationCreate(MIDIClientRef client, const QString& name,
                                                 MIDIReadProc readProc, void* refCon,
                                                 MIDIEndpointRef* outDestination) {
    return createVirtual(d->model, Kind::Destination, QStringLiteral("destinationCreate"), client,
                         name, readProc, refCon, outDestination);
}

OSStatus SimulatedMidiService::endpointDispose(MIDIEndpointRef endpoint) {
    Model& m = *d->model;
    std::unique_lock lock(m.mutex);
    if (auto failure = m.enter(QStringLiteral("endpointDispose(endpoint=%1)").arg(endpoint),
                               QStringLiteral("endpointDispose"))) {
        return *failure;
    }
    const Object* e = m.find(endpoint);
    if (e == nullptr || (e->kind != Kind::Source && e->kind != Kind::Destination)) {
        return kMIDIObjectNotFound;
    }
    if (!e->isVirtual) {
        return kMIDINotPermitted;
    }
    m.postAddRemove(d->model, kMIDIMsgObjectRemoved, endpoint);
    m.eraseEndpoint(endpoint);
    m.waitForCallback(lock, [endpoint](const Target& t) { return t.endpoint == endpoint; });
    return noErr;
}
