// Whole updates: the real controller and widgets on the simulated MIDI service, real flasher
// processes (test scripts, and Debian's dfu-util once), a short pass period, and the alerts
// answered as they come.
#include "AppDelegate.h"
#include "DeviceWatch.h"
#include "DfuseFile.h"
#include "EventLoopWait.h"
#include "FakeUsbBus.h"
#include "FlasherRun.h"
#include "InterruptedUpdate.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ProgressDLG.h"
#include "QuitSignals.h"
#include "SimulatedMidiService.h"
#include "SystemLog.h"
#include "UpdateOutcome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
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
const QString kConfirm = QStringLiteral("Update the MIRT VQ320 with this firmware?");
const QString kRecover =
    QStringLiteral("Write this firmware to the device waiting in USB update mode?");
const QString kFlasherBroken = QLatin1String(UpdateProcedure::kFlasherBrokenMessage);

QStringList expectedTexts(Kind kind) {
    return QStringList{kConfirm, kReplug} + UpdateOutcome::messages(kind);
}

// The image of the recorded transcripts that the test flashers replay: 70000, 5000 and 6161 bytes.
std::vector<uint8_t> goodImage() {
    return dfutest::makeDfuseFile({{0,
                                    "Internal Flash",
                                    {{0x08000000, dfutest::patternBytes(70000, 1)},
                                     {0x08020000, dfutest::patternBytes(5000, 2)},
                                     {0x08040000, dfutest::patternBytes(6161, 3)}}}});
}

void writeImageFile(const QString& path, const std::vector<uint8_t>& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    dfutest::writeBinaryFile(path.toStdString(), bytes);
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
        qputenv("VQ_TRANSCRIPTS", VQ_TRANSCRIPTS_DIR); // for the flashers that replay one
        sim_ = std::make_shared<SimulatedMidiService>();
        mixerSource_ = sim_->addSource(QStringLiteral("MIRT VQ320 MIDI 1"));
        destinations_ = {sim_->addDestination(QStringLiteral("MIRT VQ320 MIDI 1")),
                         sim_->addDestination(QStringLiteral("Other Synth"))};
        window_ = std::make_unique<MainWindow>();
        delegate_ = std::make_unique<AppDelegate>(sim_, *window_);
        // The real pass period: a result ends the wait at once, whatever the period, so only
        // the tests of passes and time-outs shorten it.
        UpdateProcedure::Settings& settings = delegate_->updateSettings();
        settings.flasherDirectory = dir_.path();
        settings.stateDirectory = dir_.filePath(QStringLiteral("state"));
        settings.flasherGrace = 50ms;
        settings.loaderWait = 20ms;
        settings.writableWait = 20ms;
        settings.lookPeriod = 1ms;
        delegate_->setQuitFunction([this] { ++quits_; });
        // The mixer's loader appears as soon as the replug request has been answered.
        setBus(std::make_unique<FakeUsbBus>());
        bus_->appearing = {FakeUsbBus::device("1-4", 9)};
        delegate_->deviceWatch().setPollPeriod(1h); // only the update looks
        delegate_->applicationDidFinishLaunching();
        watcher_.status = delegate_->deviceFoundText();
        qApp->installEventFilter(&watcher_);
        firmware_ = dir_.filePath(QStringLiteral("VQ320 firmware.dfu"));
        writeImage(firmware_, goodImage());
    }

    void setBus(std::unique_ptr<FakeUsbBus> bus) {
        bus_ = bus.get();
        delegate_->deviceWatch().setSource(std::move(bus));
    }

    static void writeImage(const QString& path, const std::vector<uint8_t>& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        dfutest::writeBinaryFile(path.toStdString(), bytes);
    }

    pid_t flasherPid(const QString& dir) const {
        QFile pidFile(dir + QStringLiteral("/pid"));
        return pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toInt() : 0;
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

    // Presses Send and answers every alert; returns the alerts' records. The bus is armed when
    // the replug request is answered, as the user replugs then.
    std::vector<ModalAnswerer::Box> update(std::function<void(QMessageBox&)> beforeAnswer = {}) {
        ModalAnswerer answerer;
        answerer.setBeforeAnswer([this, hook = std::move(beforeAnswer)](QMessageBox& box) {
            if (box.text() == kReplug) {
                bus_->arm();
            }
            if (hook) {
                hook(box);
            }
        });
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
    MIDIEndpointRef mixerSource_ = 0;
    std::vector<MIDIEndpointRef> destinations_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegate> delegate_;
    ProgressWatcher watcher_;
    QString firmware_;
    QStringList flasherDirs_;
    FakeUsbBus* bus_ = nullptr; // owned by the controller's device watch
    int quits_ = 0;
};

struct OutcomeCase {
    const char* flasher;
    Kind kind;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.flasher;
}

class UpdateOutcomeCases : public UpdateProcedureTest,
                           public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpdateOutcomeCases, ShowsTheMessagesOfTheFirstTestThatHolds) {
    const OutcomeCase& c = GetParam();
    installFlasher(c.flasher);
    choose(firmware_);
    QSet<QMessageBox*> alerts;
    QStringList statusWhileShown;
    const auto boxes = update([&](QMessageBox& box) {
        alerts.insert(&box);
        statusWhileShown << delegate_->deviceFoundText()->text();
    });

    EXPECT_EQ(texts(boxes), expectedTexts(c.kind));
    EXPECT_EQ(alerts.size(), 2) << "the confirmation, then one alert reused for every message";
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes[0].buttons, (QStringList{"Update", "Cancel"}));
    EXPECT_EQ(boxes[0].defaultButton, QStringLiteral("Update"));
    EXPECT_EQ(boxes[0].escapeButton, QStringLiteral("Cancel"));
    EXPECT_TRUE(boxes[0].informativeText.contains(QStringLiteral("VQ320 firmware.dfu")));
    EXPECT_EQ(boxes[1].icon, QMessageBox::Information) << "the replug request";
    EXPECT_EQ(boxes[1].buttons, QStringList{"OK"});
    for (std::size_t i = 1; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].modality, Qt::ApplicationModal);
    }
    for (std::size_t i = 2; i < boxes.size(); ++i) {
        // Successes inform, failures warn; the flasher's output is in the details (where the
        // carriage returns of its progress bars break lines).
        EXPECT_EQ(boxes[i].icon,
                  c.kind == Kind::Success ? QMessageBox::Information : QMessageBox::Warning);
        EXPECT_EQ(boxes[i].detailedText, output().replace(QLatin1Char('\r'), QLatin1Char('\n')));
        EXPECT_EQ(boxes[i].buttons.first(), QStringLiteral("OK"));
        EXPECT_EQ(boxes[i].buttons.size(), 2) << "OK and the details";
        // A failure leaves the mixer in its loader: the user is told how to go on.
        EXPECT_EQ(boxes[i].informativeText,
                  c.kind == Kind::Success ? QString() : QLatin1String(UpdateProcedure::kGoOnHint));
    }
    EXPECT_EQ(delegate_->taskReturnErr(), 0);
    // Told how it ended: no note of an interrupted update is left.
    EXPECT_FALSE(InterruptedUpdate(delegate_->updateSettings().stateDirectory).recorded());

    // The status is blanked after the replug request and checked again only after the last
    // message.
    ASSERT_EQ(statusWhileShown.size(), boxes.size());
    EXPECT_EQ(statusWhileShown[0], kConnected);
    EXPECT_EQ(statusWhileShown[1], kConnected);
    for (qsizetype i = 2; i < statusWhileShown.size(); ++i) {
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
                      OutcomeCase{"no-device.sh", Kind::DeviceNotFound},
                      OutcomeCase{"cannot-open-file.sh", Kind::TransferNotCompleted},
                      OutcomeCase{"failed-after-element.sh", Kind::TransferNotCompleted},
                      OutcomeCase{"killed-after-element.sh", Kind::TransferNotCompleted},
                      OutcomeCase{"no-permission.sh", Kind::PermissionDenied},
                      OutcomeCase{"two-loaders.sh", Kind::TooManyDevices},
                      OutcomeCase{"two-targets.sh", Kind::FileRefused},
                      OutcomeCase{"capitals.sh", Kind::Success},
                      OutcomeCase{"done-and-no-device.sh", Kind::Success},
                      OutcomeCase{"undecodable.sh", Kind::Success}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.flasher;
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

// Only the mixer is told to restart: another synth on the MIDI side hears nothing.
TEST_F(UpdateProcedureTest, TheEnterDfuSysExReachesOnlyTheMixerBeforeTheReplugRequest) {
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
    ASSERT_EQ(sentBeforeReplug.size(), 1u);
    const std::vector<uint8_t> frame{0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};
    const auto& sent = sentBeforeReplug[0];
    EXPECT_EQ(sent.endpoint, destinations_[0]) << "the mixer, not the other synth";
    // One packet: count, 64-bit timestamp, 16-bit length, data.
    ASSERT_GE(sent.list.size(), 4u + 8u + 2u + frame.size());
    uint32_t count = 0;
    uint16_t length = 0;
    std::memcpy(&count, sent.list.data(), sizeof count);
    std::memcpy(&length, sent.list.data() + 12, sizeof length);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(length, frame.size());
    EXPECT_EQ(std::vector<uint8_t>(sent.list.begin() + 14, sent.list.begin() + 14 + length), frame);
    EXPECT_EQ(sim_->sent().size(), 1u) << "sent once per update";
    EXPECT_EQ(watcher_.windows, 1);
}

struct StuckCase {
    const char* flasher;
};

class StuckFlashers : public UpdateProcedureTest,
                      public ::testing::WithParamInterface<StuckCase> {};

// At the time-out the flasher is ended (SIGTERM, or SIGKILL after the grace period) and reaped
// before the message, so that "Please repeat the procedure" is true.
TEST_P(StuckFlashers, AreEndedBeforeTheTimeoutMessage) {
    installFlasher(GetParam().flasher);
    choose(firmware_);
    delegate_->updateSettings().passPeriod = 1ms;
    QStringList phases;
    watcher_.onProgress = [&](float) { phases << delegate_->progressDLG()->phaseText(); };
    bool goneAtTheMessage = false;
    const auto boxes = update([&](QMessageBox& box) {
        if (box.text() == QLatin1String(UpdateOutcome::kTimeoutMessage)) {
            const pid_t pid = flasherPid(dir_.path());
            goneAtTheMessage = pid > 0 && ::kill(pid, 0) != 0 && FlasherRun::runningCount() == 0;
        }
    });
    EXPECT_EQ(texts(boxes), expectedTexts(Kind::Timeout));
    EXPECT_TRUE(goneAtTheMessage);
    EXPECT_EQ(delegate_->taskReturnErr(), kTimeoutCode);
    EXPECT_TRUE(boxes.back().detailedText.contains(QStringLiteral("Download")) ||
                boxes.back().detailedText.contains(QStringLiteral("waiting for the device")));

    // A few passes into the silence the window tells how long it has lasted.
    EXPECT_TRUE(phases.contains(
        QStringLiteral("Starting the flasher…\nNo output from the flasher for 5 second(s).")));
    // The bar got every step from 0 to 1, and nothing after.
    ASSERT_EQ(watcher_.values.size(), 141u);
    EXPECT_EQ(watcher_.values.back(), 1.0f);
    // Nothing is left to arrive later.
    processPendingEvents();
    EXPECT_EQ(delegate_->taskReturnErr(), kTimeoutCode);
    EXPECT_EQ(delegate_->deviceFoundText()->text(), kConnected);
}

INSTANTIATE_TEST_SUITE_P(Flashers, StuckFlashers,
                         ::testing::Values(StuckCase{"sleeper.sh"}, StuckCase{"ignores-term.sh"}),
                         [](const auto& testInfo) {
                             std::string name = testInfo.param.flasher;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// While a flasher lives, Send starts nothing: no second confirmation, no second flasher.
TEST_F(UpdateProcedureTest, ASecondSendIsRefusedWhileTheFlasherLives) {
    installFlasher("wait-for-go.sh");
    choose(firmware_);
    delegate_->updateSettings().passPeriod = 5ms;
    int runningDuringTheSecondSend = -1;
    watcher_.onProgress = [&](float) {
        if (runningDuringTheSecondSend < 0 && flasherPid(dir_.path()) > 0) {
            delegate_->sendFile(window_->sendFile());
            runningDuringTheSecondSend = FlasherRun::runningCount();
            writeFile(dir_.filePath(QStringLiteral("go")), "");
        }
    };
    EXPECT_EQ(texts(update()), expectedTexts(Kind::Success));
    EXPECT_EQ(runningDuringTheSecondSend, 1);
    EXPECT_EQ(sim_->sent().size(), 1u) << "one SysEx";
}

enum class Quit { Asked, Declined, Signal };

struct QuitCase {
    const char* name;
    Quit how;
};

class QuitDuringAnUpdate : public UpdateProcedureTest,
                           public ::testing::WithParamInterface<QuitCase> {};

// The menu asks first and says the firmware is then incomplete; a signal (kill, Ctrl+C, a
// logout) takes the same way out without a question. Either way the flasher is ended and reaped,
// and a note is left for the next start.
TEST_P(QuitDuringAnUpdate, EndsTheFlasherAndLeavesANote) {
    const Quit how = GetParam().how;
    installFlasher("sleeper.sh");
    choose(firmware_);
    // The quit comes in one of the 141 progress passes, once the flasher has started: at 5 ms a
    // loaded machine could start it later than that.
    delegate_->updateSettings().passPeriod = 20ms;
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, delegate_.get(),
                     [this](int signal) { delegate_->signalReceived(signal); });
    bool asked = false;
    pid_t pid = 0;
    watcher_.onProgress = [&](float) {
        pid = flasherPid(dir_.path());
        if (!asked && pid > 0) {
            asked = true;
            if (how == Quit::Signal) {
                ::raise(SIGTERM);
            } else {
                delegate_->requestQuit();
            }
        }
    };
    const auto boxes = update([&](QMessageBox& box) {
        if (box.text().startsWith(QStringLiteral("An update is under way"))) {
            for (QAbstractButton* button : box.buttons()) {
                if (button->text() == (how == Quit::Asked
                                           ? QStringLiteral("Quit")
                                           : QStringLiteral("Continue the update"))) {
                    button->click();
                }
            }
        }
    });
    ASSERT_TRUE(asked);
    const std::size_t askedBoxes = how == Quit::Signal ? 0 : 1;
    ASSERT_GE(boxes.size(), 2u + askedBoxes);
    if (askedBoxes == 1) {
        EXPECT_EQ(boxes[2].text, QStringLiteral("An update is under way. Quit anyway?"));
        EXPECT_EQ(boxes[2].informativeText, QLatin1String(UpdateProcedure::kQuitConsequence));
        EXPECT_EQ(boxes[2].defaultButton, QStringLiteral("Continue the update"));
    }
    const std::optional<QString> note =
        InterruptedUpdate(delegate_->updateSettings().stateDirectory).recorded();
    if (how == Quit::Declined) {
        // Going on: the flasher runs to the time-out as usual.
        EXPECT_EQ(boxes.back().text, QLatin1String(UpdateOutcome::kTimeoutMessage));
        EXPECT_EQ(quits_, 0);
        EXPECT_FALSE(note);
    } else {
        EXPECT_EQ(boxes.size(), 2u + askedBoxes) << "no outcome message when quitting";
        EXPECT_EQ(quits_, 1);
        EXPECT_EQ(note, firmware_);
        // The next start says so.
        MainWindow nextWindow;
        AppDelegate next(sim_, nextWindow);
        next.updateSettings() = delegate_->updateSettings();
        ModalAnswerer answerer;
        next.applicationDidFinishLaunching();
        EXPECT_TRUE(waitUntil([&] { return !answerer.boxes().empty(); }));
        ASSERT_FALSE(answerer.boxes().empty());
        EXPECT_TRUE(
            answerer.boxes()[0].text.startsWith(QStringLiteral("The last update was interrupted")));
        EXPECT_TRUE(answerer.boxes()[0].informativeText.contains(QStringLiteral("press Send")));
        next.applicationWillTerminate();
    }
    EXPECT_NE(::kill(pid, 0), 0) << "the flasher is gone";
    EXPECT_EQ(FlasherRun::runningCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, QuitDuringAnUpdate,
                         ::testing::Values(QuitCase{"Quit", Quit::Asked},
                                           QuitCase{"Continue", Quit::Declined},
                                           QuitCase{"Signal", Quit::Signal}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(UpdateProcedureTest, QuitWithoutAnUpdateQuitsAtOnce) {
    ModalAnswerer answerer;
    delegate_->requestQuit();
    EXPECT_EQ(quits_, 1);
    EXPECT_TRUE(answerer.boxes().empty());
}

struct FileCase {
    const char* name;
    std::function<void(const QString& path)> spoil;
    const char* problemHolds;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class BadFileAtSend : public UpdateProcedureTest, public ::testing::WithParamInterface<FileCase> {};

// A file that went bad after it was chosen: a message that names the problem, and nothing sent.
TEST_P(BadFileAtSend, SendsNothing) {
    installFlasher("dfuse-success.sh");
    choose(firmware_);
    GetParam().spoil(firmware_);
    const auto boxes = update();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("nothing was sent")));
    EXPECT_TRUE(boxes[0].informativeText.contains(QLatin1String(GetParam().problemHolds)))
        << boxes[0].informativeText.toStdString();
    processPendingEvents();
    EXPECT_TRUE(sim_->sent().empty());
    EXPECT_EQ(watcher_.windows, 0);
    EXPECT_FALSE(delegate_->updateRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileAtSend,
    ::testing::Values(FileCase{"Deleted", [](const QString& path) { QFile::remove(path); },
                               "no longer exists"},
                      FileCase{"ReplacedByText",
                               [](const QString& path) {
                                   QFile::remove(path);
                                   QFile file(path);
                                   ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                                   file.write("not a real image");
                               },
                               "no DFU signature at its end"},
                      FileCase{"Truncated",
                               [](const QString& path) {
                                   std::vector<uint8_t> bytes = goodImage();
                                   bytes.erase(bytes.begin() + 1000, bytes.begin() + 2000);
                                   writeImageFile(path, bytes);
                               },
                               "damaged"},
                      FileCase{"ForAnotherDevice",
                               [](const QString& path) {
                                   writeImageFile(
                                       path, dfutest::makePlainDfuFile(std::vector<uint8_t>(64, 1),
                                                                       {0xFFFF, 0x0001, 0x1234}));
                               },
                               "1234:0001"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct ConfirmCase {
    const char* name;
    int key; // the key pressed in the confirmation
    bool updates;
};

class Confirmation : public UpdateProcedureTest,
                     public ::testing::WithParamInterface<ConfirmCase> {};

// Return takes the default button (Update), Escape cancels; nothing is sent on Cancel.
TEST_P(Confirmation, ComesBeforeTheMixerIsRestarted) {
    installFlasher("dfuse-success.sh");
    choose(firmware_);
    const auto boxes = update([&](QMessageBox& box) {
        if (box.text() == kConfirm) {
            QKeyEvent press(QEvent::KeyPress, GetParam().key, Qt::NoModifier);
            QCoreApplication::sendEvent(&box, &press);
        }
    });
    processPendingEvents();
    if (GetParam().updates) {
        EXPECT_EQ(texts(boxes), expectedTexts(Kind::Success));
        EXPECT_EQ(sim_->sent().size(), 1u);
    } else {
        EXPECT_EQ(texts(boxes), QStringList{kConfirm});
        EXPECT_TRUE(sim_->sent().empty());
        EXPECT_EQ(watcher_.windows, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, Confirmation,
                         ::testing::Values(ConfirmCase{"Return", Qt::Key_Return, true},
                                           ConfirmCase{"Escape", Qt::Key_Escape, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct BusCase {
    const char* name;
    int mixers;                       // mixers on the MIDI side (two show the same names)
    std::vector<DfuDevice> present;   // in DFU mode before Send
    std::vector<DfuDevice> appearing; // appear after the replug ...
    int appearAfter;                  // ... this many looks later; negative: never
    int writableAfter;                // access checks before this user may write; <0: never
    bool tells;                       // the bus tells of changes (udev) instead of being polled
    const char* flasher;              // nullptr: nothing at the launch path
    QStringList messages;
    const char* writtenPort; // the -p that dfu-util was given; nullptr: dfu-util never ran
    bool restarts;           // the enter-DFU SysEx was sent
    int looks;               // looks at the bus after the replug; -1: not counted
    bool missesSome = false; // the bus that tells may miss a change, so it is polled as well
    std::chrono::milliseconds lookPeriod{
        0}; // and the wait's look period and limit; 0: the fixture's
};

void PrintTo(const BusCase& c, std::ostream* os) {
    *os << c.name;
}

const QStringList kWritten =
    QStringList{kConfirm, kReplug} + UpdateOutcome::messages(Kind::Success);
const DfuDevice kOtherBoard = FakeUsbBus::device("1-1", 5);
const DfuDevice kOtherVendor = FakeUsbBus::device("1-2", 6, 0x2E3C);
const DfuDevice kMixerLoader = FakeUsbBus::device("1-4", 9);
const DfuDevice kSecondLoader = FakeUsbBus::device("1-5", 10);
// A loader of 64 KiB: the first element of the image (70000 bytes) runs past it.
const DfuDevice kSmallLoader = FakeUsbBus::device("1-4", 9, 0x0483, "@Flash /0x08000000/04*016Kg");

class TheLoaderOfThisUpdate : public UpdateProcedureTest,
                              public ::testing::WithParamInterface<BusCase> {};

// dfu-util writes only the loader that appeared after this update's SysEx (or the one the user
// confirmed in recovery), named by its bus-port path; anything else stops before the flasher,
// and what cannot work stops before the mixer is restarted.
TEST_P(TheLoaderOfThisUpdate, IsTheOnlyDeviceWritten) {
    const BusCase& c = GetParam();
    if (c.flasher != nullptr) {
        installFlasher(c.flasher);
    }
    if (c.mixers == 0) {
        sim_->removeEndpoint(mixerSource_);
        sim_->removeEndpoint(destinations_[0]);
    } else if (c.mixers == 2) {
        sim_->addDestination(QStringLiteral("MIRT VQ320 MIDI 1"));
    }
    auto bus = std::make_unique<FakeUsbBus>(c.tells, !c.missesSome);
    bus->present = c.present;
    bus->appearing = c.appearing;
    bus->appearAfter = c.appearAfter;
    bus->writableAfter = c.writableAfter;
    setBus(std::move(bus));
    ASSERT_TRUE(waitUntil([&] { return delegate_->mixersConnected() == c.mixers; }));
    choose(firmware_);
    if (c.mixers == 0) {
        bus_->arm(); // nothing to replug: the loader is there
        EXPECT_TRUE(delegate_->deviceFoundText()->text().startsWith(
            QStringLiteral("A device waits in USB update mode: STM32  BOOTLOADER (0483:df11) at "
                           "USB port 1-4.")));
    }
    EXPECT_TRUE(window_->sendFile()->isEnabled());
    if (c.tells) {
        delegate_->updateSettings().loaderWait = 10s; // it ends when the bus tells
    }
    if (c.lookPeriod.count() > 0) {
        delegate_->updateSettings().lookPeriod = delegate_->updateSettings().loaderWait =
            c.lookPeriod;
    }
    const auto boxes = update([&](QMessageBox& box) {
        if (box.text() == kReplug && c.tells) {
            // The loader shows up while the update waits, and the bus says so.
            QTimer::singleShot(5ms, delegate_.get(), [this] { bus_->announce(); });
        }
    });
    processPendingEvents();

    EXPECT_EQ(texts(boxes), c.messages);
    if (c.mixers == 0 && !boxes.empty()) {
        // The confirmation names the device.
        EXPECT_TRUE(boxes[0].informativeText.contains(
            QStringLiteral("STM32  BOOTLOADER (0483:df11) at USB port 1-4")));
    }
    EXPECT_EQ(sim_->sent().size(), c.restarts ? 1u : 0u);
    QFile argv(dir_.filePath(QStringLiteral("argv.bin")));
    if (c.writtenPort == nullptr) {
        EXPECT_FALSE(argv.exists()) << "dfu-util must not run";
    } else {
        ASSERT_TRUE(argv.open(QIODevice::ReadOnly));
        const QList<QByteArray> entries = argv.readAll().split('\0');
        ASSERT_EQ(entries.size(), 11); // ten, each ended by a NUL
        EXPECT_EQ(entries.mid(0, 8), (QList<QByteArray>{"-a", "0", "-d", ",0483:df11", "-p",
                                                        c.writtenPort, "-s", ":leave"}));
    }
    if (c.looks >= 0) {
        EXPECT_EQ(bus_->looks, c.looks);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buses, TheLoaderOfThisUpdate,
    ::testing::Values(
        // Another STM32 board and another vendor's loader wait in DFU mode before Send: only
        // the loader that appears afterwards is written.
        BusCase{"OthersAlreadyThere",
                1,
                {kOtherBoard, kOtherVendor},
                {kMixerLoader},
                0,
                0,
                false,
                "record-argv.sh",
                kWritten,
                "1-4",
                true,
                1},
        BusCase{"Late",
                1,
                {kOtherBoard},
                {kMixerLoader},
                5,
                0,
                false,
                "record-argv.sh",
                kWritten,
                "1-4",
                true,
                6},
        BusCase{"ToldByUdev",
                1,
                {},
                {kMixerLoader},
                0,
                0,
                true,
                "record-argv.sh",
                kWritten,
                "1-4",
                true,
                2},
        // The kernel's events may miss a change, so that bus is polled too; yet the loader is
        // found on its word long before the first poll.
        BusCase{"ArrivalSeenWithoutAPoll",
                1,
                {},
                {kMixerLoader},
                0,
                0,
                true,
                "record-argv.sh",
                kWritten,
                "1-4",
                true,
                2,
                true,
                10s},
        // Nothing new: the board that was there is not written instead.
        BusCase{"None",
                1,
                {kOtherBoard},
                {},
                -1,
                0,
                false,
                "record-argv.sh",
                QStringList{kConfirm, kReplug} + UpdateOutcome::messages(Kind::DeviceNotFound),
                nullptr,
                true,
                21},
        BusCase{"TwoNew",
                1,
                {},
                {kMixerLoader, kSecondLoader},
                0,
                0,
                false,
                "record-argv.sh",
                {kConfirm, kReplug, QLatin1String(UpdateProcedure::kTwoLoadersMessage)},
                nullptr,
                true,
                -1},
        // udev gives this user access a moment after the device appears.
        BusCase{"NotYetWritable",
                1,
                {},
                {kMixerLoader},
                0,
                3,
                false,
                "record-argv.sh",
                kWritten,
                "1-4",
                true,
                -1},
        BusCase{"NeverWritable",
                1,
                {},
                {kMixerLoader},
                0,
                -1,
                false,
                "record-argv.sh",
                QStringList{kConfirm, kReplug} + UpdateOutcome::messages(Kind::PermissionDenied),
                nullptr,
                true,
                -1},
        // The loader's memory, as it names it, cannot hold the image: dfu-util is not run.
        BusCase{"FileDoesNotFit",
                1,
                {},
                {kSmallLoader},
                0,
                0,
                false,
                "record-argv.sh",
                {kConfirm, kReplug,
                 "The firmware file does not fit this device: the element at 0x08000000 (70000 "
                 "byte(s)) lies outside the memory its update mode can write."},
                nullptr,
                true,
                -1},
        BusCase{"FlasherMissing",
                1,
                {},
                {kMixerLoader},
                0,
                0,
                false,
                nullptr,
                {kFlasherBroken},
                nullptr,
                false,
                -1},
        BusCase{"FlasherBroken",
                1,
                {},
                {kMixerLoader},
                0,
                0,
                false,
                "library-missing.sh",
                {kFlasherBroken},
                nullptr,
                false,
                -1},
        BusCase{"TwoMixers",
                2,
                {},
                {kMixerLoader},
                0,
                0,
                false,
                "record-argv.sh",
                {QLatin1String(UpdateProcedure::kTwoMixersMessage)},
                nullptr,
                false,
                -1},
        // No mixer, its loader waiting: written after a confirmation, without a SysEx or replug.
        BusCase{"Recovery",
                0,
                {kMixerLoader, kOtherVendor},
                {},
                -1,
                0,
                false,
                "record-argv.sh",
                QStringList{kRecover} + UpdateOutcome::messages(Kind::Success),
                "1-4",
                false,
                -1}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The bar follows dfu-util's own progress once it reports any; the clock only stands in before.
TEST_F(UpdateProcedureTest, TheBarShowsTheFlashersRealProgress) {
    installFlasher("progress.sh");
    choose(firmware_);
    // The clock stays below the first element's share.
    delegate_->updateSettings().passPeriod = 10ms;
    QString phaseMidway;
    bool released = false;
    const float midway = 70000.0f / 81161.0f; // element 1 of 3 written
    watcher_.onProgress = [&](float value) {
        if (!released && std::abs(value - midway) < 1e-4f) {
            released = true;
            phaseMidway = delegate_->progressDLG()->phaseText();
            writeFile(dir_.filePath(QStringLiteral("go")), "");
        }
    };
    EXPECT_EQ(texts(update()), expectedTexts(Kind::Success));
    ASSERT_TRUE(released);
    EXPECT_EQ(phaseMidway.section(QLatin1Char('\n'), 0, 0), // without a line on the silence
              QStringLiteral("Writing element 1 of 3… 86% of the firmware"));
    // Neither the clock nor the flasher ever takes the bar back, and a success ends it full.
    EXPECT_TRUE(std::is_sorted(watcher_.values.begin(), watcher_.values.end()));
    EXPECT_EQ(watcher_.values.back(), 1.0f);
}

TEST_F(UpdateProcedureTest, ChoosingAFileShowsItsSummary) {
    choose(firmware_);
    const QString summary =
        QStringLiteral("DfuSe image, target \"Internal Flash\", 3 element(s), 81161 bytes");
    EXPECT_EQ(delegate_->fileSummary(), summary);
    EXPECT_EQ(window_->statusBar()->currentMessage(), summary);
    const QString bad = dir_.filePath(QStringLiteral("bad.dfu"));
    writeFile(bad, "not a real image");
    choose(bad);
    EXPECT_TRUE(delegate_->fileSummary().startsWith(QStringLiteral("Not usable: ")));
}

// The file is read once, at Send: the flasher gets exactly the bytes checked and confirmed, as a
// sealed image of its own, even when the file is replaced after the confirmation.
TEST_F(UpdateProcedureTest, TheFlasherWritesTheBytesConfirmed) {
    installFlasher("record-argv.sh");
    for (const QString& name :
         {QStringLiteral("with spaces/VQ320 fw 1.2.dfu"), QStringLiteral("100%41 %zz%.dfu")}) {
        const QString path = dir_.filePath(name);
        writeImage(path, goodImage());
        choose(path);
        bus_->disarm(); // the loader of the last update has gone
        const auto boxes = update([&](QMessageBox& box) {
            if (box.text() == kReplug) {
                writeImage(path, dfutest::makeDfuseFile({{0, "Swapped", {{0x08000000, {1, 2}}}}}));
            }
        });
        EXPECT_EQ(texts(boxes), expectedTexts(Kind::Success));
        EXPECT_TRUE(boxes[0].informativeText.contains(QFileInfo(path).fileName()));
        QFile image(dir_.filePath(QStringLiteral("image.bin")));
        ASSERT_TRUE(image.open(QIODevice::ReadOnly));
        const QByteArray read = image.readAll();
        EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.end()), goodImage());

        QFile argc(dir_.filePath(QStringLiteral("argc.txt")));
        ASSERT_TRUE(argc.open(QIODevice::ReadOnly));
        EXPECT_EQ(argc.readAll().trimmed(), "10");
        QFile argv(dir_.filePath(QStringLiteral("argv.bin")));
        ASSERT_TRUE(argv.open(QIODevice::ReadOnly));
        const QList<QByteArray> entries = argv.readAll().split('\0');
        ASSERT_EQ(entries.size(), 11); // ten, each ended by a NUL
        EXPECT_TRUE(entries[9].startsWith("/dev/fd/")) << entries[9].toStdString();
        EXPECT_EQ(entries.mid(0, 9), (QList<QByteArray>{"-a", "0", "-d", ",0483:df11", "-p", "1-4",
                                                        "-s", ":leave", "-D"}));
        // Started with SIGPIPE ignored: should the updater die, dfu-util finishes its write.
        QFile ignored(dir_.filePath(QStringLiteral("sigign.txt")));
        ASSERT_TRUE(ignored.open(QIODevice::ReadOnly));
        EXPECT_NE(ignored.readAll().trimmed().toULongLong(nullptr, 16) & (1ull << (SIGPIPE - 1)),
                  0u);
    }
}

TEST_F(UpdateProcedureTest, FiftyMegabytesOfOutput) {
    installFlasher("huge-output.sh");
    choose(firmware_);
    EXPECT_EQ(texts(update()), expectedTexts(Kind::Success));
    // Only the head and the tail are kept, and how much lay between.
    EXPECT_LT(output().size(), 200 * 1024);
    EXPECT_TRUE(output().startsWith(
        QStringLiteral("Command sent: dfu-util -a 0 -d ,0483:df11 \nCommand Output: Download\t")));
    EXPECT_TRUE(output().contains(QStringLiteral("bytes of output left out")));
    EXPECT_TRUE(output().endsWith(QStringLiteral("Submitting leave request...\n\n")));
}

// The real dfu-util passes the check, then finds no device at the loader's path (there is none).
TEST_F(UpdateProcedureTest, TheRealDfuUtilBesideTheExecutableFindsNoDevice) {
    delegate_->updateSettings().flasherDirectory.clear(); // beside the executable
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
