// One run of the USB DFU flasher (dfu-util) as a child process: a fixed argument list, no shell,
// standard output and standard error through one pipe read to its end, the child reaped.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstddef>
#include <sys/types.h>

class FlasherRun {
public:
    // The name of the flasher program, as placed next to the application's executable.
    static constexpr const char* kProgramName = "dfu-util";
    // The output text of a run that could not be started or whose output could not be read.
    static constexpr const char* kExceptionText = "Sorry, the command produced an exception";
    // The result entries handed to AppDelegate::taskEnded.
    static constexpr const char* kErrKey = "err";
    static constexpr const char* kOutputStringKey = "outputString";

    // How the pipe is read; ::read unless a test injects a failure.
    using ReadFunction = ssize_t (*)(int fd, void* buffer, size_t size);

    FlasherRun(QString launchPath, QStringList arguments);

    // The eight arguments for the firmware file at `firmwarePath`, which is passed unchanged.
    static QStringList argumentsFor(const QString& firmwarePath);
    // `directory`, a slash and the program name.
    static QString launchPathIn(const QString& directory);
    // "Command sent: dfu-util -a 0 -d 0483:df11 \nCommand Output: <output>\n": the command
    // names only the first four arguments.
    static QString outputText(const QStringList& arguments, const QString& output);

    // Blocks the calling (background) thread: starts the child, reads its combined output to
    // end of file, reaps it and returns {"err": 0, "outputString": output text}, or
    // {"err": -1, "outputString": kExceptionText} when the start or the read failed. Logs
    // "command returned:\n<output>" after a successful read. The exit status is not used.
    QVariantMap run() const;

    void setReadFunction(ReadFunction read) { read_ = read; }

    // Runs under way in this process (started and not yet reaped), for tests that must not end
    // while a child or its reading thread still exists.
    static int runningCount();

    // The log shows at most this many characters of the output (head and tail); the output text
    // always holds all of it.
    static constexpr qsizetype kLogLimit = 1 << 20;

private:
    QString launchPath_;
    QStringList arguments_;
    ReadFunction read_;
};
