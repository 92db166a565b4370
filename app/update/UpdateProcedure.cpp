#include "UpdateProcedure.h"

#include "AppDelegate.h"
#include "DeviceWatch.h"
#include "FlasherCheck.h"
#include "FlasherRun.h"
#include "ModalSession.h"
#include "ProgressDLG.h"
#include "SystemLog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <system_error>

namespace {

// The payload of the SysEx that restarts the mixer into its USB DFU loader.
constexpr uint8_t kEnterDfuPayload[] = {0x60, 0x07, 0x10, 0x4D};

constexpr const char* kReplugMessage = QT_TRANSLATE_NOOP(
    "UpdateProcedure", "Please unplug and replug USB cable connected to the MIRT VQ320");

QVariantMap failedStart() {
    return {{QString::fromLatin1(FlasherRun::kErrKey), -1},
            {QString::fromLatin1(FlasherRun::kOutputStringKey),
             QString::fromLatin1(FlasherRun::kExceptionText)}};
}

} // namespace

UpdateProcedure::UpdateProcedure(AppDelegate& controller, Settings settings, QUrl firmware)
    : controller_(controller), settings_(std::move(settings)), firmware_(std::move(firmware)),
      note_(settings_.stateDirectory) {}

UpdateProcedure::~UpdateProcedure() {
    // Left early (the controller going away): no flasher outlives its update.
    if (flasherThread_.joinable()) {
        run_->stop();
        flasherThread_.join();
    }
}

QEventLoop* UpdateProcedure::session() const {
    return modal_;
}

void UpdateProcedure::run() {
    // The update makes its own looks at the bus; the idle poll waits meanwhile.
    DeviceWatch& watch = controller_.deviceWatch();
    watch.setPolling(false);
    const auto resume = qScopeGuard([&watch] { watch.setPolling(true); });
    if (!checkFile() || !checkFlasher() || !chooseTarget() || !confirm() || quitRequested_) {
        return;
    }
    restartMixer();
    if (quitRequested_) {
        return;
    }
    if (const QPointer<QLabel> status = controller_.deviceFoundText()) {
        status->setText(QString());
    }

    progress_ = ProgressDLG::createOver(controller_.window());
    ModalSession modal(progress_.get(), settings_.passPeriod,
                       {.progress =
                            [this](float value) {
                                // The clock stands in only until the flasher measures.
                                if (!realProgress_) {
                                    progress_->setProgressValue(value);
                                }
                            },
                        .timeout =
                            [this] {
                                outcome_.taskReturnErr = kTimeoutCode;
                                if (run_ != nullptr) {
                                    run_->stop();
                                }
                            },
                        .heard = [this] { return flasherHeard(); },
                        .silence = [this](int passes) { showSilence(passes); }});
    // The session exists before the run starts, so even an immediate result can stop it.
    modal_ = &modal;
    modal.begin();
    if (!quitRequested_ && (recovery_ || findLoader()) && !quitRequested_ && waitUntilWritable() &&
        !quitRequested_ && checkFit()) {
        setPhase(tr("Starting the flasher…"));
        startFlasherRun();
        if (!quitRequested_) {
            modal.run();
        }
    }
    // No message before the flasher is gone: after a time-out or a quit it is stopped here.
    endFlasherRun();
    modal.end();
    modal_ = nullptr;
    progress_.reset();

    if (!quitRequested_) {
        showOutcome();
        // The user has been told how it ended, and how to go on.
        note_.clear();
    }
}

// ---- Before anything reaches the mixer ------------------------------------------------------

bool UpdateProcedure::checkFile() {
    // The file is read once: the bytes checked and confirmed are the bytes the flasher is given,
    // whatever becomes of the file meanwhile. Messages keep naming the file.
    path_ = firmware_.toLocalFile();
    QByteArray bytes;
    file_ = DfuFileCheck::checkFile(path_, &bytes);
    if (file_.ok) {
        QString problem;
        image_ = SealedImage::create({reinterpret_cast<const uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size())},
                                     &problem);
        if (image_ != nullptr) {
            return true;
        }
        file_.ok = false;
        file_.problem = problem;
    }
    QMessageBox box(controller_.window());
    box.setIcon(QMessageBox::Warning);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.setText(tr("The firmware file cannot be used, so nothing was sent to the mixer."));
    box.setInformativeText(QStringLiteral("%1\n\n%2").arg(path_, file_.problem));
    systemLog(QStringLiteral("Firmware file refused: %1: %2").arg(path_, file_.problem));
    exec(box);
    return false;
}

bool UpdateProcedure::checkFlasher() {
    const FlasherCheck::Result flasher = FlasherCheck::run(
        FlasherRun::launchPathIn(controller_.flasherDirectory()), settings_.flasherCheckLimit);
    controller_.flasherChecked(flasher);
    if (flasher.ok) {
        return true;
    }
    QMessageBox box(controller_.window());
    box.setIcon(QMessageBox::Warning);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.setText(tr(kFlasherBrokenMessage));
    box.setInformativeText(flasher.problem);
    exec(box);
    return false;
}

bool UpdateProcedure::chooseTarget() {
    const int mixers = controller_.mixersConnected();
    if (mixers > 1) {
        systemLog(QStringLiteral("%1 mixers connected; nothing sent").arg(mixers));
        QMessageBox box(controller_.window());
        box.setIcon(QMessageBox::Warning);
        box.addButton(tr("OK"), QMessageBox::AcceptRole);
        box.setText(tr(kTwoMixersMessage));
        exec(box);
        return false;
    }
    if (mixers == 1) {
        return true;
    }
    // No mixer on the MIDI side: only a single loader already waiting can be written.
    DeviceWatch& watch = controller_.deviceWatch();
    watch.refresh();
    const std::vector<DfuDevice> loaders = watch.loaders();
    if (loaders.size() != 1) {
        return false;
    }
    recovery_ = true;
    device_ = loaders.front();
    return true;
}

bool UpdateProcedure::confirm() {
    QMessageBox box(controller_.window());
    box.setIcon(QMessageBox::Question);
    const QString name = QFileInfo(path_).fileName();
    if (recovery_) {
        box.setText(tr(kRecoveryQuestion));
        box.setInformativeText(
            tr("%1\n\n%2\n%3\n\nConfirm only if this device is the MIRT VQ320 after an "
               "interrupted update: the firmware is written to it without restarting it.")
                .arg(device_->describe(), name, file_.summary));
    } else {
        box.setText(tr("Update the MIRT VQ320 with this firmware?"));
        box.setInformativeText(
            tr("%1\n%2\n\nThe mixer restarts into its update mode at once; only a power cycle "
               "brings it back without an update.")
                .arg(name, file_.summary));
    }
    QPushButton* update = box.addButton(tr("Update"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(update);
    box.setEscapeButton(cancel);
    exec(box);
    return box.clickedButton() == update;
}

void UpdateProcedure::restartMixer() {
    restarted_ = true;
    if (!note_.record(path_)) {
        systemLog(QStringLiteral("Cannot note the update under way in %1").arg(note_.notePath()));
    }
    if (recovery_) {
        systemLog(
            QStringLiteral("Writing the loader already waiting: %1").arg(device_->describe()));
        return;
    }
    // What is in DFU mode before the SysEx is never this mixer's loader.
    DeviceWatch& watch = controller_.deviceWatch();
    watch.refresh();
    before_ = watch.devices();
    controller_.sendMidiSysEx(kEnterDfuPayload, sizeof kEnterDfuPayload);

    QMessageBox& replug = alert();
    replug.setIcon(QMessageBox::Information);
    replug.setText(tr(kReplugMessage));
    exec(replug);
}

QMessageBox& UpdateProcedure::alert() {
    if (alert_ == nullptr) {
        alert_ = std::make_unique<QMessageBox>(controller_.window());
        alert_->addButton(tr("OK"), QMessageBox::AcceptRole);
    }
    return *alert_;
}

// ---- The loader of this update ----------------------------------------------------------------

std::vector<DfuDevice> UpdateProcedure::newLoaders() const {
    std::vector<DfuDevice> found;
    for (const DfuDevice& device : controller_.deviceWatch().loaders()) {
        const bool old = std::any_of(before_.begin(), before_.end(), [&](const DfuDevice& seen) {
            return seen.sameDevice(device);
        });
        if (!old) {
            found.push_back(device);
        }
    }
    return found;
}

bool UpdateProcedure::lookUntil(std::chrono::milliseconds limit,
                                const std::function<bool()>& found) {
    DeviceWatch& watch = controller_.deviceWatch();
    watch.refresh();
    if (found()) {
        return true;
    }
    QEventLoop wait;
    looking_ = &wait;
    bool done = false;
    const auto look = [&] {
        if (found()) {
            done = true;
            wait.quit();
        }
    };
    // Whatever the bus tells of (udev once it has applied its rules, or the kernel) is looked at
    // at once; where it may miss a change or tells nothing, each look reads the bus as well.
    const auto told = QObject::connect(&watch, &DeviceWatch::changed, &wait, look);
    QTimer poll;
    const auto period = std::max(settings_.lookPeriod, std::chrono::milliseconds(1));
    const long long looks = std::max<long long>(1, limit / period);
    long long looked = 0;
    poll.setInterval(period);
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (!watch.toldOfChanges()) {
            watch.refresh();
        }
        look();
        if (!done && ++looked >= looks) {
            wait.quit();
        }
    });
    poll.start();
    if (!quitRequested_) {
        wait.exec();
    }
    QObject::disconnect(told);
    looking_ = nullptr;
    return done && !quitRequested_;
}

bool UpdateProcedure::findLoader() {
    setPhase(tr("Waiting for the mixer's update mode (USB device 0483:df11)…"));
    lookUntil(settings_.loaderWait, [this] { return !newLoaders().empty(); });
    if (quitRequested_) {
        return false;
    }
    const std::vector<DfuDevice> loaders = newLoaders();
    if (loaders.size() > 1) {
        systemLog(QStringLiteral("%1 loaders appeared after the restart; none is written")
                      .arg(loaders.size()));
        fail({tr(kTwoLoadersMessage)});
        return false;
    }
    if (loaders.empty()) {
        // dfu-util is not run: anything it could find now is not this mixer.
        systemLog(QStringLiteral("No new USB device 0483:df11 within %1 ms; the flasher is not "
                                 "started")
                      .arg(settings_.loaderWait.count()));
        fail(UpdateOutcome::messages(UpdateOutcome::Kind::DeviceNotFound));
        return false;
    }
    device_ = loaders.front();
    systemLog(
        QStringLiteral("The mixer's loader: %1, %2").arg(device_->describe(), device_->node()));
    return true;
}

bool UpdateProcedure::waitUntilWritable() {
    DeviceWatch& watch = controller_.deviceWatch();
    if (watch.writable(*device_)) {
        return true;
    }
    setPhase(tr("Waiting for access to the mixer's update mode…"));
    // udev gives the desktop user access a moment after the device appears.
    const bool writable =
        lookUntil(settings_.writableWait, [&] { return watch.writable(*device_); });
    if (quitRequested_) {
        return false;
    }
    if (!writable) {
        systemLog(QStringLiteral("%1 is not writable by this user").arg(device_->node()));
        fail(UpdateOutcome::messages(UpdateOutcome::Kind::PermissionDenied));
        return false;
    }
    return true;
}

bool UpdateProcedure::checkFit() {
    // The loader names the memory it can write (its alternate setting 0): an element outside it
    // would fail half-way through the write.
    const QString problem = DfuFileCheck::fitProblem(file_.image, device_->memoryLayout);
    if (problem.isEmpty()) {
        return true;
    }
    systemLog(QStringLiteral("Firmware file refused for %1 (\"%2\"): %3")
                  .arg(device_->describe(), device_->memoryLayout, problem));
    fail({problem});
    return false;
}

// ---- The flasher run ----------------------------------------------------------------------

void UpdateProcedure::startFlasherRun() {
    auto run = std::make_shared<FlasherRun>(
        FlasherRun::launchPathIn(controller_.flasherDirectory()),
        FlasherRun::argumentsFor(image_->path(), device_->portPath), file_.image);
    run->setInheritedDescriptor(image_->descriptor());
    run->setGracePeriod(settings_.flasherGrace);
    run->setProgressHandler([inbox = controller_.inbox(), owner = &controller_,
                             weak = std::weak_ptr<FlasherRun>(run)](const DfuProgress& progress) {
        inbox->post([owner, weak, progress] { owner->flasherProgress(weak, progress); });
    });
    runEnded_ = false;
    realProgress_ = false;
    outcome_.verdict = FlasherVerdict::TransferNotCompleted;
    run_ = run;
    try {
        flasherThread_ = std::thread([owner = &controller_, run] { owner->startTask(run); });
    } catch (const std::system_error&) {
        taskEnded(failedStart());
    }
}

void UpdateProcedure::endFlasherRun() {
    if (!flasherThread_.joinable()) {
        return;
    }
    if (!runEnded_) {
        run_->stop();
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
}

void UpdateProcedure::taskEnded(const QVariantMap& result) {
    runEnded_ = true;
    const QString output =
        result.value(QString::fromLatin1(FlasherRun::kOutputStringKey)).toString();
    const bool stopped = result.value(QString::fromLatin1(FlasherRun::kStoppedKey)).toBool();
    outcome_.output = output;
    // Stopped at the time-out: the time-out stays the outcome; the output goes to the details.
    if (!(stopped && outcome_.taskReturnErr == kTimeoutCode)) {
        outcome_.taskReturnErr = static_cast<int32_t>(
            result.value(QString::fromLatin1(FlasherRun::kErrKey)).toLongLong());
        outcome_.verdict = static_cast<FlasherVerdict>(
            result
                .value(QString::fromLatin1(FlasherRun::kVerdictKey),
                       static_cast<int>(FlasherVerdict::TransferNotCompleted))
                .toInt());
    }
    // Stops only the update's wait; an alert shown meanwhile stays up.
    if (modal_ != nullptr) {
        modal_->stopModal();
    }
    if (runEndWait_ != nullptr) {
        runEndWait_->quit();
    }
}

void UpdateProcedure::flasherProgress(const DfuProgress& progress) {
    if (runEnded_ || progress_ == nullptr || !progress.measured) {
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
    progress_->setPhaseProgress(phase, percent);
    // The clock may have gone further than the first bytes written: the bar never goes back.
    progress_->setProgressValue(std::max(progress.fraction, progress_->progressValue()));
}

// ---- The end ----------------------------------------------------------------------------------

void UpdateProcedure::fail(const QStringList& messages) {
    outcome_.messages = messages;
}

void UpdateProcedure::showOutcome() {
    if (outcome_.messages.isEmpty()) {
        const UpdateOutcome::Kind kind =
            UpdateOutcome::classify(outcome_.taskReturnErr, outcome_.verdict);
        outcome_.success = UpdateOutcome::isSuccess(kind);
        outcome_.messages = UpdateOutcome::messages(kind);
    }
    // The replug request's alert, reused; its text, icon and details change.
    QMessageBox& box = alert();
    box.setIcon(outcome_.success ? QMessageBox::Information : QMessageBox::Warning);
    box.setDetailedText(outcome_.output);
    if (!outcome_.success) {
        // The mixer was restarted and not written: it may wait in its loader.
        box.setInformativeText(tr(kGoOnHint));
    }
    for (const QString& message : std::as_const(outcome_.messages)) {
        if (quitRequested_) {
            break;
        }
        box.setText(message);
        exec(box);
    }
}

bool UpdateProcedure::flasherHeard() {
    if (run_ == nullptr) {
        return false;
    }
    // The start counts as word from the flasher: the wait for the loader has limits of its own.
    const uint64_t said = run_->outputBytes();
    const bool news = !runHeard_ || said != heardBytes_;
    runHeard_ = true;
    heardBytes_ = said;
    return news;
}

void UpdateProcedure::showSilence(int passes) {
    if (progress_ == nullptr) {
        return;
    }
    // A pass is a second: a few without a word are worth telling, so that the user sees the
    // update wait for the device rather than hang.
    const bool tell = run_ != nullptr && !runEnded_ && passes >= kSilenceShownAfter;
    progress_->setSilenceNote(
        tell ? tr("No output from the flasher for %n second(s).", nullptr, passes) : QString());
}

void UpdateProcedure::setPhase(const QString& text) {
    if (progress_ != nullptr) {
        progress_->setPhaseText(text);
    }
}

// ---- Quitting -------------------------------------------------------------------------------

int UpdateProcedure::exec(QMessageBox& box) {
    if (quitRequested_) {
        return QDialog::Rejected; // quitting: nothing more is asked or told
    }
    openBoxes_.emplace_back(&box);
    const int answer = box.exec();
    std::erase_if(openBoxes_, [&](const QPointer<QMessageBox>& open) {
        return open == nullptr || open == &box;
    });
    return answer;
}

void UpdateProcedure::closeOpenBoxes() {
    for (const QPointer<QMessageBox>& box : openBoxes_) {
        if (box != nullptr) {
            box->reject();
        }
    }
}

bool UpdateProcedure::requestQuit() {
    if (quitRequested_) {
        return true;
    }
    if (restarted_) {
        QMessageBox box(QApplication::activeModalWidget() != nullptr
                            ? QApplication::activeModalWidget()
                            : controller_.window().data());
        box.setIcon(QMessageBox::Warning);
        box.setText(tr(kQuitQuestion));
        box.setInformativeText(tr(kQuitConsequence));
        QPushButton* quit = box.addButton(tr("Quit"), QMessageBox::DestructiveRole);
        QPushButton* keepOn = box.addButton(tr("Continue the update"), QMessageBox::RejectRole);
        box.setDefaultButton(keepOn);
        box.setEscapeButton(keepOn);
        exec(box);
        if (box.clickedButton() != quit || quitRequested_) {
            return quitRequested_; // a signal may have ended it meanwhile
        }
    }
    abandon();
    return true;
}

void UpdateProcedure::abandon() {
    if (quitRequested_) {
        return;
    }
    quitRequested_ = true;
    closeOpenBoxes();
    if (looking_ != nullptr) {
        looking_->quit();
    }
    if (run_ != nullptr && !runEnded_) {
        run_->stop(); // its result ends the wait
    } else if (modal_ != nullptr) {
        modal_->stopModal();
    }
}
