// The window on the simulated MIDI service, driven line by line from standard input, for the
// accessibility check (accessibility-check.py) that listens on the real AT-SPI bus:
//   plug, unplug   the mixer's source and destination appear or go
//   progress       the progress window with the phases an update shows
// Each command is answered "ok" once it is done.
#include "AppDelegate.h"
#include "MainWindow.h"
#include "ProgressDLG.h"
#include "SimulatedMidiService.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto service = std::make_shared<SimulatedMidiService>();
    MainWindow window;
    AppDelegate delegate(service, window);
    window.show();
    delegate.applicationDidFinishLaunching();

    MIDIEndpointRef source = 0;
    MIDIEndpointRef destination = 0;
    std::shared_ptr<ProgressDLG> progress;
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            // An input at its end stays readable: quiet it, or it starves the quit event.
            input.setEnabled(false);
            progress.reset(); // it refuses to close, and so would stop the quit
            QApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command == "plug") {
                source = service->addSource(QStringLiteral("MIRT VQ320 MIDI 1"));
                destination = service->addDestination(QStringLiteral("MIRT VQ320 MIDI 1"));
            } else if (command == "unplug") {
                service->removeEndpoint(source);
                service->removeEndpoint(destination);
            } else if (command == "progress") {
                progress = ProgressDLG::createOver(&window);
                progress->show();
                progress->setPhaseText(QStringLiteral("Waiting for the loader"));
                for (int percent = 0; percent <= 40; percent += 10) {
                    progress->setPhaseProgress(QStringLiteral("Erasing"), percent);
                    progress->setProgressValue(static_cast<float>(percent) / 100.0f);
                }
                for (int percent = 50; percent <= 100; percent += 10) {
                    progress->setPhaseProgress(QStringLiteral("Writing"), percent);
                    progress->setProgressValue(static_cast<float>(percent) / 100.0f);
                }
                progress->setPhaseText(QStringLiteral("Done"));
            }
            std::printf("ok\n");
            std::fflush(stdout);
        }
    });
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}
