#include "SimulatedMidiService.h"

#include "QueuedCall.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct Notice {
    MIDINotificationMessageID id;
    MIDIObjectRef parent;
    MIDIObjectType parentType;
    MIDIObjectRef child;
    MIDIObjectType childType;
    std::thread::id thread;
};

struct NoticeLog {
    std::mutex mutex;
    std::vector<Notice> notices;

    std::vector<Notice> take() {
        std::lock_guard lock(mutex);
        return std::exchange(notices, {});
    }
};

void recordNotice(const MIDINotification* message, void* refCon) {
    auto* log = static_cast<NoticeLog*>(refCon);
    Notice n{message->messageID, 0, 0, 0, 0, std::this_thread::get_id()};
    if (message->messageID == kMIDIMsgObjectAdded || message->messageID == kMIDIMsgObjectRemoved) {
        const auto* ar = reinterpret_cast<const MIDIObjectAddRemoveNotification*>(message);
        n.parent = ar->parent;
        n.parentType = ar->parentType;
        n.child = ar->child;
        n.childType = ar->childType;
    }
    std::lock_guard lock(log->mutex);
    log->notices.push_back(n);
}

struct Received {
    std::vector<uint8_t> bytes;
    void* readRefCon;
    void* connRefCon;
    std::thread::id thread;
    bool aligned;
};

struct ReceiveLog {
    std::mutex mutex;
    std::vector<Received> lists;
};

void recordRead(const MIDIPacketList* list, void* readRefCon, void* connRefCon) {
    auto* log = static_cast<ReceiveLog*>(readRefCon != nullptr ? readRefCon : connRefCon);
    const auto* bytes = reinterpret_cast<const uint8_t*>(list);
    std::lock_guard lock(log->mutex);
    log->lists.push_back({{bytes, bytes + packetListByteSize(list)},
                          readRefCon,
                          connRefCon,
                          std::this_thread::get_id(),
                          reinterpret_cast<uintptr_t>(list) % alignof(MIDIPacketList) == 0});
}

struct Session {
    SimulatedMidiService& service;
    NoticeLog notices;
    MIDIClientRef client = 0;
    MIDIPortRef in = 0;
    MIDIPortRef out = 0;

    explicit Session(SimulatedMidiService& s) : service(s) {
        EXPECT_EQ(service.clientCreate("client", recordNotice, &notices, &client), noErr);
        EXPECT_EQ(service.outputPortCreate(client, "out", &out), noErr);
        EXPECT_EQ(service.inputPortCreate(client, "in", recordRead, nullptr, &in), noErr);
    }
};

// A thread with a Qt event loop. Qt is not built with ThreadSanitizer, so everything that
// crosses threads here goes through standard mutexes, and the calls queued through Qt carry no
// data of their own (QThread and blocking queued calls would give false reports).
class LoopThread {
public:
    LoopThread() {
        std::promise<void> ready;
        thread_ = std::thread([this, &ready] {
            QEventLoop loop;
            QObject context;
            {
                std::lock_guard lock(mutex_);
                loop_ = &loop;
                context_ = &context;
                id_ = std::this_thread::get_id();
            }
            ready.set_value();
            loop.exec();
        });
        ready.get_future().wait();
    }
    ~LoopThread() {
        run([this] { loop_->quit(); });
        thread_.join();
    }
    std::thread::id id() {
        std::lock_guard lock(mutex_);
        return id_;
    }
    // Runs fn on the thread and waits for it.
    void run(std::function<void()> fn) {
        std::promise<void> done;
        QObject* context = nullptr;
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back([&] {
                fn();
                done.set_value();
            });
            context = context_;
        }
        queuedcall::post(context, [] { runJob(); });
        done.get_future().wait();
    }

private:
    static inline std::mutex mutex_;
    static inline std::deque<std::function<void()>> jobs_;
    static void runJob() {
        std::function<void()> job;
        {
            std::lock_guard lock(mutex_);
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }

    std::thread thread_;
    QEventLoop* loop_ = nullptr;
    QObject* context_ = nullptr;
    std::thread::id id_;
};

const std::vector<uint8_t> kSysEx{0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};

} // namespace

TEST(SimulatedMidiService, NoticesArriveThroughTheEventLoopOfTheCreatingThread) {
    SimulatedMidiService service;
    Session main(service);

    const MIDIEndpointRef src = service.addSource("MIRT VQ320");
    const MIDIEndpointRef dst =
        service.addDestination("Other", {.notify = true, .hasEntity = false});
    service.addSource("Quiet", {.notify = false});
    EXPECT_TRUE(main.notices.take().empty()) << "no notice before the event loop runs";

    QCoreApplication::processEvents();
    auto got = main.notices.take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].id, kMIDIMsgObjectAdded);
    EXPECT_EQ(got[0].child, src);
    EXPECT_EQ(got[0].childType, kMIDIObjectType_Source);
    EXPECT_EQ(got[0].parent, service.entityOf(src));
    EXPECT_EQ(got[0].parentType, kMIDIObjectType_Entity);
    EXPECT_EQ(got[0].thread, std::this_thread::get_id());
    EXPECT_EQ(got[1].child, dst);
    EXPECT_EQ(got[1].childType, kMIDIObjectType_Destination);
    EXPECT_EQ(got[1].parent, 0u);

    // A second client lives on a worker thread and hears the same events there.
    auto worker = std::make_unique<LoopThread>();
    NoticeLog workerNotices;
    MIDIClientRef workerClient = 0;
    worker->run(
        [&] { service.clientCreate("worker", recordNotice, &workerNotices, &workerClient); });

    service.removeEndpoint(src);
    service.removeEndpoint(dst, false);
    MIDIEndpointRef virt = 0;
    ASSERT_EQ(service.sourceCreate(main.client, "Portwatch Source", &virt), noErr);
    ASSERT_EQ(service.endpointDispose(virt), noErr);
    service.postNotice(kMIDIMsgSetupChanged);
    // Queued after the notices, so they have run once this returns.
    worker->run([] {});
    got = workerNotices.take();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].id, kMIDIMsgObjectRemoved);
    EXPECT_EQ(got[0].child, src);
    EXPECT_EQ(got[1].id, kMIDIMsgObjectAdded);
    EXPECT_EQ(got[1].child, virt);
    EXPECT_EQ(got[1].childType, kMIDIObjectType_Source);
    EXPECT_EQ(got[2].id, kMIDIMsgObjectRemoved);
    EXPECT_EQ(got[2].child, virt);
    EXPECT_EQ(got[3].id, kMIDIMsgSetupChanged);
    for (const Notice& n : got) {
        EXPECT_EQ(n.thread, worker->id());
    }
    EXPECT_TRUE(main.notices.take().empty()) << "the main thread's loop has not run";
    QCoreApplication::processEvents();
    EXPECT_EQ(main.notices.take().size(), 4u);

    // A client disposed before delivery hears nothing more.
    service.addDestination("Late");
    ASSERT_EQ(service.clientDispose(main.client), noErr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(main.notices.take().empty());

    worker->run([&] { EXPECT_EQ(service.clientDispose(workerClient), noErr); });
    worker.reset();
    ASSERT_EQ(workerNotices.take().size(), 1u) << "delivered before the client was disposed";
}

TEST(SimulatedMidiService, DeliversOnTheReceiveThreadToConnectionsAndVirtualDestinations) {
    SimulatedMidiService service;
    Session s(service);
    const MIDIEndpointRef src = service.addSource("MIRT VQ320");
    const MIDIEndpointRef other = service.addSource("Other");
    ReceiveLog conn;
    ASSERT_EQ(service.portConnectSource(s.in, src, &conn), noErr);
    EXPECT_EQ(service.connectionRefCon(s.in, src), &conn);

    const auto list = SimulatedMidiService::makePacketList({kSysEx, {0x90, 0x40, 0x7F}}, 77);
    service.deliver(other, list); // not connected: dropped
    service.deliverAndWait(src, list);
    ASSERT_EQ(conn.lists.size(), 1u);
    EXPECT_EQ(conn.lists[0].bytes, list);
    EXPECT_EQ(conn.lists[0].readRefCon, nullptr);
    EXPECT_EQ(conn.lists[0].connRefCon, &conn);
    EXPECT_NE(conn.lists[0].thread, std::this_thread::get_id());
    EXPECT_EQ(conn.lists[0].thread, service.receiveThreadId());
    EXPECT_TRUE(conn.lists[0].aligned);

    // A virtual destination hears deliveries and whatever this process sends to it.
    ReceiveLog virt;
    MIDIEndpointRef dest = 0;
    ASSERT_EQ(
        service.destinationCreate(s.client, "Portwatch Destination", recordRead, &virt, &dest),
        noErr);
    EXPECT_EQ(service.getDestination(service.getNumberOfDestinations() - 1), dest);
    service.deliver(dest, list);
    const auto one = SimulatedMidiService::makePacketList({kSysEx});
    ASSERT_EQ(service.send(s.out, dest, reinterpret_cast<const MIDIPacketList*>(one.data())),
              noErr);
    service.waitForDeliveries();
    ASSERT_EQ(virt.lists.size(), 2u);
    EXPECT_EQ(virt.lists[0].bytes, list);
    EXPECT_EQ(virt.lists[0].readRefCon, &virt);
    EXPECT_EQ(virt.lists[0].connRefCon, nullptr);
    EXPECT_EQ(virt.lists[1].bytes, one);
    EXPECT_EQ(conn.lists.size(), 1u);
}

namespace {

// A read context that counts callbacks and notices any that arrive after it was closed.
struct Sink {
    SimulatedMidiService* service;
    std::atomic<bool> closed{false};
    std::atomic<int> calls{0};
    std::atomic<int> late{0};
};

void sinkRead(const MIDIPacketList*, void* readRefCon, void* connRefCon) {
    auto* sink = static_cast<Sink*>(connRefCon != nullptr ? connRefCon : readRefCon);
    sink->service->getNumberOfSources(); // calling back into the service is allowed
    std::this_thread::yield();
    if (sink->closed.load()) {
        sink->late.fetch_add(1);
    }
    sink->calls.fetch_add(1);
}

} // namespace

TEST(SimulatedMidiService, NoReadCallbackOnceARemovalHasReturned) {
    SimulatedMidiService service;
    const auto list = SimulatedMidiService::makePacketList({{0xF8}});
    enum Removal { Disconnect, PortDispose, EndpointDispose, ClientDispose };
    int delivered = 0;
    for (const Removal removal : {Disconnect, PortDispose, EndpointDispose, ClientDispose}) {
        for (int round = 0; round < 40; ++round) {
            Sink sink{&service};
            MIDIClientRef client = 0;
            MIDIPortRef port = 0;
            MIDIEndpointRef virt = 0;
            ASSERT_EQ(service.clientCreate("c", nullptr, nullptr, &client), noErr);
            ASSERT_EQ(service.inputPortCreate(client, "in", sinkRead, nullptr, &port), noErr);
            ASSERT_EQ(service.destinationCreate(client, "d", sinkRead, &sink, &virt), noErr);
            const MIDIEndpointRef src = service.addSource("s", {.notify = false});
            ASSERT_EQ(service.portConnectSource(port, src, &sink), noErr);
            for (int i = 0; i < 10; ++i) {
                service.deliver(src, list);
                service.deliver(virt, list);
            }
            if (round % 2 == 1) {
                service.deliverAndWait(src, list); // at least one surely arrives
            }
            switch (removal) {
            case Disconnect:
                ASSERT_EQ(service.portDisconnectSource(port, src), noErr);
                ASSERT_EQ(service.endpointDispose(virt), noErr);
                break;
            case PortDispose:
                ASSERT_EQ(service.portDispose(port), noErr);
                ASSERT_EQ(service.endpointDispose(virt), noErr);
                break;
            case EndpointDispose:
                service.removeEndpoint(src, false);
                ASSERT_EQ(service.endpointDispose(virt), noErr);
                break;
            case ClientDispose:
                ASSERT_EQ(service.clientDispose(client), noErr);
                break;
            }
            sink.closed = true;
            service.deliver(src, list);
            service.deliver(virt, list);
            service.waitForDeliveries();
            EXPECT_EQ(sink.late.load(), 0) << "removal " << removal << ", round " << round;
            EXPECT_GE(sink.calls.load(), round % 2);
            delivered += sink.calls.load();
            service.clientDispose(client);
        }
    }
    EXPECT_GT(delivered, 0);
}

namespace {
struct SelfDisconnect {
    SimulatedMidiService* service;
    MIDIPortRef port;
    MIDIEndpointRef source;
    OSStatus status = -1;
    int calls = 0;
};
void disconnectOnRead(const MIDIPacketList*, void*, void* connRefCon) {
    auto* self = static_cast<SelfDisconnect*>(connRefCon);
    ++self->calls;
    self->status = self->service->portDisconnectSource(self->port, self->source);
}
} // namespace

TEST(SimulatedMidiService, AReadCallbackMayDisconnectItself) {
    SimulatedMidiService service;
    MIDIClientRef client = 0;
    MIDIPortRef port = 0;
    ASSERT_EQ(service.clientCreate("c", nullptr, nullptr, &client), noErr);
    ASSERT_EQ(service.inputPortCreate(client, "in", disconnectOnRead, nullptr, &port), noErr);
    const MIDIEndpointRef src = service.addSource("s");
    SelfDisconnect self{&service, port, src};
    ASSERT_EQ(service.portConnectSource(port, src, &self), noErr);
    const auto list = SimulatedMidiService::makePacketList({{0x90, 1, 2}});
    service.deliverAndWait(src, list);
    service.deliverAndWait(src, list);
    EXPECT_EQ(self.calls, 1);
    EXPECT_EQ(self.status, noErr);
    EXPECT_FALSE(service.isConnected(port, src));
}

TEST(SimulatedMidiService, UniqueIDsAreFreshAndSettableOnlyWhenFree) {
    SimulatedMidiService service;
    Session s(service);
    const MIDIEndpointRef a = service.addSource("a");
    service.setNextUniqueID(-7);
    const MIDIEndpointRef b = service.addDestination("b");
    EXPECT_NE(service.uniqueID(a), 0);
    EXPECT_EQ(service.uniqueID(b), -7);

    MIDIEndpointRef dest = 0;
    ASSERT_EQ(service.destinationCreate(s.client, "Portwatch Destination", nullptr, nullptr, &dest),
              noErr);
    int32_t id = 0;
    ASSERT_EQ(service.objectGetIntegerProperty(dest, kMIDIPropertyUniqueID, &id), noErr);
    EXPECT_EQ(id, service.uniqueID(dest));
    EXPECT_NE(id, service.uniqueID(a));
    EXPECT_NE(id, -7);

    service.reserveUniqueID(4242);
    EXPECT_EQ(service.objectSetIntegerProperty(dest, kMIDIPropertyUniqueID, service.uniqueID(a)),
              kMIDIIDNotUnique);
    EXPECT_EQ(service.objectSetIntegerProperty(dest, kMIDIPropertyUniqueID, 4242),
              kMIDIIDNotUnique);
    EXPECT_EQ(service.uniqueID(dest), id) << "a refused ID changes nothing";
    EXPECT_EQ(service.objectSetIntegerProperty(dest, kMIDIPropertyUniqueID, -123456), noErr);
    ASSERT_EQ(service.objectGetIntegerProperty(dest, kMIDIPropertyUniqueID, &id), noErr);
    EXPECT_EQ(id, -123456);
    EXPECT_EQ(service.objectSetIntegerProperty(a, kMIDIPropertyUniqueID, 99), kMIDINotPermitted);

    // A freed ID is free again; a taken one is skipped by the sequence.
    service.removeEndpoint(b, false);
    EXPECT_EQ(service.objectSetIntegerProperty(dest, kMIDIPropertyUniqueID, -7), noErr);
    service.setNextUniqueID(-7);
    EXPECT_EQ(service.uniqueID(service.addSource("c")), -6);
}

TEST(SimulatedMidiService, EnumerationNamesAndEntities) {
    SimulatedMidiService service;
    Session s(service);
    const MIDIEndpointRef a =
        service.addSource("A", {.entityProperties = {{"apple.midirtp.session", 1}}});
    const MIDIEndpointRef b = service.addSource("B", {.hasName = false, .hasEntity = false});
    const MIDIEndpointRef c = service.addSource("C", {.entityPropertiesReadable = false});
    MIDIEndpointRef v = 0;
    ASSERT_EQ(service.sourceCreate(s.client, "Portwatch Source", &v), noErr);

    ASSERT_EQ(service.getNumberOfSources(), 4u);
    EXPECT_EQ(service.getSource(0), a);
    EXPECT_EQ(service.getSource(1), b);
    EXPECT_EQ(service.getSource(3), v);
    EXPECT_EQ(service.getSource(4), 0u);
    EXPECT_EQ(service.getNumberOfDestinations(), 0u);
    EXPECT_EQ(service.getDestination(0), 0u);
    service.setSourceAt(1, 0);
    EXPECT_EQ(service.getSource(1), 0u);
    EXPECT_EQ(service.getNumberOfSources(), 4u);
    service.clearEnumerationOverrides();
    EXPECT_EQ(service.getSource(1), b);

    QString name = "untouched";
    EXPECT_EQ(service.objectGetStringProperty(a, kMIDIPropertyDisplayName, &name), noErr);
    EXPECT_EQ(name, "A");
    EXPECT_EQ(service.objectGetStringProperty(v, kMIDIPropertyName, &name), noErr);
    EXPECT_EQ(name, "Portwatch Source");
    EXPECT_EQ(service.objectGetStringProperty(b, kMIDIPropertyDisplayName, &name),
              kMIDIUnknownProperty);
    EXPECT_EQ(name, "Portwatch Source");

    MIDIEntityRef entity = 12345;
    EXPECT_NE(service.endpointGetEntity(b, &entity), noErr);
    EXPECT_NE(service.endpointGetEntity(v, &entity), noErr);
    EXPECT_EQ(entity, 12345u) << "a failed lookup leaves the out-value alone";
    QVariantMap props;
    ASSERT_EQ(service.endpointGetEntity(a, &entity), noErr);
    EXPECT_EQ(entity, service.entityOf(a));
    ASSERT_EQ(service.objectGetProperties(entity, &props, true), noErr);
    EXPECT_TRUE(props.contains("apple.midirtp.session"));
    ASSERT_EQ(service.endpointGetEntity(c, &entity), noErr);
    EXPECT_NE(service.objectGetProperties(entity, &props, true), noErr);
    EXPECT_NE(service.objectGetProperties(0, &props, true), noErr);

    service.removeEndpoint(a, false);
    EXPECT_FALSE(service.exists(a));
    EXPECT_EQ(service.getSource(0), b);
    EXPECT_EQ(service.objectGetStringProperty(a, kMIDIPropertyDisplayName, &name),
              kMIDIObjectNotFound);
    EXPECT_NE(service.addDestination("D"), a) << "references are never reused";
}

TEST(SimulatedMidiService, SendAndPublishRecordCopiesAndCheckTheirTargets) {
    SimulatedMidiService service;
    Session s(service);
    const MIDIEndpointRef dst = service.addDestination("D");
    const MIDIEndpointRef src = service.addSource("S");
    MIDIEndpointRef virt = 0;
    ASSERT_EQ(service.sourceCreate(s.client, "Portwatch Source", &virt), noErr);
    auto bytes = SimulatedMidiService::makePacketList({kSysEx});
    const auto* list = reinterpret_cast<const MIDIPacketList*>(bytes.data());

    EXPECT_EQ(service.send(s.out, dst, list), noErr);
    EXPECT_EQ(service.send(s.in, dst, list), kMIDIInvalidPort);
    EXPECT_EQ(service.send(s.out, 999, list), kMIDIObjectNotFound);
    EXPECT_EQ(service.send(s.out, src, list), kMIDIWrongEndpointType);
    EXPECT_EQ(service.received(virt, list), noErr);
    EXPECT_NE(service.received(src, list), noErr);
    EXPECT_NE(service.received(999, list), noErr);
    EXPECT_EQ(service.flushOutput(dst), noErr);
    bytes[kPacketListHeaderSize + kPacketHeaderSize] = 0; // the records are copies

    const auto sent = service.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].port, s.out);
    EXPECT_EQ(sent[0].endpoint, dst);
    EXPECT_EQ(sent[0].list, SimulatedMidiService::makePacketList({kSysEx}));
    const auto published = service.published();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].port, 0u);
    EXPECT_EQ(published[0].endpoint, virt);
    EXPECT_EQ(service.callsNamed("flushOutput"),
              QStringList{"flushOutput(destination=" + QString::number(dst) + ")"});
}

TEST(SimulatedMidiService, InjectedFailuresDoNothingButAnswer) {
    SimulatedMidiService service;
    NoticeLog notices;
    MIDIClientRef client = 77;
    service.failNextCall("clientCreate", kMIDIServerStartErr);
    EXPECT_EQ(service.clientCreate("c", recordNotice, &notices, &client), kMIDIServerStartErr);
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(service.clientCreate("c", recordNotice, &notices, &client), noErr);
    EXPECT_TRUE(service.exists(client));

    MIDIPortRef out = 0;
    ASSERT_EQ(service.outputPortCreate(client, "out", &out), noErr);
    const MIDIEndpointRef dst = service.addDestination("D");
    const auto bytes = SimulatedMidiService::makePacketList({kSysEx});
    const auto* list = reinterpret_cast<const MIDIPacketList*>(bytes.data());
    service.failCall("send", kMIDIMessageSendErr);
    EXPECT_EQ(service.send(out, dst, list), kMIDIMessageSendErr);
    EXPECT_EQ(service.send(out, dst, list), kMIDIMessageSendErr);
    EXPECT_TRUE(service.sent().empty());
    service.failCall("send", noErr);
    EXPECT_EQ(service.send(out, dst, list), noErr);
    EXPECT_EQ(service.sent().size(), 1u);
    EXPECT_EQ(service.callsNamed("send").size(), 3);

    service.failCall("endpointDispose", kMIDIUnknownError);
    MIDIEndpointRef virt = 0;
    ASSERT_EQ(service.sourceCreate(client, "v", &virt), noErr);
    EXPECT_EQ(service.endpointDispose(virt), kMIDIUnknownError);
    EXPECT_TRUE(service.exists(virt));

    QString name = "kept";
    service.failNextCall("objectGetStringProperty", kMIDIUnknownProperty);
    EXPECT_EQ(service.objectGetStringProperty(dst, kMIDIPropertyDisplayName, &name),
              kMIDIUnknownProperty);
    EXPECT_EQ(name, "kept");

    EXPECT_THROW(service.failCall("getSource", -1), std::invalid_argument);
    EXPECT_THROW(service.failNextCall("MIDISend", -1), std::invalid_argument);
}

TEST(SimulatedMidiService, LogsEveryCallWithItsArguments) {
    SimulatedMidiService service;
    MIDIClientRef client = 0;
    MIDIPortRef out = 0;
    MIDIPortRef in = 0;
    MIDIEndpointRef virt = 0;
    service.clientCreate("ZelMidi MIDI Client", nullptr, nullptr, &client);
    service.outputPortCreate(client, "ZelMidi Output Port", &out);
    service.inputPortCreate(client, "ZelMidi Input Port", nullptr, nullptr, &in);
    const MIDIEndpointRef src = service.addSource("S");
    service.portConnectSource(in, src, nullptr);
    service.getNumberOfDestinations();
    service.getDestination(0);
    service.destinationCreate(client, "Portwatch Destination", nullptr, nullptr, &virt);
    service.objectSetIntegerProperty(virt, kMIDIPropertyUniqueID, -42);
    int32_t id = 0;
    service.objectGetIntegerProperty(virt, kMIDIPropertyUniqueID, &id);
    QVariantMap props;
    service.objectGetProperties(0, &props, true);
    service.failNextCall("portDisconnectSource", kMIDIUnknownError);
    service.portDisconnectSource(in, src);
    service.setHostTime(5);
    EXPECT_EQ(service.hostTime(), 5u);

    const auto n = [](MIDIObjectRef r) { return QString::number(r); };
    const QStringList expected{
        "clientCreate(name=\"ZelMidi MIDI Client\")",
        "outputPortCreate(client=" + n(client) + ", name=\"ZelMidi Output Port\")",
        "inputPortCreate(client=" + n(client) + ", name=\"ZelMidi Input Port\")",
        "portConnectSource(port=" + n(in) + ", source=" + n(src) + ")",
        "getNumberOfDestinations()",
        "getDestination(index=0)",
        "destinationCreate(client=" + n(client) + ", name=\"Portwatch Destination\")",
        "objectSetIntegerProperty(object=" + n(virt) + ", key=uniqueID, value=-42)",
        "objectGetIntegerProperty(object=" + n(virt) + ", key=uniqueID)",
        "objectGetProperties(object=0, deep=true)",
        "portDisconnectSource(port=" + n(in) + ", source=" + n(src) + ")",
        "hostTime()",
    };
    EXPECT_EQ(service.calls(), expected);
    EXPECT_EQ(service.callsNamed("getDestination"), QStringList{"getDestination(index=0)"});
    EXPECT_TRUE(service.isConnected(in, src)) << "the failed disconnection did nothing";
    service.clearCalls();
    EXPECT_TRUE(service.calls().isEmpty());
}

TEST(SimulatedMidiService, HostTimeFollowsTheMonotonicClockUntilSet) {
    SimulatedMidiService service;
    const MIDITimeStamp t0 = service.hostTime();
    const MIDITimeStamp t1 = service.hostTime();
    EXPECT_GT(t0, 0u);
    EXPECT_GE(t1, t0);
    service.setHostTime(1000);
    EXPECT_EQ(service.hostTime(), 1000u);
    EXPECT_EQ(service.hostTime(), 1000u);
}
