// The program's command line: --help, --version and an optional firmware file to preselect.
// Read before the window exists, so that --help and --version work without a display.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    // Exit status for a command line the program refuses.
    static constexpr int kUsageError = 2;

    // Whether to open the window, or to print `output`/`error` and exit with `exitCode`.
    bool run = true;
    int exitCode = 0;
    QString output; // for standard output (help, version)
    QString error;  // for standard error
    // The firmware file named on the command line, absolute; empty when none.
    QString firmwarePath;

    // `arguments` as QCoreApplication::arguments() gives them, the program first; a relative
    // firmware path is taken from `workingDirectory`. Needs a QCoreApplication for the usage text.
    static CommandLine parse(const QStringList& arguments, const QString& workingDirectory);
};
