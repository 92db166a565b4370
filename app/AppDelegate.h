// The application controller: the one object holding the updater's logic and state. It is the
// application's delegate (start-up, shutdown), the MIDI session's delegate (endpoints added and
// removed) and a receiver of MIDI input.
#pragma once

#include "AtomicShared.h"
#include "DfuDevice.h"
#include "DfuProgressParser.h"
#include "FlasherCheck.h"
#include "MainThreadInbox.h"
#include "UpdateProcedure.h"
#include "ZelMidi.h"
#include "ZelMidiJoinedSources.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class DeviceWatch;
class FlasherRun;
class MainWindow;
class ProgressDLG;
class QAction;
class QEventLoop;
class QFileDialog;
class QTimer;
// A weak reference to a widget behind an atomic accessor: readers get their own QPointer copy.
template <typename T> class AtomicWeak {
public:
    QPointer<T> load() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void store(T* value) {
        std::lock_guard lock(mutex_);
        value_ = value;
    }

private:
    mutable std::mutex mutex_;
    QPointer<T> value_;
};

class AppDelegate : public QObject, public ZelMidiDelegate {
    Q_OBJECT
public:
    // The status texts of the device check (shown translated).
    static constexpr const char* kDeviceConnectedText = QT_TR_NOOP("Mirt VQ320 device connected");
    static constexpr const char* kDeviceNotFoundText = QT_TR_NOOP("Mirt VQ320 device NOT found");
    // Every endpoint whose name holds this, case ignored, counts as the mixer.
    static constexpr const char* kDeviceMatchKey = "MIRT";
    // The largest payload whose SysEx frame fits the 256-byte frame buffer.
    static constexpr uint8_t kMaxSysExPayload = 254;

    // Connects the window's widgets and actions; `window` must outlive this controller's use of
    // it (it is held weakly). Nothing starts until applicationDidFinishLaunching().
    AppDelegate(std::shared_ptr<MidiService> service, MainWindow& window,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    // ---- Application delegate -----------------------------------------------------------------
    // Also says so when the last update was interrupted (the mixer may wait in its loader).
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // ---- Members (atomic accessors for object members) ----------------------------------------
    // The widgets are set once, from the window; the update's members are the update's own.
    QPointer<QMainWindow> window() const { return window_.load(); }
    QPointer<QLineEdit> filePath() const { return filePath_.load(); }
    QPointer<QLabel> deviceFoundText() const { return deviceFoundText_.load(); }
    // The Send button (the action of the same name is sendFile(QObject*)).
    QPushButton* sendFile() const { return sendFile_.load(); }
    std::shared_ptr<const QUrl> firmwareURL() const { return firmwareURL_.load(); }
    void setFirmwareURL(std::shared_ptr<const QUrl> url) { firmwareURL_.store(std::move(url)); }
    std::shared_ptr<ZelMidi> midi() const { return midi_.load(); }
    // The last update's result code and flasher output (of the one under way, while it runs).
    int32_t taskReturnErr() const;
    std::shared_ptr<const QString> taskOutputString() const;
    // While an update waits behind its progress window: the wait, and the window.
    QEventLoop* session() const;
    std::shared_ptr<ProgressDLG> progressDLG() const;
    uint8_t fileLoaded() const { return fileLoaded_; }
    void setFileLoaded(uint8_t loaded) { fileLoaded_ = loaded; }
    uint8_t deviceFound() const { return deviceFound_; }
    void setDeviceFound(uint8_t found) { deviceFound_ = found; }

    // ---- Session life and device detection ----------------------------------------------------
    void enableMIDI();
    void disableMIDI();
    void resetMIDI();
    QStringList listAllInterfaces() const;
    // The status line: the mixer, a loader waiting for recovery, or neither; then the button.
    uint8_t checkMirtMidiDevice();
    // Send needs a file, a working flasher, and the mixer or a single loader waiting for it.
    void updateSendButton();
    // Shows the URL's decoded file-system path, or "-" without a URL.
    void updateFilePath(const std::shared_ptr<const QUrl>& url);
    // Whether a source (destination) name begins with `text`, literally (UTF-16, case counts).
    uint8_t isConnectedToMIDIIn(const QString& text) const;
    uint8_t isConnectedToMIDIOut(const QString& text) const;
    // How many mixers the MIDI side shows: two identical mixers show the same endpoint names.
    int mixersConnected() const;
    // The USB devices in DFU mode, kept current; tests replace its source.
    DeviceWatch& deviceWatch() const { return *deviceWatch_; }

    // ---- ZelMidiDelegate (main thread) --------------------------------------------------------
    void midiSourceAdded(ZelMidi& midi, const std::shared_ptr<ZelMidiSource>& source) override;
    void midiSourceRemoved(ZelMidi& midi, const std::shared_ptr<ZelMidiSource>& source) override;
    void midiDestinationAdded(ZelMidi& midi,
                              const std::shared_ptr<ZelMidiDestination>& destination) override;
    void midiDestinationRemoved(ZelMidi& midi,
                                const std::shared_ptr<ZelMidiDestination>& destination) override;

    // ---- MIDI input ---------------------------------------------------------------------------
    // Receive thread: copies every packet that is not System Real-Time into a packet record and
    // queues midiParser with it on the main thread. Touches no controller state. Not virtual:
    // the receive thread must not read this object's type while a subclass is being destroyed.
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list);
    // Main thread, one packet record (sizeof(MIDIPacket) bytes) per call.
    virtual void midiParser(const QByteArray& record);
    // Main thread: where received system messages end.
    virtual void midiSysExReceived(const MIDIPacket* record);

    // ---- SysEx sending ------------------------------------------------------------------------
    // Main thread: frames F0 payload F7 and sends it on a new thread to the mixer's destinations
    // only (their names hold "MIRT"); logs the frame. A payload over kMaxSysExPayload bytes would
    // overflow the frame: it is refused with a log line.
    void sendMidiSysEx(const uint8_t* payload, uint8_t length);
    // Main thread: waits for every send thread started so far (tests, shutdown).
    void waitForSends();

    // ---- Firmware file selection (main thread) ------------------------------------------------
    void locateFile(QObject* sender);
    // The file dialog's completion: response 1 (QDialog::Accepted) with the chosen URLs. Checks
    // the flasher again, so one reinstalled meanwhile enables Send.
    void locateFileCompleted(int response, const QList<QUrl>& urls);
    // Menu validation: the send command is enabled when Send is; others always.
    bool validateMenuItem(QAction* item) const;
    // What the chosen file holds, or what is wrong with it, as shown in the window.
    const QString& fileSummary() const { return fileSummary_; }

    // The inbox through which other threads hand work to the main thread.
    const std::shared_ptr<MainThreadInbox>& inbox() const { return inbox_; }

    // ---- Update procedure (app/update/UpdateProcedure) ----------------------------------------
    // Runs one UpdateProcedure for the chosen file. Refused while one (and so a flasher) is under
    // way.
    void sendFile(QObject* sender);
    // The flasher thread's body: runs the update's flasher and queues its result for taskEnded.
    void startTask(const std::shared_ptr<FlasherRun>& run);
    // Main thread: a flasher run's result, for the update under way.
    void taskEnded(const QVariantMap& result);
    // The timing and places every update uses (tests shorten the periods).
    UpdateProcedure::Settings& updateSettings() { return updateSettings_; }
    // Runs `dfu-util -V` and logs what it found; Send stays disabled while it fails.
    void checkFlasher();
    // The flasher's directory: the setting, else the running executable's.
    QString flasherDirectory() const;
    // Why the MIDI system is not available, from the client creation's status.
    static QString midiProblem(OSStatus status);
    // Whether an update is under way (from the file check to the last alert).
    bool updateRunning() const { return update_ != nullptr; }
    // Quit, from the menu or the window: during an update it asks first, then stops the flasher
    // and quits once it has been reaped.
    void requestQuit();
    // SIGINT, SIGTERM or SIGHUP: the same quit, without a question.
    void signalReceived(int signal);
    // What quitting does; QCoreApplication::quit unless a test injects its own.
    void setQuitFunction(std::function<void()> quit) { quit_ = std::move(quit); }

    // ---- MIDI availability ----------------------------------------------------------------------
    // While the session has no client, the MIDI system is tried this often.
    void setMidiRetryPeriod(std::chrono::milliseconds period);

private:
    friend class UpdateProcedure;

    // The loader waiting in USB update mode when no mixer is on the MIDI side and exactly one
    // 0483:df11 is on the bus: Send then writes it (recovery after an interrupted update).
    std::optional<DfuDevice> recoveryLoader() const;
    void connectWindow(MainWindow& window);
    void reapFinishedSends();
    // On its own short-lived thread: sends the frame to each destination, holding the session.
    void sendMidiDataInBackground(const QByteArray& frame, const std::shared_ptr<ZelMidi>& midi,
                                  const std::vector<std::shared_ptr<ZelMidiDestination>>& targets);
    // The destinations whose names hold "MIRT".
    std::vector<std::shared_ptr<ZelMidiDestination>> mixerDestinations() const;
    void showFileSummary();
    void flasherChecked(const FlasherCheck::Result& result);
    void flasherProgress(const std::weak_ptr<FlasherRun>& run, const DfuProgress& progress);
    void showInterruptedUpdate();
    void midiRetryTick();
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The twelve members, in their order (the update's are in the update under way, or kept
    // from the last one).
    AtomicWeak<QMainWindow> window_;
    AtomicWeak<QLineEdit> filePath_;
    AtomicWeak<QLabel> deviceFoundText_;
    AtomicWeak<QPushButton> sendFile_;
    AtomicShared<const QUrl> firmwareURL_;
    AtomicShared<ZelMidi> midi_;
    int32_t taskReturnErr_ = 0;
    AtomicShared<const QString> taskOutputString_;
    uint8_t fileLoaded_ = 0;
    uint8_t deviceFound_ = 0;

    const std::shared_ptr<MidiService> service_;
    const std::shared_ptr<MainThreadInbox> inbox_;
    // What the sources hold. A receive thread may still call it after the controller is gone,
    // so it reaches the controller only through work the inbox runs while the controller lives.
    class InputTap final : public ZelMidiSourceDelegate {
    public:
        InputTap(AppDelegate* owner, std::shared_ptr<MainThreadInbox> inbox)
            : owner_(owner), inbox_(std::move(inbox)) {}
        void midiSourceMidiReceived(ZelMidiSource& /*source*/,
                                    const MIDIPacketList* list) override {
            postPacketRecords(*inbox_, owner_, list);
        }

    private:
        AppDelegate* const owner_;
        const std::shared_ptr<MainThreadInbox> inbox_;
    };
    static void postPacketRecords(MainThreadInbox& inbox, AppDelegate* owner,
                                  const MIDIPacketList* list);
    // The sources the tap joined: it leaves those, whatever the session lists by then.
    ZelMidiJoinedSources inputSources_{std::make_shared<InputTap>(this, inbox_)};
    QPointer<QFileDialog> fileDialog_; // the open file dialog, while it is shown

    struct SendThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<SendThread> sendThreads_; // main thread only

    std::unique_ptr<DeviceWatch> deviceWatch_;
    UpdateProcedure::Settings updateSettings_;
    UpdateProcedure* update_ = nullptr; // the update under way (main thread)
    QString flasherProblem_;            // why the last flasher check failed; empty: it did not
    QTimer* midiRetry_ = nullptr;       // owned by this object
    OSStatus midiRetryStatus_ = 0;      // what the last try of the MIDI system said
    bool networkOptionLogged_ = false;  // the session's network line is written once per run
    QString fileSummary_;
    std::function<void()> quit_ = [] { QCoreApplication::quit(); };
};
