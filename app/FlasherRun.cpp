#include "FlasherRun.h"

#include "SystemLog.h"

#include <QByteArray>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

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

QVariantMap makeResult(int err, QString text) {
    QVariantMap result;
    result.insert(QString::fromLatin1(FlasherRun::kErrKey), err);
    result.insert(QString::fromLatin1(FlasherRun::kOutputStringKey), std::move(text));
    return result;
}

QVariantMap failedResult() {
    return makeResult(-1, QString::fromLatin1(FlasherRun::kExceptionText));
}

void reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Reads until end of file; false on a read error.
bool readToEnd(int fd, FlasherRun::ReadFunction read, QByteArray* out) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got > 0) {
            out->append(buffer.data(), static_cast<qsizetype>(got));
        } else if (got == 0) {
            return true;
        } else if (errno != EINTR) {
            return false;
        }
    }
}

// The whole output when it is of a sane size for a log line, else its head and tail.
QString logExcerpt(const QString& output) {
    if (output.size() <= FlasherRun::kLogLimit) {
        return output;
    }
    const qsizetype half = FlasherRun::kLogLimit / 2;
    return output.left(half) +
           QStringLiteral("\n[... %1 characters not logged ...]\n").arg(output.size() - 2 * half) +
           output.right(half);
}

} // namespace

FlasherRun::FlasherRun(QString launchPath, QStringList arguments)
    : launchPath_(std::move(launchPath)), arguments_(std::move(arguments)), read_(::read) {}

QStringList FlasherRun::argumentsFor(const QString& firmwarePath) {
    return {QStringLiteral("-a"),        QStringLiteral("0"),  QStringLiteral("-d"),
            QStringLiteral("0483:df11"), QStringLiteral("-s"), QStringLiteral(":leave"),
            QStringLiteral("-D"),        firmwarePath};
}

QString FlasherRun::launchPathIn(const QString& directory) {
    return directory + QLatin1Char('/') + QLatin1String(kProgramName);
}

QString FlasherRun::outputText(const QStringList& arguments, const QString& output) {
    // Concatenation, not QString::arg: the flasher's text may hold %-sequences of its own.
    const QString command = arguments.mid(0, 4).join(QLatin1Char(' '));
    const QString head = QLatin1String("Command sent: ") + QLatin1String(kProgramName) +
                         QLatin1Char(' ') + command + QLatin1String(" \nCommand Output: ");
    QString text;
    text.reserve(head.size() + output.size() + 1);
    text += head;
    text += output;
    text += QLatin1Char('\n');
    return text;
}

int FlasherRun::runningCount() {
    return runsUnderWay.load();
}

QVariantMap FlasherRun::run() const {
    const RunningToken running;

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
    if (!actions.ok() ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO) != 0) {
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

    pid_t child = 0;
    if (posix_spawn(&child, path.constData(), actions.get(), nullptr, argv.data(), environ) != 0) {
        return failedResult();
    }
    // Only the child holds the write end now, so end of file means it has closed its output.
    writeEnd.reset();

    QByteArray bytes;
    const bool readOk = readToEnd(readEnd.get(), read_, &bytes);
    readEnd.reset();
    // The status is not used; waiting for it keeps the child from lingering as a zombie.
    reap(child);
    if (!readOk) {
        return failedResult();
    }

    // Invalid sequences become replacement characters, so the rest of the text survives.
    QString output = QString::fromUtf8(bytes);
    bytes = QByteArray();
    systemLog(QLatin1String("command returned:\n") + logExcerpt(output));
    QString text = outputText(arguments_, output);
    output = QString();
    return makeResult(0, std::move(text));
}
