// The application controller: the one object holding the updater's logic and state. It is the
// application's delegate (start-up, shutdown), the MIDI session's delegate (endpoints added and
// removed) and a receiver of MIDI input.
#pragma once

#include "AtomicShared.h"
#include "DfuProgressParser.h"
#include "FlasherOutputScanner.h"
#include "MainThreadInbox.h"
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
#include <thread>
#include <vector>

class DfuFileCheck;
struct DfuseImage;
class FlasherRun;
class MainWindow;
class QTimer;
class UsbDevicePresence;
class ProgressDLG;
class QAction;
class QFileDialog;
class QEventLoop;

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
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // ---- Members (atomic accessors for object members) ----------------------------------------
    QPointer<QMainWindow> window() const { return window_.load(); }
    void setWindow(QMainWindow* window) { window_.store(window); }
    QPointer<QLineEdit> filePath() const { return filePath_.load(); }
    void setFilePath(QLineEdit* field) { filePath_.store(field); }
    QPointer<QLabel> deviceFoundText() const { return deviceFoundText_.load(); }
    void setDeviceFoundText(QLabel* label) { deviceFoundText_.store(label); }
    // The Send button (the action of the same name is sendFile(QObject*)).
    QPushButton* sendFile() const { return sendFile_.load(); }
    void setSendFile(QPushButton* button) { sendFile_.store(button); }
    std::shared_ptr<const QUrl> firmwareURL() const { return firmwareURL_.load(); }
    void setFirmwareURL(std::shared_ptr<const QUrl> url) { firmwareURL_.store(std::move(url)); }
    std::shared_ptr<ZelMidi> midi() const { return midi_.load(); }
    void setMidi(std::shared_ptr<ZelMidi> midi) { midi_.store(std::move(midi)); }
    int32_t taskReturnErr() const { return taskReturnErr_; }
    void setTaskReturnErr(int32_t err) { taskReturnErr_ = err; }
    std::shared_ptr<const QString> taskOutputString() const { return taskOutputString_.load(); }
    void setTaskOutputString(std::shared_ptr<const QString> text) {
        taskOutputString_.store(std::move(text));
    }
    QEventLoop* session() const { return session_; }
    void setSession(QEventLoop* session) { session_ = session; }
    std::shared_ptr<ProgressDLG> progressDLG() const { return progressDLG_.load(); }
    void setProgressDLG(std::shared_ptr<ProgressDLG> dialog) {
        progressDLG_.store(std::move(dialog));
    }
    uint8_t fileLoaded() const { return fileLoaded_; }
    void setFileLoaded(uint8_t loaded) { fileLoaded_ = loaded; }
    uint8_t deviceFound() const { return deviceFound_; }
    void setDeviceFound(uint8_t found) { deviceFound_ = found; }

    // ---- Session life and device detection ----------------------------------------------------
    void enableMIDI();
    void disableMIDI();
    void resetMIDI();
    QStringList listAllInterfaces() const;
    uint8_t checkMirtMidiDevice();
    void updateSendButton();
    // Shows the URL's decoded file-system path, or "-" without a URL.
    void updateFilePath(const std::shared_ptr<const QUrl>& url);
    // Whether a source (destination) name begins with `text`, literally (UTF-16, case counts).
    uint8_t isConnectedToMIDIIn(const QString& text) const;
    uint8_t isConnectedToMIDIOut(const QString& text) const;

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
    // Main thread: frames F0 payload F7 and sends it on a new thread; logs the frame. A payload
    // over kMaxSysExPayload bytes would overflow the frame: it is refused with a log line.
    void sendMidiSysEx(const uint8_t* payload, uint8_t length);
    // On its own short-lived thread: sends the frame through the session, if there is one.
    void sendMidiDataInBackground(QByteArray frame);
    // Main thread: waits for every send thread started so far (tests, shutdown).
    void waitForSends();

    // ---- Firmware file selection (main thread) ------------------------------------------------
    void locateFile(QObject* sender);
    // The file dialog's completion: response 1 (QDialog::Accepted) with the chosen URLs.
    void locateFileCompleted(int response, const QList<QUrl>& urls);
    // Menu validation: the send command is enabled only with a file URL; others always.
    bool validateMenuItem(QAction* item) const;
    // What the chosen file holds, or what is wrong with it, as shown in the window.
    const QString& fileSummary() const { return fileSummary_; }

    // The inbox through which other threads hand work to the main thread.
    const std::shared_ptr<MainThreadInbox>& inbox() const { return inbox_; }

    // ---- Update procedure (AppDelegateUpdate.cpp) ---------------------------------------------
    // Checks the file, asks for confirmation, sends the SysEx, asks for the replug, waits for
    // the loader, runs the flasher behind the progress window and shows the outcome. Refused
    // while an update (and so a flasher) is under way.
    void sendFile(QObject* sender);
    // Runs one flasher on the calling thread and posts its result to the main thread.
    void startTask();
    void taskEnded(const QVariantMap& result);
    void setPassPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds passPeriod() const;
    void setFlasherDirectory(const QString& dir);
    QString flasherDirectory() const;
    // How long a stopped flasher has between SIGTERM and SIGKILL.
    void setFlasherGracePeriod(std::chrono::milliseconds grace) { flasherGrace_ = grace; }
    // Where the update looks for the loader after the replug, how often and for how long.
    void setUsbDevicePresence(std::shared_ptr<UsbDevicePresence> devices);
    void setLoaderWait(std::chrono::milliseconds limit, std::chrono::milliseconds pollPeriod);
    // Whether an update is under way (from the file check to the last alert).
    bool updateRunning() const { return updateRunning_; }
    // Quit, from the menu or the window: during an update it asks first, then stops the flasher
    // and quits once it has been reaped.
    void requestQuit();
    // What quitting does; QCoreApplication::quit unless a test injects its own.
    void setQuitFunction(std::function<void()> quit) { quit_ = std::move(quit); }

    // ---- MIDI availability ----------------------------------------------------------------------
    // While the session has no client, a new session is tried this often.
    void setMidiRetryPeriod(std::chrono::milliseconds period);
    // Why the MIDI system is not available, from the client creation's status.
    static QString midiProblem(OSStatus status);

private:
    void connectWindow(MainWindow& window);
    void reapFinishedSends();

    // The twelve members, in their order.
    AtomicWeak<QMainWindow> window_;
    AtomicWeak<QLineEdit> filePath_;
    AtomicWeak<QLabel> deviceFoundText_;
    AtomicWeak<QPushButton> sendFile_;
    AtomicShared<const QUrl> firmwareURL_;
    AtomicShared<ZelMidi> midi_;
    int32_t taskReturnErr_ = 0;
    AtomicShared<const QString> taskOutputString_;
    QEventLoop* session_ = nullptr; // not owned
    AtomicShared<ProgressDLG> progressDLG_;
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

    // ---- Update procedure state ----
    // Main thread: a run's result. Only the latest run's result is taken (see the .cpp).
    void flasherRunEnded(uint64_t run, const QVariantMap& result);

    // Dialogs of the update (main thread).
    void showFileSummary();
    void showFileProblem(const QString& path, const QString& problem);
    bool confirmUpdate(const QString& path, const QString& summary);
    void waitForLoader();
    void startFlasherRun(const DfuseImage& image);
    void endFlasherRun();
    void flasherProgress(uint64_t run, const DfuProgress& progress);
    void midiRetryTick();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::chrono::milliseconds passPeriod_{1000};
    std::chrono::milliseconds flasherGrace_{2000};
    std::chrono::milliseconds loaderWaitLimit_{30000};
    std::chrono::milliseconds loaderPollPeriod_{100};
    std::shared_ptr<UsbDevicePresence> usbDevices_;
    std::shared_ptr<FlasherRun> flasherRun_; // the run under way (main thread)
    std::thread flasherThread_;              // its thread, joined once its result is in
    bool runEnded_ = true;                   // the current run's result has arrived
    bool realProgress_ = false;              // the flasher has reported measurable progress
    bool quitRequested_ = false;             // quit once the update has wound up
    FlasherVerdict lastVerdict_ = FlasherVerdict::TransferNotCompleted;
    QPointer<QEventLoop> loaderWait_; // the wait for the loader, while it runs
    QPointer<QEventLoop> runEndWait_; // the wait for a stopped flasher's end
    QTimer* midiRetry_ = nullptr;     // owned by this object
    QString fileSummary_;
    std::function<void()> quit_ = [] { QCoreApplication::quit(); };
    mutable std::mutex flasherDirectoryMutex_;
    QString flasherDirectory_;                  // empty: the running executable's directory
    std::atomic<uint64_t> flasherRunNumber_{0}; // the latest run; 0 before the first
    bool updateRunning_ = false;                // sendFile is under way (main thread)
};
