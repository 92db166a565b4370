// Hot-plug latency on the real sequencer (run it in the test VM, see bench/README.md): a port
// named like the mixer's appears, and the time until the updater's status text says the mixer is
// connected is set against the time a plain ALSA client, listening to the same announcement,
// hears of it. The same for the port's removal. Prints medians and the 90th percentiles, and the
// floor of a program that keeps Qt off its receive thread: the plain client's news handed to the
// main thread's event loop as the updater's inbox does it (a write to an eventfd it watches).
#include "AppDelegate.h"
#include "MainWindow.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A client that does nothing but hear the system's announcements, as any ALSA program would.
class PlainListener {
public:
    PlainListener() {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, 0) < 0) {
            seq_ = nullptr;
            return;
        }
        snd_seq_set_client_name(seq_, "plain listener");
        const int port = snd_seq_create_simple_port(
            seq_, "announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
            SND_SEQ_PORT_TYPE_APPLICATION);
        snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        QObject::connect(&handed_, &QSocketNotifier::activated, [this] {
            uint64_t n = 0;
            [[maybe_unused]] const ssize_t r = ::read(wake_, &n, sizeof n);
            if (handedAt_ == Clock::time_point{}) {
                handedAt_ = Clock::now();
            }
        });
        thread_ = std::thread([this] { listen(); });
    }
    ~PlainListener() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (seq_ != nullptr) {
            snd_seq_close(seq_);
        }
        ::close(wake_);
    }
    bool ok() const { return seq_ != nullptr; }
    // The moment the last start (exit) of a port of `client` was heard; zero until then.
    Clock::time_point started() const { return started_.load(); }
    Clock::time_point exited() const { return exited_.load(); }
    // The moment the main thread's event loop first heard of either from the listening thread.
    Clock::time_point handed() const { return handedAt_; }
    void forgetHanded() { handedAt_ = Clock::time_point{}; }
    void expectClient(int client) {
        client_ = client;
        handedAt_ = Clock::time_point{};
        started_ = Clock::time_point{};
        exited_ = Clock::time_point{};
    }

private:
    void listen() {
        pollfd fd{};
        snd_seq_poll_descriptors(seq_, &fd, 1, POLLIN);
        while (!stop_) {
            if (::poll(&fd, 1, 50) <= 0) {
                continue;
            }
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(seq_, &event) >= 0 && event != nullptr) {
                const auto now = Clock::now();
                if (event->data.addr.client == client_) {
                    if (event->type == SND_SEQ_EVENT_PORT_START) {
                        started_ = now;
                        handOver();
                    } else if (event->type == SND_SEQ_EVENT_PORT_EXIT) {
                        exited_ = now;
                        handOver();
                    }
                }
                if (snd_seq_event_input_pending(seq_, 0) <= 0) {
                    break;
                }
            }
        }
    }

    void handOver() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t r = ::write(wake_, &one, sizeof one);
    }

    snd_seq_t* seq_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> client_{-1};
    std::atomic<Clock::time_point> started_{};
    std::atomic<Clock::time_point> exited_{};
    const int wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    QSocketNotifier handed_{wake_, QSocketNotifier::Read};
    Clock::time_point handedAt_{}; // main thread only
};

struct Stats {
    double median;
    double p90;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 9 / 10)]};
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    QApplication app(argc, argv);
    MainWindow window;
    AppDelegate delegate(MidiService::platformDefault(), window);
    window.show();
    delegate.applicationDidFinishLaunching();
    PlainListener plain;
    snd_seq_t* mixer = nullptr;
    if (!plain.ok() || snd_seq_open(&mixer, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        std::fprintf(stderr, "no ALSA sequencer: run this in the test VM (bench/README.md)\n");
        return 77;
    }
    snd_seq_set_client_name(mixer, "MIRT VQ320");
    plain.expectClient(snd_seq_client_id(mixer));
    const QString connected = QString::fromLatin1(AppDelegate::kDeviceConnectedText);
    const QString notFound = QString::fromLatin1(AppDelegate::kDeviceNotFoundText);

    // Runs the event loop until the status reads `text`; the moment is taken at the end of the
    // pass that set it (an upper bound of the moment it was set). Between passes the loop sleeps
    // until an event comes, so it takes no processor time from the service's threads.
    QTimer tick; // wakes the loop now and then, so the deadline is checked
    tick.start(100);
    const auto waitForStatus = [&](const QString& text) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (window.deviceFoundText()->text() != text) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "the status never read \"%s\"\n", qPrintable(text));
                std::exit(1);
            }
        }
        return Clock::now();
    };
    waitForStatus(notFound);
    // The moment the plain client's news reached the main thread's event loop.
    const auto handed = [&] {
        while (plain.handed() == Clock::time_point{}) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        const auto at = plain.handed();
        plain.forgetHanded();
        return at;
    };

    std::vector<double> appPlug, plainPlug, handedPlug, appUnplug, plainUnplug, handedUnplug;
    for (int i = 0; i < rounds; ++i) {
        const auto plugged = Clock::now();
        const int port =
            snd_seq_create_simple_port(mixer, "MIRT VQ320 MIDI 1",
                                       SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                           SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
        const auto shown = waitForStatus(connected);
        while (plain.started() == Clock::time_point{}) {
            std::this_thread::yield();
        }
        appPlug.push_back(ms(shown - plugged));
        plainPlug.push_back(ms(plain.started() - plugged));
        handedPlug.push_back(ms(handed() - plugged));

        const auto unplugged = Clock::now();
        snd_seq_delete_simple_port(mixer, port);
        const auto gone = waitForStatus(notFound);
        while (plain.exited() == Clock::time_point{}) {
            std::this_thread::yield();
        }
        appUnplug.push_back(ms(gone - unplugged));
        plainUnplug.push_back(ms(plain.exited() - unplugged));
        handedUnplug.push_back(ms(handed() - unplugged));
        plain.expectClient(snd_seq_client_id(mixer));
    }
    snd_seq_close(mixer);

    const auto row = [](const char* what, const std::vector<double>& updater,
                        const std::vector<double>& plainClient, const std::vector<double>& hop) {
        const Stats a = stats(updater);
        const Stats p = stats(plainClient);
        const Stats h = stats(hop);
        std::printf(
            "%-8s updater status %7.2f ms (p90 %7.2f)   plain client %7.2f ms (p90 %7.2f)"
            "   difference of medians %6.2f ms\n"
            "%-8s plain client's news on the main thread %7.2f ms (p90 %7.2f): the hand-over"
            " alone %6.2f ms\n",
            what, a.median, a.p90, p.median, p.p90, a.median - p.median, "", h.median, h.p90,
            h.median - p.median);
    };
    std::printf("hot-plug to status text, %d rounds (goal: within 2 ms of the plain client)\n",
                rounds);
    row("plug", appPlug, plainPlug, handedPlug);
    row("unplug", appUnplug, plainUnplug, handedUnplug);
    delegate.applicationWillTerminate();
    return 0;
}
