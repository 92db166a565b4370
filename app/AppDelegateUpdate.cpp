// The controller's entry points into the update: Send starts an UpdateProcedure, the flasher
// thread runs startTask, its result comes back through taskEnded, and quitting (by the menu, the
// window or a signal) winds the update up first.
#include "AppDelegate.h"
#include "FlasherRun.h"
#include "ProgressDLG.h"
#include "SystemLog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

QString AppDelegate::flasherDirectory() const {
    if (!updateSettings_.flasherDirectory.isEmpty()) {
        return updateSettings_.flasherDirectory;
    }
    // Follows a link to the executable: the flasher lies beside the real file.
    return QCoreApplication::applicationDirPath();
}

void AppDelegate::checkFlasher() {
    const QString path = FlasherRun::launchPathIn(flasherDirectory());
    const FlasherCheck::Result result = FlasherCheck::run(path, updateSettings_.flasherCheckLimit);
    if (result.ok) {
        systemLog(
            QStringLiteral("Flasher: %1 (%2)").arg(path, QFileInfo(path).canonicalFilePath()));
    } else {
        systemLog(QStringLiteral("Flasher unusable (updates cannot run): %1").arg(result.problem));
    }
    flasherChecked(result);
}

void AppDelegate::flasherChecked(const FlasherCheck::Result& result) {
    const QString problem = result.ok ? QString() : result.problem;
    if (problem == flasherProblem_) {
        return;
    }
    flasherProblem_ = problem;
    if (const QPointer<QMainWindow> main = window()) {
        main->statusBar()->showMessage(
            problem.isEmpty() ? fileSummary_
                              : tr("Send is disabled: %1 Reinstall dfu-util, then choose the "
                                   "firmware again.")
                                    .arg(problem));
    }
    updateSendButton();
}

void AppDelegate::sendFile(QObject* /*sender*/) {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    if (url == nullptr || !url->isLocalFile()) {
        return;
    }
    // The dialogs and the waits run nested event loops; a second Send meanwhile is not another
    // update, and no second flasher may start beside a live one.
    if (update_ != nullptr) {
        return;
    }
    UpdateProcedure update(*this, updateSettings_, *url);
    update_ = &update;
    update.run();
    update_ = nullptr;
    // The result stays readable until the next update.
    taskReturnErr_ = update.outcome().taskReturnErr;
    taskOutputString_.store(std::make_shared<const QString>(update.outcome().output));
    checkMirtMidiDevice();
    if (update.quitRequested()) {
        quit_();
    }
}

void AppDelegate::startTask(const std::shared_ptr<FlasherRun>& run) {
    // The result is handed on before the output is logged, so the window does not wait for the
    // log. The inbox drops posted work once the controller is gone, so `owner` is never stale
    // there; a result of a run that is no longer the update's is not the update's.
    run->setResultHandler([inbox = inbox_, owner = this,
                           weak = std::weak_ptr<FlasherRun>(run)](const QVariantMap& result) {
        inbox->post([owner, weak, result] {
            const std::shared_ptr<FlasherRun> ended = weak.lock();
            if (owner->update_ != nullptr && owner->update_->ownsRun(ended.get())) {
                owner->taskEnded(result);
            } else {
                systemLog(QStringLiteral("Ignoring the result of a flasher run that is no "
                                         "longer the update's"));
            }
        });
    });
    run->run();
}

void AppDelegate::taskEnded(const QVariantMap& result) {
    if (update_ != nullptr) {
        update_->taskEnded(result);
    }
}

void AppDelegate::flasherProgress(const std::weak_ptr<FlasherRun>& run,
                                  const DfuProgress& progress) {
    const std::shared_ptr<FlasherRun> running = run.lock();
    if (update_ != nullptr && update_->ownsRun(running.get())) {
        update_->flasherProgress(progress);
    }
}

int32_t AppDelegate::taskReturnErr() const {
    return update_ != nullptr ? update_->outcome().taskReturnErr : taskReturnErr_;
}

std::shared_ptr<const QString> AppDelegate::taskOutputString() const {
    if (update_ != nullptr) {
        return std::make_shared<const QString>(update_->outcome().output);
    }
    return taskOutputString_.load();
}

QEventLoop* AppDelegate::session() const {
    return update_ != nullptr ? update_->session() : nullptr;
}

std::shared_ptr<ProgressDLG> AppDelegate::progressDLG() const {
    return update_ != nullptr ? update_->progressDLG() : nullptr;
}

void AppDelegate::requestQuit() {
    if (update_ == nullptr) {
        quit_();
        return;
    }
    // Once the update has wound up, sendFile quits.
    update_->requestQuit();
}

void AppDelegate::signalReceived(int signal) {
    systemLog(QStringLiteral("Signal %1 received: quitting").arg(signal));
    if (update_ == nullptr) {
        quit_();
        return;
    }
    update_->abandon();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == window().data() && update_ != nullptr) {
        event->ignore();
        QTimer::singleShot(0, this, [this] { requestQuit(); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}
