// Whole updates of the emulated mixer on the real USB stack (run in the test VM): the real
// controller and widgets on the ALSA backend see the mixer through the kernel's USB audio
// driver, Send restarts it into its DfuSe loader, and the real dfu-util beside the test flashes
// a real DfuSe file into the loader's flash, which the test then compares byte for byte. Other
// boards waiting in their loaders keep their flash untouched; an update ended by a quit or by
// SIGTERM to the real program is finished by the next start, from the loader.
#include "AppDelegate.h"
#include "DfuseFile.h"
#include "EventLoopWait.h"
#include "MainWindow.h"
#include "MixerProcess.h"
#include "ModalAnswerer.h"
#include "ModalSession.h"
#include "ProgressDLG.h"
#include "UpdateOutcome.h"
#include "UsbHostCheck.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <list>
#include <sys/wait.h>
#include <unistd.h>

// Messages print as text when an expectation fails.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

using namespace std::chrono_literals;

constexpr auto kConnected = "Mirt VQ320 device connected";
constexpr auto kNotFound = "Mirt VQ320 device NOT found";
const QString kConfirm = "Update the MIRT VQ320 with this firmware?";
const QString kReplug = "Please unplug and replug USB cable connected to the MIRT VQ320";
const QString kInProgress = "Update in progress...";
const QString kComplete =
    "Please refer to the instructions on the display of the MIRT VQ320 to complete the update";
const QString kMixerNotFound =
    "Sorry, MIRT VQ320 not found. Please check the USB connection and try again.";
const QString kTransferFailed = "ERROR: transfer not completed. Please first turn OFF and then "
                                "turn ON again the VQ320, check the USB connection and try again.";
const QString kNoRights = UpdateOutcome::messages(UpdateOutcome::Kind::PermissionDenied).at(0);
const QString kTwoMixers = UpdateProcedure::kTwoMixersMessage;
const QString kRecover = UpdateProcedure::kRecoveryQuestion;
const QString kQuit = UpdateProcedure::kQuitQuestion;
const QString kEnterLoader = "RECEIVED f0 60 07 10 4d f7";
const QString kFileRefused = "The firmware file cannot be used, so nothing was sent to the mixer.";

// Emulation is slow, the more so on a busy machine, and enumeration takes the USB stack's own
// time: generous deadlines (each wait ends as soon as its condition holds).
constexpr auto kDeadline = 60s;

// Three elements in two sectors and a third, one of them over 64 KiB.
std::vector<dfutest::DfuseElement> firmwareElements() {
    return {{0x08000000, dfutest::patternBytes(70000, 1)},
            {0x08020000, dfutest::patternBytes(5000, 2)},
            {0x08040000, dfutest::patternBytes(3 * 2048 + 17, 3)}};
}

// How the first update ends when it does not run to its outcome.
enum class Ending { Outcome, Quit, Signal };

struct UpdateCase {
    const char* name;
    QStringList faults;            // the emulated mixer's fault switches
    bool normalUser;               // dfu-util runs without rights on the USB device nodes
    bool restarts;                 // the mixer restarts into its loader on the SysEx
    bool flashed;                  // the whole file ends up in the flash, and the mixer comes back
    bool replugsAtOnce;            // the user answers the replug request before the loader is there
    QStringList messages;          // what the user is told, in order
    QStringList otherLoaders = {}; // vendors of other boards waiting in their DFU loaders
    bool secondMixer = false;      // another mixer on the MIDI side
    // Quit or SIGTERM to the real program once the download runs; the next start finishes it.
    Ending ending = Ending::Outcome;
    // A file tried first, which is refused before anything is sent (none when empty).
    std::vector<dfutest::DfuseTarget> refusedFirst = {};
    bool swapsTheFile = false; // replaced once confirmed: the flash holds the first
    std::chrono::milliseconds passPeriod = 50ms; // shorter: the write outlasts the time-out
};

void PrintTo(const UpdateCase& c, std::ostream* os) {
    *os << c.name;
}

class EmulatedMixerUpdate : public ::testing::TestWithParam<UpdateCase> {
protected:
    void SetUp() override {
        if (const char* reason = usbSkipReason(true)) {
            GTEST_SKIP() << reason << "; runs in the test VM";
        }
        ASSERT_TRUE(files.isValid());
        firmwarePath = files.filePath("vq320 firmware.dfu");
        dumpPath = files.filePath("flash.bin");
        dfutest::writeBinaryFile(
            firmwarePath.toStdString(),
            dfutest::makeDfuseFile({{0, "Internal Flash", firmwareElements()}}));

        launch();
    }

    // Starts the updater in this process, as a user starts the program.
    void launch() {
        window = std::make_unique<MainWindow>();
        app = std::make_unique<AppDelegate>(MidiService::platformDefault(), *window);
        UpdateProcedure::Settings& settings = app->updateSettings();
        settings.passPeriod = GetParam().passPeriod;
        // Long enough for a loader that comes late; a mixer that ignores the SysEx is reported
        // not found when it runs out.
        settings.loaderWait = 10s;
        settings.lookPeriod = 50ms;
        // Where the real program keeps its note too ($XDG_STATE_HOME/vq320-updater).
        settings.stateDirectory = files.filePath("state/vq320-updater");
        if (GetParam().normalUser) {
            settings.flasherDirectory = normalUserFlasher();
        }
        app->setQuitFunction([this] { ++quits; });
        window->show();
        app->applicationDidFinishLaunching();
    }
    void TearDown() override {
        mixer.stop();
        otherMixer.stop();
        for (MixerProcess& board : boards) {
            board.stop();
        }
        if (app) {
            app->applicationWillTerminate();
        }
        app.reset();
        window.reset();
        processPendingEvents();
    }

    // A dfu-util that runs the real one beside the test as user and group "nobody".
    QString normalUserFlasher() {
        // It may read the firmware, as a user can read the file they chose.
        QFile::setPermissions(files.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther);
        const QString dir = files.filePath("normal-user");
        std::filesystem::create_directory(dir.toStdString());
        QFile script(dir + "/dfu-util");
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups '" +
                     QCoreApplication::applicationDirPath().toUtf8() + "/dfu-util' \"$@\"\n");
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        return dir;
    }

    QString status() const { return app->deviceFoundText()->text(); }

    // Presses Send and answers every alert the way a user does: the replug request only once
    // the mixer has restarted into its loader and the host has enumerated it (the user has
    // replugged the cable), or at once when the mixer does not restart or the user is quick.
    // Records the progress window's bar and phase meanwhile.
    QStringList sendAndAnswer(const UpdateCase& c, bool quitInTheDownload = false) {
        progress.clear();
        ModalAnswerer answerer;
        answerer.setBeforeAnswer([&](QMessageBox& box) {
            if (box.text() == kQuit) {
                for (QAbstractButton* button : box.buttons()) {
                    if (button->text() == "Quit") {
                        button->click();
                    }
                }
            }
            if (box.text() != kReplug) {
                return;
            }
            if (c.swapsTheFile) {
                dfutest::writeBinaryFile(
                    firmwarePath.toStdString(),
                    dfutest::makeDfuseFile({{0, "Swapped", {{0x08000000, {1, 2, 3, 4}}}}}));
            }
            EXPECT_TRUE(waitUntil([&] { return !mixer.lines("RECEIVED").isEmpty(); }, kDeadline));
            if (c.restarts && !c.replugsAtOnce) {
                EXPECT_TRUE(waitUntil([&] { return !mixer.lines("LOADER enumerated").isEmpty(); },
                                      kDeadline))
                    << mixer.output().toStdString();
            }
        });
        QTimer watch;
        bool quitAsked = false;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (quitInTheDownload && !quitAsked && !mixer.lines("DOWNLOAD started").isEmpty()) {
                quitAsked = true;
                app->requestQuit();
            }
            if (!download.isValid() && !mixer.lines("DOWNLOAD started").isEmpty()) {
                download.start();
            }
            const auto dialog = app->progressDLG();
            if (dialog && dialog != watched) {
                watched = dialog;
                QObject::connect(dialog.get(), &ProgressDLG::progressValueSet, dialog.get(),
                                 [this, d = dialog.get()](float value) {
                                     progress.push_back({value, d->phaseText()});
                                 });
            }
        });
        watch.start(5);
        download.invalidate();
        app->sendFile()->click(); // returns when the last alert has been answered
        watch.stop();
        downloadTime = std::chrono::milliseconds(download.isValid() ? download.elapsed() : 0);
        return answerer.texts();
    }

    // Once dfu-util reports what it writes, the bar follows it, only forward, to the end.
    void expectRealProgress() {
        const auto measured = std::find_if(progress.begin(), progress.end(), [](const auto& p) {
            return p.second.contains("element");
        });
        ASSERT_NE(measured, progress.end()) << "no phase from the flasher's own progress";
        float last = 0.0f;
        bool sawLastElement = false;
        for (auto it = measured; it != progress.end(); ++it) {
            EXPECT_GE(it->first, last) << it->second.toStdString();
            last = it->first;
            sawLastElement = sawLastElement || it->second.contains("element 3 of 3");
        }
        EXPECT_TRUE(sawLastElement);
        EXPECT_GE(last, 0.99f);
    }

    // Other boards waiting in their loaders from before Send (another vendor's, another STM32).
    void plugInOtherBoards(const QStringList& vendors) {
        for (const QString& vendor : vendors) {
            MixerProcess& board = boards.emplace_back();
            const QString dump = files.filePath("board-" + vendor + ".bin");
            ASSERT_TRUE(board.start(VQ_EMULATED_MIXER,
                                    {"--loader-only", "--vendor", vendor, "--dump", dump},
                                    "LOADER enumerated", kDeadline))
                << board.output().toStdString();
        }
    }

    // Their flash still holds the old firmware everywhere: nothing was written to them.
    void expectOtherBoardsUntouched(const QStringList& vendors) {
        for (MixerProcess& board : boards) {
            board.stop();
        }
        for (const QString& vendor : vendors) {
            QFile dump(files.filePath("board-" + vendor + ".bin"));
            ASSERT_TRUE(dump.open(QIODevice::ReadOnly)) << vendor.toStdString();
            const QByteArray flash = dump.readAll();
            EXPECT_EQ(flash.size(), 1024 * 1024);
            EXPECT_EQ(flash.count(char(0xA5)), flash.size()) << "board " << vendor.toStdString();
        }
    }

    // The real program (its own main and signal handling, with a user who presses Send and
    // answers every alert) gets SIGTERM once the download runs: it stops and reaps dfu-util and
    // quits, leaving a note for the next start. Returns the alerts it showed.
    QStringList interruptTheRealProgram() {
        const QByteArray stateHome = files.filePath("state").toUtf8();
        qputenv("XDG_STATE_HOME", stateHome);
        MixerProcess updater;
        EXPECT_TRUE(updater.start(VQ_ANSWERED_UPDATER, {firmwarePath}, "SEND", kDeadline))
            << updater.output().toStdString();
        EXPECT_TRUE(
            waitUntil([&] { return !mixer.lines("DOWNLOAD started").isEmpty(); }, kDeadline))
            << updater.output().toStdString() << mixer.output().toStdString();
        updater.kill(SIGTERM);
        const int status = updater.stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a clean quit, not death by the signal: " << status;
        EXPECT_FALSE(dfuUtilRunning()) << "the flasher was reaped with the program";
        QStringList shown;
        for (const QString& line : updater.lines("BOX ")) {
            shown << line.mid(4);
        }
        return shown;
    }

    static bool dfuUtilRunning() {
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            QFile comm("/proc/" + pid + "/comm");
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "dfu-util") {
                return true;
            }
        }
        return false;
    }

    // The next start says the update was interrupted and shows the loader waiting; Send then
    // writes it without a SysEx or replug.
    void finishAtTheNextStart(const UpdateCase& c) {
        app.reset();
        window.reset();
        processPendingEvents();
        ModalAnswerer told;
        launch();
        EXPECT_TRUE(waitUntil([&] { return !told.boxes().empty(); }, kDeadline));
        told.stop();
        EXPECT_TRUE(!told.boxes().empty() &&
                    told.boxes()[0].text.startsWith("The last update was interrupted"));
        ASSERT_TRUE(waitUntil(
            [&] { return status().startsWith("A device waits in USB update mode"); }, kDeadline))
            << status().toStdString();
        app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmwarePath)});
        ASSERT_TRUE(app->sendFile()->isEnabled());
        EXPECT_EQ(sendAndAnswer(c), (QStringList{kRecover, kInProgress, kComplete}))
            << mixer.output().toStdString();
    }

    void expectFlashHoldsTheFile() {
        ASSERT_TRUE(waitUntil([&] { return !mixer.lines("DUMP").isEmpty(); }, kDeadline));
        QFile dump(dumpPath);
        ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
        const QByteArray flash = dump.readAll();
        ASSERT_EQ(flash.size(), 1024 * 1024);
        for (const auto& element : firmwareElements()) {
            const QByteArray written = flash.mid(element.address - 0x08000000,
                                                 static_cast<qsizetype>(element.data.size()));
            EXPECT_TRUE(std::equal(element.data.begin(), element.data.end(),
                                   reinterpret_cast<const uint8_t*>(written.constData())))
                << "element at " << std::hex << element.address;
        }
    }

    QTemporaryDir files;
    QString firmwarePath;
    QString dumpPath;
    MixerProcess mixer;
    MixerProcess otherMixer;        // the stand-in mixer on the MIDI side
    std::list<MixerProcess> boards; // other boards in their loaders
    int quits = 0;
    QElapsedTimer download; // from the first block written to the end of the update:
    std::chrono::milliseconds downloadTime{0};
    std::shared_ptr<ProgressDLG> watched;
    std::vector<std::pair<float, QString>> progress; // bar value and phase, as set
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<AppDelegate> app;
};

TEST_P(EmulatedMixerUpdate, FromPlugInToTheMixerBackInMidiMode) {
    const UpdateCase& c = GetParam();
    EXPECT_EQ(status(), kNotFound);
    ASSERT_TRUE(mixer.start(VQ_EMULATED_MIXER, QStringList{"--dump", dumpPath} + c.faults,
                            "MIDI plugged in", kDeadline))
        << mixer.output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return status() == kConnected; }, kDeadline))
        << "seen through the kernel's USB audio driver";
    plugInOtherBoards(c.otherLoaders);
    if (!c.refusedFirst.empty()) {
        const QString refused = files.filePath("refused.dfu");
        dfutest::writeBinaryFile(refused.toStdString(), dfutest::makeDfuseFile(c.refusedFirst));
        app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(refused)});
        EXPECT_EQ(sendAndAnswer(c), QStringList{kFileRefused});
    }
    if (c.secondMixer) {
        ASSERT_TRUE(otherMixer.start(VQ_STAND_IN_MIXER, {}, "READY", kDeadline));
        ASSERT_TRUE(waitUntil([&] { return app->mixersConnected() == 2; }, kDeadline));
    }
    app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmwarePath)});
    ASSERT_TRUE(app->sendFile()->isEnabled());

    const QStringList messages = c.ending == Ending::Signal
                                     ? interruptTheRealProgram()
                                     : sendAndAnswer(c, c.ending == Ending::Quit);
    EXPECT_EQ(messages, c.messages) << mixer.output().toStdString();
    EXPECT_EQ(mixer.lines("RECEIVED"), c.secondMixer ? QStringList{} : QStringList{kEnterLoader})
        << "exactly once, only to the one mixer, and never for a refused file";
    EXPECT_TRUE(otherMixer.lines("RECEIVED").isEmpty());
    EXPECT_EQ(mixer.lines("LOADER plugged in").size(), c.restarts ? 1 : 0);
    if (c.ending != Ending::Outcome) {
        EXPECT_EQ(quits, c.ending == Ending::Quit ? 1 : 0);
        EXPECT_TRUE(mixer.lines("DUMP").isEmpty()) << "left waiting in its loader";
        finishAtTheNextStart(c);
    }
    if (!c.flashed) {
        expectOtherBoardsUntouched(c.otherLoaders);
        return;
    }
    expectFlashHoldsTheFile();
    expectOtherBoardsUntouched(c.otherLoaders);
    expectRealProgress();
    if (c.passPeriod < 50ms) {
        // Longer than the time-out's passes at their period (ModalSessionTest counts passes).
        EXPECT_GT(downloadTime, (ModalSession::kTimeoutThreshold + 2) * c.passPeriod);
    }
    // Back in MIDI mode, and seen again: unplugging it now is noticed too.
    ASSERT_TRUE(waitUntil([&] { return mixer.lines("MIDI plugged in").size() == 2; }, kDeadline));
    ASSERT_TRUE(waitUntil([&] { return status() == kConnected; }, kDeadline));
    mixer.stop();
    EXPECT_TRUE(waitUntil([&] { return status() == kNotFound; }, kDeadline));
}

INSTANTIATE_TEST_SUITE_P(
    Mixers, EmulatedMixerUpdate,
    ::testing::Values(
        // Another vendor's loader waits in DFU mode all along: dfu-util never touches it. A file
        // with a target for alternate setting 1 is tried first: dfu-util would write the first
        // target, skip the second and report success; it is refused before the SysEx.
        UpdateCase{"Healthy",
                   {},
                   false,
                   true,
                   true,
                   false,
                   {kConfirm, kReplug, kInProgress, kComplete},
                   {"2e3c"},
                   false,
                   Ending::Outcome,
                   {{0, "Internal Flash", firmwareElements()},
                    {1, "Option Bytes", {{0x1FFFF800, dfutest::patternBytes(16, 4)}}}}},
        // The user answers the replug request at once; the loader enumerates seconds later and
        // the updater waits for it, while another STM32 board already waits in its loader.
        UpdateCase{"LoaderComesLate",
                   {"--loader-delay-ms", "2500"},
                   false,
                   true,
                   true,
                   true,
                   {kConfirm, kReplug, kInProgress, kComplete},
                   {"0483"}},
        // Two mixers: nothing is sent to either.
        UpdateCase{"TwoMixers", {}, false, false, false, false, {kTwoMixers}, {}, true},
        // Quit during the download (the loader stalls after its first block, so the download
        // is still under way) leaves the mixer in its loader; the next start writes it.
        UpdateCase{"QuitInTheDownload",
                   {"--stall-after", "1"},
                   false,
                   true,
                   true,
                   false,
                   {kConfirm, kReplug, kQuit},
                   {},
                   false,
                   Ending::Quit},
        // SIGTERM to the real program during the download: the same, by a signal.
        UpdateCase{"SigtermInTheDownload",
                   {"--stall-after", "1"},
                   false,
                   true,
                   true,
                   false,
                   {kConfirm, kReplug},
                   {},
                   false,
                   Ending::Signal},
        // dfu-util reports "Error during download get_status" and exits 74; the firmware is in.
        // A slow loader: the write lasts longer than the time-out's 242 passes of 5 ms. The file
        // is replaced after the confirmation: what was checked and confirmed is written.
        UpdateCase{"ResetsBeforeAnsweringTheLeave",
                   {"--reset-on-leave", "--poll-timeout-ms", "100"},
                   false,
                   true,
                   true,
                   false,
                   {kConfirm, kReplug, kInProgress, kComplete},
                   {},
                   false,
                   Ending::Outcome,
                   {},
                   true,
                   5ms},
        UpdateCase{"WriteFailsAfterFiveBlocks",
                   {"--fail-write-after", "5"},
                   false,
                   true,
                   false,
                   false,
                   {kConfirm, kReplug, kTransferFailed}},
        UpdateCase{"VanishesMidDownload",
                   {"--vanish-after", "12"},
                   false,
                   true,
                   false,
                   false,
                   {kConfirm, kReplug, kTransferFailed}},
        UpdateCase{"IgnoresTheSysEx",
                   {"--ignore-sysex"},
                   false,
                   false,
                   false,
                   false,
                   {kConfirm, kReplug, kMixerNotFound}},
        // Root-only device nodes, as on a desktop without the udev rule: the user is told the
        // mixer is there but may not be written, and how to mend that.
        UpdateCase{
            "FlasherWithoutRights", {}, true, true, false, false, {kConfirm, kReplug, kNoRights}}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
