// Endpoint wrappers: what they read from the platform, their receivers, and sending.
#include "SessionTestSupport.h"
#include "SystemLog.h"

namespace {

using Sim = SimulatedMidiService;

class Connection : public ::testing::Test {
protected:
    std::shared_ptr<Sim> sim = std::make_shared<Sim>();
    std::shared_ptr<ZelMidi> midi = ZelMidi::create(sim);

    std::shared_ptr<ZelMidiSource> plugSource(const QString& name,
                                              Sim::EndpointOptions options = {}) {
        const MIDIEndpointRef ref = sim->addSource(name, options);
        processNotices();
        return midi->getSource(ref);
    }
};

TEST_F(Connection, NamesComeFromTheDisplayNameOrAreUnknown) {
    EXPECT_EQ(plugSource("MIRT VQ320 MIDI 1")->name(), "MIRT VQ320 MIDI 1");
    EXPECT_EQ(plugSource("ignored", {.hasName = false})->name(), "Unknown name");
}

TEST_F(Connection, OnlyATopLevelSessionKeyOfTheEntityMakesANetworkSession) {
    const QString key = QString::fromLatin1(kMIDINetworkSessionKey.data(),
                                            static_cast<qsizetype>(kMIDINetworkSessionKey.size()));
    EXPECT_TRUE(plugSource("net", {.entityProperties = {{key, 0}}})->isNetworkSession());
    EXPECT_TRUE(
        plugSource("net2", {.entityProperties = {{key, QVariantMap{}}}})->isNetworkSession());
    EXPECT_FALSE(plugSource("nested", {.entityProperties = {{"driver", QVariantMap{{key, 1}}}}})
                     ->isNetworkSession());
    EXPECT_FALSE(
        plugSource("apple", {.entityProperties = {{"apple", QVariantMap{{"midirtp.session", 1}}}}})
            ->isNetworkSession())
        << "the dots are part of one key, not a path";
    EXPECT_FALSE(plugSource("no entity", {.hasEntity = false, .entityProperties = {{key, 1}}})
                     ->isNetworkSession());
    EXPECT_FALSE(plugSource("unreadable",
                            {.entityProperties = {{key, 1}}, .entityPropertiesReadable = false})
                     ->isNetworkSession());
}

TEST_F(Connection, ReceiversAreUniqueByIdentityAndCalledInRegistrationOrder) {
    auto source = plugSource("Keys");
    std::vector<std::string> order;
    auto a = std::make_shared<CountingReceiver>(), b = std::make_shared<CountingReceiver>();
    a->hook = [&](const MIDIPacketList*) { order.push_back("A"); };
    b->hook = [&](const MIDIPacketList*) { order.push_back("B"); };

    source->addDelegate(a);
    source->addDelegate(b);
    source->addDelegate(a);
    const auto before = source->delegates();
    CountingReceiver never;
    source->removeDelegate(&never);
    ASSERT_EQ(source->delegates()->size(), 2u);
    EXPECT_EQ((*source->delegates())[0], a);
    EXPECT_EQ((*source->delegates())[1], b);

    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x90, 1, 2}}));
    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x80, 1, 2}}));
    EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "A", "B"}));
    EXPECT_EQ(a->calls, 2);

    source->removeDelegate(a.get());
    EXPECT_EQ(before->size(), 2u) << "a stored list never changes (copy on write)";
    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0xF8}}));
    EXPECT_EQ(a->calls, 2);
    EXPECT_EQ(b->calls, 3);
}

// From inside a call on the receive thread a receiver leaves, or removes the next one and lets
// it go. Neither waits for the fan-out it runs in; the walk keeps what it holds alive, so the
// next one still gets that list, and no later one.
TEST_F(Connection, AReceiverChangesTheListFromInsideItsOwnCall) {
    for (const bool removeItself : {true, false}) {
        SCOPED_TRACE(removeItself ? "removes itself" : "removes and lets go of the next one");
        auto source = plugSource("Keys");
        auto first = std::make_shared<CountingReceiver>();
        auto next = std::make_shared<CountingReceiver>();
        const std::weak_ptr<CountingReceiver> nextSeen = next;
        first->hook = [&, self = first.get()](const MIDIPacketList*) {
            source->removeDelegate(removeItself ? self : next.get());
            if (!removeItself) {
                next.reset();
            }
        };
        source->addDelegate(first);
        source->addDelegate(nextSeen.lock());
        sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x90, 1, 2}}));
        sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x80, 1, 2}}));
        EXPECT_EQ(first->calls.load(), removeItself ? 1 : 2);
        if (removeItself) {
            EXPECT_EQ(next->calls.load(), 2);
        } else {
            EXPECT_TRUE(nextSeen.expired()) << "freed once the walk that held it ended";
        }
        EXPECT_EQ(source->delegates()->size(), 1u);
    }
}

TEST_F(Connection, TheFanOutPassesTheListItselfAndASourceWithoutReceiversDropsInput) {
    auto source = plugSource("Keys");
    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x90, 1, 2}}));

    auto r = std::make_shared<CountingReceiver>();
    source->addDelegate(r);
    const auto bytes = Sim::makePacketList({{0x90, 1, 2}, {0xF0, 1, 0xF7}});
    const auto* list = reinterpret_cast<const MIDIPacketList*>(bytes.data());
    source->midiRead(list);
    EXPECT_EQ(r->lastList.load(), list) << "not copied";
    EXPECT_EQ(r->lastSource.load(), source.get());
}

TEST_F(Connection, ADestinationSendsToItsOwnEndpointThroughTheOutputPort) {
    sim->addDestination("A");
    const MIDIEndpointRef b = sim->addDestination("B");
    processNotices();
    auto destination = midi->getDestination(b);
    const uint8_t bytes[] = {0xB0, 7, 100};
    destination->sendBytes(bytes, 3);
    ASSERT_EQ(sim->sent().size(), 1u);
    EXPECT_EQ(sim->sent()[0].endpoint, b);
    EXPECT_EQ(sim->sent()[0].port, midi->outputPort());

    SystemLogCapture log;
    sim->failNextCall("send", kMIDIUnknownEndpoint);
    destination->sendBytes(bytes, 3);
    EXPECT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().value(0).startsWith("Error (Sending MIDI): -10834:"));

    destination->flushOutput();
    EXPECT_EQ(sim->callsNamed("flushOutput").size(), 1);
    EXPECT_TRUE(sim->callsNamed("flushOutput")[0].contains(QString::number(b)));
}

TEST_F(Connection, TheVirtualSourceHandleStampsOnlyUnstampedPacketsAndPublishes) {
    MIDIEndpointRef virtualSource = 0;
    ASSERT_EQ(sim->sourceCreate(midi->client(), "Portwatch Source", &virtualSource), noErr);
    ZelMidiVirtualSourceDestination handle(midi.get(), virtualSource);
    sim->setHostTime(4242);

    auto bytes = Sim::makePacketList({{0x90, 1, 2}, {0x80, 1}, {0xF8}});
    auto* list = reinterpret_cast<MIDIPacketList*>(bytes.data());
    MIDIPacketPtr second = packetNext(packetListFirst(list));
    setPacketTimeStamp(second, 77);
    handle.sendPacketList(list);

    MIDIConstPacketPtr p = packetListFirst(list);
    EXPECT_EQ(packetTimeStamp(p), 4242u) << "the caller's list is stamped in place";
    EXPECT_EQ(packetTimeStamp(packetNext(p)), 77u);
    EXPECT_EQ(packetTimeStamp(packetNext(packetNext(p))), 4242u);
    ASSERT_EQ(sim->published().size(), 1u);
    EXPECT_EQ(sim->published()[0].endpoint, virtualSource);

    const uint8_t start = 0xFA;
    handle.sendBytes(&start, 1);
    EXPECT_EQ(sim->published().size(), 2u) << "bytes go out through the override";
    EXPECT_TRUE(sim->sent().empty()) << "never through the output port";
}

} // namespace
