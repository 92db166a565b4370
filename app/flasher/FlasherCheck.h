// Whether the flasher beside the executable exists and runs: `dfu-util -V` must start, print its
// name and exit 0. Asked before the mixer is restarted, since a restarted mixer can only be
// written by a working flasher.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QVariantMap>
#include <chrono>

class FlasherCheck {
    Q_DECLARE_TR_FUNCTIONS(FlasherCheck)

public:
    struct Result {
        bool ok = false;
        QString version; // the first line it printed, e.g. "dfu-util 0.11" (when ok)
        QString problem; // what is wrong, for the user (when not ok)
    };

    // Runs `<launchPath> -V` on a thread of its own and waits for it in a local event loop (the
    // windows keep repainting), ending it after `limit`.
    static Result run(const QString& launchPath,
                      std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The verdict on a finished run's result (FlasherRun's map). Pure.
    static Result judge(const QString& launchPath, const QVariantMap& result);
};
