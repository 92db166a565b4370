// Whole updates of the emulated mixer on the real USB stack (run in the test VM): the real
// controller and widgets on the ALSA backend see the mixer through the kernel's USB audio
// driver, Send restarts it into its DfuSe loader, and the real dfu-util beside the test flashes
// a real DfuSe file into the loader's flash, which the test then compares byte for byte.
#include "AppDelegate.h"
#include "DfuseFile.h"
#include "EventLoopWait.h"
#include "MainWindow.h"
#include "MixerProcess.h"
#include "ModalAnswerer.h"
#include "ProgressDLG.h"
#include "UpdateOutcome.h"
#include "UsbHostCheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
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

struct UpdateCase {
    const char* name;
    QStringList faults;   // the emulated mixer's fault switches
    bool normalUser;      // dfu-util runs without rights on the USB device nodes
    bool restarts;        // the mixer restarts into its loader on the SysEx
    bool flashed;         // the whole file ends up in the flash, and the mixer comes back
    bool replugsAtOnce;   // the user answers the replug request before the loader is there
    QStringList messages; // what the user is told, in order
    // A file tried first, which is refused before anything is sent (none when empty).
    std::vector<dfutest::DfuseTarget> refusedFirst = {};
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

        window = std::make_unique<MainWindow>();
        app = std::make_unique<AppDelegate>(MidiService::platformDefault(), *window);
        app->setPassPeriod(50ms);
        // Long enough for a loader that comes late; a mixer that ignores the SysEx makes the
        // flasher start (and find nothing) when it runs out.
        app->setLoaderWait(10s, 50ms);
        if (GetParam().normalUser) {
            app->setFlasherDirectory(normalUserFlasher());
        }
        window->show();
        app->applicationDidFinishLaunching();
    }
    void TearDown() override {
        mixer.stop();
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
    QStringList sendAndAnswer(const UpdateCase& c) {
        ModalAnswerer answerer;
        answerer.setBeforeAnswer([&](QMessageBox& box) {
            if (box.text() != kReplug) {
                return;
            }
            EXPECT_TRUE(waitUntil([&] { return !mixer.lines("RECEIVED").isEmpty(); }, kDeadline));
            if (c.restarts && !c.replugsAtOnce) {
                EXPECT_TRUE(waitUntil([&] { return !mixer.lines("LOADER enumerated").isEmpty(); },
                                      kDeadline))
                    << mixer.output().toStdString();
            }
        });
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
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
        app->sendFile()->click(); // returns when the last alert has been answered
        watch.stop();
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
    if (!c.refusedFirst.empty()) {
        const QString refused = files.filePath("refused.dfu");
        dfutest::writeBinaryFile(refused.toStdString(), dfutest::makeDfuseFile(c.refusedFirst));
        app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(refused)});
        EXPECT_EQ(sendAndAnswer(c), QStringList{kFileRefused});
    }
    app->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(firmwarePath)});
    ASSERT_TRUE(app->sendFile()->isEnabled());

    EXPECT_EQ(sendAndAnswer(c), c.messages) << mixer.output().toStdString();
    EXPECT_EQ(mixer.lines("RECEIVED"), QStringList{kEnterLoader})
        << "exactly once, and never for a refused file";
    EXPECT_EQ(mixer.lines("LOADER plugged in").size(), c.restarts ? 1 : 0);
    if (!c.flashed) {
        return;
    }
    expectFlashHoldsTheFile();
    expectRealProgress();
    // Back in MIDI mode, and seen again: unplugging it now is noticed too.
    ASSERT_TRUE(waitUntil([&] { return mixer.lines("MIDI plugged in").size() == 2; }, kDeadline));
    ASSERT_TRUE(waitUntil([&] { return status() == kConnected; }, kDeadline));
    mixer.stop();
    EXPECT_TRUE(waitUntil([&] { return status() == kNotFound; }, kDeadline));
}

INSTANTIATE_TEST_SUITE_P(
    Mixers, EmulatedMixerUpdate,
    ::testing::Values(
        // A file with a target for alternate setting 1 first: dfu-util would write the first
        // target, skip the second and report success; it is refused before the SysEx.
        UpdateCase{"Healthy",
                   {},
                   false,
                   true,
                   true,
                   false,
                   {kConfirm, kReplug, kInProgress, kComplete},
                   {{0, "Internal Flash", firmwareElements()},
                    {1, "Option Bytes", {{0x1FFFF800, dfutest::patternBytes(16, 4)}}}}},
        // The user answers the replug request at once; the loader enumerates seconds later and
        // the updater waits for it before it starts the flasher.
        UpdateCase{"LoaderComesLate",
                   {"--loader-delay-ms", "2500"},
                   false,
                   true,
                   true,
                   true,
                   {kConfirm, kReplug, kInProgress, kComplete}},
        // dfu-util reports "Error during download get_status" and exits 74; the firmware is in.
        UpdateCase{"ResetsBeforeAnsweringTheLeave",
                   {"--reset-on-leave"},
                   false,
                   true,
                   true,
                   false,
                   {kConfirm, kReplug, kInProgress, kComplete}},
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
