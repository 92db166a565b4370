// Takes the README's screenshots: the real window and controller on the simulated MIDI service,
// with a stand-in flasher, driven through a whole update: the main window, the progress window
// and the first outcome alert. Run under an X server (tools/take-screenshots.sh uses Xvfb).
// Usage: screenshot_tour OUT_DIR
#include "AppDelegate.h"
#include "DfuseFile.h"
#include "MainWindow.h"
#include "ProgressDLG.h"
#include "SimulatedMidiService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdio>

namespace {

// Prints what dfu-util prints for a one-element DfuSe image, slowly enough for the progress
// window to be seen.
constexpr const char* kStandInFlasher = R"(#!/bin/sh
echo "dfu-util 0.11"
echo "Opening DFU capable USB device..."
echo "Device ID 0483:df11"
echo "Parsing element 1, address = 0x08000000, size = 16384"
i=0
while [ $i -le 10 ]; do
    sleep 0.2
    printf 'Download\t[====      ] %3d%% %12d bytes\r' $((i * 10)) $((i * 1638))
    i=$((i + 1))
done
printf '\nDownload done.\nDone parsing DfuSe file\nSubmitting leave request...\n'
)";

// What a person sees of `top` over the main window: the screen's pixels of both, so that the
// placement of a dialog over the window shows too.
bool saveScreen(const QWidget& window, const QWidget* top, const QString& path) {
    QRect area = window.frameGeometry();
    if (top != nullptr) {
        area = area.united(top->frameGeometry());
    }
    QScreen* screen = window.screen();
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool saved = !shot.isNull() && shot.save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "FAILED to save", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Mirt VQ320 Firmware Updater"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshot_tour OUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    // A fixed folder, so that the path in the picture stays the same from run to run.
    QDir work(QDir::temp().filePath(QStringLiteral("Firmware")));
    work.removeRecursively();
    QDir().mkpath(work.path());
    struct Cleanup {
        QDir dir;
        ~Cleanup() { dir.removeRecursively(); }
    } cleanup{work};

    QFile flasher(work.filePath(QStringLiteral("dfu-util")));
    if (!flasher.open(QIODevice::WriteOnly) || flasher.write(kStandInFlasher) < 0) {
        return 1;
    }
    flasher.close();
    flasher.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString firmware = work.filePath(QStringLiteral("VQ320-firmware-2.1.dfu"));
    // A real DfuSe image, as the mixer's firmware comes.
    dfutest::writeBinaryFile(
        firmware.toStdString(),
        dfutest::makeDfuseFile({{.alternateSetting = 0,
                                 .name = "Internal Flash",
                                 .elements = {{0x08000000, std::vector<uint8_t>(16384, 0x5a)}}}}));

    auto service = std::make_shared<SimulatedMidiService>();
    service->addSource(QStringLiteral("MIRT VQ320 MIDI 1"));
    service->addDestination(QStringLiteral("MIRT VQ320 MIDI 1"));

    MainWindow window;
    AppDelegate delegate(service, window);
    delegate.setFlasherDirectory(work.path());
    delegate.setPassPeriod(std::chrono::milliseconds(20));
    // No loader on this machine's bus: a short look, then the stand-in flasher runs.
    delegate.setLoaderWait(std::chrono::milliseconds(100), std::chrono::milliseconds(20));
    window.move(200, 150);
    window.show();
    delegate.applicationDidFinishLaunching();
    delegate.locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmware)});

    int failures = 0;
    bool progressTaken = false;
    bool outcomeTaken = false;
    // Answers every alert (after taking the first outcome) and takes the progress window once
    // its bar has moved.
    QTimer driver;
    driver.setInterval(50);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* progress = qobject_cast<ProgressDLG*>(modal)) {
            if (!progressTaken && progress->progressValue() >= 0.3f) {
                progressTaken = true;
                failures +=
                    saveScreen(window, progress, out + QStringLiteral("/progress.png")) ? 0 : 1;
            }
        } else if (auto* alert = qobject_cast<QMessageBox*>(modal)) {
            const bool isOutcome = !alert->text().contains(QStringLiteral("replug")) &&
                                   !alert->text().contains(QStringLiteral("with this firmware"));
            if (isOutcome && !outcomeTaken) {
                outcomeTaken = true;
                failures += saveScreen(window, alert, out + QStringLiteral("/outcome.png")) ? 0 : 1;
            }
            if (alert->defaultButton() != nullptr) {
                alert->defaultButton()->click(); // Update in the confirmation
            } else if (!alert->buttons().isEmpty()) {
                alert->buttons().first()->click();
            }
        }
    });

    QTimer::singleShot(300, [&] {
        failures += saveScreen(window, nullptr, out + QStringLiteral("/main-window.png")) ? 0 : 1;
        driver.start();
        delegate.sendFile(window.sendFile());
        driver.stop();
        QApplication::quit();
    });
    QApplication::exec();
    delegate.applicationWillTerminate();
    if (!progressTaken || !outcomeTaken) {
        std::fprintf(stderr, "the update did not show %s\n",
                     progressTaken ? "an outcome" : "the progress window");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
