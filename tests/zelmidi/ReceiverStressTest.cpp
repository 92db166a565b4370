// A receive thread fans out while the main thread adds, removes and destroys receivers. Run under
// the tsan and asan presets: no fan-out, not even one that took an older list, may reach a
// receiver after its destruction began.
#include "SessionTestSupport.h"

#include <thread>

namespace {

using Sim = SimulatedMidiService;

class Recorder : public ZelMidiSourceDelegate {
public:
    explicit Recorder(std::atomic<int>& total) : total_(total) {}
    ~Recorder() override {
        retireReceiver();
        alive_ = false; // a late call after this would be caught below (or by ASan, after delete)
    }
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList* list) override {
        EXPECT_TRUE(alive_);
        seen_ += packetListCount(list);
        total_.fetch_add(1, std::memory_order_relaxed);
    }

private:
    std::atomic<int>& total_;
    bool alive_ = true;
    uint64_t seen_ = 0; // written only inside calls: a race here is what TSan looks for
};

TEST(ReceiverStress, ReceiversComeAndGoWhileInputFlows) {
    auto sim = std::make_shared<Sim>();
    auto midi = ZelMidi::create(sim);
    const MIDIEndpointRef keys = sim->addSource("Keys");
    processNotices();
    auto source = midi->getSource(keys);
    ASSERT_TRUE(source);

    std::atomic<int> total{0};
    Recorder steady(total);
    source->addDelegate(&steady);

    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        const auto list = Sim::makePacketList({{0x90, 60, 100}, {0x80, 60, 0}});
        while (!stop.load()) {
            source->midiRead(reinterpret_cast<const MIDIPacketList*>(list.data()));
        }
    });

    for (int i = 0; i < 2000; ++i) {
        auto transient = std::make_unique<Recorder>(total);
        source->addDelegate(transient.get());
        if (i % 3 == 0) {
            source->removeDelegate(transient.get());
        }
        if (i % 2 == 0) {
            std::this_thread::yield();
        }
        // Destroyed while still registered in two of three rounds: the retire in its
        // destructor is what keeps the fan-out away from it.
        const ZelMidiSourceDelegate* gone = transient.get();
        transient.reset();
        if (i % 3 != 0) {
            auto next = std::make_shared<ZelMidiSource::ReceiverList>(*source->delegates());
            std::erase_if(*next, [gone](const auto& r) { return r.delegate == gone; });
            source->setDelegates(std::move(next));
        }
    }
    stop = true;
    feeder.join();

    // And through the platform's own receive thread while receivers churn.
    for (int i = 0; i < 200; ++i) {
        Recorder transient(total);
        source->addDelegate(&transient);
        sim->deliver(keys, Sim::makePacketList({{0xF0, 1, 0xF7}}));
        source->removeDelegate(&transient);
    }
    sim->waitForDeliveries();

    EXPECT_GT(total.load(), 0);
    EXPECT_EQ(source->delegates()->size(), 1u);
}

} // namespace
