// The update procedure (the Send action), the flasher run behind it and the receipt of its result.
#include "AppDelegate.h"
#include "FlasherRun.h"
#include "ModalSession.h"
#include "ProgressDLG.h"
#include "SystemLog.h"
#include "UpdateOutcome.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <system_error>
#include <thread>

namespace {

// The payload of the SysEx that restarts the mixer into its USB DFU loader.
constexpr uint8_t kEnterDfuPayload[] = {0x60, 0x07, 0x10, 0x4D};

constexpr const char* kReplugMessage = QT_TRANSLATE_NOOP(
    "AppDelegate", "Please unplug and replug USB cable connected to the MIRT VQ320");

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

void AppDelegate::sendFile(QObject* /*sender*/) {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    if (url == nullptr || !url->isLocalFile()) {
        return;
    }
    // The alerts and the wait run nested event loops; a second Send meanwhile is not another
    // update.
    if (updateRunning_) {
        return;
    }
    updateRunning_ = true;

    sendMidiSysEx(kEnterDfuPayload, sizeof kEnterDfuPayload);

    // One alert for the whole procedure; only its text changes.
    QMessageBox alert(window());
    alert.setIcon(QMessageBox::Warning);
    alert.addButton(tr("OK"), QMessageBox::AcceptRole);
    alert.setText(tr(kReplugMessage));
    alert.exec();

    if (const QPointer<QLabel> status = deviceFoundText()) {
        status->setText(QString());
    }

    auto progress = std::make_shared<ProgressDLG>();
    progress->centreOver(window());
    setProgressDLG(std::move(progress));
    ModalSession modal(progressDLG().get(), passPeriod_,
                       {.progress =
                            [this](float value) {
                                if (const std::shared_ptr<ProgressDLG> dialog = progressDLG()) {
                                    dialog->setProgressValue(value);
                                }
                            },
                        .timeout = [this] { setTaskReturnErr(kTimeoutCode); }});
    // The session exists before the run starts, so even an immediate result can stop it.
    setSession(&modal);

    // A new run number before the run starts: only this run's result may end this wait.
    const uint64_t run = flasherRunNumber_.fetch_add(1) + 1;
    try {
        std::thread(flasherRunWork()).detach();
    } catch (const std::system_error&) {
        flasherRunEnded(run, {{QString::fromLatin1(FlasherRun::kErrKey), -1},
                              {QString::fromLatin1(FlasherRun::kOutputStringKey),
                               QString::fromLatin1(FlasherRun::kExceptionText)}});
    }

    modal.begin();
    modal.run();
    modal.end();
    setSession(nullptr);
    setProgressDLG(nullptr);

    const std::shared_ptr<const QString> output = taskOutputString();
    const QStringList messages =
        UpdateOutcome::messages(taskReturnErr(), output ? QStringView(*output) : QStringView());
    for (const QString& message : messages) {
        alert.setText(message);
        alert.exec();
    }

    checkMirtMidiDevice();
    updateRunning_ = false;
}

std::function<void()> AppDelegate::flasherRunWork() const {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    // The decoded file-system path as it is: no second percent-decoding.
    const QString path = url ? url->toLocalFile() : QString();
    return [launchPath = FlasherRun::launchPathIn(flasherDirectory()),
            arguments = FlasherRun::argumentsFor(path), run = flasherRunNumber_.load(),
            inbox = inbox_, owner = const_cast<AppDelegate*>(this)] {
        const QVariantMap result = FlasherRun(launchPath, arguments).run();
        // The inbox drops the work once the controller is gone, so `owner` is never stale there.
        inbox->post([owner, run, result] { owner->flasherRunEnded(run, result); });
    };
}

void AppDelegate::startTask() {
    flasherRunWork()();
}

void AppDelegate::flasherRunEnded(uint64_t run, const QVariantMap& result) {
    // A run that timed out may end during a later update: its result says nothing about the
    // later run, so it neither ends that wait nor decides its outcome.
    const uint64_t latest = flasherRunNumber_.load();
    if (run != latest) {
        systemLog(QStringLiteral("Ignoring the result of flasher run %1: run %2 is the latest")
                      .arg(run)
                      .arg(latest));
        return;
    }
    taskEnded(result);
}

void AppDelegate::taskEnded(const QVariantMap& result) {
    setTaskReturnErr(
        static_cast<int32_t>(result.value(QString::fromLatin1(FlasherRun::kErrKey)).toLongLong()));
    setTaskOutputString(std::make_shared<const QString>(
        result.value(QString::fromLatin1(FlasherRun::kOutputStringKey)).toString()));
    // Stops only the update's wait; an alert shown meanwhile stays up.
    if (auto* modal = qobject_cast<ModalSession*>(session())) {
        modal->stopModal();
    } else if (QEventLoop* loop = session()) {
        loop->quit();
    }
}
