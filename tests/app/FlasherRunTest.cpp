// The flasher as a real child process: argument list, combined output, failures, clean-up.
#include "FlasherRun.h"

#include "SystemLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace {

const QString kHeader =
    QStringLiteral("Command sent: dfu-util -a 0 -d ,0483:df11 \nCommand Output: ");
// The image of the recorded transcripts that the test flashers replay.
const DfuseImage kImage{
    {{QString(), {{0x08000000, 70000}, {0x08020000, 5000}, {0x08040000, 6161}}}}};

class FlasherRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("VQ_TRANSCRIPTS", VQ_TRANSCRIPTS_DIR); // for the flashers that replay one
    }
    void TearDown() override {
        QFile holder(dir_.filePath(QStringLiteral("holder"))); // what a flasher left running
        if (holder.open(QIODevice::ReadOnly)) {
            ::kill(holder.readAll().trimmed().toInt(), SIGKILL);
        }
    }

    // Puts the test flasher `script` into the temporary directory as dfu-util.
    QString install(const char* script) {
        const QString target = FlasherRun::launchPathIn(dir_.path());
        QFile::remove(target);
        EXPECT_TRUE(
            QFile::copy(QStringLiteral(VQ_FLASHERS_DIR "/") + QLatin1String(script), target));
        EXPECT_TRUE(
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        return target;
    }

    QVariantMap run(const QString& firmware = QStringLiteral("/tmp/fw.dfu"),
                    FlasherRun::ReadFunction read = nullptr) const {
        FlasherRun flasher(FlasherRun::launchPathIn(dir_.path()),
                           FlasherRun::argumentsFor(firmware, QStringLiteral("3-1.2")), kImage);
        if (read != nullptr) {
            flasher.setReadFunction(read);
        }
        return flasher.run();
    }

    static int openDescriptors() { return static_cast<int>(QDir("/proc/self/fd").count()); }
    // True when this process has no child left, running or unreaped.
    static bool noChildren() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

    QTemporaryDir dir_;
};

TEST_F(FlasherRunTest, TheTenArgumentsReachTheFlasherUnchanged) {
    install("record-argv.sh");
    const QString firmware = dir_.filePath(QStringLiteral("my dir/fw 100%41 %zz \"q\" $HOME.dfu"));
    const QVariantMap result = run(firmware);
    EXPECT_EQ(result.value("err").toInt(), 0);

    QFile argv(dir_.filePath(QStringLiteral("argv.bin")));
    ASSERT_TRUE(argv.open(QIODevice::ReadOnly));
    QList<QByteArray> entries = argv.readAll().split('\0');
    ASSERT_EQ(entries.takeLast(), QByteArray()); // each entry ends with a NUL
    QStringList received;
    for (const QByteArray& entry : entries) {
        received << QString::fromUtf8(entry);
    }
    EXPECT_EQ(received, (QStringList{"-a", "0", "-d", ",0483:df11", "-p", "3-1.2", "-s", ":leave",
                                     "-D", firmware}));
}

TEST_F(FlasherRunTest, BothStreamsArriveInWriteOrderInTheOutputText) {
    install("dfuse-success.sh");
    SystemLogCapture log;
    const QVariantMap result = run();
    EXPECT_EQ(result.value("err").toInt(), 0);
    const QString text = result.value("outputString").toString();
    EXPECT_TRUE(text.startsWith(kHeader + "dfu-util 0.11\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("Submitting leave request...\n"
                                             "dfu-util: Error during download get_status\n\n")))
        << "dfu-util's error (standard error) after its last line (standard output)"
        << text.toStdString();
    // The log line carries the decoded output without the header.
    const QString output = text.mid(kHeader.size()).chopped(1);
    EXPECT_TRUE(log.lines().contains(QStringLiteral("command returned:\n") + output));
}

TEST_F(FlasherRunTest, ASilentFailingFlasherStillCountsAsStarted) {
    install("silent.sh");
    const QVariantMap result = run();
    EXPECT_EQ(result.value("err").toInt(), 0);
    EXPECT_EQ(result.value("outputString").toString(), kHeader + "\n");
}

struct ExitCase {
    const char* flasher;
    FlasherVerdict verdict;
    const char* logged; // the log line about the flasher's end
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.flasher;
}

class FlasherExits : public FlasherRunTest, public ::testing::WithParamInterface<ExitCase> {};

// The verdict takes the exit status: a flasher killed by a signal is never a success.
TEST_P(FlasherExits, DecideTheVerdictWithTheOutput) {
    install(GetParam().flasher);
    SystemLogCapture log;
    const QVariantMap result = run();
    EXPECT_EQ(result.value("err").toInt(), 0);
    EXPECT_EQ(result.value("verdict").toInt(), static_cast<int>(GetParam().verdict));
    EXPECT_FALSE(result.value("stopped").toBool());
    EXPECT_TRUE(log.lines().contains(QLatin1String(GetParam().logged)))
        << log.lines().join("|").toStdString();
    EXPECT_TRUE(noChildren());
}

INSTANTIATE_TEST_SUITE_P(
    Flashers, FlasherExits,
    ::testing::Values(
        ExitCase{"dfuse-success.sh", FlasherVerdict::Success, "The flasher exited with status 74"},
        ExitCase{"killed-after-element.sh", FlasherVerdict::TransferNotCompleted,
                 "The flasher was ended by signal 9"},
        ExitCase{"failed-after-element.sh", FlasherVerdict::TransferNotCompleted,
                 "The flasher exited with status 74"},
        ExitCase{"no-permission.sh", FlasherVerdict::PermissionDenied,
                 "The flasher exited with status 74"},
        // A clean exit, but part of the image was left out.
        ExitCase{"two-targets.sh", FlasherVerdict::FileRefused, "The flasher exited with status 0"},
        // The run ends with the flasher, though a program it started still holds the pipe.
        ExitCase{"leaves-a-holder.sh", FlasherVerdict::Success, "The flasher exited with status 0"},
        ExitCase{"silent.sh", FlasherVerdict::TransferNotCompleted,
                 "The flasher exited with status 3"}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.flasher;
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

struct StopCase {
    const char* flasher;
    int graceMs;
    const char* logged;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.flasher;
}

class FlasherStops : public FlasherRunTest, public ::testing::WithParamInterface<StopCase> {};

// stop() from another thread: SIGTERM, then SIGKILL once the grace period is over; either way
// the child is reaped before run() returns, and nothing of it is left.
TEST_P(FlasherStops, EndAndReapTheFlasher) {
    install(GetParam().flasher);
    SystemLogCapture log;
    FlasherRun flasher(
        FlasherRun::launchPathIn(dir_.path()),
        FlasherRun::argumentsFor(QStringLiteral("/tmp/fw.dfu"), QStringLiteral("1-1")), kImage);
    flasher.setGracePeriod(std::chrono::milliseconds(GetParam().graceMs));
    QVariantMap result;
    std::thread runner([&] { result = flasher.run(); });
    // Stopped once it is surely running: it has written its process ID.
    const QString pidPath = dir_.filePath(QStringLiteral("pid"));
    for (int i = 0; i < 2000 && !QFile::exists(pidPath); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(QFile::exists(pidPath));
    flasher.stop();
    runner.join();
    EXPECT_EQ(result.value("err").toInt(), 0);
    EXPECT_TRUE(result.value("stopped").toBool());
    EXPECT_TRUE(log.lines().contains(QLatin1String(GetParam().logged)))
        << log.lines().join("|").toStdString();
    QFile pidFile(pidPath);
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t pid = pidFile.readAll().trimmed().toInt();
    EXPECT_NE(::kill(pid, 0), 0) << "the flasher is gone";
    EXPECT_TRUE(noChildren());
}

INSTANTIATE_TEST_SUITE_P(
    Flashers, FlasherStops,
    ::testing::Values(StopCase{"sleeper.sh", 5000, "The flasher was ended by signal 15"},
                      StopCase{"ignores-term.sh", 30, "The flasher was ended by signal 9"},
                      StopCase{"sleeper-with-holder.sh", 5000,
                               "The flasher was ended by signal 15"}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.flasher;
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(FlasherRunTest, AStopBeforeTheRunEndsItAtOnce) {
    install("sleeper.sh");
    FlasherRun flasher(
        FlasherRun::launchPathIn(dir_.path()),
        FlasherRun::argumentsFor(QStringLiteral("/tmp/fw.dfu"), QStringLiteral("1-1")), kImage);
    flasher.stop();
    EXPECT_TRUE(flasher.run().value("stopped").toBool());
    EXPECT_TRUE(noChildren());
}

TEST_F(FlasherRunTest, NoExecutableAtTheLaunchPathIsAFailedStart) {
    SystemLogCapture log;
    const QVariantMap expected{{"err", -1},
                               {"outputString", "Sorry, the command produced an exception"}};
    EXPECT_EQ(run(), expected);

    // A file that cannot be executed fails the same way.
    const QString target = install("capitals.sh");
    ASSERT_TRUE(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(run(), expected);
    EXPECT_TRUE(log.lines().filter(QStringLiteral("command returned")).isEmpty());
    // The log says where the flasher was looked for.
    EXPECT_FALSE(log.lines()
                     .filter(QStringLiteral("could not be started from ") +
                             FlasherRun::launchPathIn(dir_.path()))
                     .isEmpty());
}

ssize_t failingRead(int fd, void* buffer, size_t size) {
    // Some output first, then the pipe fails.
    static thread_local int calls = 0;
    if (calls++ == 0) {
        return ::read(fd, buffer, size < 4 ? size : 4);
    }
    errno = EIO;
    return -1;
}

TEST_F(FlasherRunTest, AReadFailureIsReportedLikeAFailedStartAndLeavesNothingBehind) {
    install("dfuse-success.sh");
    const int before = openDescriptors();
    const QVariantMap result = run(QStringLiteral("/tmp/fw.dfu"), failingRead);
    EXPECT_EQ(result.value("err").toInt(), -1);
    EXPECT_EQ(result.value("outputString").toString(),
              QStringLiteral("Sorry, the command produced an exception"));
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(noChildren());
}

TEST_F(FlasherRunTest, RunsReapTheirChildAndCloseTheirPipe) {
    install("dfuse-success.sh");
    const int before = openDescriptors();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(run().value("err").toInt(), 0);
        EXPECT_TRUE(noChildren()) << "run " << i;
    }
    QFile::remove(FlasherRun::launchPathIn(dir_.path()));
    EXPECT_EQ(run().value("err").toInt(), -1);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(FlasherRun::runningCount(), 0);
}

TEST_F(FlasherRunTest, UndecodableBytesBecomeReplacementCharacters) {
    install("undecodable.sh");
    const QString text = run().value("outputString").toString();
    EXPECT_TRUE(text.contains(QStringLiteral("Device name: \uFFFD\uFFFD\uFFFD Flash\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Download done.\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("trailing \uFFFD\n\n"))) << text.toStdString();
}

TEST_F(FlasherRunTest, TheOutputIsTakenLiterally) {
    // %-sequences in the output are text, not placeholders.
    const QStringList arguments =
        FlasherRun::argumentsFor(QStringLiteral("f.dfu"), QStringLiteral("1-1"));
    EXPECT_EQ(FlasherRun::outputText(arguments, QStringLiteral("%1 %2 %3 100%")),
              kHeader + "%1 %2 %3 100%\n");
}

} // namespace
