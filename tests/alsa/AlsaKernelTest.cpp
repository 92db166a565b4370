// The ALSA backend against the real kernel sequencer (run in the VM: /dev/snd/seq, snd-virmidi),
// mostly through the MIDI session itself.
#include "AlsaTestClient.h"
#include "SystemLog.h"
#include "TimeBounds.h"
#include "ZelMidi.h"
#include "alsa/AlsaMidiService.h"
#include "alsa/AlsaRefs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <numeric>
#include <unistd.h>

namespace {

bool haveSequencer() {
    return std::filesystem::exists("/dev/snd/seq");
}

// How soon a notice must be heard (scaled for sanitizer builds and the test VM's emulated
// processor).
const qint64 kNoticeWithinMs = timebounds::scaled(std::chrono::milliseconds(100)).count();

#define REQUIRE_SEQUENCER()                                                                        \
    if (!haveSequencer())                                                                          \
    GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing); these tests run in the "    \
                    "test VM (tools/vm)"

// Runs the event loop until done() or the time is up; returns done().
bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QTimer::singleShot(1, [] {});
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Heard {
    QString what;
    QString name;
    MIDIEndpointRef endpoint;
    qint64 atMs;
};

class Recorder : public ZelMidiDelegate {
public:
    QElapsedTimer clock;
    std::vector<Heard> heard;
    Recorder() { clock.start(); }
    void midiSourceAdded(ZelMidi&, const std::shared_ptr<ZelMidiSource>& s) override {
        heard.push_back({"source+", s->name(), s->endpoint(), clock.elapsed()});
    }
    void midiSourceRemoved(ZelMidi&, const std::shared_ptr<ZelMidiSource>& s) override {
        heard.push_back({"source-", s->name(), s->endpoint(), clock.elapsed()});
    }
    void midiDestinationAdded(ZelMidi&, const std::shared_ptr<ZelMidiDestination>& d) override {
        heard.push_back({"destination+", d->name(), d->endpoint(), clock.elapsed()});
    }
    void midiDestinationRemoved(ZelMidi&, const std::shared_ptr<ZelMidiDestination>& d) override {
        heard.push_back({"destination-", d->name(), d->endpoint(), clock.elapsed()});
    }
    const Heard* find(const QString& what, const QString& nameContains) const {
        for (const auto& h : heard) {
            if (h.what == what && h.name.contains(nameContains, Qt::CaseInsensitive)) {
                return &h;
            }
        }
        return nullptr;
    }
};

class Collector : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList* list) override {
        std::lock_guard lock(mutex_);
        ++lists_;
        MIDIConstPacketPtr p = packetListFirst(list);
        for (uint32_t i = 0; i < packetListCount(list); ++i, p = packetNext(p)) {
            packets_.emplace_back(packetData(p), packetData(p) + packetLength(p));
        }
    }
    Bytes bytes() {
        std::lock_guard lock(mutex_);
        Bytes all;
        for (const auto& p : packets_) {
            all.insert(all.end(), p.begin(), p.end());
        }
        return all;
    }
    std::vector<Bytes> packets() {
        std::lock_guard lock(mutex_);
        return packets_;
    }

private:
    std::mutex mutex_;
    std::vector<Bytes> packets_;
    int lists_ = 0;
};

std::shared_ptr<ZelMidiSource> sourceNamed(ZelMidi& midi, const QString& part) {
    for (const auto& s : midi.sources()) {
        if (s->name().contains(part, Qt::CaseInsensitive)) {
            return s;
        }
    }
    return nullptr;
}

int countSequencerClients() {
    QFile f(QStringLiteral("/proc/asound/seq/clients"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return static_cast<int>(QString::fromUtf8(f.readAll()).count(QStringLiteral("Client ")));
}

int countThreads() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

Bytes longSysEx(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        b[i] = static_cast<uint8_t>((i * 7) & 0x7f);
    }
    b.front() = 0xf0;
    b.back() = 0xf7;
    return b;
}

} // namespace

TEST(AlsaKernelSession, WithoutASequencerTheSessionLogsAndListsNothing) {
    SystemLogCapture log;
    auto midi = ZelMidi::create(std::make_shared<AlsaMidiService>("zelmidi-no-such-sequencer"));
    EXPECT_EQ(midi->client(), 0u);
    EXPECT_TRUE(log.lines().filter("Error (Create MIDI client): -10839").size() == 1)
        << log.lines().join("\n").toStdString();
    EXPECT_EQ(midi->numberOfConnections(), 0u);
    const uint8_t dfu[] = {0xf0, 0x60, 0x07, 0x10, 0x4d, 0xf7};
    midi->sendBytes(dfu, sizeof dfu); // nothing to send to, nothing to fail
    midi->scanExistingDevices();
    EXPECT_EQ(midi->numberOfConnections(), 0u);
}

TEST(AlsaKernelSession, APortNamedLikeTheMixerIsAnnouncedAddedAndRemovedWithin100ms) {
    REQUIRE_SEQUENCER();
    auto midi = ZelMidi::create(MidiService::platformDefault());
    ASSERT_NE(midi->client(), 0u);
    midi->rescanTimer()->setInterval(3600 * 1000); // only notices can tell
    Recorder recorder;
    midi->setDelegate(&recorder);
    TestSequencerClient device("Mirt VQ320");
    ASSERT_TRUE(device.ok());

    const qint64 created = recorder.clock.elapsed();
    const int port = device.createDuplexPort("Mirt VQ320 MIDI 1");
    ASSERT_GE(port, 0);
    ASSERT_TRUE(waitUntil(
        [&] { return recorder.find("source+", "MIRT") && recorder.find("destination+", "MIRT"); },
        3000));
    const Heard* source = recorder.find("source+", "MIRT");
    const Heard* destination = recorder.find("destination+", "MIRT");
    EXPECT_EQ(source->name, "Mirt VQ320 MIDI 1");
    EXPECT_LE(source->atMs - created, kNoticeWithinMs);
    EXPECT_LE(destination->atMs - created, kNoticeWithinMs);
    EXPECT_NE(source->endpoint, destination->endpoint);
    EXPECT_TRUE(sourceNamed(*midi, "Mirt VQ320 MIDI 1"));

    const qint64 deleted = recorder.clock.elapsed();
    ASSERT_EQ(device.deletePort(port), 0);
    ASSERT_TRUE(waitUntil(
        [&] { return recorder.find("source-", "MIRT") && recorder.find("destination-", "MIRT"); },
        3000));
    EXPECT_LE(recorder.find("source-", "MIRT")->atMs - deleted, kNoticeWithinMs);
    EXPECT_LE(recorder.find("destination-", "MIRT")->atMs - deleted, kNoticeWithinMs);
    EXPECT_FALSE(sourceNamed(*midi, "Mirt VQ320 MIDI 1"));
    midi->setDelegate(nullptr);
}

TEST(AlsaKernelSession, APortThatLeavesAndComesBackWhileTheSessionIsBusyIsRemovedAddedAndHeard) {
    REQUIRE_SEQUENCER();
    auto midi = ZelMidi::create(MidiService::platformDefault());
    ASSERT_NE(midi->client(), 0u);
    midi->rescanTimer()->setInterval(3600 * 1000); // only notices can tell
    Recorder recorder;
    midi->setDelegate(&recorder);
    TestSequencerClient device("Returning Device");
    const int port = device.createDuplexPort("Returning Device MIDI 1");
    ASSERT_GE(port, 0);
    ASSERT_TRUE(
        waitUntil([&] { return recorder.find("destination+", "Returning Device MIDI 1"); }, 3000));

    // No event runs in between: the exit is handled only after the port is back, so the kernel's
    // list looks as before, yet the new port has none of the old one's subscriptions.
    recorder.heard.clear();
    ASSERT_EQ(device.deletePort(port), 0);
    ASSERT_EQ(device.createDuplexPort("Returning Device MIDI 1"), port) << "the same address";
    ASSERT_TRUE(
        waitUntil([&] { return recorder.find("destination+", "Returning Device MIDI 1"); }, 3000));
    const auto source = sourceNamed(*midi, "Returning Device MIDI 1");
    ASSERT_TRUE(source);
    auto collector = std::make_shared<Collector>();
    source->addDelegate(collector);
    ASSERT_GE(device.sendNote(port, -1, 0, 64), 0);
    EXPECT_TRUE(waitUntil([&] { return collector->bytes().size() >= 3; }, 3000))
        << "the source that came back is connected again";
    EXPECT_EQ(collector->bytes(), (Bytes{0x90, 64, 100}));
    std::vector<QString> order;
    for (const Heard& h : recorder.heard) {
        if (h.name == "Returning Device MIDI 1") {
            order.push_back(h.what);
        }
    }
    EXPECT_EQ(order, (std::vector<QString>{"source-", "destination-", "source+", "destination+"}));
    source->removeDelegate(collector.get());
    midi->setDelegate(nullptr);
}

// While the session's receive thread is held up, a flood overflows its input, and a port leaves
// and comes back at the same address unannounced: the session lists it as before, and after the
// overflow subscribes every listed source again, so it hears the port that came back.
TEST(AlsaKernelSession, AfterAnInputOverflowEveryListedSourceIsSubscribedAgain) {
    REQUIRE_SEQUENCER();
    auto midi = ZelMidi::create(MidiService::platformDefault());
    midi->rescanTimer()->setInterval(3600 * 1000); // only notices can tell
    TestSequencerClient device("Flooding Device");
    const int port = device.createSourcePort("Flooding Device MIDI 1");
    ASSERT_TRUE(
        waitUntil([&] { return sourceNamed(*midi, "Flooding Device MIDI 1") != nullptr; }, 3000));
    struct Gate : Collector {
        void midiSourceMidiReceived(ZelMidiSource& s, const MIDIPacketList* list) override {
            released.wait();
            Collector::midiSourceMidiReceived(s, list);
        }
        std::shared_future<void> released;
    };
    std::promise<void> release;
    auto gate = std::make_shared<Gate>();
    gate->released = release.get_future().share();
    sourceNamed(*midi, "Flooding Device MIDI 1")->addDelegate(gate);
    ASSERT_GE(device.sendNote(port, -1, 0, 1), 0); // holds the receive thread
    ASSERT_GT(device.floodNotes(port, 5000), 0) << "the session's input overflowed";
    ASSERT_EQ(device.deletePort(port), 0);
    ASSERT_EQ(device.createSourcePort("Flooding Device MIDI 1"), port) << "the same address";
    release.set_value();
    const auto heardAgain = [&] {
        device.sendNote(port, -1, 0, 99);
        return waitUntil([&] { return std::ranges::count(gate->bytes(), 99) > 0; }, 100);
    };
    bool heard = false;
    for (int i = 0; i < 30 && !heard; ++i) {
        heard = heardAgain();
    }
    EXPECT_TRUE(heard);
}

TEST(AlsaKernelSession, APortThatAppearsWithoutANoticeIsFoundByTheNextRescan) {
    REQUIRE_SEQUENCER();
    auto service = std::make_shared<AlsaMidiService>();
    service->setAnnouncementsIgnored(true);
    auto midi = ZelMidi::create(service);
    midi->rescanTimer()->setInterval(20);
    Recorder recorder;
    midi->setDelegate(&recorder);
    TestSequencerClient device("Quiet Device");
    const int port = device.createDuplexPort("Mirt VQ320 MIDI 2");
    ASSERT_GE(port, 0);
    EXPECT_TRUE(waitUntil(
        [&] {
            return recorder.find("source+", "MIDI 2") && recorder.find("destination+", "MIDI 2");
        },
        3000));
    ASSERT_EQ(device.deletePort(port), 0);
    EXPECT_TRUE(waitUntil(
        [&] {
            return recorder.find("source-", "MIDI 2") && recorder.find("destination-", "MIDI 2");
        },
        3000));
    midi->setDelegate(nullptr);
}

TEST(AlsaKernelSession, TheEnterDfuSysExBroadcastIsReadBackFromAVirtualRawMidiDevice) {
    REQUIRE_SEQUENCER();
    const auto devices = findVirtualRawMidi();
    if (devices.empty()) {
        GTEST_SKIP() << "no snd-virmidi rawmidi device (/dev/snd/midiC*D*)";
    }
    const int fd = ::open(devices.front().path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << devices.front().path;
    uint8_t drain[64];
    while (::read(fd, drain, sizeof drain) > 0) {
    }
    auto midi = ZelMidi::create(MidiService::platformDefault());
    const Bytes dfu{0xf0, 0x60, 0x07, 0x10, 0x4d, 0xf7};
    midi->sendBytes(dfu.data(), static_cast<uint32_t>(dfu.size()));
    EXPECT_EQ(readRawMidi(fd, dfu.size(), 3000), dfu);
    ::close(fd);
}

TEST(AlsaKernelSession, BytesWrittenIntoAVirtualRawMidiDeviceReachTheReceivers) {
    REQUIRE_SEQUENCER();
    const auto devices = findVirtualRawMidi();
    if (devices.empty()) {
        GTEST_SKIP() << "no snd-virmidi rawmidi device (/dev/snd/midiC*D*)";
    }
    const auto& device = devices.front();
    auto midi = ZelMidi::create(MidiService::platformDefault());
    const auto source = sourceNamed(
        *midi, QStringLiteral("Virtual Raw MIDI %1-%2").arg(device.card).arg(device.device));
    ASSERT_TRUE(source) << "the session lists the virmidi port as a source";
    auto collector = std::make_shared<Collector>();
    source->addDelegate(collector);
    const int fd = ::open(device.path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const Bytes wire{0x90, 0x3c, 0x7f, 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7, 0x80, 0x3c, 0x00};
    ASSERT_EQ(::write(fd, wire.data(), wire.size()), static_cast<ssize_t>(wire.size()));
    EXPECT_TRUE(waitUntil([&] { return collector->bytes().size() >= wire.size(); }, 3000));
    EXPECT_EQ(collector->bytes(), wire);
    EXPECT_GE(collector->packets().size(), 3u) << "one packet per message at least";
    source->removeDelegate(collector.get());
    ::close(fd);
}

TEST(AlsaKernelSession, ALargestSysExFromTheSessionReachesASoftwareReceiverWhole) {
    REQUIRE_SEQUENCER();
    TestSequencerClient receiver("Big Receiver");
    ASSERT_GE(receiver.createCollectingPort("Big Receiver In"), 0);
    // The broadcast also reaches the virtual hardware ports, which nobody reads here: paced
    // like a cable they would hold the send for 21 s each.
    auto service = std::make_shared<AlsaMidiService>();
    service->setHardwarePacing(16 * 1024 * 1024, 64 * 1024);
    auto midi = ZelMidi::create(service);
    const Bytes sysEx = longSysEx(65535);
    midi->sendBytes(sysEx.data(), static_cast<uint32_t>(sysEx.size()));
    EXPECT_TRUE(receiver.waitCollected(sysEx.size(), 10000));
    EXPECT_EQ(receiver.collected(), sysEx);
}

TEST(AlsaKernelSession, ALargestSysExFromASoftwareSenderReachesTheReceiversWhole) {
    REQUIRE_SEQUENCER();
    TestSequencerClient sender("Big Sender");
    const int port = sender.createSourcePort("Big Sender Out");
    ASSERT_GE(port, 0);
    auto midi = ZelMidi::create(MidiService::platformDefault());
    const auto source = sourceNamed(*midi, "Big Sender Out");
    ASSERT_TRUE(source);
    auto collector = std::make_shared<Collector>();
    source->addDelegate(collector);
    const Bytes sysEx = longSysEx(65535);
    // The kernel holds at most 2000 cells of 28 bytes per client, so no sender can put 65535
    // bytes in one event; large chunks it can, paced by the room the session's client has.
    ASSERT_EQ(sender.sendSysEx(port, -1, 0, sysEx, 16384, alsa::splitRef(midi->client()).client),
              0);
    EXPECT_TRUE(waitUntil([&] { return collector->bytes().size() >= sysEx.size(); }, 10000));
    EXPECT_EQ(collector->bytes(), sysEx);
    for (const auto& p : collector->packets()) {
        EXPECT_LE(p.size(), 16384u) << "one packet per event";
    }
    source->removeDelegate(collector.get());
}

TEST(AlsaKernelSession, CreatingAndDestroyingTheSession100TimesLeaksNoClientAndNoThread) {
    REQUIRE_SEQUENCER();
    ZelMidi::create(MidiService::platformDefault()).reset(); // anything started once per process
    const int clients = countSequencerClients();
    const int threads = countThreads();
    ASSERT_GT(clients, 0);
    for (int i = 0; i < 100; ++i) {
        auto midi = ZelMidi::create(MidiService::platformDefault());
        ASSERT_NE(midi->client(), 0u);
    }
    EXPECT_TRUE(waitUntil([&] { return countSequencerClients() == clients; }, 5000))
        << countSequencerClients() << " clients, " << clients << " before";
    EXPECT_TRUE(waitUntil([&] { return countThreads() == threads; }, 5000))
        << countThreads() << " threads, " << threads << " before";
}

// ---- The service without the session ----------------------------------------------------------

namespace {
struct ReadLog {
    std::mutex mutex;
    std::vector<Bytes> packets;
    std::vector<void*> contexts;
    std::vector<MIDITimeStamp> times;
    std::atomic<int> calls{0};
    std::atomic<bool> closed{false};
    std::atomic<int> afterClose{0};
};
void logRead(const MIDIPacketList* list, void* refCon, void* conn) {
    auto* log = static_cast<ReadLog*>(refCon);
    if (log->closed.load()) {
        ++log->afterClose;
    }
    ++log->calls;
    std::lock_guard lock(log->mutex);
    MIDIConstPacketPtr p = packetListFirst(list);
    for (uint32_t i = 0; i < packetListCount(list); ++i, p = packetNext(p)) {
        log->packets.emplace_back(packetData(p), packetData(p) + packetLength(p));
        log->contexts.push_back(conn);
        log->times.push_back(packetTimeStamp(p));
    }
}
void ignoreNotice(const MIDINotification*, void*) {}

struct OnePacket {
    alignas(8) uint8_t buffer[512];
    explicit OnePacket(const Bytes& bytes) {
        auto* l = list();
        packetListAdd(l, sizeof buffer, packetListInit(l, sizeof buffer), 0, bytes.size(),
                      bytes.data());
    }
    MIDIPacketList* list() { return reinterpret_cast<MIDIPacketList*>(buffer); }
};
} // namespace

TEST(AlsaKernelService, VirtualEndpointsCarryDataBothWaysAndKeepUniqueIds) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    MIDIClientRef client = 0;
    ASSERT_EQ(service.clientCreate("ZelMidi MIDI Client", ignoreNotice, nullptr, &client), noErr);
    ReadLog log;
    MIDIEndpointRef destination = 0;
    MIDIEndpointRef source = 0;
    ASSERT_EQ(
        service.destinationCreate(client, "Portwatch Destination", logRead, &log, &destination),
        noErr);
    ASSERT_EQ(service.sourceCreate(client, "Portwatch Source", &source), noErr);
    const auto d = alsa::splitRef(destination);
    const auto s = alsa::splitRef(source);

    TestSequencerClient other("Other Program");
    const int out = other.createSourcePort("Other Out");
    const int in = other.createCollectingPort("Other In");
    const MIDITimeStamp sent = service.hostTime();
    ASSERT_GE(other.sendNote(out, d.client, d.port, 60), 0);
    ASSERT_TRUE(waitUntil([&] { return log.calls.load() > 0; }, 3000));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.packets.at(0), (Bytes{0x90, 60, 100}));
        EXPECT_GE(log.times.at(0), sent) << "stamped with the host clock when read";
        EXPECT_LE(log.times.at(0), service.hostTime());
        EXPECT_EQ(log.contexts.at(0), nullptr) << "no per-sender context";
    }

    ASSERT_EQ(other.subscribeTo(in, s.client, s.port), 0);
    OnePacket published({0xb0, 0x07, 0x55});
    EXPECT_EQ(service.received(source, published.list()), noErr);
    EXPECT_TRUE(other.waitCollected(3, 3000));
    EXPECT_EQ(other.collected(), (Bytes{0xb0, 0x07, 0x55}));

    int32_t sourceId = 0;
    int32_t destinationId = 0;
    ASSERT_EQ(service.objectGetIntegerProperty(source, kMIDIPropertyUniqueID, &sourceId), noErr);
    ASSERT_EQ(service.objectGetIntegerProperty(destination, kMIDIPropertyUniqueID, &destinationId),
              noErr);
    EXPECT_NE(sourceId, 0);
    EXPECT_NE(destinationId, sourceId);
    EXPECT_EQ(service.objectSetIntegerProperty(destination, kMIDIPropertyUniqueID, sourceId),
              kMIDIIDNotUnique);
    EXPECT_EQ(service.objectSetIntegerProperty(destination, kMIDIPropertyUniqueID, 4242), noErr);
    int32_t now = 0;
    service.objectGetIntegerProperty(destination, kMIDIPropertyUniqueID, &now);
    EXPECT_EQ(now, 4242);

    // Another program's port: its names, its entity without network session, no flushing error.
    const MIDIEndpointRef otherIn = alsa::makeRef(alsa::RefKind::Destination, other.id(), in);
    QString name;
    EXPECT_EQ(service.objectGetStringProperty(otherIn, kMIDIPropertyDisplayName, &name), noErr);
    EXPECT_EQ(name, "Other Program In");
    MIDIEntityRef entity = 0;
    ASSERT_EQ(service.endpointGetEntity(otherIn, &entity), noErr);
    QVariantMap properties;
    ASSERT_EQ(service.objectGetProperties(entity, &properties, true), noErr);
    EXPECT_EQ(properties.value("name").toString(), "Other In");
    EXPECT_FALSE(properties.contains(QString::fromLatin1(kMIDINetworkSessionKey.data())));
    EXPECT_EQ(service.flushOutput(otherIn), noErr);
    EXPECT_NE(service.endpointGetEntity(destination, &entity), noErr) << "virtual: no entity";
    EXPECT_EQ(service.objectGetStringProperty(destination, kMIDIPropertyName, &name), noErr);
    EXPECT_EQ(name, "Portwatch Destination");

    EXPECT_EQ(service.endpointDispose(destination), noErr);
    const int before = log.calls.load();
    log.closed = true;
    EXPECT_LT(other.sendNote(out, d.client, d.port, 61), 0) << "the port is gone";
    EXPECT_EQ(log.calls.load(), before);
    EXPECT_EQ(service.endpointDispose(source), noErr);
    EXPECT_EQ(service.clientDispose(client), noErr);
}

TEST(AlsaKernelService, NoReadCallbackRunsAfterDisconnectOrDisposeReturns) {
    REQUIRE_SEQUENCER();
    TestSequencerClient other("Busy Sender");
    const int out = other.createSourcePort("Busy Out");
    AlsaMidiService service;
    MIDIClientRef client = 0;
    MIDIPortRef input = 0;
    ASSERT_EQ(service.clientCreate("ZelMidi MIDI Client", ignoreNotice, nullptr, &client), noErr);
    ReadLog log;
    ASSERT_EQ(service.inputPortCreate(client, "ZelMidi Input Port", logRead, &log, &input), noErr);
    const MIDIEndpointRef source = alsa::makeRef(alsa::RefKind::Source, other.id(), out);
    int context = 0;
    ASSERT_EQ(service.portConnectSource(input, source, &context), noErr);
    for (int i = 0; i < 200 && log.calls.load() == 0; ++i) {
        other.sendNote(out, -1, 0, 60);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitUntil([&] { return log.calls.load() > 0; }, 3000));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.contexts.at(0), &context);
    }
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        while (!stop) {
            other.sendNote(out, -1, 0, 62);
        }
    });
    EXPECT_EQ(service.portDisconnectSource(input, source), noErr);
    log.closed = true;
    const int afterDisconnect = log.calls.load();
    EXPECT_EQ(service.portDisconnectSource(input, source), kMIDINoConnection);
    log.closed = false;
    ASSERT_EQ(service.portConnectSource(input, source, &context), noErr);
    ASSERT_TRUE(waitUntil([&] { return log.calls.load() > afterDisconnect; }, 3000));
    EXPECT_EQ(service.clientDispose(client), noErr);
    log.closed = true;
    for (int i = 0; i < 50; ++i) {
        other.sendNote(out, -1, 0, 63);
    }
    stop = true;
    flood.join();
    EXPECT_EQ(log.afterClose.load(), 0);
}
