// One firmware update, from the Send command to the last message: the file checked once, the
// flasher checked, the confirmation, the enter-DFU SysEx to the one mixer, the wait for the
// loader that appears for this update (or the loader the user confirmed in recovery), the
// flasher run behind the progress window and the outcome. It owns all of it by value; the
// controller starts it from Send and hands it the flasher's result.
#pragma once

#include "DfuDevice.h"
#include "DfuFileCheck.h"
#include "DfuProgressParser.h"
#include "FlasherOutputScanner.h"
#include "InterruptedUpdate.h"
#include "SealedImage.h"
#include "UpdateOutcome.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class AppDelegate;
class FlasherRun;
class ModalSession;
class ProgressDLG;
class QEventLoop;

class UpdateProcedure {
    Q_DECLARE_TR_FUNCTIONS(UpdateProcedure)

public:
    // The product's timing and where things are; tests shorten the periods.
    struct Settings {
        std::chrono::milliseconds passPeriod{1000};   // one pass of the progress wait
        std::chrono::milliseconds flasherGrace{2000}; // between SIGTERM and SIGKILL
        std::chrono::milliseconds loaderWait{30000};  // for the loader after the SysEx
        std::chrono::milliseconds writableWait{5000}; // for this user's access to its node
        std::chrono::milliseconds lookPeriod{100};    // how often the bus is looked at meanwhile
        std::chrono::milliseconds flasherCheckLimit{10000}; // for `dfu-util -V`
        QString flasherDirectory;                           // empty: beside the running executable
        QString stateDirectory; // empty: InterruptedUpdate::defaultDirectory()
    };

    // What the user was told at the end, and what it rests on.
    struct Outcome {
        int32_t taskReturnErr = 0; // 0, -1 (the flasher did not start) or the timeout code
        QString output;            // the flasher's output text (the alerts' details)
        FlasherVerdict verdict = FlasherVerdict::TransferNotCompleted;
        QStringList messages; // shown in turn with one alert; empty: nothing was shown
        bool success = false;
    };

    UpdateProcedure(AppDelegate& controller, Settings settings, QUrl firmware);
    ~UpdateProcedure();
    UpdateProcedure(const UpdateProcedure&) = delete;
    UpdateProcedure& operator=(const UpdateProcedure&) = delete;

    // The whole update; returns when the last message has been dismissed, or once a quit has
    // wound it up (the flasher stopped and reaped).
    void run();

    // Main thread: the flasher run's result (the controller's taskEnded), its progress.
    void taskEnded(const QVariantMap& result);
    void flasherProgress(const DfuProgress& progress);
    // Whether `run` is this update's flasher run (a result of another is not this update's).
    bool ownsRun(const FlasherRun* run) const { return run != nullptr && run == run_.get(); }

    // Quit from the menu or the window: once the mixer has been restarted, asks first (the
    // firmware may be left incomplete); then stops the flasher. True when the update winds up.
    bool requestQuit();
    // A signal: the same quit, without a question.
    void abandon();
    bool quitRequested() const { return quitRequested_; }

    // The checked file, the device found and the outcome, as they stand.
    const QString& firmwarePath() const { return path_; }
    const DfuFileCheck::Result& fileCheck() const { return file_; }
    const std::optional<DfuDevice>& device() const { return device_; }
    const Outcome& outcome() const { return outcome_; }
    // While the progress window is up: the window and its wait.
    const std::shared_ptr<ProgressDLG>& progressDLG() const { return progress_; }
    QEventLoop* session() const;

    // The texts of this procedure, in English (shown translated).
    static constexpr const char* kTwoMixersMessage = QT_TRANSLATE_NOOP(
        "UpdateProcedure", "More than one MIRT VQ320 is connected, so nothing was sent. Leave "
                           "only the mixer to update connected, then press Send again.");
    static constexpr const char* kTwoLoadersMessage = QT_TRANSLATE_NOOP(
        "UpdateProcedure",
        "Two devices entered USB update mode at once, so the updater cannot tell which one is "
        "the MIRT VQ320 and wrote nothing. Disconnect the other device, keep the mixer connected "
        "and press Send again.");
    static constexpr const char* kFlasherBrokenMessage = QT_TRANSLATE_NOOP(
        "UpdateProcedure",
        "The flasher dfu-util is missing or does not work, so nothing was sent to the mixer. "
        "Reinstall the updater, or Debian's dfu-util package (sudo apt install --reinstall "
        "dfu-util), then choose the firmware again.");
    static constexpr const char* kRecoveryQuestion = QT_TRANSLATE_NOOP(
        "UpdateProcedure", "Write this firmware to the device waiting in USB update mode?");
    static constexpr const char* kGoOnHint = QT_TRANSLATE_NOOP(
        "UpdateProcedure",
        "If the mixer now waits in its update mode, keep the mixer connected and press Send "
        "again: the firmware is then written to it without restarting it.");
    static constexpr const char* kQuitQuestion =
        QT_TRANSLATE_NOOP("UpdateProcedure", "An update is under way. Quit anyway?");
    static constexpr const char* kQuitConsequence = QT_TRANSLATE_NOOP(
        "UpdateProcedure",
        "The flasher is stopped, and the mixer's firmware is then incomplete: the mixer stays in "
        "its update mode. To finish the update, start the updater again, keep the mixer "
        "connected and press Send.");

private:
    bool checkFile();
    bool checkFlasher();
    bool chooseTarget();
    bool confirm();
    void restartMixer();
    bool findLoader();
    bool waitUntilWritable();
    bool checkFit();
    void startFlasherRun();
    void endFlasherRun();
    void showOutcome();
    // Looks at the bus every lookPeriod until `found` holds or `limit` has passed; with a bus
    // that tells of changes, also whenever it does. False when the time ran out or a quit came.
    bool lookUntil(std::chrono::milliseconds limit, const std::function<bool()>& found);
    std::vector<DfuDevice> newLoaders() const;
    // The one alert of the replug request and the outcome.
    QMessageBox& alert();
    // An alert of this update; closed by a quit or a signal.
    int exec(QMessageBox& box);
    void closeOpenBoxes();
    void fail(const QStringList& messages);
    void setPhase(const QString& text);
    // Each pass: whether the flasher said anything since the last one; how long it has not.
    bool flasherHeard();
    void showSilence(int passes);
    // Silent passes before the progress window says so.
    static constexpr int kSilenceShownAfter = 5;

    AppDelegate& controller_;
    const Settings settings_;
    const QUrl firmware_;
    InterruptedUpdate note_;

    QString path_;                       // the file, taken once from the URL
    DfuFileCheck::Result file_;          // what the check found in it
    std::unique_ptr<SealedImage> image_; // the bytes checked, as the flasher reads them
    bool recovery_ = false;              // no mixer: the loader already on the bus is written
    std::vector<DfuDevice> before_;      // the devices in DFU mode before the SysEx
    std::optional<DfuDevice> device_;    // the loader this update writes
    bool restarted_ = false; // the mixer was told to restart (or a loader is to be written)
    Outcome outcome_;

    std::shared_ptr<ProgressDLG> progress_;
    ModalSession* modal_ = nullptr; // while the progress window waits
    QEventLoop* looking_ = nullptr; // while the bus is looked at
    std::shared_ptr<FlasherRun> run_;
    std::thread flasherThread_;
    bool runEnded_ = true;
    bool realProgress_ = false;
    bool runHeard_ = false;   // a pass has seen the run started
    uint64_t heardBytes_ = 0; // the flasher's output as the last pass saw it
    QEventLoop* runEndWait_ = nullptr;
    std::unique_ptr<QMessageBox> alert_;
    std::vector<QPointer<QMessageBox>> openBoxes_;
    bool quitRequested_ = false;
};
