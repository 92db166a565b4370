// Hot-plug corner cases that once lost input: a source whose disconnect failed, a notice for an
// endpoint the rescan already wrapped, a receiver at a reused address, and the all-sources
// listener leaving the session's own virtual destination.
#include "SessionTestSupport.h"
#include "ZelMidiAllSources.h"

namespace {

using Sim = SimulatedMidiService;

std::vector<uint8_t> note(uint8_t key) {
    return Sim::makePacketList({{0x90, key, 0x40}});
}

// ---- A source dropped by the rescan while the platform may still route it -------------------

struct DisconnectCase {
    const char* name;
    OSStatus disconnectStatus; // what portDisconnectSource answers
    bool platformStillRoutes;  // the wrapper must then outlive the platform's callbacks
};

class DisconnectFailure : public ::testing::TestWithParam<DisconnectCase> {};

TEST_P(DisconnectFailure, TheWrapperLivesAsLongAsThePlatformMayCallIt) {
    const DisconnectCase c = GetParam();
    auto sim = std::make_shared<Sim>();
    const MIDIEndpointRef keys = sim->addSource(QStringLiteral("Keys"));
    auto midi = ZelMidi::create(sim);
    ASSERT_EQ(midi->sources().size(), 1u);
    auto receiver = std::make_shared<CountingReceiver>();
    midi->sources()[0]->addDelegate(receiver);
    const std::weak_ptr<ZelMidiSource> wrapper = midi->sources()[0];

    if (c.disconnectStatus != noErr) {
        sim->failNextCall(QStringLiteral("portDisconnectSource"), c.disconnectStatus);
    }
    sim->setSourceAt(0, 0); // the enumeration misses it, so the rescan lets it go
    midi->scanExistingDevices();
    EXPECT_TRUE(midi->sources().empty());

    EXPECT_EQ(!wrapper.expired(), c.platformStillRoutes);
    EXPECT_EQ(sim->isConnected(midi->inputPort(), keys), c.platformStillRoutes);
    sim->deliverAndWait(keys, note(60)); // reads the wrapper if the route is still there
    EXPECT_EQ(receiver->calls.load(), c.platformStillRoutes ? 1 : 0);

    midi.reset(); // the client goes, and with it the last route and the kept wrapper
    EXPECT_TRUE(wrapper.expired());
}

INSTANTIATE_TEST_SUITE_P(Rescan, DisconnectFailure,
                         ::testing::Values(DisconnectCase{"Disconnected", noErr, false},
                                           DisconnectCase{"PlatformFailed", kMIDIUnknownError,
                                                          true},
                                           DisconnectCase{"NotPermitted", kMIDINotPermitted, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- A notice for an endpoint the rescan already wrapped -----------------------------------

struct LateNoticeCase {
    const char* name;
    MIDIObjectType type;
};

class LateNotice : public ::testing::TestWithParam<LateNoticeCase> {};

TEST_P(LateNotice, KeepsOneWrapperAndItHearsTheSource) {
    const LateNoticeCase c = GetParam();
    auto sim = std::make_shared<Sim>();
    auto midi = ZelMidi::create(sim);
    Sim::EndpointOptions quiet;
    quiet.notify = false;
    const bool isSource = c.type == kMIDIObjectType_Source;
    const MIDIEndpointRef endpoint = isSource ? sim->addSource(QStringLiteral("Pad"), quiet)
                                              : sim->addDestination(QStringLiteral("Pad"), quiet);
    midi->scanExistingDevices(); // the rescan is first
    sim->postNotice(MIDIObjectAddRemoveNotification{kMIDIMsgObjectAdded,
                                                    sizeof(MIDIObjectAddRemoveNotification), 0,
                                                    kMIDIObjectType_Other, endpoint, c.type});
    processNotices();

    EXPECT_EQ(midi->sources().size(), isSource ? 1u : 0u);
    EXPECT_EQ(midi->destinations().size(), isSource ? 0u : 1u);
    if (isSource) {
        auto receiver = std::make_shared<CountingReceiver>();
        midi->getSource(endpoint)->addDelegate(receiver);
        sim->deliverAndWait(endpoint, note(61));
        EXPECT_EQ(receiver->calls.load(), 1) << "the listed wrapper holds the route";
    }
    midi->scanExistingDevices(); // and the next rescan keeps it connected
    EXPECT_EQ(sim->isConnected(midi->inputPort(), endpoint), isSource);
}

INSTANTIATE_TEST_SUITE_P(Notices, LateNotice,
                         ::testing::Values(LateNoticeCase{"Source", kMIDIObjectType_Source},
                                           LateNoticeCase{"Destination",
                                                          kMIDIObjectType_Destination}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Receivers ------------------------------------------------------------------------------

TEST(Receivers, TheAllSourcesListenerLeavesTheVirtualDestinationToo) {
    auto sim = std::make_shared<Sim>();
    auto midi = ZelMidi::create(sim);
    auto heard = std::make_shared<CountingReceiver>();
    ZelMidiAllSources listener;
    listener.setDelegate(heard);
    listener.setMidi(midi);
    midi->setVirtualDestinationEnabled(true);
    const MIDIEndpointRef own = midi->virtualDestinationEndpoint();
    sim->deliverAndWait(own, note(63));
    ASSERT_EQ(heard->calls.load(), 1);

    listener.setMidi(nullptr);
    sim->deliverAndWait(own, note(64));
    EXPECT_EQ(heard->calls.load(), 1) << "detached listeners hear nothing";
    midi->setVirtualDestinationEnabled(false);
}

} // namespace
