// The one QCoreApplication a MIDI benchmark needs for the session's timer and notices.
#pragma once

#include <QCoreApplication>

inline QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}
