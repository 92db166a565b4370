// The session: creation, hot-plug, the rescan, teardown and the failure labels.
#include "SessionTestSupport.h"
#include "SystemLog.h"

#include <QTimer>
#include <functional>
#include <thread>

namespace {

using Sim = SimulatedMidiService;

class Session : public ::testing::Test {
protected:
    std::shared_ptr<Sim> sim = std::make_shared<Sim>();
    EventRecorder recorder;

    std::shared_ptr<ZelMidi> start() {
        auto midi = ZelMidi::create(sim);
        midi->setDelegate(&recorder);
        recorder.observe(*midi);
        return midi;
    }
    static QStringList names(const ZelMidi::SourceList& list) {
        QStringList n;
        for (const auto& w : list) {
            n << w->name();
        }
        return n;
    }
    static QStringList names(const ZelMidi::DestinationList& list) {
        QStringList n;
        for (const auto& w : list) {
            n << w->name();
        }
        return n;
    }
};

TEST_F(Session, CreationMakesClientAndPortsThenWrapsWhatExistsAnnouncedByNotificationOnly) {
    sim->addSource("Keys");
    sim->addDestination("Synth");
    processNotices();

    std::vector<std::string> notes;
    ScopedObserver observer(ZelMidiSourceAddedNotification, nullptr,
                            [&](const Notification& n) { notes.push_back(n.name); });
    auto midi = ZelMidi::create(sim);
    midi->setDelegate(&recorder);

    const QStringList calls = sim->calls();
    ASSERT_GE(calls.size(), 3);
    EXPECT_TRUE(calls[0].startsWith("clientCreate(")) << calls[0].toStdString();
    EXPECT_TRUE(calls[0].contains("ZelMidi MIDI Client"));
    EXPECT_TRUE(calls[1].startsWith("outputPortCreate(") &&
                calls[1].contains("ZelMidi Output Port"));
    EXPECT_TRUE(calls[2].startsWith("inputPortCreate(") && calls[2].contains("ZelMidi Input Port"));
    EXPECT_NE(midi->client(), 0u);
    EXPECT_NE(midi->outputPort(), 0u);
    EXPECT_NE(midi->inputPort(), 0u);

    EXPECT_EQ(names(midi->sources()), QStringList{"Keys"});
    EXPECT_EQ(names(midi->destinations()), QStringList{"Synth"});
    EXPECT_EQ(midi->numberOfConnections(), 2u);
    EXPECT_TRUE(sim->isConnected(midi->inputPort(), midi->sources()[0]->endpoint()));
    EXPECT_EQ(notes.size(), 1u) << "the first scan is announced by notification";
    processNotices();
    EXPECT_TRUE(recorder.events.empty()) << "a delegate set afterwards hears nothing of it";

    ASSERT_NE(midi->rescanTimer(), nullptr);
    EXPECT_TRUE(midi->rescanTimer()->isActive());
    EXPECT_EQ(midi->rescanTimer()->interval(), 1000);
    EXPECT_FALSE(midi->rescanTimer()->isSingleShot());
}

TEST_F(Session, WithNoEndpointsNothingIsListedAndNothingIsSent) {
    auto midi = start();
    EXPECT_TRUE(midi->sources().empty());
    EXPECT_TRUE(midi->destinations().empty());
    EXPECT_EQ(midi->numberOfConnections(), 0u);
    const uint8_t note[] = {0x90, 60, 100};
    midi->sendBytes(note, 3);
    EXPECT_TRUE(sim->sent().empty());
    EXPECT_TRUE(sim->callsNamed("send").isEmpty());
}

TEST_F(Session, AnAddedSourceIsListedThenAnnouncedThenConnected) {
    auto midi = start();
    recorder.onDelegateCall = [&](const std::string&, const std::shared_ptr<ZelMidiConnection>& w) {
        EXPECT_EQ(midi->getSource(w->endpoint()), w) << "already in the list";
        EXPECT_FALSE(sim->isConnected(midi->inputPort(), w->endpoint())) << "not yet connected";
    };
    ScopedObserver notConnectedYet(
        ZelMidiSourceAddedNotification, midi.get(), [&](const Notification& n) {
            const auto w = std::any_cast<std::shared_ptr<ZelMidiConnection>>(
                n.userInfo.at(ZelMidiConnectionKey));
            EXPECT_FALSE(sim->isConnected(midi->inputPort(), w->endpoint()));
        });

    const MIDIEndpointRef keys = sim->addSource("Keys");
    processNotices();

    EXPECT_EQ(
        recorder.events,
        (std::vector<std::string>{"sourceAdded:Keys", "note:ZelMidiSourceAddedNotification:Keys"}));
    EXPECT_TRUE(sim->isConnected(midi->inputPort(), keys));
    EXPECT_EQ(sim->callsNamed("portConnectSource").size(), 1);
}

TEST_F(Session, ARemovedSourceIsDisconnectedAndUnlistedBeforeItIsAnnounced) {
    const MIDIEndpointRef keys = sim->addSource("Keys");
    processNotices();
    auto midi = start();
    const std::shared_ptr<ZelMidiSource> wrapper = midi->getSource(keys);
    ASSERT_TRUE(wrapper);
    recorder.onDelegateCall = [&](const std::string&, const std::shared_ptr<ZelMidiConnection>& w) {
        EXPECT_EQ(w, wrapper);
        EXPECT_FALSE(sim->isConnected(midi->inputPort(), keys)) << "already disconnected";
        EXPECT_EQ(midi->getSource(keys), nullptr) << "no longer listed";
        EXPECT_EQ(w->name(), "Keys") << "still usable";
    };

    sim->removeEndpoint(keys);
    processNotices();

    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"sourceRemoved:Keys",
                                        "note:ZelMidiSourceRemovedNotification:Keys"}));
    EXPECT_TRUE(midi->sources().empty());
}

TEST_F(Session, DestinationsComeAndGoWithoutPlatformConnections) {
    auto midi = start();
    sim->clearCalls();
    const MIDIEndpointRef synth = sim->addDestination("Synth");
    processNotices();
    ASSERT_EQ(names(midi->destinations()), QStringList{"Synth"});
    sim->removeEndpoint(synth);
    processNotices();
    EXPECT_TRUE(midi->destinations().empty());
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{
                  "destinationAdded:Synth", "note:ZelMidiDestinationAddedNotification:Synth",
                  "destinationRemoved:Synth", "note:ZelMidiDestinationRemovedNotification:Synth"}));
    EXPECT_TRUE(sim->callsNamed("portConnectSource").isEmpty());
    EXPECT_TRUE(sim->callsNamed("portDisconnectSource").isEmpty());
}

TEST_F(Session, NoticesThatAreNotAboutListedSourcesOrDestinationsChangeNothing) {
    auto midi = start();
    const MIDIEndpointRef keys = sim->addSource("Keys", {.notify = false});
    sim->clearCalls();

    sim->postNotice({kMIDIMsgObjectRemoved, sizeof(MIDIObjectAddRemoveNotification), 0,
                     kMIDIObjectType_Device, keys, kMIDIObjectType_Source});
    sim->postNotice({kMIDIMsgObjectAdded, sizeof(MIDIObjectAddRemoveNotification), 0,
                     kMIDIObjectType_Device, keys, kMIDIObjectType_Device});
    sim->postNotice({kMIDIMsgObjectAdded, sizeof(MIDIObjectAddRemoveNotification), 0,
                     kMIDIObjectType_Device, keys, kMIDIObjectType_Entity});
    sim->postNotice({kMIDIMsgPropertyChanged, sizeof(MIDIObjectAddRemoveNotification), 0,
                     kMIDIObjectType_Device, keys, kMIDIObjectType_Source});
    sim->postNotice(kMIDIMsgSetupChanged);
    processNotices();

    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(midi->sources().empty()) << "removal of an unlisted source, then other notices";
    EXPECT_TRUE(sim->callsNamed("portDisconnectSource").isEmpty());
    EXPECT_TRUE(sim->callsNamed("portConnectSource").isEmpty());
}

TEST_F(Session, TheRescanAddsDestinationsThenSourcesThenRemovesDestinationsThenSources) {
    const MIDIEndpointRef oldIn = sim->addSource("Old in");
    const MIDIEndpointRef oldOut = sim->addDestination("Old out");
    sim->addSource("Stays in");
    sim->addDestination("Stays out");
    processNotices();
    auto midi = start();

    sim->removeEndpoint(oldIn, false);
    sim->removeEndpoint(oldOut, false);
    sim->addSource("New in", {.notify = false});
    sim->addDestination("New out", {.notify = false});
    processNotices();
    ASSERT_TRUE(recorder.events.empty()) << "nothing happens before the rescan";

    midi->rescanTimer()->setInterval(1);
    QTimer deadline;
    deadline.start(5000);
    while (recorder.events.size() < 8 && deadline.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }

    EXPECT_EQ(recorder.events, (std::vector<std::string>{
                                   "destinationAdded:New out",
                                   "note:ZelMidiDestinationAddedNotification:New out",
                                   "sourceAdded:New in",
                                   "note:ZelMidiSourceAddedNotification:New in",
                                   "destinationRemoved:Old out",
                                   "note:ZelMidiDestinationRemovedNotification:Old out",
                                   "sourceRemoved:Old in",
                                   "note:ZelMidiSourceRemovedNotification:Old in",
                               }));
    EXPECT_EQ(names(midi->sources()), (QStringList{"Stays in", "New in"}));
    EXPECT_EQ(names(midi->destinations()), (QStringList{"Stays out", "New out"}));
    EXPECT_FALSE(sim->isConnected(midi->inputPort(), oldIn));
}

TEST_F(Session, AReferenceOfZeroAndTheSessionsOwnVirtualEndpointsAreNeverWrapped) {
    sim->addSource("Keys");
    sim->addDestination("Synth");
    processNotices();
    sim->setSourceAt(0, 0); // vanished between the count and the fetch
    sim->setDestinationAt(0, 0);
    auto midi = start();
    EXPECT_TRUE(midi->sources().empty());
    EXPECT_TRUE(midi->destinations().empty());

    sim->postNotice({kMIDIMsgObjectAdded, sizeof(MIDIObjectAddRemoveNotification), 0,
                     kMIDIObjectType_Device, 0, kMIDIObjectType_Source});
    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    processNotices(); // the platform announces the virtual endpoints like any other
    midi->scanExistingDevices();
    EXPECT_TRUE(midi->sources().empty());
    EXPECT_TRUE(midi->destinations().empty());
    EXPECT_EQ(midi->numberOfConnections(), 0u);
}

TEST_F(Session, AFailedConnectionKeepsTheSourceListedAndLogsItsLabel) {
    auto midi = start();
    SystemLogCapture log;
    sim->failNextCall("portConnectSource", kMIDINoConnection);
    const MIDIEndpointRef keys = sim->addSource("Keys");
    processNotices();
    EXPECT_NE(midi->getSource(keys), nullptr);
    EXPECT_EQ(recorder.events.front(), "sourceAdded:Keys");
    EXPECT_EQ(log.lines(), QStringList{"Error (Connecting to MIDI source): -10833:Error "
                                       "Domain=NSMachErrorDomain Code=-10833"});

    sim->failNextCall("portDisconnectSource", kMIDINoConnection);
    sim->removeEndpoint(keys);
    processNotices();
    EXPECT_EQ(midi->getSource(keys), nullptr) << "removed and announced all the same";
    EXPECT_EQ(recorder.events.back(), "note:ZelMidiSourceRemovedNotification:Keys");
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines()[1].startsWith("Error (Disconnecting from MIDI source): -10833:"));
}

TEST_F(Session, FailuresAtCreationAreLoggedAndTheSessionStillWorks) {
    sim->addDestination("Synth");
    processNotices();
    SystemLogCapture log;
    sim->failCall("clientCreate", kMIDIServerStartErr);
    auto midi = start();
    EXPECT_EQ(midi->client(), 0u);
    const QStringList lines = log.lines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("Error (Create MIDI client): -10839:"));
    EXPECT_TRUE(lines[1].startsWith("Error (Create output MIDI port): "));
    EXPECT_TRUE(lines[2].startsWith("Error (Create input MIDI port): "));
    EXPECT_EQ(names(midi->destinations()), QStringList{"Synth"});
    ASSERT_NE(midi->rescanTimer(), nullptr);

    log.clear();
    midi.reset();
    EXPECT_TRUE(sim->callsNamed("portDispose").isEmpty()) << "ports of 0 are not disposed";
    EXPECT_TRUE(sim->callsNamed("clientDispose").isEmpty());
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(Session, TeardownDisposesOutputPortInputPortThenClientAndAnnouncesNothing) {
    sim->addSource("Keys");
    sim->addDestination("Synth");
    processNotices();
    auto midi = start();
    const MIDIPortRef out = midi->outputPort();
    const MIDIPortRef in = midi->inputPort();
    const MIDIClientRef client = midi->client();
    std::weak_ptr<ZelMidiSource> keys = midi->sources()[0];
    sim->clearCalls();
    SystemLogCapture log;
    sim->failNextCall("portDispose", kMIDIInvalidPort);

    midi.reset();

    const QStringList disposals = sim->calls().filter("Dispose");
    ASSERT_EQ(disposals.size(), 3) << disposals.join("\n").toStdString();
    EXPECT_TRUE(disposals[0].startsWith("portDispose(") &&
                disposals[0].contains(QString::number(out)));
    EXPECT_TRUE(disposals[1].startsWith("portDispose(") &&
                disposals[1].contains(QString::number(in)));
    EXPECT_TRUE(disposals[2].startsWith("clientDispose(") &&
                disposals[2].contains(QString::number(client)));
    EXPECT_TRUE(sim->callsNamed("portDisconnectSource").isEmpty());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(keys.expired());
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("Error (Dispose MIDI port): -10831:"));
}

TEST_F(Session, TheLastReferenceDroppedOnAnotherThreadTearsDownOnTheCreatingThread) {
    auto midi = start();
    std::thread([m = std::move(midi)]() mutable { m.reset(); }).join();
    EXPECT_TRUE(sim->callsNamed("clientDispose").isEmpty())
        << "handed back, not torn down on the sender's thread";
    processNotices();
    EXPECT_EQ(sim->callsNamed("clientDispose").size(), 1);
}

TEST_F(Session, NetworkMidiIsOffAndSwitchingItOnOnlyLogs) {
    auto midi = start();
    SystemLogCapture log;
    midi->setNetworkEnabled(true);
    EXPECT_FALSE(midi->networkEnabled());
    EXPECT_EQ(log.lines(), QStringList{"MIDINetworkSession not available on Mac OS X"});
    EXPECT_TRUE(ZelMidi::midiAvailable());
}

TEST_F(Session, IncomingDataReachesTheReceiversOfItsSource) {
    auto midi = start();
    auto receiver = std::make_shared<CountingReceiver>();
    recorder.onDelegateCall = [&](const std::string& e,
                                  const std::shared_ptr<ZelMidiConnection>& w) {
        if (e.starts_with("sourceAdded")) {
            std::static_pointer_cast<ZelMidiSource>(w)->addDelegate(receiver);
        }
    };
    const MIDIEndpointRef keys = sim->addSource("Keys");
    const MIDIEndpointRef pads = sim->addSource("Pads");
    processNotices();

    sim->deliverAndWait(keys, Sim::makePacketList({{0x90, 60, 100}}));
    EXPECT_EQ(receiver->calls, 1);
    EXPECT_EQ(receiver->lastSource.load(), midi->getSource(keys).get());
    sim->deliverAndWait(pads, Sim::makePacketList({{0x80, 60, 0}}));
    EXPECT_EQ(receiver->calls, 2);
    EXPECT_EQ(receiver->lastSource.load(), midi->getSource(pads).get());
}

// The rescan's tick walks the platform's lists only when they, or ours, may have changed.
struct TickCase {
    const char* name;
    bool keepsGeneration; // the service can tell when its lists changed
    std::function<void(Sim&, ZelMidi&, MIDIEndpointRef keys)> between;
    bool walks;
    QStringList listedAfter;
};

void PrintTo(const TickCase& c, std::ostream* os) {
    *os << c.name;
}

class RescanTick : public Session, public ::testing::WithParamInterface<TickCase> {};

TEST_P(RescanTick, WalksOnlyWhenTheListsMayHaveChanged) {
    const TickCase& c = GetParam();
    sim->setKeepsListGeneration(c.keepsGeneration);
    const MIDIEndpointRef keys = sim->addSource("Keys");
    processNotices();
    auto midi = start();
    midi->rescanIfChanged();
    sim->clearCalls();
    c.between(*sim, *midi, keys);
    processNotices();
    midi->rescanIfChanged();
    EXPECT_EQ(!sim->callsNamed("getNumberOfSources").isEmpty(), c.walks);
    EXPECT_EQ(names(midi->sources()), c.listedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RescanTick,
    ::testing::Values(
        TickCase{"NothingChanged", true, [](Sim&, ZelMidi&, MIDIEndpointRef) {}, false, {"Keys"}},
        TickCase{"AddedWithoutANotice",
                 true,
                 [](Sim& s, ZelMidi&, MIDIEndpointRef) { s.addSource("Pads", {.notify = false}); },
                 true,
                 {"Keys", "Pads"}},
        TickCase{"RemovedWithoutANotice",
                 true,
                 [](Sim& s, ZelMidi&, MIDIEndpointRef k) { s.removeEndpoint(k, false); },
                 true,
                 {}},
        TickCase{"OurListChangedOutsideAScan",
                 true,
                 [](Sim&, ZelMidi& m, MIDIEndpointRef k) { m.disconnectSource(k); },
                 true,
                 {"Keys"}},
        TickCase{
            "TheServiceCannotTell", false, [](Sim&, ZelMidi&, MIDIEndpointRef) {}, true, {"Keys"}}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
