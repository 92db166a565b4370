// Receivers come and go while other threads fan out, and nothing waits for a fan-out. Run under
// the tsan and asan presets: no call may reach a receiver once it is gone, and every change made
// from inside a fan-out completes.
#include "SessionTestSupport.h"

#include <barrier>
#include <thread>

namespace {

using Sim = SimulatedMidiService;

class Recorder : public ZelMidiSourceDelegate {
public:
    explicit Recorder(std::atomic<int>& total) : total_(total) {}
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList* list) override {
        seen_ += packetListCount(list);
        total_.fetch_add(1, std::memory_order_relaxed);
    }

private:
    std::atomic<int>& total_;
    // Written only inside calls, freed with the object: a late call is a race for TSan and a use
    // after free for ASan.
    uint64_t seen_ = 0;
};

// Removes itself from inside its own call on the receive thread.
class Leaver : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList*) override {
        calls.fetch_add(1);
        source.removeDelegate(this);
    }
    std::atomic<int> calls{0};
};

// Hands what one source reads to the next, so that fan-outs nest on the reading thread; it
// writes to itself after the inner fan-out returned.
class Forwarder : public ZelMidiSourceDelegate {
public:
    explicit Forwarder(std::shared_ptr<ZelMidiSource> next) : next_(std::move(next)) {}
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList* list) override {
        next_->midiRead(list);
        ++forwarded_;
    }

private:
    std::shared_ptr<ZelMidiSource> next_;
    uint64_t forwarded_ = 0;
};

struct Plugged {
    std::shared_ptr<Sim> sim = std::make_shared<Sim>();
    std::shared_ptr<ZelMidi> midi = ZelMidi::create(sim);
    std::shared_ptr<ZelMidiSource> add(const QString& name) {
        const MIDIEndpointRef ref = sim->addSource(name);
        processNotices();
        return midi->getSource(ref);
    }
};

const std::vector<uint8_t> kNotes = Sim::makePacketList({{0x90, 60, 100}, {0x80, 60, 0}});
const auto* const kList = reinterpret_cast<const MIDIPacketList*>(kNotes.data());

TEST(ReceiverStress, ReceiversComeAndGoWhileInputFlows) {
    Plugged p;
    auto source = p.add("Keys");
    ASSERT_TRUE(source);
    std::atomic<int> total{0};
    source->addDelegate(std::make_shared<Recorder>(total));

    // Flat fan-outs, then fan-outs of this source nested inside those of a chain of others.
    std::vector<std::shared_ptr<ZelMidiSource>> chain;
    for (int i = 0; i < 20; ++i) {
        chain.push_back(p.add(QStringLiteral("Link %1").arg(i)));
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        chain[i]->addDelegate(
            std::make_shared<Forwarder>(i + 1 < chain.size() ? chain[i + 1] : source));
    }
    for (const bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "nested" : "flat");
        const auto& entry = nested ? chain.front() : source;
        std::atomic<bool> stop{false};
        std::thread feeder([&] {
            while (!stop.load()) {
                entry->midiRead(kList);
            }
        });
        // Two threads register receivers and let each go right after removing it.
        const auto churn = [&] {
            for (int i = 0; i < 1000; ++i) {
                auto transient = std::make_shared<Recorder>(total);
                source->addDelegate(transient);
                if (i % 2 == 0) {
                    std::this_thread::yield(); // let the feeder walk a list that holds it
                }
                source->removeDelegate(transient.get());
                transient.reset();
            }
        };
        std::thread other(churn);
        churn();
        other.join();
        stop = true;
        feeder.join();
    }

    // And through the platform's own receive thread while receivers churn.
    for (int i = 0; i < 200; ++i) {
        auto transient = std::make_shared<Recorder>(total);
        source->addDelegate(transient);
        p.sim->deliver(source->endpoint(), Sim::makePacketList({{0xF0, 1, 0xF7}}));
        source->removeDelegate(transient.get());
    }
    p.sim->waitForDeliveries();

    auto leaver = std::make_shared<Leaver>();
    source->addDelegate(leaver);
    p.sim->deliver(source->endpoint(), Sim::makePacketList({{0xF8}}));
    p.sim->deliver(source->endpoint(), Sim::makePacketList({{0xF8}}));
    p.sim->waitForDeliveries();
    EXPECT_EQ(leaver->calls.load(), 1);

    EXPECT_GT(total.load(), 0);
    EXPECT_EQ(source->delegates()->size(), 1u);
}

// Two threads, each inside a fan-out, each remove a receiver that the other's fan-out holds: of
// the same source, or across two. Neither waits for the other.
TEST(ReceiverStress, TwoFanOutsRemovingWhatTheOtherHoldsBothComplete) {
    for (const bool sameSource : {true, false}) {
        SCOPED_TRACE(sameSource ? "same source" : "across sources");
        Plugged p;
        const auto first = p.add("First");
        const auto second = sameSource ? first : p.add("Second");
        std::barrier bothInside(2);
        std::atomic<bool> entered[2]{}; // each gate holds the first thread that reaches it
        std::vector<std::shared_ptr<CountingReceiver>> gates;
        for (const auto& [from, other] : {std::pair{first, second}, std::pair{second, first}}) {
            auto gate = std::make_shared<CountingReceiver>();
            gate->hook = [&bothInside, &entered, &gates, other = other.get(),
                          i = gates.size()](const MIDIPacketList*) {
                if (!entered[i].exchange(true)) {
                    bothInside.arrive_and_wait();
                    other->removeDelegate(gates[1 - i].get());
                }
            };
            gates.push_back(gate);
            from->addDelegate(gate);
        }
        std::thread one([&] { first->midiRead(kList); });
        std::thread two([&] { second->midiRead(kList); });
        one.join();
        two.join();
        EXPECT_TRUE(first->delegates()->empty());
        EXPECT_TRUE(second->delegates()->empty());
    }
}

// A receiver removed and let go from a fan-out nested inside its own call lives until that call
// has returned (the Forwarder writes to itself after relaying), and not longer.
TEST(ReceiverStress, AReceiverLetGoUpTheStackLivesUntilItsCallReturns) {
    Plugged p;
    const auto outer = p.add("Outer");
    const auto inner = p.add("Inner");
    auto relay = std::make_shared<Forwarder>(inner);
    const std::weak_ptr<Forwarder> relaySeen = relay;
    outer->addDelegate(relay);
    auto remover = std::make_shared<CountingReceiver>();
    remover->hook = [&](const MIDIPacketList*) {
        outer->removeDelegate(relaySeen.lock().get());
        relay.reset();
    };
    inner->addDelegate(remover);
    outer->midiRead(kList);
    EXPECT_EQ(remover->calls.load(), 1);
    EXPECT_TRUE(relaySeen.expired());
    EXPECT_TRUE(outer->delegates()->empty());
}

} // namespace
