// The MIDI layer on the real kernel sequencer (run it in the test VM, tools/vm/run-in-vm.sh):
// - IdleSession: the CPU a session uses, idle, with 32 two-way ports present, as a share of one
//   core over VQ_IDLE_SECONDS (default 10) of its event loop, rescan ticks included.
// - SysExToSoftwareReceiver: bytes per second of one SysEx sent to a software receiver that
//   reads as fast as it can, until the last byte arrived.
// Without /dev/snd/seq every benchmark reports an error and measures nothing.
#include "BenchApp.h"
#include "ZelMidi.h"
#include "alsa/AlsaMidiService.h"
#include "alsa/AlsaRefs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Another program's client: ports, and a reader that counts SysEx bytes.
class OtherClient {
public:
    OtherClient() {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
            seq_ = nullptr;
            return;
        }
        snd_seq_set_client_name(seq_, "Bench Peer");
    }
    ~OtherClient() {
        stop_ = true;
        if (reader_.joinable()) {
            snd_seq_event_t ev{};
            snd_seq_ev_set_direct(&ev);
            ev.type = SND_SEQ_EVENT_ECHO;
            snd_seq_ev_set_dest(&ev, static_cast<unsigned char>(snd_seq_client_id(seq_)),
                                static_cast<unsigned char>(port_));
            snd_seq_event_output_direct(seq_, &ev);
            reader_.join();
        }
        if (seq_ != nullptr) {
            snd_seq_close(seq_);
        }
    }
    bool ok() const { return seq_ != nullptr; }
    void addDuplexPorts(int n) {
        for (int i = 0; i < n; ++i) {
            const std::string name = "Bench Port " + std::to_string(i);
            snd_seq_create_simple_port(seq_, name.c_str(),
                                       SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                           SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        }
    }
    // A receiving port with a reader thread that counts SysEx bytes.
    void startReceiver() {
        port_ = snd_seq_create_simple_port(seq_, "Bench In",
                                           SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        reader_ = std::thread([this] {
            while (!stop_) {
                snd_seq_event_t* ev = nullptr;
                if (snd_seq_event_input(seq_, &ev) >= 0 && ev != nullptr &&
                    ev->type == SND_SEQ_EVENT_SYSEX) {
                    received_ += ev->data.ext.len;
                }
            }
        });
    }
    MIDIEndpointRef destination() const {
        return alsa::makeRef(alsa::RefKind::Destination, snd_seq_client_id(seq_), port_);
    }
    std::atomic<size_t> received_{0};

private:
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
};

void IdleSession(benchmark::State& state) {
    app();
    OtherClient peer;
    if (!std::filesystem::exists("/dev/snd/seq") || !peer.ok()) {
        state.SkipWithError("no ALSA sequencer (run in the test VM)");
        return;
    }
    peer.addDuplexPorts(32);
    const char* env = std::getenv("VQ_IDLE_SECONDS");
    const int seconds = env != nullptr ? std::max(1, std::atoi(env)) : 10;
    const auto service = std::make_shared<AlsaMidiService>();
    auto midi = ZelMidi::create(service);
    if (std::getenv("VQ_IDLE_NO_SESSION") != nullptr) {
        midi.reset(); // the event loop alone, for comparison
    }
    QCoreApplication::processEvents();
    for (auto _ : state) {
        const double before = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double used = cpuSeconds() - before;
        state.counters["core_percent"] = 100.0 * used / (static_cast<double>(wall.elapsed()) / 1e3);
        state.counters["sources"] = midi ? static_cast<double>(midi->sources().size()) : 0.0;
        state.counters["kernel_reads"] = static_cast<double>(service->directoryReads());
    }
}
BENCHMARK(IdleSession)->Iterations(1)->Unit(benchmark::kSecond);

void SysExToSoftwareReceiver(benchmark::State& state) {
    OtherClient peer;
    if (!std::filesystem::exists("/dev/snd/seq") || !peer.ok()) {
        state.SkipWithError("no ALSA sequencer (run in the test VM)");
        return;
    }
    peer.startReceiver();
    AlsaMidiService service;
    MIDIClientRef client = 0;
    MIDIPortRef output = 0;
    service.clientCreate("ZelMidi MIDI Client", nullptr, nullptr, &client);
    service.outputPortCreate(client, "ZelMidi Output Port", &output);
    // At least F0 and F7; the sizes are the benchmark's own arguments.
    const size_t size = std::max<size_t>(2, static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> sysEx(size, 0x11);
    sysEx[0] = 0xf0;
    sysEx[size - 1] = 0xf7;
    std::vector<uint8_t> buffer(size + 64);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    packetListAdd(list, buffer.size(), packetListInit(list, buffer.size()), 0, size, sysEx.data());
    for (auto _ : state) {
        const size_t target = peer.received_.load() + size;
        if (service.send(output, peer.destination(), list) != noErr) {
            state.SkipWithError("the send failed");
            break;
        }
        while (peer.received_.load() < target) {
            std::this_thread::yield();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    service.clientDispose(client);
}
BENCHMARK(SysExToSoftwareReceiver)->Arg(4096)->Arg(12288)->Arg(65535)->UseRealTime();

} // namespace
