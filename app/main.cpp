// Entry point: the application object, its translations, the main window and the one controller.
#include "AppDelegate.h"
#include "MainWindow.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Mirt"));
    QApplication::setOrganizationDomain(QStringLiteral("mirt.it"));
    QApplication::setApplicationName(QStringLiteral("VQ320 Firmware Updater"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_STRING));
    QApplication::setDesktopFileName(QStringLiteral("vq320-updater"));

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

    MainWindow window;
    AppDelegate delegate(MidiService::platformDefault(), window);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });

    window.show();
    // Start-up runs once the event loop runs, with the window on screen.
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
