// A receive thread fans out while the main thread adds, removes and destroys receivers that do
// nothing about it in their destructors. Run under the tsan and asan presets: no fan-out, not
// even one that took an older list, may reach a receiver once removeDelegate returned.
#include "SessionTestSupport.h"

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

// Removes itself from inside its own call on the receive thread: it must not wait for itself.
class Leaver : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList*) override {
        calls.fetch_add(1);
        source.removeDelegate(this);
    }
    std::atomic<int> calls{0};
};

// Hands what one source reads to the next, so that fan-outs nest on the reading thread.
class Forwarder : public ZelMidiSourceDelegate {
public:
    explicit Forwarder(std::shared_ptr<ZelMidiSource> next) : next_(std::move(next)) {}
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList* list) override {
        next_->midiRead(list);
    }

private:
    std::shared_ptr<ZelMidiSource> next_;
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

    // Flat fan-outs, then fan-outs of this source nested inside those of a chain of others, deeper
    // than the reading thread can mark.
    std::vector<std::shared_ptr<ZelMidiSource>> chain;
    for (int i = 0; i < zelmidi_detail::FanOutMarks::kDepth; ++i) {
        const MIDIEndpointRef link = sim->addSource(QStringLiteral("Link %1").arg(i));
        processNotices();
        chain.push_back(midi->getSource(link));
    }
    std::vector<std::unique_ptr<Forwarder>> forwarders;
    for (size_t i = 0; i < chain.size(); ++i) {
        forwarders.push_back(
            std::make_unique<Forwarder>(i + 1 < chain.size() ? chain[i + 1] : source));
        chain[i]->addDelegate(forwarders.back().get());
    }
    for (const bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "nested" : "flat");
        const auto& entry = nested ? chain.front() : source;
        std::atomic<bool> stop{false};
        std::thread feeder([&] {
            const auto list = Sim::makePacketList({{0x90, 60, 100}, {0x80, 60, 0}});
            while (!stop.load()) {
                entry->midiRead(reinterpret_cast<const MIDIPacketList*>(list.data()));
            }
        });
        for (int i = 0; i < 2000; ++i) {
            auto transient = std::make_unique<Recorder>(total);
            source->addDelegate(transient.get());
            if (i % 2 == 0) {
                std::this_thread::yield(); // let the feeder walk a list that holds it
            }
            // Leaving waits for a walk in progress; then it goes, with nothing in its destructor.
            source->removeDelegate(transient.get());
            transient.reset();
        }
        stop = true;
        feeder.join();
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        chain[i]->removeDelegate(forwarders[i].get());
    }

    // And through the platform's own receive thread while receivers churn.
    for (int i = 0; i < 200; ++i) {
        Recorder transient(total);
        source->addDelegate(&transient);
        sim->deliver(keys, Sim::makePacketList({{0xF0, 1, 0xF7}}));
        source->removeDelegate(&transient);
    }
    sim->waitForDeliveries();

    Leaver leaver;
    source->addDelegate(&leaver);
    sim->deliver(keys, Sim::makePacketList({{0xF8}}));
    sim->deliver(keys, Sim::makePacketList({{0xF8}}));
    sim->waitForDeliveries();
    EXPECT_EQ(leaver.calls.load(), 1);

    EXPECT_GT(total.load(), 0);
    EXPECT_EQ(source->delegates()->size(), 1u);
}

} // namespace
