// The session's own virtual endpoints: switching, announcements, failures, the persisted unique
// ID of the virtual destination, and input racing with switching off.
#include "SessionTestSupport.h"
#include "SystemLog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

namespace {

const QString kSourceName = QStringLiteral("Portwatch Source");
const QString kDestinationName = QStringLiteral("Portwatch Destination");
using Events = std::vector<std::string>;

std::vector<uint8_t> firstPacketData(const MIDIPacketList* list) {
    MIDIConstPacketPtr p = packetListFirst(list);
    return {packetData(p), packetData(p) + packetLength(p)};
}

class VirtualEndpointsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        service = std::make_shared<SimulatedMidiService>();
        midi = ZelMidi::create(service);
        midi->setDelegate(&recorder);
        recorder.observe(*midi);
        service->clearCalls();
    }

    static qlonglong savedID() {
        return QSettings().value(QLatin1String(ZelMidiSavedVirtualDestinationIDKey)).toLongLong();
    }
    static bool hasSavedID() {
        return QSettings().contains(QLatin1String(ZelMidiSavedVirtualDestinationIDKey));
    }
    static void saveID(int id) {
        QSettings().setValue(QLatin1String(ZelMidiSavedVirtualDestinationIDKey), id);
    }

    QTemporaryDir settingsDir;
    SystemLogCapture log;
    EventRecorder recorder; // outlives the session, whose teardown still announces
    std::shared_ptr<SimulatedMidiService> service;
    std::shared_ptr<ZelMidi> midi;
};

TEST_F(VirtualEndpointsTest, SwitchingToTheCurrentStateDoesNothing) {
    midi->setVirtualSourceEnabled(false);
    midi->setVirtualDestinationEnabled(false);
    EXPECT_TRUE(service->calls().isEmpty());
    EXPECT_TRUE(recorder.events.empty());

    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    const auto source = midi->virtualSourceDestination();
    const auto destination = midi->virtualDestinationSource();
    service->clearCalls();
    recorder.events.clear();

    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    EXPECT_TRUE(service->calls().isEmpty());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(midi->virtualSourceDestination(), source);
    EXPECT_EQ(midi->virtualDestinationSource(), destination);

    midi->setVirtualSourceEnabled(false);
    midi->setVirtualDestinationEnabled(false);
    service->clearCalls();
    recorder.events.clear();
    midi->setVirtualSourceEnabled(false);
    midi->setVirtualDestinationEnabled(false);
    EXPECT_TRUE(service->calls().isEmpty());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(VirtualEndpointsTest, VirtualSourceIsAnnouncedAsADestinationAndPublishes) {
    std::shared_ptr<ZelMidiConnection> announced;
    recorder.onDelegateCall = [&](const std::string&, const auto& wrapper) { announced = wrapper; };
    midi->setVirtualSourceEnabled(true);

    ASSERT_TRUE(midi->virtualSourceEnabled());
    const MIDIEndpointRef endpoint = midi->virtualSourceEndpoint();
    ASSERT_NE(endpoint, 0u);
    EXPECT_EQ(service->virtualEndpointName(endpoint), kSourceName);
    const auto wrapper = midi->virtualSourceDestination();
    ASSERT_NE(dynamic_cast<ZelMidiVirtualSourceDestination*>(wrapper.get()), nullptr);
    EXPECT_EQ(announced, wrapper);
    EXPECT_EQ(wrapper->endpoint(), endpoint);
    EXPECT_EQ(recorder.events,
              (Events{"destinationAdded:Portwatch Source",
                      "note:ZelMidiDestinationAddedNotification:Portwatch Source"}));

    // What is sent to the wrapper comes out of the virtual source, not the output port.
    const uint8_t bytes[] = {0x90, 0x40, 0x7f};
    wrapper->sendBytes(bytes, sizeof bytes);
    ASSERT_EQ(service->published().size(), 1u);
    EXPECT_EQ(service->published()[0].endpoint, endpoint);
    EXPECT_EQ(firstPacketData(
                  reinterpret_cast<const MIDIPacketList*>(service->published()[0].list.data())),
              std::vector<uint8_t>(std::begin(bytes), std::end(bytes)));
    EXPECT_TRUE(service->sent().empty());

    // Switching off announces while the wrapper and the endpoint are still there.
    recorder.events.clear();
    bool enabledDuringRemoval = false;
    recorder.onDelegateCall = [&](const std::string&, const auto&) {
        enabledDuringRemoval = midi->virtualSourceEnabled() && service->exists(endpoint);
    };
    midi->setVirtualSourceEnabled(false);
    EXPECT_TRUE(enabledDuringRemoval);
    EXPECT_EQ(recorder.events,
              (Events{"destinationRemoved:Portwatch Source",
                      "note:ZelMidiDestinationRemovedNotification:Portwatch Source"}));
    EXPECT_FALSE(midi->virtualSourceEnabled());
    EXPECT_EQ(midi->virtualSourceEndpoint(), 0u);
    EXPECT_FALSE(service->exists(endpoint));
}

TEST_F(VirtualEndpointsTest, VirtualDestinationIsAnnouncedAsASourceAndDelivers) {
    midi->setVirtualDestinationEnabled(true);

    ASSERT_TRUE(midi->virtualDestinationEnabled());
    const MIDIEndpointRef endpoint = midi->virtualDestinationEndpoint();
    ASSERT_NE(endpoint, 0u);
    EXPECT_EQ(service->virtualEndpointName(endpoint), kDestinationName);
    const auto wrapper = midi->virtualDestinationSource();
    EXPECT_EQ(wrapper->endpoint(), endpoint);
    EXPECT_EQ(recorder.events,
              (Events{"sourceAdded:Portwatch Destination",
                      "note:ZelMidiSourceAddedNotification:Portwatch Destination"}));

    // Another program sends to the destination: the wrapper's receivers get the bytes.
    auto receiver = std::make_shared<CountingReceiver>();
    std::vector<uint8_t> received;
    receiver->hook = [&](const MIDIPacketList* list) { received = firstPacketData(list); };
    wrapper->addDelegate(receiver);
    service->deliverAndWait(endpoint, SimulatedMidiService::makePacketList({{0xb0, 0x07, 0x64}}));
    EXPECT_EQ(receiver->calls, 1);
    EXPECT_EQ(receiver->lastSource, wrapper.get());
    EXPECT_EQ(received, (std::vector<uint8_t>{0xb0, 0x07, 0x64}));

    recorder.events.clear();
    midi->setVirtualDestinationEnabled(false);
    EXPECT_EQ(recorder.events,
              (Events{"sourceRemoved:Portwatch Destination",
                      "note:ZelMidiSourceRemovedNotification:Portwatch Destination"}));
    EXPECT_FALSE(midi->virtualDestinationEnabled());
    EXPECT_FALSE(service->exists(endpoint));
    // The disposed reference stays, so a late notice about it is still recognised.
    EXPECT_EQ(midi->virtualDestinationEndpoint(), endpoint);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(VirtualEndpointsTest, FailedCreationLeavesTheEndpointOffAndUnannounced) {
    service->failNextCall(QStringLiteral("sourceCreate"), kMIDIInvalidClient);
    service->failNextCall(QStringLiteral("destinationCreate"), kMIDINotPermitted);
    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);

    EXPECT_FALSE(midi->virtualSourceEnabled());
    EXPECT_FALSE(midi->virtualDestinationEnabled());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_FALSE(hasSavedID());
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Error (Create MIDI virtual source): -10830:")))
        << lines[0].toStdString();
    EXPECT_TRUE(
        lines[1].startsWith(QStringLiteral("Error (Create MIDI virtual destination): -10844:")))
        << lines[1].toStdString();

    // The failure was not sticky: the next attempt works.
    midi->setVirtualSourceEnabled(true);
    EXPECT_TRUE(midi->virtualSourceEnabled());
}

TEST_F(VirtualEndpointsTest, FailedDisposalStillSwitchesOff) {
    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    const MIDIEndpointRef destinationEndpoint = midi->virtualDestinationEndpoint();
    service->failCall(QStringLiteral("endpointDispose"), kMIDIUnknownEndpoint);

    midi->setVirtualSourceEnabled(false);
    midi->setVirtualDestinationEnabled(false);

    EXPECT_FALSE(midi->virtualSourceEnabled());
    EXPECT_FALSE(midi->virtualDestinationEnabled());
    EXPECT_EQ(midi->virtualSourceEndpoint(), 0u);
    EXPECT_EQ(midi->virtualDestinationEndpoint(), destinationEndpoint);
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(
        lines[0].startsWith(QStringLiteral("Error (Dispose MIDI virtual source): -10834:")));
    EXPECT_TRUE(
        lines[1].startsWith(QStringLiteral("Error (Dispose MIDI virtual destination): -10834:")));
}

TEST_F(VirtualEndpointsTest, TeardownSwitchesBothOffAfterThePortsAndTheClientWithoutErrors) {
    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    service->clearCalls();
    recorder.events.clear();
    const QStringList logged = log.lines();

    midi.reset();

    EXPECT_EQ(recorder.events,
              (Events{"destinationRemoved:Portwatch Source",
                      "note:ZelMidiDestinationRemovedNotification:Portwatch Source",
                      "sourceRemoved:Portwatch Destination",
                      "note:ZelMidiSourceRemovedNotification:Portwatch Destination"}));
    QStringList order;
    for (const QString& call : service->calls()) {
        order << call.section(QLatin1Char('('), 0, 0);
    }
    // The endpoints went with the client; disposing them again would only log two errors.
    EXPECT_EQ(order, (QStringList{"portDispose", "portDispose", "clientDispose"}));
    EXPECT_EQ(log.lines(), logged);
}

TEST_F(VirtualEndpointsTest, WrappersNeverJoinTheListsTheCountOrTheLookups) {
    service->addSource(QStringLiteral("Keys"));
    service->addDestination(QStringLiteral("Keys"));
    processNotices();
    ASSERT_EQ(midi->numberOfConnections(), 2u);

    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    // The platform announces and enumerates the new endpoints like any other.
    processNotices();
    midi->scanExistingDevices();

    EXPECT_EQ(midi->numberOfConnections(), 2u);
    for (const auto& source : midi->sources()) {
        EXPECT_NE(source->endpoint(), midi->virtualDestinationEndpoint());
        EXPECT_NE(source->endpoint(), midi->virtualSourceEndpoint());
    }
    for (const auto& destination : midi->destinations()) {
        EXPECT_NE(destination->endpoint(), midi->virtualDestinationEndpoint());
        EXPECT_NE(destination->endpoint(), midi->virtualSourceEndpoint());
    }
    for (const QString& name : {kSourceName, kDestinationName}) {
        EXPECT_EQ(midi->findSourceCalled(name), nullptr);
        EXPECT_EQ(midi->findDestinationCalled(name), nullptr);
    }
    std::shared_ptr<ZelMidiSource> pairSource;
    std::shared_ptr<ZelMidiDestination> pairDestination;
    midi->findMatchingSourceAndDestination(&pairSource, &pairDestination);
    ASSERT_NE(pairSource, nullptr);
    EXPECT_EQ(pairSource->name(), QStringLiteral("Keys"));
    EXPECT_EQ(pairDestination->name(), QStringLiteral("Keys"));

    // The removal notice for the disposed destination arrives late and changes nothing.
    const auto sourcesBefore = midi->sources();
    midi->setVirtualDestinationEnabled(false);
    processNotices();
    midi->scanExistingDevices();
    EXPECT_EQ(midi->sources(), sourcesBefore);
}

// ---- The persisted unique ID ----------------------------------------------------------------

TEST_F(VirtualEndpointsTest, FirstCreationSavesTheAssignedID) {
    service->setNextUniqueID(4242);
    midi->setVirtualDestinationEnabled(true);

    EXPECT_EQ(service->uniqueID(midi->virtualDestinationEndpoint()), 4242);
    EXPECT_EQ(savedID(), 4242);
    // Nothing to restore, so nothing was set.
    EXPECT_TRUE(service->callsNamed(QStringLiteral("objectSetIntegerProperty")).isEmpty());
}

TEST_F(VirtualEndpointsTest, AFreeSavedIDIsRestoredAndKept) {
    service->setNextUniqueID(1001);
    midi->setVirtualDestinationEnabled(true);
    midi->setVirtualDestinationEnabled(false);
    ASSERT_EQ(savedID(), 1001);

    service->setNextUniqueID(2002);
    midi->setVirtualDestinationEnabled(true);

    EXPECT_EQ(service->uniqueID(midi->virtualDestinationEndpoint()), 1001);
    EXPECT_EQ(savedID(), 1001);
}

TEST_F(VirtualEndpointsTest, ASavedIDInUseIsReplacedByTheAssignedOne) {
    saveID(777);
    service->reserveUniqueID(777);
    service->setNextUniqueID(888);

    midi->setVirtualDestinationEnabled(true);

    EXPECT_EQ(service->uniqueID(midi->virtualDestinationEndpoint()), 888);
    EXPECT_EQ(savedID(), 888);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(VirtualEndpointsTest, OtherRestoreFailuresKeepTheSavedIDSilently) {
    saveID(555);
    service->setNextUniqueID(666);
    service->failNextCall(QStringLiteral("objectSetIntegerProperty"), kMIDIUnknownProperty);

    midi->setVirtualDestinationEnabled(true);

    EXPECT_TRUE(midi->virtualDestinationEnabled());
    EXPECT_EQ(service->uniqueID(midi->virtualDestinationEndpoint()), 666);
    EXPECT_EQ(savedID(), 555);
    EXPECT_TRUE(service->callsNamed(QStringLiteral("objectGetIntegerProperty")).isEmpty());
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(VirtualEndpointsTest, AnUnreadableIDIsLoggedAndNotSaved) {
    service->failNextCall(QStringLiteral("objectGetIntegerProperty"), kMIDIUnknownProperty);

    midi->setVirtualDestinationEnabled(true);

    EXPECT_TRUE(midi->virtualDestinationEnabled());
    EXPECT_EQ(recorder.events.front(), "sourceAdded:Portwatch Destination");
    EXPECT_FALSE(hasSavedID());
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(
        lines[0].startsWith(QStringLiteral("Error (Get MIDI virtual destination ID): -10835:")));
}

TEST_F(VirtualEndpointsTest, ANegativeIDSurvivesInTheSettingsFileAcrossSessions) {
    service->setNextUniqueID(-123456);
    midi->setVirtualDestinationEnabled(true);
    midi.reset(); // the first run ends

    QFile file(QSettings().fileName());
    ASSERT_TRUE(file.fileName().startsWith(settingsDir.path())) << file.fileName().toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("-123456"));

    // A new run, with a new service that would assign another ID.
    auto nextService = std::make_shared<SimulatedMidiService>();
    nextService->setNextUniqueID(99);
    auto next = ZelMidi::create(nextService);
    next->setVirtualDestinationEnabled(true);

    EXPECT_EQ(nextService->uniqueID(next->virtualDestinationEndpoint()), -123456);
    EXPECT_EQ(savedID(), -123456);
}

// ---- Input racing with switching off -------------------------------------------------------

TEST_F(VirtualEndpointsTest, InputAfterSwitchingOffIsDropped) {
    midi->setVirtualDestinationEnabled(true);
    auto receiver = std::make_shared<CountingReceiver>();
    midi->virtualDestinationSource()->addDelegate(receiver);
    midi->setVirtualDestinationEnabled(false);

    // A callback the platform had already started when the endpoint went away.
    const auto list = SimulatedMidiService::makePacketList({{0x90, 0x3c, 0x40}});
    ZELMIDIVirtualDestinationReadProc(reinterpret_cast<const MIDIPacketList*>(list.data()),
                                      midi.get(), nullptr);
    // And what the platform still has for the disposed endpoint.
    service->deliverAndWait(midi->virtualDestinationEndpoint(), list);

    EXPECT_EQ(receiver->calls, 0);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(VirtualEndpointsTest, SwitchingOffWhileTheReceiveThreadDeliversIsSafe) {
    auto receiver = std::make_shared<CountingReceiver>();
    const auto list = SimulatedMidiService::makePacketList({{0xf8}, {0x90, 0x3c, 0x40}});
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    ZelMidi* session = midi.get();
    // Stands for the platform's receive thread calling back while the main thread switches.
    std::thread receiveThread([&] {
        while (!stop.load()) {
            ZELMIDIVirtualDestinationReadProc(reinterpret_cast<const MIDIPacketList*>(list.data()),
                                              session, nullptr);
            calls.fetch_add(1);
        }
    });

    for (int round = 0; round < 200; ++round) {
        midi->setVirtualDestinationEnabled(true);
        midi->virtualDestinationSource()->addDelegate(receiver);
        // The simulated service's own receive thread delivers to the live endpoint too.
        service->deliver(midi->virtualDestinationEndpoint(), list);
        const int seen = calls.load();
        while (calls.load() < seen + 2) {
            std::this_thread::yield();
        }
        midi->setVirtualDestinationEnabled(false);
    }
    stop.store(true);
    receiveThread.join();
    service->waitForDeliveries();

    EXPECT_GT(receiver->calls, 0);
    EXPECT_TRUE(log.lines().isEmpty());
}

} // namespace
