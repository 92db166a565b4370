// Sending: the broadcast over every destination the platform reports, one packet of bytes, and
// no heap allocation on the way (nor in the fan-out to receivers). AllocationCounter counts every
// allocator entry point of this executable.
#include "AllocationCounter.h"
#include "SessionTestSupport.h"
#include "SystemLog.h"

#include <cstdlib>
#include <new>
#include <numeric>

namespace {

using Sim = SimulatedMidiService;

// Counts only what the session allocates: the model's own bookkeeping is excluded.
class UncountedService : public Sim {
    using Pause = AllocationCounter::Pause;

public:
    OSStatus send(MIDIPortRef port, MIDIEndpointRef destination,
                  const MIDIPacketList* list) override {
        Pause pause;
        return Sim::send(port, destination, list);
    }
    ItemCount getNumberOfDestinations() override {
        Pause pause;
        return Sim::getNumberOfDestinations();
    }
    MIDIEndpointRef getDestination(ItemCount index) override {
        Pause pause;
        return Sim::getDestination(index);
    }
};

class Send : public ::testing::Test {
protected:
    std::shared_ptr<UncountedService> sim = std::make_shared<UncountedService>();
};

TEST_F(Send, TheBroadcastAsksForTheCountAfterEveryIndexAndSkipsZero) {
    const MIDIEndpointRef a = sim->addDestination("A");
    sim->addDestination("B");
    const MIDIEndpointRef c = sim->addDestination("C");
    processNotices();
    auto midi = ZelMidi::create(sim);
    sim->setDestinationAt(1, 0);
    sim->clearCalls();

    const uint8_t clock = 0xF8;
    midi->sendBytes(&clock, 1);

    QStringList pattern;
    for (const QString& call : sim->calls()) {
        pattern << call.section('(', 0, 0);
    }
    EXPECT_EQ(pattern,
              (QStringList{"getNumberOfDestinations", "getDestination", "send",
                           "getNumberOfDestinations", "getDestination", "getNumberOfDestinations",
                           "getDestination", "send", "getNumberOfDestinations"}));
    const auto sent = sim->sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].endpoint, a);
    EXPECT_EQ(sent[1].endpoint, c);
    EXPECT_EQ(sent[0].port, midi->outputPort());
}

TEST_F(Send, AFailureOnOneDestinationDoesNotStopTheOthers) {
    sim->addDestination("A");
    const MIDIEndpointRef b = sim->addDestination("B");
    processNotices();
    auto midi = ZelMidi::create(sim);
    SystemLogCapture log;
    sim->failNextCall("send", kMIDIMessageSendErr);
    const uint8_t bytes[] = {0xF0, 0x7E, 0xF7};
    midi->sendBytes(bytes, 3);
    ASSERT_EQ(sim->sent().size(), 1u);
    EXPECT_EQ(sim->sent()[0].endpoint, b);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("Error (Sending MIDI): -10838:"));
}

TEST_F(Send, TheLargestPacketGoesOutWholeWithTimestampZeroAndNoHeapAllocation) {
    const MIDIEndpointRef synth = sim->addDestination("Synth");
    processNotices();
    auto midi = ZelMidi::create(sim);
    std::vector<uint8_t> payload(65535);
    std::iota(payload.begin(), payload.end(), uint8_t{0});

    int allocations = -1;
    {
        AllocationCounter counter;
        midi->sendBytes(payload.data(), 65535);
        midi->getDestination(synth)->sendBytes(payload.data(), 65535);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);

    const auto sent = sim->sent();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& s : sent) {
        const auto* list = reinterpret_cast<const MIDIPacketList*>(s.list.data());
        ASSERT_EQ(packetListCount(list), 1u);
        MIDIConstPacketPtr p = packetListFirst(list);
        EXPECT_EQ(packetTimeStamp(p), 0u);
        ASSERT_EQ(packetLength(p), 65535u);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packetData(p)));
        EXPECT_EQ(s.endpoint, synth);
    }
}

TEST_F(Send, ASizeOf65536StopsTheProgramBeforeSendingAnything) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    sim->addDestination("Synth");
    processNotices();
    auto midi = ZelMidi::create(sim);
    static std::vector<uint8_t> big(65536);
    EXPECT_DEATH(midi->sendBytes(big.data(), 65536), "size < 65536");
    EXPECT_DEATH(midi->destinations()[0]->sendBytes(big.data(), 65536), "size < 65536");
    EXPECT_TRUE(sim->sent().empty());
}

TEST_F(Send, TheFanOutToEveryReceiverAllocatesNothing) {
    const MIDIEndpointRef keys = sim->addSource("Keys");
    processNotices();
    auto midi = ZelMidi::create(sim);
    const auto source = midi->getSource(keys);
    ASSERT_TRUE(source);
    const std::vector<std::shared_ptr<CountingReceiver>> receivers{
        std::make_shared<CountingReceiver>(), std::make_shared<CountingReceiver>(),
        std::make_shared<CountingReceiver>()};
    for (const auto& r : receivers) {
        source->addDelegate(r);
    }
    const auto bytes = Sim::makePacketList({{0x90, 0x40, 0x7F}, {0xF0, 0x7E, 0xF7}});
    const auto* list = reinterpret_cast<const MIDIPacketList*>(bytes.data());

    int allocations = -1;
    {
        AllocationCounter counter;
        source->midiRead(list);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);
    for (const auto& r : receivers) {
        EXPECT_EQ(r->calls.load(), 1);
        EXPECT_EQ(r->lastList.load(), list);
    }
}

} // namespace
