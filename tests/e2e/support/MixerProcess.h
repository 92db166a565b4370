// A mixer played by a separate program (the stand-in sequencer client or the emulated USB
// mixer), or the updater run as a program: started with its arguments, read line by line from
// its standard output, and told to go by closing its standard input (or by a signal). Started
// with posix_spawn, as the updater starts its flasher:
// forking a threaded process (QProcess) is what ThreadSanitizer cannot follow.
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <sys/types.h>

class MixerProcess {
public:
    MixerProcess() = default;
    MixerProcess(const MixerProcess&) = delete;
    MixerProcess& operator=(const MixerProcess&) = delete;
    ~MixerProcess();

    // Starts `program` and waits (running the event loop) until a line begins with `ready`.
    bool start(const QString& program, const QStringList& arguments, const QString& ready,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Closes its input and waits for it to end; its wait status (-1 when none was running).
    int stop();
    // Sends it a signal (the updater run as a program takes SIGTERM as a user's kill).
    void kill(int signal);

    // Everything it has printed so far.
    QString output();
    // Its lines that begin with `prefix`, in order.
    QStringList lines(const QString& prefix);

private:
    pid_t pid_ = 0;
    int input_ = -1;
    int output_ = -1;
    QString out_;
};
