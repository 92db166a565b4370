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
    CountingReceiver a, b, never;
    a.hook = [&](const MIDIPacketList*) { order.push_back("A"); };
    b.hook = [&](const MIDIPacketList*) { order.push_back("B"); };

    source->addDelegate(&a);
    source->addDelegate(&b);
    source->addDelegate(&a);
    const auto before = source->delegates();
    source->removeDelegate(&never);
    ASSERT_EQ(source->delegates()->size(), 2u);
    EXPECT_EQ((*source->delegates())[0].delegate, &a);
    EXPECT_EQ((*source->delegates())[1].delegate, &b);

    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x90, 1, 2}}));
    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x80, 1, 2}}));
    EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "A", "B"}));
    EXPECT_EQ(a.calls, 2);

    source->removeDelegate(&a);
    EXPECT_EQ(before->size(), 2u) << "a stored list never changes (copy on write)";
    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0xF8}}));
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(b.calls, 3);
}

// From inside a call on the receive thread: a receiver leaves, or removes and destroys the next
// one. Neither waits for the fan-out it runs in, and the removed one is not reached by it.
TEST_F(Connection, AReceiverChangesTheListFromInsideItsOwnCall) {
    for (const bool removeItself : {true, false}) {
        SCOPED_TRACE(removeItself ? "removes itself" : "removes and destroys the next one");
        auto source = plugSource("Keys");
        CountingReceiver first;
        auto next = std::make_unique<CountingReceiver>();
        first.hook = [&](const MIDIPacketList*) {
            if (removeItself) {
                source->removeDelegate(&first);
            } else {
                source->removeDelegate(next.get());
                next.reset();
            }
        };
        source->addDelegate(&first);
        source->addDelegate(next.get());
        sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x90, 1, 2}}));
        sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x80, 1, 2}}));
        EXPECT_EQ(first.calls.load(), removeItself ? 1 : 2);
        if (removeItself) {
            EXPECT_EQ(next->calls.load(), 2);
        }
        EXPECT_EQ(source->delegates()->size(), 1u);
        if (next) {
            source->removeDelegate(next.get());
        }
    }
}

// A receiver feeding its own source nests fan-outs on one thread, past the depth a thread can
// mark. A receiver removed from inside the innermost call is reached by none of them.
TEST_F(Connection, NestedFanOutsSkipAReceiverRemovedInsideTheInnermost) {
    for (const int depth : {2, zelmidi_detail::FanOutMarks::kDepth + 3}) {
        SCOPED_TRACE(depth);
        auto source = plugSource("Keys");
        CountingReceiver feeder;
        CountingReceiver next;
        feeder.hook = [&](const MIDIPacketList* list) {
            if (feeder.calls.load() < depth) {
                source->midiRead(list);
            } else {
                source->removeDelegate(&next);
            }
        };
        source->addDelegate(&feeder);
        source->addDelegate(&next);
        const auto bytes = Sim::makePacketList({{0x90, 1, 2}});
        source->midiRead(reinterpret_cast<const MIDIPacketList*>(bytes.data()));
        EXPECT_EQ(feeder.calls.load(), depth);
        EXPECT_EQ(next.calls.load(), 0);
        source->removeDelegate(&feeder);
    }
}

TEST_F(Connection, TheFanOutPassesTheListItselfAndASourceWithoutReceiversDropsInput) {
    auto source = plugSource("Keys");
    sim->deliverAndWait(source->endpoint(), Sim::makePacketList({{0x90, 1, 2}}));

    CountingReceiver r;
    source->addDelegate(&r);
    const auto bytes = Sim::makePacketList({{0x90, 1, 2}, {0xF0, 1, 0xF7}});
    const auto* list = reinterpret_cast<const MIDIPacketList*>(bytes.data());
    source->midiRead(list);
    EXPECT_EQ(r.lastList.load(), list) << "not copied";
    EXPECT_EQ(r.lastSource.load(), source.get());
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
