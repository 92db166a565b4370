// The MIDI layer on the real kernel sequencer (run it in the test VM, tools/vm/run-in-vm.sh):
// - IdleSession: the CPU a session uses, idle, with 32 two-way ports present, as a share of one
//   core over VQ_IDLE_SECONDS (default 10) of its event loop, rescan ticks included.
// - SysExToSoftwareReceiver: bytes per second of one SysEx sent to a software receiver that
//   reads as fast as it can, until the last byte arrived; SysExThroughRtMidi: the same through
//   RtMidi's ALSA output, for comparison (when RtMidi is installed).
//   VQ_IDLE_NO_SESSION=1 measures the event loop alone, VQ_IDLE_EMPTY_TICK=1 adds an empty
//   one-second timer to it.
// Without /dev/snd/seq every benchmark reports an error and measures nothing.
#include "BenchApp.h"
#include "ZelMidi.h"
#include "alsa/AlsaMidiService.h"
#include "alsa/AlsaRefs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#ifdef VQ_HAVE_RTMIDI
#include <RtMidi.h>
#endif
#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <time.h>
#include <vector>

namespace {

// Precise run times of the scheduler (getrusage's split is sampled at the tick).
double clockSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double cpuSeconds() {
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}
double mainThreadCpuSeconds() {
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
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
    // A receiving port with a reader thread that counts SysEx bytes; `pool` cells for its input
    // (0: the kernel's default).
    void startReceiver(int pool) {
        if (pool > 0) {
            snd_seq_set_client_pool_input(seq_, static_cast<size_t>(pool));
        }
        port_ = snd_seq_create_simple_port(seq_, "Bench In",
                                           SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        reader_ = std::thread([this] {
            while (!stop_) {
                snd_seq_event_t* ev = nullptr;
                if (snd_seq_event_input(seq_, &ev) >= 0 && ev != nullptr &&
                    ev->type == SND_SEQ_EVENT_SYSEX) {
                    std::lock_guard lock(mutex_);
                    received_ += ev->data.ext.len;
                    grew_.notify_all();
                }
            }
        });
    }
    MIDIEndpointRef destination() const {
        return alsa::makeRef(alsa::RefKind::Destination, snd_seq_client_id(seq_), port_);
    }
    size_t received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // Waits (without spinning, the sender and the reader share two processors) until `target`
    // bytes arrived in all; false when they did not by `deadline`.
    bool waitReceived(size_t target, std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return grew_.wait_until(lock, deadline, [&] { return received_ >= target; });
    }
    // The cells the kernel keeps for this client's input (its pool), as another program has it.
    int inputPool() const {
        snd_seq_client_pool_t* pool = nullptr;
        snd_seq_client_pool_alloca(&pool);
        snd_seq_get_client_pool(seq_, pool);
        return static_cast<int>(snd_seq_client_pool_get_input_pool(pool));
    }

private:
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable grew_;
    size_t received_ = 0;
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
    QTimer emptyTick; // with VQ_IDLE_EMPTY_TICK: the loop woken once a second for nothing
    if (std::getenv("VQ_IDLE_EMPTY_TICK") != nullptr) {
        QObject::connect(&emptyTick, &QTimer::timeout, [] {});
        emptyTick.start(1000);
    }
    QCoreApplication::processEvents();
    for (auto _ : state) {
        const double mainBefore = mainThreadCpuSeconds();
        const double before = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double used = cpuSeconds() - before;
        const double mainUsed = mainThreadCpuSeconds() - mainBefore;
        const double wallSeconds = static_cast<double>(wall.elapsed()) / 1e3;
        state.counters["core_percent"] = 100.0 * used / wallSeconds;
        state.counters["main_thread_percent"] = 100.0 * mainUsed / wallSeconds;
        state.counters["sources"] = midi ? static_cast<double>(midi->sources().size()) : 0.0;
        state.counters["kernel_reads"] = static_cast<double>(service->directoryReads());
    }
}
BENCHMARK(IdleSession)->Iterations(1)->Unit(benchmark::kSecond);

// F0, `size` - 2 data bytes, F7 (at least F0 F7).
std::vector<uint8_t> sysExOf(size_t size) {
    std::vector<uint8_t> sysEx(std::max<size_t>(2, size), 0x11);
    sysEx.front() = 0xf0;
    sysEx.back() = 0xf7;
    return sysEx;
}

// Runs one send per iteration and waits for its last byte at the peer; an error, and no rate,
// when the send fails or the message does not arrive whole within two seconds.
template <typename Send>
void timeSysExSends(benchmark::State& state, OtherClient& peer, size_t size, const Send& send) {
    state.counters["receiver_pool"] = peer.inputPool();
    for (auto _ : state) {
        const size_t target = peer.received() + size;
        if (!send()) {
            state.SkipWithError("the send failed");
            return;
        }
        if (!peer.waitReceived(target,
                               std::chrono::steady_clock::now() + std::chrono::seconds(2))) {
            state.SkipWithError("the message did not arrive whole");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// Message bytes and the receiver's input pool: the kernel's default (200 cells) and the most it
// allows (2000).
void sysExSizesAndPools(benchmark::internal::Benchmark* b) {
    b->ArgNames({"bytes", "pool"});
    for (const int pool : {200, 2000}) {
        for (const int bytes : {4096, 12288, 65535}) {
            b->Args({bytes, pool});
        }
    }
}

void SysExToSoftwareReceiver(benchmark::State& state) {
    OtherClient peer;
    if (!std::filesystem::exists("/dev/snd/seq") || !peer.ok()) {
        state.SkipWithError("no ALSA sequencer (run in the test VM)");
        return;
    }
    peer.startReceiver(static_cast<int>(state.range(1)));
    AlsaMidiService service;
    MIDIClientRef client = 0;
    MIDIPortRef output = 0;
    service.clientCreate("ZelMidi MIDI Client", nullptr, nullptr, &client);
    service.outputPortCreate(client, "ZelMidi Output Port", &output);
    const std::vector<uint8_t> sysEx = sysExOf(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> buffer(sysEx.size() + 64);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    packetListAdd(list, buffer.size(), packetListInit(list, buffer.size()), 0, sysEx.size(),
                  sysEx.data());
    timeSysExSends(state, peer, sysEx.size(),
                   [&] { return service.send(output, peer.destination(), list) == noErr; });
    service.clientDispose(client);
}
BENCHMARK(SysExToSoftwareReceiver)->Apply(sysExSizesAndPools)->UseRealTime();

#ifdef VQ_HAVE_RTMIDI
// The same through RtMidi's ALSA output, for comparison.
void SysExThroughRtMidi(benchmark::State& state) {
    OtherClient peer;
    if (!std::filesystem::exists("/dev/snd/seq") || !peer.ok()) {
        state.SkipWithError("no ALSA sequencer (run in the test VM)");
        return;
    }
    peer.startReceiver(static_cast<int>(state.range(1)));
    try {
        RtMidiOut out(RtMidi::LINUX_ALSA, "RtMidi Bench");
        unsigned int port = out.getPortCount();
        for (unsigned int i = 0; i < out.getPortCount(); ++i) {
            if (out.getPortName(i).find("Bench In") != std::string::npos) {
                port = i;
            }
        }
        if (port == out.getPortCount()) {
            state.SkipWithError("RtMidi does not list the receiver");
            return;
        }
        out.openPort(port);
        const std::vector<uint8_t> sysEx = sysExOf(static_cast<size_t>(state.range(0)));
        timeSysExSends(state, peer, sysEx.size(), [&] {
            out.sendMessage(sysEx.data(), sysEx.size());
            return true; // RtMidi only prints its send errors
        });
    } catch (const RtMidiError& e) {
        state.SkipWithError(e.getMessage().c_str());
    }
}
BENCHMARK(SysExThroughRtMidi)->Apply(sysExSizesAndPools)->UseRealTime();
#endif

} // namespace
