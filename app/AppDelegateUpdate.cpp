// The update procedure (the Send action), the flasher run behind it and the receipt of its result.
#include "AppDelegate.h"
#include "DfuFileCheck.h"
#include "FlasherRun.h"
#include "ModalSession.h"
#include "ProgressDLG.h"
#include "SystemLog.h"
#include "UpdateOutcome.h"
#include "UsbDevicePresence.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <system_error>
#include <thread>

namespace {

// The payload of the SysEx that restarts the mixer into its USB DFU loader.
constexpr uint8_t kEnterDfuPayload[] = {0x60, 0x07, 0x10, 0x4D};

constexpr const char* kReplugMessage = QT_TRANSLATE_NOOP(
    "AppDelegate", "Please unplug and replug USB cable connected to the MIRT VQ320");

QVariantMap failedStart() {
    return {{QString::fromLatin1(FlasherRun::kErrKey), -1},
            {QString::fromLatin1(FlasherRun::kOutputStringKey),
             QString::fromLatin1(FlasherRun::kExceptionText)}};
}

} // namespace

void AppDelegate::setPassPeriod(std::chrono::milliseconds period) {
    passPeriod_ = period;
}

std::chrono::milliseconds AppDelegate::passPeriod() const {
    return passPeriod_;
}

void AppDelegate::setFlasherDirectory(const QString& dir) {
    std::lock_guard lock(flasherDirectoryMutex_);
    flasherDirectory_ = dir;
}

QString AppDelegate::flasherDirectory() const {
    {
        std::lock_guard lock(flasherDirectoryMutex_);
        if (!flasherDirectory_.isEmpty()) {
            return flasherDirectory_;
        }
    }
    // Follows a link to the executable: the flasher lies beside the real file.
    return QCoreApplication::applicationDirPath();
}

void AppDelegate::setUsbDevicePresence(std::shared_ptr<UsbDevicePresence> devices) {
    usbDevices_ = std::move(devices);
}

void AppDelegate::setLoaderWait(std::chrono::milliseconds limit,
                                std::chrono::milliseconds pollPeriod) {
    loaderWaitLimit_ = limit;
    loaderPollPeriod_ = std::max(pollPeriod, std::chrono::milliseconds(1));
}

void AppDelegate::sendFile(QObject* /*sender*/) {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    if (url == nullptr || !url->isLocalFile()) {
        return;
    }
    // The dialogs and the wait run nested event loops; a second Send meanwhile is not another
    // update, and no second flasher may start beside a live one.
    if (updateRunning_ || flasherThread_.joinable()) {
        return;
    }
    updateRunning_ = true;
    quitRequested_ = false;

    // The file may have changed since it was chosen: the mixer is restarted only for a good one.
    const QString path = url->toLocalFile();
    const DfuFileCheck::Result file = DfuFileCheck::checkFile(path);
    if (!file.ok) {
        showFileProblem(path, file.problem);
        updateRunning_ = false;
        return;
    }
    // A quit asked for while the confirmation was up wins over its answer.
    if (!confirmUpdate(path, file.summary) || quitRequested_) {
        updateRunning_ = false;
        if (quitRequested_) {
            quit_();
        }
        return;
    }

    sendMidiSysEx(kEnterDfuPayload, sizeof kEnterDfuPayload);

    // One alert for the whole procedure; its text, icon and details change.
    QMessageBox alert(window());
    alert.setIcon(QMessageBox::Information);
    alert.addButton(tr("OK"), QMessageBox::AcceptRole);
    alert.setText(tr(kReplugMessage));
    alert.exec();

    if (const QPointer<QLabel> status = deviceFoundText()) {
        status->setText(QString());
    }

    auto progress = std::make_shared<ProgressDLG>();
    progress->centreOver(window());
    setProgressDLG(std::move(progress));
    const std::shared_ptr<ProgressDLG> dialog = progressDLG();
    realProgress_ = false;
    ModalSession modal(dialog.get(), passPeriod_,
                       {.progress =
                            [this, dialog](float value) {
                                // The clock stands in only until the flasher measures.
                                if (!realProgress_) {
                                    dialog->setProgressValue(value);
                                }
                            },
                        .timeout =
                            [this] {
                                setTaskReturnErr(kTimeoutCode);
                                if (flasherRun_ != nullptr) {
                                    flasherRun_->stop();
                                }
                            }});
    // The session exists before the run starts, so even an immediate result can stop it.
    setSession(&modal);
    modal.begin();

    if (!quitRequested_) {
        waitForLoader();
    }
    if (!quitRequested_) {
        dialog->setPhaseText(tr("Starting the flasher…"));
        startFlasherRun(file.image);
        if (!quitRequested_) {
            modal.run();
        }
    }
    // No message before the flasher is gone: after a time-out or a quit it is stopped here.
    endFlasherRun();
    modal.end();
    setSession(nullptr);
    setProgressDLG(nullptr);

    if (!quitRequested_) {
        const UpdateOutcome::Kind kind = UpdateOutcome::classify(taskReturnErr(), lastVerdict_);
        alert.setIcon(UpdateOutcome::isSuccess(kind) ? QMessageBox::Information
                                                     : QMessageBox::Warning);
        const std::shared_ptr<const QString> output = taskOutputString();
        alert.setDetailedText(output ? *output : QString());
        for (const QString& message : UpdateOutcome::messages(kind)) {
            alert.setText(message);
            alert.exec();
        }
    }

    checkMirtMidiDevice();
    updateRunning_ = false;
    if (quitRequested_) {
        quit_();
    }
}

void AppDelegate::showFileProblem(const QString& path, const QString& problem) {
    QMessageBox box(window());
    box.setIcon(QMessageBox::Warning);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.setText(tr("The firmware file cannot be used, so nothing was sent to the mixer."));
    box.setInformativeText(QStringLiteral("%1\n\n%2").arg(path, problem));
    systemLog(QStringLiteral("Firmware file refused: %1: %2").arg(path, problem));
    box.exec();
}

bool AppDelegate::confirmUpdate(const QString& path, const QString& summary) {
    QMessageBox box(window());
    box.setIcon(QMessageBox::Question);
    box.setText(tr("Update the MIRT VQ320 with this firmware?"));
    box.setInformativeText(
        tr("%1\n%2\n\nThe mixer restarts into its update mode at once; only a power cycle "
           "brings it back without an update.")
            .arg(QFileInfo(path).fileName(), summary));
    QPushButton* update = box.addButton(tr("Update"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(update);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == update;
}

void AppDelegate::waitForLoader() {
    constexpr uint16_t vendor = DfuFileCheck::kVendor;
    constexpr uint16_t product = DfuFileCheck::kProduct;
    if (usbDevices_ == nullptr || usbDevices_->isPresent(vendor, product)) {
        return;
    }
    if (const std::shared_ptr<ProgressDLG> dialog = progressDLG()) {
        dialog->setPhaseText(tr("Waiting for the mixer's update mode (USB device 0483:df11)…"));
    }
    QEventLoop wait;
    loaderWait_ = &wait;
    QTimer poll;
    poll.setInterval(loaderPollPeriod_);
    const auto limit = std::max<long long>(1, loaderWaitLimit_ / loaderPollPeriod_);
    long long polls = 0;
    bool found = false;
    connect(&poll, &QTimer::timeout, &wait, [&] {
        found = usbDevices_->isPresent(vendor, product);
        if (found || ++polls >= limit) {
            wait.quit();
        }
    });
    poll.start();
    wait.exec();
    loaderWait_ = nullptr;
    if (!found && !quitRequested_) {
        // The flasher's own output then tells what is wrong.
        systemLog(QStringLiteral("No USB device 0483:df11 appeared within %1 ms; starting the "
                                 "flasher anyway")
                      .arg(loaderWaitLimit_.count()));
    }
}

void AppDelegate::startFlasherRun(const DfuseImage& image) {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    // The decoded file-system path as it is: no second percent-decoding.
    const QString path = url ? url->toLocalFile() : QString();
    auto run = std::make_shared<FlasherRun>(FlasherRun::launchPathIn(flasherDirectory()),
                                            FlasherRun::argumentsFor(path), image);
    run->setGracePeriod(flasherGrace_);
    const uint64_t number = flasherRunNumber_.fetch_add(1) + 1;
    // The inbox drops posted work once the controller is gone, so `owner` is never stale there.
    run->setProgressHandler([inbox = inbox_, owner = this, number](const DfuProgress& progress) {
        inbox->post([owner, number, progress] { owner->flasherProgress(number, progress); });
    });
    run->setResultHandler([inbox = inbox_, owner = this, number](const QVariantMap& result) {
        inbox->post([owner, number, result] { owner->flasherRunEnded(number, result); });
    });
    runEnded_ = false;
    lastVerdict_ = FlasherVerdict::TransferNotCompleted;
    flasherRun_ = run;
    try {
        flasherThread_ = std::thread([run] { run->run(); });
    } catch (const std::system_error&) {
        flasherRun_.reset();
        flasherRunEnded(number, failedStart());
    }
}

void AppDelegate::endFlasherRun() {
    if (!flasherThread_.joinable()) {
        return;
    }
    if (!runEnded_) {
        flasherRun_->stop();
        QEventLoop wait;
        runEndWait_ = &wait;
        if (!runEnded_) {
            wait.exec();
        }
        runEndWait_ = nullptr;
    }
    // After its result the thread only logs the output, so this join is short; when the event
    // loops were cut short (the application is quitting), it waits for the flasher's reaping.
    flasherThread_.join();
    flasherRun_.reset();
}

void AppDelegate::flasherProgress(uint64_t run, const DfuProgress& progress) {
    const std::shared_ptr<ProgressDLG> dialog = progressDLG();
    if (run != flasherRunNumber_.load() || runEnded_ || dialog == nullptr) {
        return;
    }
    if (!progress.measured) {
        return;
    }
    realProgress_ = true;
    const int percent = static_cast<int>(progress.fraction * 100.0f);
    const bool erasing = progress.phase == DfuProgress::Phase::Erase;
    QString phase = erasing ? tr("Erasing") : tr("Writing");
    if (progress.element > 0 && progress.elements > 1) {
        phase = erasing
                    ? tr("Erasing element %1 of %2").arg(progress.element).arg(progress.elements)
                    : tr("Writing element %1 of %2").arg(progress.element).arg(progress.elements);
    }
    dialog->setPhaseText(tr("%1… %2% of the firmware").arg(phase).arg(percent));
    // The clock may have gone further than the first bytes written: the bar never goes back.
    dialog->setProgressValue(std::max(progress.fraction, dialog->progressValue()));
}

void AppDelegate::startTask() {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    const QString path = url ? url->toLocalFile() : QString();
    FlasherRun run(FlasherRun::launchPathIn(flasherDirectory()), FlasherRun::argumentsFor(path),
                   DfuFileCheck::checkFile(path).image);
    const uint64_t number = flasherRunNumber_.load();
    const QVariantMap result = run.run();
    inbox_->post([owner = this, number, result] { owner->flasherRunEnded(number, result); });
}

void AppDelegate::flasherRunEnded(uint64_t run, const QVariantMap& result) {
    const uint64_t latest = flasherRunNumber_.load();
    if (run != latest) {
        systemLog(QStringLiteral("Ignoring the result of flasher run %1: run %2 is the latest")
                      .arg(run)
                      .arg(latest));
        return;
    }
    runEnded_ = true;
    const bool stopped = result.value(QString::fromLatin1(FlasherRun::kStoppedKey)).toBool();
    if (stopped && taskReturnErr() == kTimeoutCode) {
        // Stopped at the time-out: the time-out stays the outcome; the output goes to Details.
        setTaskOutputString(std::make_shared<const QString>(
            result.value(QString::fromLatin1(FlasherRun::kOutputStringKey)).toString()));
    } else {
        taskEnded(result);
    }
    if (runEndWait_ != nullptr) {
        runEndWait_->quit();
    }
}

void AppDelegate::taskEnded(const QVariantMap& result) {
    setTaskReturnErr(
        static_cast<int32_t>(result.value(QString::fromLatin1(FlasherRun::kErrKey)).toLongLong()));
    setTaskOutputString(std::make_shared<const QString>(
        result.value(QString::fromLatin1(FlasherRun::kOutputStringKey)).toString()));
    lastVerdict_ = static_cast<FlasherVerdict>(
        result
            .value(QString::fromLatin1(FlasherRun::kVerdictKey),
                   static_cast<int>(FlasherVerdict::TransferNotCompleted))
            .toInt());
    // Stops only the update's wait; an alert shown meanwhile stays up.
    if (auto* modal = qobject_cast<ModalSession*>(session())) {
        modal->stopModal();
    } else if (QEventLoop* loop = session()) {
        loop->quit();
    }
}

void AppDelegate::requestQuit() {
    if (!updateRunning_) {
        quit_();
        return;
    }
    if (quitRequested_) {
        return;
    }
    QMessageBox box(QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget()
                                                                 : window().data());
    box.setIcon(QMessageBox::Warning);
    box.setText(tr("An update is under way. Quit anyway?"));
    box.setInformativeText(tr("The flasher is stopped. The mixer stays in its update mode and "
                              "can be updated again at once."));
    QPushButton* quit = box.addButton(tr("Quit"), QMessageBox::DestructiveRole);
    QPushButton* keepOn = box.addButton(tr("Continue the update"), QMessageBox::RejectRole);
    box.setDefaultButton(keepOn);
    box.setEscapeButton(keepOn);
    box.exec();
    if (box.clickedButton() != quit || !updateRunning_) {
        if (box.clickedButton() == quit) {
            quit_(); // the update ended meanwhile
        }
        return;
    }
    quitRequested_ = true;
    if (loaderWait_ != nullptr) {
        loaderWait_->quit();
    }
    if (flasherRun_ != nullptr) {
        flasherRun_->stop(); // its result ends the wait
    } else if (auto* modal = qobject_cast<ModalSession*>(session())) {
        modal->stopModal();
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == window().data() && updateRunning_) {
        event->ignore();
        QTimer::singleShot(0, this, [this] { requestQuit(); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}
