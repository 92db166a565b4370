// The application controller: the one object holding the updater's logic and state. It is the
// application's delegate (start-up, shutdown), the MIDI session's delegate (endpoints added and
// removed) and a receiver of MIDI input.
#pragma once

#include "AtomicShared.h"
#include "MainThreadInbox.h"
#include "ZelMidi.h"

#include <QByteArray>
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
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class MainWindow;
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

class AppDelegate : public QObject, public ZelMidiDelegate, public ZelMidiSourceDelegate {
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
    // queues midiParser with it on the main thread. Touches no controller state.
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) override;
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

    // The inbox through which other threads hand work to the main thread.
    const std::shared_ptr<MainThreadInbox>& inbox() const { return inbox_; }

    // ---- Update procedure (AppDelegateUpdate.cpp) ---------------------------------------------
    void sendFile(QObject* sender);
    void startTask();
    void taskEnded(const QVariantMap& result);
    void setPassPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds passPeriod() const;
    void setFlasherDirectory(const QString& dir);
    QString flasherDirectory() const;

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
    QPointer<QFileDialog> fileDialog_; // the open file dialog, while it is shown

    struct SendThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<SendThread> sendThreads_; // main thread only

    // ---- Update procedure state ----
    // The flasher run as a callable that touches only its own copies and the inbox: the launch
    // path, the arguments and the run's number, taken now.
    std::function<void()> flasherRunWork() const;
    // Main thread: a run's result. Only the latest run's result is taken (see the .cpp).
    void flasherRunEnded(uint64_t run, const QVariantMap& result);

    std::chrono::milliseconds passPeriod_{1000};
    mutable std::mutex flasherDirectoryMutex_;
    QString flasherDirectory_;                  // empty: the running executable's directory
    std::atomic<uint64_t> flasherRunNumber_{0}; // the latest run; 0 before the first
    bool updateRunning_ = false;                // sendFile is under way (main thread)
};
