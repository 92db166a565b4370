// The floor of the start-up benchmark: the updater's main window as it is laid out, shown with
// nothing behind it (no MIDI session, no controller, no translations). What the updater takes
// beyond this is its own start-up; what this takes beyond the hello-world is the window's.
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return QApplication::exec();
}
