// Whole updates: the real controller and widgets on the simulated MIDI service, real flasher
// processes (test scripts, and Debian's dfu-util once), a short pass period, and the alerts
// answered as they come.
#include "AppDelegate.h"
#include "DfuseFile.h"
#include "EventLoopWait.h"
#include "FlasherRun.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ProgressDLG.h"
#include "SimulatedMidiService.h"
#include "SystemLog.h"
#include "UpdateOutcome.h"
#include "UsbDevicePresence.h"

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

// The USB bus as the loader wait sees it: the loader appears after a number of looks (never
// when negative), and each look is recorded with the progress window's phase at that moment.
class FakeUsbDevices : public UsbDevicePresence {
public:
    explicit FakeUsbDevices(int presentAfter) : presentAfter_(presentAfter) {}
    bool isPresent(uint16_t vendor, uint16_t product) override {
        EXPECT_EQ(vendor, 0x0483);
        EXPECT_EQ(product, 0xDF11);
        ++looks;
        if (phaseOf) {
            phases << phaseOf();
        }
        return presentAfter_ >= 0 && looks > presentAfter_;
    }
    int looks = 0;
    QStringList phases;
    std::function<QString()> phaseOf;

private:
    int presentAfter_;
};

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
        delegate_->setFlasherGracePeriod(50ms);
        delegate_->setQuitFunction([this] { ++quits_; });
        usb_ = std::make_shared<FakeUsbDevices>(0);
        delegate_->setUsbDevicePresence(usb_);
        watcher_.status = delegate_->deviceFoundText();
        qApp->installEventFilter(&watcher_);
        firmware_ = dir_.filePath(QStringLiteral("VQ320 firmware.dfu"));
        writeImage(firmware_, goodImage());
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
    std::shared_ptr<FakeUsbDevices> usb_;
    int quits_ = 0;
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
    }
    EXPECT_EQ(delegate_->taskReturnErr(), c.flasher != nullptr ? 0 : -1);
    if (c.flasher == nullptr) {
        EXPECT_EQ(output(), QStringLiteral("Sorry, the command produced an exception"));
    }

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
                      OutcomeCase{nullptr, Kind::TransferFailed},
                      OutcomeCase{"no-device.sh", Kind::DeviceNotFound},
                      OutcomeCase{"library-missing.sh", Kind::LibraryMissing},
                      OutcomeCase{"image-not-found.sh", Kind::LibraryMissing},
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
    delegate_->setPassPeriod(1ms);
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
    delegate_->setPassPeriod(5ms);
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
    EXPECT_EQ(sim_->sent().size(), destinations_.size()) << "one SysEx";
}

struct QuitCase {
    const char* name;
    bool quit; // the answer to "Quit anyway?"
};

class QuitDuringAnUpdate : public UpdateProcedureTest,
                           public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitDuringAnUpdate, AsksFirstThenEndsTheFlasher) {
    installFlasher("sleeper.sh");
    choose(firmware_);
    delegate_->setPassPeriod(5ms);
    bool asked = false;
    pid_t pid = 0;
    watcher_.onProgress = [&](float) {
        pid = flasherPid(dir_.path());
        if (!asked && pid > 0) {
            asked = true;
            delegate_->requestQuit();
        }
    };
    const auto boxes = update([&](QMessageBox& box) {
        if (box.text().startsWith(QStringLiteral("An update is under way"))) {
            for (QAbstractButton* button : box.buttons()) {
                if (button->text() == (GetParam().quit ? QStringLiteral("Quit")
                                                       : QStringLiteral("Continue the update"))) {
                    button->click();
                }
            }
        }
    });
    ASSERT_TRUE(asked);
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].text, QStringLiteral("An update is under way. Quit anyway?"));
    EXPECT_EQ(boxes[2].defaultButton, QStringLiteral("Continue the update"));
    if (GetParam().quit) {
        EXPECT_EQ(boxes.size(), 3u) << "no outcome message when quitting";
        EXPECT_EQ(quits_, 1);
    } else {
        // Going on: the flasher runs to the time-out as usual.
        EXPECT_EQ(boxes.back().text, QLatin1String(UpdateOutcome::kTimeoutMessage));
        EXPECT_EQ(quits_, 0);
    }
    EXPECT_NE(::kill(pid, 0), 0) << "the flasher is gone";
    EXPECT_EQ(FlasherRun::runningCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, QuitDuringAnUpdate,
                         ::testing::Values(QuitCase{"Quit", true}, QuitCase{"Continue", false}),
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
        EXPECT_EQ(sim_->sent().size(), destinations_.size());
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

struct LoaderCase {
    const char* name;
    int presentAfter; // looks before the loader shows; negative: never
    const char* flasher;
    int looks; // expected looks
    Kind kind;
};

void PrintTo(const LoaderCase& c, std::ostream* os) {
    *os << c.name;
}

class LoaderWait : public UpdateProcedureTest, public ::testing::WithParamInterface<LoaderCase> {};

// After the replug the flasher starts as soon as the loader is on the bus, or after the wait's
// limit anyway (its own output then decides).
TEST_P(LoaderWait, StartsTheFlasherWhenTheLoaderIsThere) {
    const LoaderCase& c = GetParam();
    installFlasher(c.flasher);
    choose(firmware_);
    usb_ = std::make_shared<FakeUsbDevices>(c.presentAfter);
    usb_->phaseOf = [this] {
        const auto dialog = delegate_->progressDLG();
        return dialog ? dialog->phaseText() : QStringLiteral("(no window)");
    };
    delegate_->setUsbDevicePresence(usb_);
    delegate_->setLoaderWait(20ms, 1ms);
    EXPECT_EQ(texts(update()), expectedTexts(c.kind));
    EXPECT_EQ(usb_->looks, c.looks);
    EXPECT_FALSE(output().isEmpty());
    for (qsizetype i = 1; i < usb_->phases.size(); ++i) {
        EXPECT_TRUE(usb_->phases[i].startsWith(QStringLiteral("Waiting for the mixer's update")))
            << usb_->phases[i].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Loaders, LoaderWait,
    ::testing::Values(LoaderCase{"AlreadyThere", 0, "dfuse-success.sh", 1, Kind::Success},
                      LoaderCase{"Late", 5, "dfuse-success.sh", 6, Kind::Success},
                      LoaderCase{"Never", -1, "no-device.sh", 21, Kind::DeviceNotFound}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The bar follows dfu-util's own progress once it reports any; the clock only stands in before.
TEST_F(UpdateProcedureTest, TheBarShowsTheFlashersRealProgress) {
    installFlasher("progress.sh");
    choose(firmware_);
    delegate_->setPassPeriod(10ms); // the clock stays below the first element's share
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
    EXPECT_EQ(phaseMidway, QStringLiteral("Writing element 1 of 3… 86% of the firmware"));
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

TEST_F(UpdateProcedureTest, PathsReachTheFlasherUnchangedAsOneArgument) {
    installFlasher("record-argv.sh");
    for (const QString& name :
         {QStringLiteral("with spaces/VQ320 fw 1.2.dfu"), QStringLiteral("100%41 %zz%.dfu")}) {
        const QString path = dir_.filePath(name);
        writeImage(path, goodImage());
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
    // Only the head and the tail are kept, and how much lay between.
    EXPECT_LT(output().size(), 200 * 1024);
    EXPECT_TRUE(output().startsWith(
        QStringLiteral("Command sent: dfu-util -a 0 -d 0483:df11 \nCommand Output: Download\t")));
    EXPECT_TRUE(output().contains(QStringLiteral("bytes of output left out")));
    EXPECT_TRUE(output().endsWith(QStringLiteral("Submitting leave request...\n\n")));
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
