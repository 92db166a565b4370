// The two hot paths of the MIDI layer: a received packet list fanned out to its receivers, and a
// SysEx sent to every destination. The service here does nothing, so only the layer is measured.
#include "BenchApp.h"
#include "ZelMidi.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

// Reports a fixed set of destinations and swallows what is sent.
class NullService : public MidiService {
public:
    explicit NullService(ItemCount destinations) : destinations_(destinations) {}
    OSStatus clientCreate(const QString&, MIDINotifyProc, void*, MIDIClientRef* c) override {
        *c = 1;
        return noErr;
    }
    OSStatus clientDispose(MIDIClientRef) override { return noErr; }
    OSStatus outputPortCreate(MIDIClientRef, const QString&, MIDIPortRef* p) override {
        *p = 2;
        return noErr;
    }
    OSStatus inputPortCreate(MIDIClientRef, const QString&, MIDIReadProc, void*,
                             MIDIPortRef* p) override {
        *p = 3;
        return noErr;
    }
    OSStatus portDispose(MIDIPortRef) override { return noErr; }
    ItemCount getNumberOfSources() override { return 1; }
    MIDIEndpointRef getSource(ItemCount) override { return 100; }
    ItemCount getNumberOfDestinations() override { return destinations_; }
    MIDIEndpointRef getDestination(ItemCount i) override {
        return static_cast<MIDIEndpointRef>(200 + i);
    }
    OSStatus portConnectSource(MIDIPortRef, MIDIEndpointRef, void*) override { return noErr; }
    OSStatus portDisconnectSource(MIDIPortRef, MIDIEndpointRef) override { return noErr; }
    OSStatus send(MIDIPortRef, MIDIEndpointRef, const MIDIPacketList* list) override {
        benchmark::DoNotOptimize(list);
        return noErr;
    }
    OSStatus received(MIDIEndpointRef, const MIDIPacketList*) override { return noErr; }
    OSStatus flushOutput(MIDIEndpointRef) override { return noErr; }
    OSStatus objectGetStringProperty(MIDIObjectRef, MIDIPropertyKey, QString* v) override {
        *v = QStringLiteral("Bench");
        return noErr;
    }
    OSStatus objectGetIntegerProperty(MIDIObjectRef, MIDIPropertyKey, int32_t*) override {
        return kMIDIUnknownProperty;
    }
    OSStatus objectSetIntegerProperty(MIDIObjectRef, MIDIPropertyKey, int32_t) override {
        return kMIDIUnknownProperty;
    }
    OSStatus objectGetProperties(MIDIObjectRef, QVariantMap*, bool) override {
        return kMIDIUnknownProperty;
    }
    OSStatus endpointGetEntity(MIDIEndpointRef, MIDIEntityRef*) override {
        return kMIDIUnknownProperty;
    }
    OSStatus sourceCreate(MIDIClientRef, const QString&, MIDIEndpointRef*) override {
        return kMIDINotPermitted;
    }
    OSStatus destinationCreate(MIDIClientRef, const QString&, MIDIReadProc, void*,
                               MIDIEndpointRef*) override {
        return kMIDINotPermitted;
    }
    OSStatus endpointDispose(MIDIEndpointRef) override { return noErr; }

private:
    ItemCount destinations_;
};

class Sink : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList* list) override {
        benchmark::DoNotOptimize(packetListCount(list));
    }
};

void FanOut(benchmark::State& state) {
    app();
    auto midi = ZelMidi::create(std::make_shared<NullService>(0));
    auto source = midi->sources().front();
    for (int64_t i = 0; i < state.range(0); ++i) {
        source->addDelegate(std::make_shared<Sink>());
    }
    alignas(MIDIPacketList) uint8_t buffer[64];
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer);
    const uint8_t note[] = {0x90, 60, 100};
    packetListAdd(list, sizeof buffer, packetListInit(list, sizeof buffer), 0, 3, note);
    for (auto _ : state) {
        source->midiRead(list);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(FanOut)->Arg(1)->Arg(2)->Arg(3)->Arg(8);

// What the fan-out is compared with: the same packet handed to the same receivers through plain
// virtual calls, with no registration, list or lifetime guard.
void PlainVirtualCalls(benchmark::State& state) {
    app();
    auto midi = ZelMidi::create(std::make_shared<NullService>(0));
    auto source = midi->sources().front();
    std::vector<Sink> sinks(static_cast<size_t>(state.range(0)));
    std::vector<ZelMidiSourceDelegate*> receivers;
    for (Sink& s : sinks) {
        receivers.push_back(&s);
    }
    benchmark::DoNotOptimize(receivers.data());
    alignas(MIDIPacketList) uint8_t buffer[64];
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer);
    const uint8_t note[] = {0x90, 60, 100};
    packetListAdd(list, sizeof buffer, packetListInit(list, sizeof buffer), 0, 3, note);
    for (auto _ : state) {
        for (ZelMidiSourceDelegate* r : receivers) {
            r->midiSourceMidiReceived(*source, list);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PlainVirtualCalls)->Arg(3);

void BroadcastSysEx(benchmark::State& state) {
    app();
    auto midi =
        ZelMidi::create(std::make_shared<NullService>(static_cast<ItemCount>(state.range(0))));
    const uint8_t enterDfu[] = {0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};
    for (auto _ : state) {
        midi->sendBytes(enterDfu, sizeof enterDfu);
    }
}
BENCHMARK(BroadcastSysEx)->Arg(1)->Arg(4);

void LargestPacket(benchmark::State& state) {
    app();
    auto midi = ZelMidi::create(std::make_shared<NullService>(1));
    std::vector<uint8_t> bytes(65535, 0x42);
    for (auto _ : state) {
        midi->sendBytes(bytes.data(), 65535);
    }
    state.SetBytesProcessed(state.iterations() * 65535);
}
BENCHMARK(LargestPacket);

} // namespace
