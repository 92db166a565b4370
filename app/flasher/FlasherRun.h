// One run of the USB DFU flasher (dfu-util) as a child process: a fixed argument list, no shell,
// standard output and standard error through one pipe. The output is judged and excerpted as it
// arrives (FlasherOutputScanner, DfuProgressParser, OutputExcerpt), so a run holds a fixed amount
// of memory whatever the flasher prints. The run ends when the flasher does: what is still in the
// pipe is read for a short moment, then the pipe is closed, even if something the flasher started
// still holds it. A run can be stopped from any thread: the child (and
// its process group) gets SIGTERM, then SIGKILL after a grace period; it is always reaped. The
// child starts with SIGPIPE ignored and no signal blocked: should this program end without
// stopping it, it finishes its write rather than dying on its next progress line.
#pragma once

#include "DfuProgressParser.h"
#include "DfuseImage.h"
#include "FlasherOutputScanner.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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
    // The FlasherVerdict (as an int) of a run that started and ended by itself.
    static constexpr const char* kVerdictKey = "verdict";
    // True when the run was stopped by stop().
    static constexpr const char* kStoppedKey = "stopped";
    // How a run that started ended: its exit status, or the signal that ended it.
    static constexpr const char* kExitCodeKey = "exitCode";
    static constexpr const char* kSignalledKey = "signalled";

    // How the pipe is read; ::read unless a test injects a failure.
    using ReadFunction = ssize_t (*)(int fd, void* buffer, size_t size);
    // Called on the run's thread whenever the flasher's measured progress changes.
    using ProgressHandler = std::function<void(const DfuProgress&)>;

    // `image`: what the check found in the file the flasher writes; the verdict counts its
    // elements and the progress its bytes.
    FlasherRun(QString launchPath, QStringList arguments, const DfuseImage& image);
    ~FlasherRun();
    FlasherRun(const FlasherRun&) = delete;
    FlasherRun& operator=(const FlasherRun&) = delete;

    // The arguments that write the firmware file at `firmwarePath` (passed unchanged) into the
    // one loader at `devicePath` (its bus-port path, dfu-util's -p): only a device in DFU mode
    // with the loader's IDs at that path is a candidate.
    static QStringList argumentsFor(const QString& firmwarePath, const QString& devicePath);
    // `directory`, a slash and the program name.
    static QString launchPathIn(const QString& directory);
    // "Command sent: dfu-util -a 0 -d ,0483:df11 \nCommand Output: <output>\n": the command
    // names only the first four arguments.
    static QString outputText(const QStringList& arguments, const QString& output);

    // Blocks the calling (background) thread: starts the child, reads its output until it has
    // exited (then for kDrainPeriod at most), reaps it, and returns {"err": 0, "outputString":
    // output text, "verdict": ..., "stopped": ...}, or {"err": -1, "outputString": kExceptionText}
    // when the start or the read failed. The output text holds the output's head and tail
    // (OutputExcerpt). Once per run.
    QVariantMap run();

    // Any thread, before or during run(): ends the flasher (SIGTERM to its process group, SIGKILL
    // after the grace period); run() then returns once the child is reaped.
    void stop();
    void setGracePeriod(std::chrono::milliseconds grace) { grace_ = grace; }
    void setProgressHandler(ProgressHandler handler) { onProgress_ = std::move(handler); }
    // Called on the run's thread with the result as soon as it is known, before the output is
    // logged, so that whoever waits for it is not held up by the log.
    void setResultHandler(std::function<void(const QVariantMap&)> handler) {
        onResult_ = std::move(handler);
    }
    void setReadFunction(ReadFunction read) { read_ = read; }
    // A descriptor of this process that the flasher inherits under the same number (the sealed
    // image it opens as /dev/fd/N); -1: none.
    void setInheritedDescriptor(int fd) { inherited_ = fd; }
    // Any thread: the bytes of output read so far, to tell a silent flasher from a busy one.
    uint64_t outputBytes() const { return outputBytes_.load(std::memory_order_relaxed); }
    // How long output is still read once the flasher has exited.
    static constexpr std::chrono::milliseconds kDrainPeriod{200};

    // Runs under way in this process (started and not yet reaped), for tests that must not end
    // while a child or its reading thread still exists.
    static int runningCount();

private:
    // The run itself; the lines to log once the result has been handed on.
    QVariantMap runChild(QStringList* log);

    QString launchPath_;
    QStringList arguments_;
    int imageElements_;
    uint64_t imageBytes_;
    ReadFunction read_;
    ProgressHandler onProgress_;
    std::function<void(const QVariantMap&)> onResult_;
    std::chrono::milliseconds grace_{2000};
    int stopFd_ = -1; // an eventfd: readable once stop() was called
    int inherited_ = -1;
    std::atomic<bool> stopRequested_{false};
    std::atomic<uint64_t> outputBytes_{0};
};
