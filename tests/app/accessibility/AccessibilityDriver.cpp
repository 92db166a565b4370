// The window on the simulated MIDI service for accessibility-check.py, driven by lines on
// standard input: "plug" and "unplug" the mixer, "progress" shows the progress window going
// through an update's phases.
#include "AppDelegate.h"
#include "MainWindow.h"
#include "ProgressDLG.h"
#include "SimulatedMidiService.h"

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto service = std::make_shared<SimulatedMidiService>();
    MainWindow window;
    AppDelegate delegate(service, window);
    window.show();
    delegate.applicationDidFinishLaunching();

    MIDIEndpointRef mixer[2] = {0, 0};
    std::shared_ptr<ProgressDLG> progress;
    QFile input; // unbuffered: each line read leaves the next one to wake the notifier
    input.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered);
    QSocketNotifier notifier(0, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        const QByteArray command = input.readLine().trimmed();
        if (input.atEnd() && command.isEmpty()) {
            // An input at its end stays readable and would starve the quit; the progress window
            // refuses to close and would stop it.
            notifier.setEnabled(false);
            progress.reset();
            QApplication::quit();
        } else if (command == "plug") {
            mixer[0] = service->addSource(QStringLiteral("MIRT VQ320 MIDI 1"));
            mixer[1] = service->addDestination(QStringLiteral("MIRT VQ320 MIDI 1"));
        } else if (command == "unplug") {
            service->removeEndpoint(mixer[0]);
            service->removeEndpoint(mixer[1]);
        } else if (command == "progress") {
            progress = ProgressDLG::createOver(&window);
            progress->show();
            progress->setPhaseText(QStringLiteral("Waiting for the loader"));
            for (int percent = 0; percent <= 100; percent += 10) {
                progress->setPhaseProgress(
                    percent < 50 ? QStringLiteral("Erasing") : QStringLiteral("Writing"), percent);
            }
            progress->setPhaseText(QStringLiteral("Done"));
        }
    });
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}
