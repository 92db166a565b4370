// A whole update on the real controller and window (offscreen), with a stand-in flasher and the
// simulated MIDI service, measured from the main thread's point of view:
//   stall_max_ms / stall_p99_ms  the longest and 99th-percentile gap between ticks of a 1 ms
//                                timer on the main thread, over the whole update (alerts
//                                included) and over the wait behind the progress window only;
//                                wall clock, so a loaded machine inflates them
//   busy_cpu_max_ms / _p99_ms    the main thread's own CPU time per stretch of work (event
//                                dispatcher awake to about-to-block) during the wait: what the
//                                code itself costs the window, whatever the machine's load
//   held_MB                      the largest resident-memory growth during the update
//   exit_to_hidden_ms            from the flasher's exit (its own clock stamp) to the progress
//                                window being hidden
// Run: build/dev/bench/bench_appupdateflowbench (Release gives the shipped figures).
#include "AppDelegate.h"
#include "DfuseFile.h"
#include "FlasherRun.h"
#include "MainWindow.h"
#include "ProgressDLG.h"
#include "SimulatedMidiService.h"
#include "UsbDevicePresence.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class AlwaysThere : public UsbDevicePresence {
public:
    bool isPresent(uint16_t, uint16_t) override { return true; }
};

int64_t realtimeNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double residentMegabytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1
               ? fields[1].toDouble() * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1048576.0
               : 0;
}

// Watches the progress window: when it is shown and hidden.
class WindowTimes : public QObject {
public:
    Clock::time_point shown, hidden;
    int64_t hiddenRealtimeNs = 0;
    bool eventFilter(QObject* object, QEvent* event) override {
        if (qobject_cast<ProgressDLG*>(object) != nullptr) {
            if (event->type() == QEvent::Show) {
                shown = Clock::now();
            } else if (event->type() == QEvent::Hide) {
                hidden = Clock::now();
                hiddenRealtimeNs = realtimeNs();
            }
        }
        return false;
    }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

void wholeUpdate(benchmark::State& state, const char* script) {
    QTemporaryDir dir;
    const QString flasher = FlasherRun::launchPathIn(dir.path());
    QFile::copy(QStringLiteral(VQ_FLASHERS_DIR "/") + QLatin1String(script), flasher);
    QFile::setPermissions(flasher, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString firmware = dir.filePath(QStringLiteral("fw.dfu"));
    dfutest::writeBinaryFile(
        firmware.toStdString(),
        dfutest::makeDfuseFile({{0,
                                 "Internal Flash",
                                 {{0x08000000, dfutest::patternBytes(10240, 1)},
                                  {0x08004000, dfutest::patternBytes(10240, 2)}}}}));

    auto sim = std::make_shared<SimulatedMidiService>();
    sim->addSource(QStringLiteral("MIRT VQ320 MIDI 1"));
    sim->addDestination(QStringLiteral("MIRT VQ320 MIDI 1"));
    MainWindow window;
    AppDelegate delegate(sim, window);
    delegate.applicationDidFinishLaunching();
    delegate.setFlasherDirectory(dir.path());
    delegate.setUsbDevicePresence(std::make_shared<AlwaysThere>());
    delegate.locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmware)});

    // Answers every box with its default button (Update, OK).
    QTimer answerer;
    answerer.setInterval(2);
    QObject::connect(&answerer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (box->isVisible()) {
                (box->defaultButton() ? box->defaultButton() : box->buttons().first())->click();
            }
        }
    });
    WindowTimes times;
    qApp->installEventFilter(&times);

    std::vector<double> allGaps, waitGaps, exitToHidden, busyCpu;
    // The main thread's CPU time per stretch of work, while the progress window is shown.
    double awakeCpu = -1;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const auto awake = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake,
                                        [&] { awakeCpu = threadCpuMs(); });
    const auto asleep = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
        const auto now = Clock::now();
        if (awakeCpu >= 0 && now > times.shown &&
            (times.hidden < times.shown || now <= times.hidden)) {
            busyCpu.push_back(threadCpuMs() - awakeCpu);
        }
        awakeCpu = -1;
    });
    double held = 0;
    for (auto _ : state) {
        QFile::remove(dir.filePath(QStringLiteral("exit-time")));
        const double baseline = residentMegabytes();
        double peak = baseline;
        std::vector<std::pair<Clock::time_point, double>> ticks;
        QTimer sampler;
        sampler.setTimerType(Qt::PreciseTimer);
        sampler.setInterval(1);
        Clock::time_point last = Clock::now();
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            ticks.emplace_back(now, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            peak = std::max(peak, residentMegabytes());
        });
        answerer.start();
        sampler.start();
        delegate.sendFile(nullptr);
        sampler.stop();
        answerer.stop();
        delegate.waitForSends();

        for (const auto& [at, gap] : ticks) {
            allGaps.push_back(gap);
            if (at > times.shown && at <= times.hidden + std::chrono::milliseconds(1)) {
                waitGaps.push_back(gap);
            }
        }
        held = std::max(held, peak - baseline);
        QFile stamp(dir.filePath(QStringLiteral("exit-time")));
        if (stamp.open(QIODevice::ReadOnly)) {
            const int64_t exitNs = stamp.readAll().trimmed().toLongLong();
            exitToHidden.push_back(static_cast<double>(times.hiddenRealtimeNs - exitNs) / 1e6);
        }
    }
    QObject::disconnect(awake);
    QObject::disconnect(asleep);
    qApp->removeEventFilter(&times);
    delegate.applicationWillTerminate();

    state.counters["stall_max_ms"] = *std::max_element(allGaps.begin(), allGaps.end()) - 1.0;
    state.counters["stall_p99_ms"] = percentile(allGaps, 0.99) - 1.0;
    state.counters["wait_stall_max_ms"] =
        waitGaps.empty() ? 0 : *std::max_element(waitGaps.begin(), waitGaps.end()) - 1.0;
    state.counters["wait_stall_p99_ms"] = percentile(waitGaps, 0.99) - 1.0;
    state.counters["busy_cpu_max_ms"] =
        busyCpu.empty() ? 0 : *std::max_element(busyCpu.begin(), busyCpu.end());
    state.counters["busy_cpu_p99_ms"] = percentile(busyCpu, 0.99);
    state.counters["held_MB"] = held;
    state.counters["exit_to_hidden_ms"] =
        exitToHidden.empty() ? -1 : *std::max_element(exitToHidden.begin(), exitToHidden.end());
}

void NormalUpdate(benchmark::State& state) {
    wholeUpdate(state, "timed-success.sh");
}
void FiftyMegabytesOfOutput(benchmark::State& state) {
    wholeUpdate(state, "timed-huge.sh");
}

BENCHMARK(NormalUpdate)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(FiftyMegabytesOfOutput)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
