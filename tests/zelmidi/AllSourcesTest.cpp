// The all-sources listener: attaching to every source of a session, following hot-plug,
// forwarding input, and detaching completely.
#include "SimulatedMidiService.h"
#include "ZelMidi.h"
#include "ZelMidiAllSources.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

bool waitUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The listener's delegate: which source each list came from, and its first data byte.
class Recorder : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) override {
        const uint8_t first = *packetData(packetListFirst(list));
        std::lock_guard lock(mutex_);
        received_.emplace_back(source.endpoint(), first);
    }
    std::vector<std::pair<MIDIEndpointRef, uint8_t>> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<MIDIEndpointRef, uint8_t>> received_;
};

// The listener is the only receiver these tests register.
int registrations(const ZelMidiSource& source) {
    return static_cast<int>(source.delegates()->size());
}

std::vector<uint8_t> note(uint8_t status) {
    return SimulatedMidiService::makePacketList({{status, 0x3c, 0x40}});
}

class AllSourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        service = std::make_shared<SimulatedMidiService>();
        for (const char* name : {"One", "Two", "Three"}) {
            endpoints.push_back(service->addSource(QString::fromLatin1(name)));
        }
        midi = ZelMidi::create(service);
        ASSERT_EQ(midi->sources().size(), 3u);
        recorder = std::make_shared<Recorder>();
        listener = std::make_unique<ZelMidiAllSources>();
        listener->setDelegate(recorder);
    }

    bool attachedToAll(const ZelMidi& session) const {
        return std::all_of(session.sources().begin(), session.sources().end(),
                           [&](const auto& s) { return registrations(*s) == 1; });
    }
    static bool detachedFromAll(const ZelMidi& session) {
        return std::all_of(session.sources().begin(), session.sources().end(),
                           [&](const auto& s) { return registrations(*s) == 0; });
    }

    std::shared_ptr<SimulatedMidiService> service;
    std::vector<MIDIEndpointRef> endpoints;
    std::shared_ptr<ZelMidi> midi;
    std::shared_ptr<Recorder> recorder;
    std::unique_ptr<ZelMidiAllSources> listener;
};

TEST_F(AllSourcesTest, AttachesToEverySourceAndToOnesPluggedInLater) {
    listener->setMidi(midi);
    EXPECT_EQ(midi->delegate(), listener.get());
    EXPECT_TRUE(attachedToAll(*midi));

    endpoints.push_back(service->addSource(QStringLiteral("Four")));
    ASSERT_TRUE(waitUntil([&] { return midi->sources().size() == 4; }));
    EXPECT_TRUE(attachedToAll(*midi));

    // Announced again: still one registration, one delivery.
    listener->midiSourceAdded(*midi, midi->sources().back());
    EXPECT_EQ(registrations(*midi->sources().back()), 1);

    for (size_t i = 0; i < endpoints.size(); ++i) {
        service->deliverAndWait(endpoints[i], note(static_cast<uint8_t>(0x90 + i)));
    }
    EXPECT_EQ(recorder->received(),
              (std::vector<std::pair<MIDIEndpointRef, uint8_t>>{{endpoints[0], 0x90},
                                                                {endpoints[1], 0x91},
                                                                {endpoints[2], 0x92},
                                                                {endpoints[3], 0x93}}));

    // Setting the same session again re-attaches, once.
    listener->setMidi(midi);
    EXPECT_EQ(midi->delegate(), listener.get());
    EXPECT_TRUE(attachedToAll(*midi));
}

TEST_F(AllSourcesTest, InputWithoutADelegateIsDropped) {
    listener->setDelegate(nullptr);
    listener->setMidi(midi);
    service->deliverAndWait(endpoints[0], note(0x80));
    listener->setDelegate(recorder);
    service->deliverAndWait(endpoints[1], note(0x81));
    EXPECT_EQ(recorder->received(),
              (std::vector<std::pair<MIDIEndpointRef, uint8_t>>{{endpoints[1], 0x81}}));
}

TEST_F(AllSourcesTest, SwitchingSessionsDetachesFromTheOldOneCompletely) {
    listener->setMidi(midi);
    auto otherService = std::make_shared<SimulatedMidiService>();
    const MIDIEndpointRef otherEndpoint = otherService->addSource(QStringLiteral("Elsewhere"));
    auto other = ZelMidi::create(otherService);
    // The old session's delegate is cleared whatever it holds at that moment.
    ZelMidiAllSources bystander;
    midi->setDelegate(&bystander);

    listener->setMidi(other);

    EXPECT_EQ(midi->delegate(), nullptr);
    EXPECT_TRUE(detachedFromAll(*midi));
    EXPECT_EQ(other->delegate(), listener.get());
    EXPECT_TRUE(attachedToAll(*other));
    EXPECT_EQ(listener->midi(), other);

    service->deliverAndWait(endpoints[0], note(0x90));
    otherService->deliverAndWait(otherEndpoint, note(0xb0));
    EXPECT_EQ(recorder->received(),
              (std::vector<std::pair<MIDIEndpointRef, uint8_t>>{{otherEndpoint, 0xb0}}));

    // A source plugged into the old session later is not picked up.
    service->addSource(QStringLiteral("Late"));
    ASSERT_TRUE(waitUntil([&] { return midi->sources().size() == 4; }));
    EXPECT_TRUE(detachedFromAll(*midi));

    listener->setMidi(nullptr);
    EXPECT_EQ(other->delegate(), nullptr);
    EXPECT_TRUE(detachedFromAll(*other));
}

TEST_F(AllSourcesTest, DestructionDetachesAndReleasesTheSession) {
    listener->setMidi(midi);
    std::weak_ptr<ZelMidi> weak = midi;
    std::weak_ptr<Recorder> weakRecorder = recorder;
    midi.reset();
    recorder.reset();
    // The listener keeps its session and its delegate alive.
    ASSERT_FALSE(weak.expired());
    ASSERT_FALSE(weakRecorder.expired());
    EXPECT_TRUE(service->callsNamed(QStringLiteral("clientDispose")).isEmpty());

    auto session = weak.lock();
    listener.reset();

    EXPECT_EQ(session->delegate(), nullptr);
    EXPECT_TRUE(detachedFromAll(*session));
    EXPECT_TRUE(weakRecorder.expired());
    session.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(AllSourcesTest, DestroyingTheListenerWhileInputFlowsIsSafe) {
    // Each round: plenty queued on the receive thread, and the listener goes away in the middle.
    for (int round = 0; round < 10; ++round) {
        auto current = std::make_unique<ZelMidiAllSources>();
        current->setDelegate(recorder);
        current->setMidi(midi);
        const size_t before = recorder->received().size();
        for (int i = 0; i < 100; ++i) {
            for (const MIDIEndpointRef endpoint : endpoints) {
                service->deliver(endpoint, note(0x90));
            }
        }
        ASSERT_TRUE(waitUntil([&] { return recorder->received().size() > before; }));
        current.reset();
        const size_t afterDestruction = recorder->received().size();
        service->waitForDeliveries();

        EXPECT_LE(recorder->received().size(), afterDestruction + 1)
            << "only the delivery under way may still arrive";
        EXPECT_EQ(midi->delegate(), nullptr);
        EXPECT_TRUE(detachedFromAll(*midi));
    }
}

// Destroying the listener does not wait for a delivery that is inside its delegate, and that
// delivery ends without touching the listener.
TEST_F(AllSourcesTest, DestructionDoesNotWaitForADeliveryInProgress) {
    class Gate : public ZelMidiSourceDelegate {
    public:
        void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList*) override {
            entered.store(true);
            while (!release.load()) {
                std::this_thread::yield();
            }
            finished.fetch_add(1);
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
        std::atomic<int> finished{0};
    };
    auto gate = std::make_shared<Gate>();
    listener->setDelegate(gate);
    listener->setMidi(midi);
    service->deliver(endpoints[0], note(0x90));
    ASSERT_TRUE(waitUntil([&] { return gate->entered.load(); }));

    listener.reset(); // would never return if it waited for the gate
    gate->release.store(true);
    service->waitForDeliveries();
    EXPECT_EQ(gate->finished.load(), 1);
}

} // namespace
