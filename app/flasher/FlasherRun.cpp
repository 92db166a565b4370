#include "FlasherRun.h"

#include "OutputExcerpt.h"
#include "SystemLog.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> runsUnderWay{0};

class RunningToken {
public:
    RunningToken() { runsUnderWay.fetch_add(1); }
    ~RunningToken() { runsUnderWay.fetch_sub(1); }
    RunningToken(const RunningToken&) = delete;
    RunningToken& operator=(const RunningToken&) = delete;
};

// Closes its descriptor when it goes out of scope, so no path leaks one.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

class FileActions {
public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

// The child leads a process group of its own, so stopping it reaches whatever it started. It
// starts with no signal blocked and SIGTERM and SIGINT at their defaults, whatever this process
// does with them, so that a stop reaches it.
class SpawnAttributes {
public:
    SpawnAttributes() {
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGINT);
        ok_ = posix_spawnattr_init(&attr_) == 0 && posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
              posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
              posix_spawnattr_setsigdefault(&attr_, &defaults) == 0 &&
              posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                   POSIX_SPAWN_SETSIGDEF) == 0;
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t* get() { return &attr_; }

private:
    posix_spawnattr_t attr_{};
    bool ok_ = false;
};

// An ignored signal stays ignored in a spawned child, and only so can the flasher outlive a
// closed pipe: should this program end without stopping it (killed outright), dfu-util then
// gets EPIPE on its next progress line instead of dying half-way through the write. This
// program itself has no use for SIGPIPE either: a write to a closed pipe fails with EPIPE.
void ignoreSigpipe() {
    static const bool ignored = [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
    }();
    (void)ignored;
}

QVariantMap failedResult() {
    QVariantMap result;
    result.insert(QString::fromLatin1(FlasherRun::kErrKey), -1);
    result.insert(QString::fromLatin1(FlasherRun::kOutputStringKey),
                  QString::fromLatin1(FlasherRun::kExceptionText));
    return result;
}

// Whether the progress moved enough to be worth telling the window (a tenth of a percent).
bool worthReporting(const DfuProgress& now, const DfuProgress& told) {
    return now.phase != told.phase || now.element != told.element ||
           now.elements != told.elements || now.measured != told.measured ||
           std::fabs(now.fraction - told.fraction) >= 0.001f;
}

} // namespace

FlasherRun::FlasherRun(QString launchPath, QStringList arguments, const DfuseImage& image)
    : launchPath_(std::move(launchPath)), arguments_(std::move(arguments)),
      imageElements_(image.elementCount()), imageBytes_(image.elementBytes()), read_(::read),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FlasherRun::~FlasherRun() {
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

QStringList FlasherRun::argumentsFor(const QString& firmwarePath, const QString& devicePath) {
    // ",0483:df11" names DFU-mode IDs: run-time IDs alone would leave every device already in
    // DFU mode, of any vendor, a candidate.
    return {QStringLiteral("-a"), QStringLiteral("0"),
            QStringLiteral("-d"), QStringLiteral(",0483:df11"),
            QStringLiteral("-p"), devicePath,
            QStringLiteral("-s"), QStringLiteral(":leave"),
            QStringLiteral("-D"), firmwarePath};
}

QString FlasherRun::launchPathIn(const QString& directory) {
    return directory + QLatin1Char('/') + QLatin1String(kProgramName);
}

QString FlasherRun::outputText(const QStringList& arguments, const QString& output) {
    // Concatenation, not QString::arg: the flasher's text may hold %-sequences of its own.
    const QString command = arguments.mid(0, 4).join(QLatin1Char(' '));
    return QLatin1String("Command sent: ") + QLatin1String(kProgramName) + QLatin1Char(' ') +
           command + QLatin1String(" \nCommand Output: ") + output + QLatin1Char('\n');
}

int FlasherRun::runningCount() {
    return runsUnderWay.load();
}

void FlasherRun::stop() {
    stopRequested_.store(true);
    if (stopFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
    }
}

QVariantMap FlasherRun::run() {
    const RunningToken running;
    QStringList log;
    const QVariantMap result = runChild(&log);
    if (onResult_) {
        onResult_(result);
    }
    for (const QString& line : log) {
        systemLog(line);
    }
    return result;
}

QVariantMap FlasherRun::runChild(QStringList* log) {
    if (stopFd_ < 0) {
        return failedResult();
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return failedResult();
    }
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);
    if (writeEnd.get() <= STDERR_FILENO) {
        // With 0..2 closed in this process the pipe could land on 1 or 2, where dup2 onto itself
        // would leave the close-on-exec flag set: move it out of the way first.
        const int moved = ::fcntl(writeEnd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) {
            return failedResult();
        }
        writeEnd.reset(moved);
    }

    FileActions actions;
    SpawnAttributes attributes;
    if (!actions.ok() || !attributes.ok() ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO) != 0) {
        return failedResult();
    }
    // A dup2 onto itself clears close-on-exec in the child only: this process keeps its flag, so
    // no other child it starts inherits the descriptor.
    if (inherited_ > STDERR_FILENO &&
        posix_spawn_file_actions_adddup2(actions.get(), inherited_, inherited_) != 0) {
        return failedResult();
    }

    // argv[0] is the launch path; then the arguments, one entry each, no shell.
    const QByteArray path = QFile::encodeName(launchPath_);
    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<std::size_t>(arguments_.size()) + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments_) {
        encoded.push_back(QFile::encodeName(argument));
    }
    std::vector<char*> argv;
    for (QByteArray& entry : encoded) {
        argv.push_back(entry.data());
    }
    argv.push_back(nullptr);

    ignoreSigpipe();
    pid_t child = 0;
    if (const int error = posix_spawn(&child, path.constData(), actions.get(), attributes.get(),
                                      argv.data(), environ);
        error != 0) {
        *log << QStringLiteral("The flasher could not be started from %1: %2")
                    .arg(launchPath_, QString::fromLocal8Bit(std::strerror(error)));
        return failedResult();
    }
    // Only the child holds the write end now, so end of file means it has closed its output.
    writeEnd.reset();
    // Readable once the child has exited; without it (old kernels) the exit is polled.
    Descriptor exitFd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));

    FlasherOutputScanner scanner(imageElements_);
    DfuProgressParser progress(imageElements_, imageBytes_);
    DfuProgress told;
    OutputExcerpt excerpt;
    std::vector<char> buffer(64 * 1024);

    bool readFailed = false;
    bool exited = false;
    int status = 0;
    bool stopping = false;
    bool killed = false;
    Clock::time_point killAt;
    Clock::time_point drainUntil;

    const auto reapIfExited = [&] {
        if (!exited) {
            const pid_t got = ::waitpid(child, &status, WNOHANG);
            exited = got == child;
            if (exited) {
                // The verdict is decided now; what is still on its way is read for a moment
                // only, as a program the flasher started may hold the pipe open for ever.
                drainUntil = Clock::now() + kDrainPeriod;
            }
        }
    };
    const auto msUntil = [](Clock::time_point when) {
        return std::max<long long>(
            0, std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count());
    };
    for (;;) {
        reapIfExited();
        if (exited && (readEnd.get() < 0 || msUntil(drainUntil) == 0)) {
            break;
        }
        int timeout = -1;
        if (exited) {
            timeout = static_cast<int>(msUntil(drainUntil));
        } else {
            // Once the stop came: SIGTERM now, SIGKILL when the grace period is over.
            if (!stopping && stopRequested_.load()) {
                stopping = true;
                ::kill(-child, SIGTERM);
                killAt = Clock::now() + grace_;
            }
            if (stopping && !killed) {
                const long long left = msUntil(killAt);
                if (left <= 0) {
                    ::kill(-child, SIGKILL);
                    killed = true;
                } else {
                    timeout = static_cast<int>(left);
                }
            }
            if (exitFd.get() < 0) {
                // No pidfd (old kernels): the exit is looked for often.
                timeout = timeout < 0 ? 5 : std::min(timeout, 5);
            }
        }
        std::array<pollfd, 3> polled{};
        nfds_t count = 0;
        polled[count++] = {stopFd_, POLLIN, 0};
        const nfds_t pipeAt = count;
        if (readEnd.get() >= 0) {
            polled[count++] = {readEnd.get(), POLLIN, 0};
        }
        if (exitFd.get() >= 0 && !exited) {
            polled[count++] = {exitFd.get(), POLLIN, 0};
        }
        if (::poll(polled.data(), count, timeout) < 0 && errno != EINTR) {
            // Nothing left to wait with: end the child and reap it.
            if (!exited) {
                ::kill(-child, SIGKILL);
                while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
                }
                exited = true;
            }
            readFailed = readFailed || readEnd.get() >= 0;
            break;
        }
        if ((polled[0].revents & POLLIN) != 0) {
            uint64_t value = 0;
            [[maybe_unused]] const ssize_t got = ::read(stopFd_, &value, sizeof value);
        }
        if (readEnd.get() >= 0 && (polled[pipeAt].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = read_(readEnd.get(), buffer.data(), buffer.size());
            if (got > 0) {
                const std::string_view bytes(buffer.data(), static_cast<std::size_t>(got));
                outputBytes_.fetch_add(bytes.size(), std::memory_order_relaxed);
                scanner.feed(bytes);
                progress.feed(bytes);
                excerpt.append(bytes);
                if (onProgress_ && worthReporting(progress.progress(), told)) {
                    told = progress.progress();
                    onProgress_(told);
                }
            } else if (got == 0) {
                readEnd.reset();
            } else if (errno != EINTR && errno != EAGAIN) {
                // The child gets SIGPIPE on its next write and ends; it is reaped below.
                readFailed = true;
                readEnd.reset();
            }
        }
    }

    if (readFailed) {
        return failedResult();
    }
    FlasherExit exit;
    if (WIFSIGNALED(status)) {
        exit = {true, WTERMSIG(status)};
    } else {
        exit = {false, WEXITSTATUS(status)};
    }
    const FlasherVerdict verdict = scanner.finish(exit);
    const QString output = excerpt.text();

    QVariantMap result;
    result.insert(QString::fromLatin1(kErrKey), 0);
    result.insert(QString::fromLatin1(kOutputStringKey), outputText(arguments_, output));
    result.insert(QString::fromLatin1(kVerdictKey), static_cast<int>(verdict));
    result.insert(QString::fromLatin1(kStoppedKey), stopping);
    result.insert(QString::fromLatin1(kExitCodeKey), exit.code);
    result.insert(QString::fromLatin1(kSignalledKey), exit.signalled);
    *log << QLatin1String("command returned:\n") + output
         << (exit.signalled ? QStringLiteral("The flasher was ended by signal %1").arg(exit.code)
                            : QStringLiteral("The flasher exited with status %1").arg(exit.code));
    return result;
}
