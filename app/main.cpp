// Entry point: the command line, the application object, its translations, the main window and
// the one controller.
#include "AppDelegate.h"
#include "CommandLine.h"
#include "FirstFrame.h"
#include "FlasherRun.h"
#include "MainWindow.h"
#include "SystemLog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QUrl>
#include <cstdio>

namespace {

// The title every window of the program carries (Qt appends it to the others' titles).
const char* const kDisplayName = QT_TRANSLATE_NOOP("MainWindow", "Mirt VQ320 Firmware Updater");

CommandLine readCommandLine(int& argc, char** argv) {
    // A core application only: --help and --version must not need a display.
    const QCoreApplication core(argc, argv);
    return CommandLine::parse(QCoreApplication::arguments(), QDir::currentPath());
}

// Logs which flasher an update will run, so that a missing one shows before any update.
void logFlasher(const AppDelegate& delegate) {
    const QFileInfo flasher(FlasherRun::launchPathIn(delegate.flasherDirectory()));
    if (flasher.isExecutable()) {
        systemLog(QStringLiteral("Flasher: %1 (%2)")
                      .arg(flasher.absoluteFilePath(), flasher.canonicalFilePath()));
    } else {
        systemLog(QStringLiteral("Flasher missing: %1 (updates cannot run)")
                      .arg(flasher.absoluteFilePath()));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setOrganizationName(QStringLiteral("Mirt"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("mirt.it"));
    QCoreApplication::setApplicationName(QStringLiteral("vq320-updater"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_STRING));

    const CommandLine command = readCommandLine(argc, argv);
    if (!command.run) {
        std::fputs(command.output.toLocal8Bit().constData(), stdout);
        std::fputs(command.error.toLocal8Bit().constData(), stderr);
        return command.exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("it.mirt.VQ320Updater"));

    QTranslator translator;
    if (MainWindow::loadTranslator(translator, QLocale::system())) {
        QApplication::installTranslator(&translator);
    }
    // Qt's own texts (e.g. the file dialog's Cancel), where the system has them.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }
    QApplication::setApplicationDisplayName(
        QCoreApplication::translate("MainWindow", kDisplayName));

    MainWindow window;
    AppDelegate delegate(MidiService::platformDefault(), window);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    logFlasher(delegate);

    window.show();
    // Start-up runs right behind the window's first frame: the MIDI session (ALSA's configuration,
    // the client, the first scan) is nothing the first frame shows, and the status line follows
    // in the next one. A file named on the command line ("Open with") is then chosen as if
    // through the file dialog.
    runAfterFirstFrame(window, [&delegate, path = command.firmwarePath] {
        delegate.applicationDidFinishLaunching();
        if (!path.isEmpty()) {
            delegate.locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(path)});
        }
    });
    return QApplication::exec();
}
