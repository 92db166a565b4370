// Whole updates: the real controller and widgets on the simulated MIDI service, real flasher
// processes (test scripts, and Debian's dfu-util once), a short pass period, and the alerts
// answered as they come.
#include "AppDelegate.h"
#include "EventLoopWait.h"
#include "FlasherRun.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ProgressDLG.h"
#include "SimulatedMidiService.h"
#include "SystemLog.h"
#include "UpdateOutcome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

// Readable failure messages for texts.
[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

using namespace std::chrono_literals;
using Kind = UpdateOutcome::Kind;

const QString kReplug =
    QStringLiteral("Please unplug and replug USB cable connected to the MIRT VQ320");
const QString kConnected = QStringLiteral("Mirt VQ320 device connected");

QStringList expectedTexts(Kind kind) {
    return QStringList{kReplug} + UpdateOutcome::messages(kind);
}

// Watches every progress window shown: its progress values and its state during the wait.
class ProgressWatcher : public QObject {
public:
    std::vector<float> values;
    int windows = 0;
    bool spinnerTurning = false;
    bool onlyWindowTakingInput = false;
    QString statusDuringWait = QStringLiteral("(not seen)");
    QPointer<ProgressDLG> last;
    std::function<void(float)> onProgress;
    QPointer<QLabel> status;

    bool eventFilter(QObject* object, QEvent* event) override {
        auto* dialog = qobject_cast<ProgressDLG*>(object);
        if (event->type() == QEvent::Show && dialog != nullptr && dialog != last) {
            last = dialog;
            ++windows;
            // Looked at in the wait's first poll, once the window has loaded.
            QTimer::singleShot(0, dialog, [this, dialog] {
                spinnerTurning = dialog->spinIndicator() && dialog->spinIndicator()->maximum() == 0;
                onlyWindowTakingInput = QApplication::activeModalWidget() == dialog;
                statusDuringWait = status ? status->text() : QStringLiteral("(no label)");
            });
            connect(dialog, &ProgressDLG::progressValueSet, this, [this, dialog](float value) {
                values.push_back(value);
                if (onProgress) {
                    onProgress(value);
                }
            });
        }
        return false;
    }
};

class UpdateProcedureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        sim_ = std::make_shared<SimulatedMidiService>();
        sim_->addSource(QStringLiteral("MIRT VQ320 MIDI 1"));
        destinations_ = {sim_->addDestination(QStringLiteral("MIRT VQ320 MIDI 1")),
                         sim_->addDestination(QStringLiteral("Other Synth"))};
        window_ = std::make_unique<MainWindow>();
        delegate_ = std::make_unique<AppDelegate>(sim_, *window_);
        delegate_->applicationDidFinishLaunching();
        // The real period: a result ends the wait at once, whatever the period, so only the
        // tests of passes and time-outs shorten it.
        delegate_->setPassPeriod(1000ms);
        delegate_->setFlasherDirectory(dir_.path());
        watcher_.status = delegate_->deviceFoundText();
        qApp->installEventFilter(&watcher_);
        firmware_ = dir_.filePath(QStringLiteral("VQ320 firmware.dfu"));
        writeFile(firmware_, "not a real image");
    }

    void TearDown() override {
        qApp->removeEventFilter(&watcher_);
        // Flashers that would outlive the test (they recorded their process IDs) end here.
        for (const QString& dir : flasherDirs_) {
            QFile pidFile(dir + QStringLiteral("/pid"));
            if (pidFile.open(QIODevice::ReadOnly)) {
                const pid_t pid = pidFile.readAll().trimmed().toInt();
                if (pid > 0) {
                    ::kill(pid, SIGKILL);
                }
            }
        }
        EXPECT_TRUE(waitUntil([] { return FlasherRun::runningCount() == 0; }));
        delegate_->applicationWillTerminate();
        delegate_.reset();
        window_.reset();
    }

    static void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void choose(const QString& path) {
        delegate_->locateFileCompleted(QDialog::Accepted, {QUrl::fromLocalFile(path)});
    }

    // Puts a test flasher into `dir` (the flasher directory by default) as dfu-util.
    void installFlasher(const char* script, QString dir = {}) {
        if (dir.isEmpty()) {
            dir = dir_.path();
        }
        flasherDirs_ << dir;
        const QString target = FlasherRun::launchPathIn(dir);
        QFile::remove(target);
        ASSERT_TRUE(
            QFile::copy(QStringLiteral(VQ_FLASHERS_DIR "/") + QLatin1String(script), target));
        ASSERT_TRUE(
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // Presses Send and answers every alert; returns the alerts' records.
    std::vector<ModalAnswerer::Box> update(std::function<void(QMessageBox&)> beforeAnswer = {}) {
        ModalAnswerer answerer;
        answerer.setBeforeAnswer(std::move(beforeAnswer));
        delegate_->sendFile(window_->sendFile());
        delegate_->waitForSends();
        return answerer.boxes();
    }

    static QStringList texts(const std::vector<ModalAnswerer::Box>& boxes) {
        QStringList result;
        for (const auto& box : boxes) {
            result << box.text;
        }
        return result;
    }

    QString output() const {
        const auto text = delegate_->taskOutputString();
        return text ? *text : QString();
    }

    QTemporaryDir dir_;
    std::shared_ptr<SimulatedMidiService> sim_;
    std::vector<MIDIEndpointRef> destinations_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegate> delegate_;
    ProgressWatcher watcher_;
    QString firmware_;
    QStringList flasherDirs_;
};

struct OutcomeCase {
    const char* flasher; // nullptr: nothing at the launch path
    Kind kind;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << (c.flasher != nullptr ? c.flasher : "no flasher");
}

class UpdateOutcomeCases : public UpdateProcedureTest,
                           public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpdateOutcomeCases, ShowsTheMessagesOfTheFirstTestThatHolds) {
    const OutcomeCase& c = GetParam();
    if (c.flasher != nullptr) {
        installFlasher(c.flasher);
    }
    choose(firmware_);
    QSet<QMessageBox*> alerts;
    QStringList statusWhileShown;
    const auto boxes = update([&](QMessageBox& box) {
        alerts.insert(&box);
        statusWhileShown << delegate_->deviceFoundText()->text();
    });

    EXPECT_EQ(texts(boxes), expectedTexts(c.kind));
    EXPECT_EQ(alerts.size(), 1) << "one alert, reused for every message";
    for (const auto& box : boxes) {
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        EXPECT_EQ(box.buttons, QStringList{"OK"});
        EXPECT_EQ(box.modality, Qt::ApplicationModal);
    }
    EXPECT_EQ(delegate_->taskReturnErr(), c.flasher != nullptr ? 0 : -1);
    if (c.flasher == nullptr) {
        EXPECT_EQ(output(), QStringLiteral("Sorry, the command produced an exception"));
    }

    // The status is blanked after the replug request and checked again only after the last
    // message.
    ASSERT_EQ(statusWhileShown.size(), boxes.size());
    EXPECT_EQ(statusWhileShown.first(), kConnected);
    for (qsizetype i = 1; i < statusWhileShown.size(); ++i) {
        EXPECT_EQ(statusWhileShown[i], QString()) << "alert " << i;
    }
    EXPECT_EQ(delegate_->deviceFoundText()->text(), kConnected);

    // The progress window was shown once and is gone.
    EXPECT_EQ(watcher_.windows, 1);
    EXPECT_TRUE(watcher_.last.isNull() || !watcher_.last->isVisible());
    EXPECT_EQ(delegate_->progressDLG(), nullptr);
    EXPECT_EQ(delegate_->session(), nullptr);
    EXPECT_TRUE(watcher_.spinnerTurning);
    EXPECT_TRUE(watcher_.onlyWindowTakingInput);
    EXPECT_EQ(watcher_.statusDuringWait, QString());
}

INSTANTIATE_TEST_SUITE_P(
    Flashers, UpdateOutcomeCases,
    ::testing::Values(OutcomeCase{"dfuse-success.sh", Kind::Success},
                      OutcomeCase{nullptr, Kind::TransferFailed},
                      OutcomeCase{"no-device.sh", Kind::DeviceNotFound},
                      OutcomeCase{"library-missing.sh", Kind::LibraryMissing},
                      OutcomeCase{"image-not-found.sh", Kind::LibraryMissing},
                      OutcomeCase{"cannot-open-file.sh", Kind::TransferNotCompleted},
                      OutcomeCase{"failed-after-element.sh", Kind::TransferNotCompleted},
                      OutcomeCase{"capitals.sh", Kind::Success},
                      OutcomeCase{"done-and-no-device.sh", Kind::Success},
                      OutcomeCase{"undecodable.sh", Kind::Success}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.flasher ? testInfo.param.flasher : "no_flasher";
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(UpdateProcedureTest, NothingHappensWithoutAFileURL) {
    installFlasher("dfuse-success.sh");
    EXPECT_TRUE(update().empty());
    delegate_->setFirmwareURL(
        std::make_shared<const QUrl>(QStringLiteral("https://example.com/fw.dfu")));
    EXPECT_TRUE(update().empty());
    processPendingEvents();
    EXPECT_TRUE(sim_->sent().empty());
    EXPECT_EQ(watcher_.windows, 0);
    EXPECT_EQ(FlasherRun::runningCount(), 0);
}

TEST_F(UpdateProcedureTest, TheEnterDfuSysExReachesEveryDestinationBeforeTheReplugRequest) {
    installFlasher("dfuse-success.sh");
    choose(firmware_);
    std::vector<SimulatedMidiService::Sent> sentBeforeReplug;
    update([&](QMessageBox& box) {
        if (box.text() == kReplug) {
            delegate_->waitForSends();
            sentBeforeReplug = sim_->sent();
            // A second Send while the update runs (a shortcut, say) starts nothing.
            delegate_->sendFile(nullptr);
        }
    });
    ASSERT_EQ(sentBeforeReplug.size(), destinations_.size());
    const std::vector<uint8_t> frame{0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};
    for (std::size_t i = 0; i < destinations_.size(); ++i) {
        const auto& sent = sentBeforeReplug[i];
        EXPECT_EQ(sent.endpoint, destinations_[i]);
        // One packet: count, 64-bit timestamp, 16-bit length, data.
        ASSERT_GE(sent.list.size(), 4u + 8u + 2u + frame.size());
        uint32_t count = 0;
        uint16_t length = 0;
        std::memcpy(&count, sent.list.data(), sizeof count);
        std::memcpy(&length, sent.list.data() + 12, sizeof length);
        EXPECT_EQ(count, 1u);
        ASSERT_EQ(length, frame.size());
        EXPECT_EQ(std::vector<uint8_t>(sent.list.begin() + 14, sent.list.begin() + 14 + length),
                  frame);
    }
    EXPECT_EQ(sim_->sent().size(), destinations_.size()) << "sent once per update";
    EXPECT_EQ(watcher_.windows, 1);
}

TEST_F(UpdateProcedureTest, WithoutAResultTheWaitTimesOutAndALateResultOverwritesTheCode) {
    installFlasher("sleeper.sh");
    choose(firmware_);
    delegate_->setPassPeriod(1ms);
    const auto boxes = update();
    EXPECT_EQ(texts(boxes), expectedTexts(Kind::Timeout));
    EXPECT_EQ(delegate_->taskReturnErr(), kTimeoutCode);

    // The bar got every step from 0 to 1, and nothing after.
    ASSERT_EQ(watcher_.values.size(), 141u);
    for (float value : watcher_.values) {
        EXPECT_GE(value, 0.0f);
        EXPECT_LE(value, 1.0f);
    }
    EXPECT_EQ(watcher_.values.back(), 1.0f);

    // The flasher ends after all: its result is stored over the timeout code, and no alert.
    QFile pidFile(dir_.filePath(QStringLiteral("pid")));
    ASSERT_TRUE(waitUntil([&] { return pidFile.exists(); }));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    ASSERT_EQ(::kill(pidFile.readAll().trimmed().toInt(), SIGKILL), 0);
    EXPECT_TRUE(waitUntil([&] { return delegate_->taskReturnErr() == 0; }));
    EXPECT_TRUE(output().contains(QStringLiteral("waiting for the device")));
    EXPECT_EQ(delegate_->deviceFoundText()->text(), kConnected);
}

// The result of a run that timed out arrives while a later update waits: it belongs to the
// earlier run, so it neither ends the later wait nor decides its outcome.
TEST_F(UpdateProcedureTest, ALateResultOfAnEarlierRunIsIgnored) {
    const QString first = dir_.filePath(QStringLiteral("first"));
    const QString second = dir_.filePath(QStringLiteral("second"));
    QDir().mkpath(first);
    QDir().mkpath(second);
    installFlasher("sleeper.sh", first);
    installFlasher("wait-for-go.sh", second);
    choose(firmware_);

    delegate_->setFlasherDirectory(first);
    delegate_->setPassPeriod(1ms);
    EXPECT_EQ(texts(update()), expectedTexts(Kind::Timeout));

    SystemLogCapture log;
    bool killed = false;
    bool ignored = false;
    watcher_.onProgress = [&](float) {
        if (!killed) {
            QFile pidFile(first + QStringLiteral("/pid"));
            if (pidFile.open(QIODevice::ReadOnly)) {
                killed = ::kill(pidFile.readAll().trimmed().toInt(), SIGKILL) == 0;
            }
        } else if (!ignored && !log.lines()
                                    .filter(QStringLiteral("Ignoring the result of flasher run 1"))
                                    .isEmpty()) {
            ignored = true;
            writeFile(second + QStringLiteral("/go"), "");
        }
    };
    delegate_->setFlasherDirectory(second);
    delegate_->setPassPeriod(20ms);
    EXPECT_EQ(texts(update()), expectedTexts(Kind::Success));
    EXPECT_TRUE(killed);
    EXPECT_TRUE(ignored);
    EXPECT_EQ(delegate_->taskReturnErr(), 0);
    EXPECT_TRUE(output().contains(QStringLiteral("Submitting leave request")));
    EXPECT_FALSE(output().contains(QStringLiteral("waiting for the device")));
}

TEST_F(UpdateProcedureTest, PathsReachTheFlasherUnchangedAsOneArgument) {
    installFlasher("record-argv.sh");
    for (const QString& name :
         {QStringLiteral("with spaces/VQ320 fw 1.2.dfu"), QStringLiteral("100%41 %zz%.dfu")}) {
        const QString path = dir_.filePath(name);
        writeFile(path, "image");
        choose(path);
        EXPECT_EQ(texts(update()), expectedTexts(Kind::Success));

        QFile argc(dir_.filePath(QStringLiteral("argc.txt")));
        ASSERT_TRUE(argc.open(QIODevice::ReadOnly));
        EXPECT_EQ(argc.readAll().trimmed(), "8");
        QFile argv(dir_.filePath(QStringLiteral("argv.bin")));
        ASSERT_TRUE(argv.open(QIODevice::ReadOnly));
        const QList<QByteArray> entries = argv.readAll().split('\0');
        ASSERT_EQ(entries.size(), 9); // eight, each ended by a NUL
        EXPECT_EQ(QString::fromUtf8(entries[7]), path);
        EXPECT_EQ(entries.mid(0, 7),
                  (QList<QByteArray>{"-a", "0", "-d", "0483:df11", "-s", ":leave", "-D"}));
    }
}

TEST_F(UpdateProcedureTest, FiftyMegabytesOfOutput) {
    installFlasher("huge-output.sh");
    choose(firmware_);
    EXPECT_EQ(texts(update()), expectedTexts(Kind::Success));
    // The whole output is kept once, as the output text: header, 50 MB, the final lines.
    const qsizetype header =
        QStringLiteral("Command sent: dfu-util -a 0 -d 0483:df11 \nCommand Output: ").size();
    const qsizetype tail =
        QStringLiteral("\nDownload done.\nDone parsing DfuSe file\nSubmitting leave request...\n\n")
            .size();
    EXPECT_EQ(output().size(), header + 50 * 1024 * 1024 + tail);
}

TEST_F(UpdateProcedureTest, TheRealDfuUtilBesideTheExecutableFindsNoDevice) {
    delegate_->setFlasherDirectory(QString());
    EXPECT_EQ(delegate_->flasherDirectory(), QCoreApplication::applicationDirPath());
    const QFileInfo flasher(FlasherRun::launchPathIn(QCoreApplication::applicationDirPath()));
    ASSERT_TRUE(flasher.isExecutable()) << "the build places dfu-util beside the test";
    choose(firmware_);
    const auto boxes = update();
    if (output().contains(QStringLiteral("unable to initialize libusb"), Qt::CaseInsensitive)) {
        GTEST_SKIP() << "USB is not available here: " << output().toStdString();
    }
    EXPECT_TRUE(output().contains(QStringLiteral("dfu-util 0.")));
    EXPECT_EQ(texts(boxes), expectedTexts(Kind::DeviceNotFound)) << output().toStdString();
}

} // namespace
