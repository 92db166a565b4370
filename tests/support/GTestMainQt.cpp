// Test main: the MIDI layer and the application need a Qt event loop on the main thread.
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef VQ_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Tests never need a display, also when the build lists them.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // No test reads or writes this user's own state (the note of an interrupted update).
    const QTemporaryDir state;
    if (state.isValid()) {
        qputenv("XDG_STATE_HOME", state.path().toUtf8());
    }
    TestApplication app(argc, argv);
    TestApplication::setOrganizationName(QStringLiteral("ZelMidiTests"));
    TestApplication::setApplicationName(QStringLiteral("tests"));
    // Numbers in texts follow the locale: the same on every machine.
    QLocale::setDefault(QLocale::c());
    return RUN_ALL_TESTS();
}
