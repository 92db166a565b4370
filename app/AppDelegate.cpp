#include "AppDelegate.h"

#include "DeviceWatch.h"
#include "DfuFileCheck.h"
#include "FlasherRun.h"
#include "InterruptedUpdate.h"
#include "MainWindow.h"
#include "ProgressDLG.h"
#include "SystemLog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <map>

namespace {

// The name of the send command, as the menu validation compares it.
constexpr const char* kSendFileActionName = "sendFile";
constexpr const char* kLocateFileMessage =
    QT_TRANSLATE_NOOP("AppDelegate", "Locate the Mirt firmware .dfu file");
constexpr const char* kFirmwareSuffix = "dfu";
constexpr size_t kSysExFrameSize = 256;

// A file dialog that refuses to accept anything but .dfu files: a typed name can otherwise
// bypass the name filter.
class DfuFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        for (const QString& file : files) {
            const QFileInfo info(file);
            if (info.isDir()) {
                // Let the dialog open the directory, as it does for a typed directory.
                QFileDialog::accept();
                return;
            }
            if (info.suffix().compare(QLatin1StringView(kFirmwareSuffix), Qt::CaseInsensitive) !=
                0) {
                QApplication::beep();
                return;
            }
        }
        QFileDialog::accept();
    }
};

// Shows `message` above everything else in Qt's own file dialog, where a file panel shows its
// message (the title alone is hidden by desktops that attach modal dialogs to their window).
void addMessageOnTop(QFileDialog& dialog, const QString& message) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (grid == nullptr) {
        return;
    }
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed;
    for (int i = grid->count() - 1; i >= 0; --i) {
        Placed p{nullptr, 0, 0, 0, 0};
        grid->getItemPosition(i, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(i);
        placed.push_back(p);
    }
    const int columns = std::max(grid->columnCount(), 1);
    for (const Placed& p : placed) {
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
    }
    auto* label = new QLabel(message, &dialog);
    label->setObjectName(QStringLiteral("locateFileMessage"));
    label->setWordWrap(true);
    grid->addWidget(label, 0, 0, 1, columns);
}

} // namespace

AppDelegate::AppDelegate(std::shared_ptr<MidiService> service, MainWindow& window, QObject* parent)
    : QObject(parent), service_(std::move(service)), inbox_(MainThreadInbox::create()),
      deviceWatch_(std::make_unique<DeviceWatch>(UsbDeviceSource::platformDefault())),
      midiRetry_(new QTimer(this)) {
    midiRetry_->setInterval(std::chrono::seconds(2));
    connect(midiRetry_, &QTimer::timeout, this, &AppDelegate::midiRetryTick);
    // A loader coming or going changes the recovery state; during an update the update itself
    // looks at the bus, and the status line stays as the update left it.
    connect(deviceWatch_.get(), &DeviceWatch::changed, this, [this] {
        if (update_ == nullptr) {
            checkMirtMidiDevice();
        }
    });
    window_.store(&window);
    filePath_.store(window.filePath());
    deviceFoundText_.store(window.deviceFoundText());
    sendFile_.store(window.sendFile());
    connectWindow(window);
}

AppDelegate::~AppDelegate() {
    // Input stops; a delivery still under way posts to the closed inbox, which drops it.
    inputSources_.leaveAll();
    inbox_->close();
    // Send threads read `midi`; they end before it goes, so none holds the last reference.
    waitForSends();
    if (const std::shared_ptr<ZelMidi> midi = midi_.exchange(nullptr)) {
        midi->setDelegate(nullptr);
    }
}

void AppDelegate::connectWindow(MainWindow& window) {
    connect(window.chooseFile(), &QPushButton::clicked, this,
            [this, button = window.chooseFile()] { locateFile(button); });
    connect(window.locateFileAction(), &QAction::triggered, this,
            [this, action = window.locateFileAction()] { locateFile(action); });
    connect(window.sendFile(), &QPushButton::clicked, this,
            [this, button = window.sendFile()] { sendFile(button); });
    connect(window.sendFileAction(), &QAction::triggered, this,
            [this, action = window.sendFileAction()] {
                // Validated again when triggered: a shortcut does not go through the menu.
                if (validateMenuItem(action)) {
                    sendFile(action);
                }
            });
    // Quitting goes through the controller, which asks first during an update.
    QObject::disconnect(window.quitAction(), &QAction::triggered, nullptr, nullptr);
    connect(
        window.quitAction(), &QAction::triggered, this, [this] { requestQuit(); },
        Qt::QueuedConnection);
    window.installEventFilter(this);
    QMenu* menu = window.fileMenu();
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                action->setEnabled(validateMenuItem(action));
            }
        }
    });
    // Outside the open menu every command stays reachable by its shortcut, which validates
    // when triggered.
    connect(menu, &QMenu::aboutToHide, this, [menu] {
        for (QAction* action : menu->actions()) {
            action->setEnabled(true);
        }
    });
}

// ---- Start-up and shutdown --------------------------------------------------------------------

void AppDelegate::applicationDidFinishLaunching() {
    setFileLoaded(0);
    setDeviceFound(0);
    updateFilePath(nullptr);
    enableMIDI();
    showInterruptedUpdate();
}

void AppDelegate::showInterruptedUpdate() {
    const std::optional<QString> firmware =
        InterruptedUpdate(updateSettings_.stateDirectory).recorded();
    if (!firmware) {
        return;
    }
    systemLog(QStringLiteral("The last update (of %1) was interrupted").arg(*firmware));
    // Not blocking: the window and the device check go on behind it.
    auto* box = new QMessageBox(window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->addButton(tr("OK"), QMessageBox::AcceptRole);
    box->setText(tr("The last update was interrupted, so the mixer's firmware may be "
                    "incomplete."));
    box->setInformativeText(
        tr("If the mixer waits in its USB update mode, keep it connected, choose the firmware "
           "(%1) and press Send: the updater then writes it without restarting the mixer.")
            .arg(*firmware));
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void AppDelegate::applicationWillTerminate() {
    disableMIDI();
}

// ---- Session life -----------------------------------------------------------------------------

void AppDelegate::enableMIDI() {
    std::shared_ptr<ZelMidi> midi = ZelMidi::create(service_);
    if (const std::shared_ptr<ZelMidi> old = midi_.exchange(midi)) {
        old->setDelegate(nullptr);
    }
    // It only writes a line, once per run: sessions made again later do not repeat it.
    if (!networkOptionLogged_) {
        midi->setNetworkEnabled(true);
        networkOptionLogged_ = true;
    }
    midi->setDelegate(this);
    // Without a client the session sees nothing; the system is tried until it is there.
    midiRetryStatus_ = midi->clientCreateStatus();
    if (midiRetryStatus_ != 0) {
        midiRetry_->start();
    } else {
        midiRetry_->stop();
    }
    checkMirtMidiDevice();
}

void AppDelegate::setMidiRetryPeriod(std::chrono::milliseconds period) {
    midiRetry_->setInterval(period);
}

void AppDelegate::midiRetryTick() {
    const std::shared_ptr<ZelMidi> midi = this->midi();
    if (midi == nullptr || midi->clientCreateStatus() == 0) {
        midiRetry_->stop();
        return;
    }
    // A bare client tells whether the system is there now; only a change makes a new session,
    // whose lines then tell the new state once.
    MIDIClientRef probe = 0;
    const OSStatus status =
        service_->clientCreate(QStringLiteral("ZelMidi MIDI Client"), nullptr, nullptr, &probe);
    if (status == 0 && probe != 0) {
        service_->clientDispose(probe);
    }
    if (status == midiRetryStatus_) {
        return;
    }
    systemLog(status == 0 ? QStringLiteral("The MIDI system is available now")
                          : QStringLiteral("The MIDI system is still not available: %1")
                                .arg(midiProblem(status)));
    enableMIDI();
}

QString AppDelegate::midiProblem(OSStatus status) {
    // CoreMIDI's kMIDINotPermitted, which the ALSA service reports when /dev/snd/seq may not be
    // opened.
    constexpr OSStatus kNotPermitted = -10844;
    if (status == kMIDIServerStartErr) {
        return tr("no ALSA sequencer: /dev/snd/seq is missing or refused a client");
    }
    if (status == kNotPermitted) {
        return tr("this user may not open /dev/snd/seq");
    }
    return tr("error %1").arg(status);
}

void AppDelegate::disableMIDI() {
    midiRetry_->stop();
    inputSources_.leaveAll();
    if (const std::shared_ptr<ZelMidi> old = midi_.exchange(nullptr)) {
        // A send still under way may keep the session a moment longer; it no longer reports here.
        old->setDelegate(nullptr);
    }
    checkMirtMidiDevice();
}

void AppDelegate::resetMIDI() {
    disableMIDI();
    enableMIDI();
}

// ---- Device detection -------------------------------------------------------------------------

QStringList AppDelegate::listAllInterfaces() const {
    QStringList names;
    const std::shared_ptr<ZelMidi> midi = this->midi();
    if (midi == nullptr) {
        return names;
    }
    for (const auto& source : midi->sources()) {
        names << source->name();
    }
    for (const auto& destination : midi->destinations()) {
        names << destination->name();
    }
    return names;
}

uint8_t AppDelegate::checkMirtMidiDevice() {
    const QStringList names = listAllInterfaces();
    setDeviceFound(0);
    for (const QString& name : names) {
        if (name.contains(QLatin1StringView(kDeviceMatchKey), Qt::CaseInsensitive)) {
            setDeviceFound(1);
            break;
        }
    }
    if (const QPointer<QLabel> label = deviceFoundText()) {
        const std::shared_ptr<ZelMidi> midi = this->midi();
        if (midi != nullptr && midi->clientCreateStatus() != 0) {
            // Not the same as an unplugged mixer: nothing can be seen at all.
            label->setText(
                tr("MIDI system not available (%1)").arg(midiProblem(midi->clientCreateStatus())));
        } else if (deviceFound() != 0) {
            label->setText(tr(kDeviceConnectedText));
        } else if (const std::optional<DfuDevice> loader = recoveryLoader()) {
            label->setText(tr("A device waits in USB update mode: %1. If it is the MIRT VQ320 "
                              "after an interrupted update, Send writes the firmware to it.")
                               .arg(loader->describe()));
        } else if (const auto loaders = deviceWatch_->loaders().size(); loaders > 1) {
            label->setText(tr("%1 devices wait in USB update mode. To finish the update of the "
                              "MIRT VQ320, leave only the mixer connected.")
                               .arg(loaders));
        } else {
            label->setText(tr(kDeviceNotFoundText));
        }
    }
    updateSendButton();
    return deviceFound();
}

std::optional<DfuDevice> AppDelegate::recoveryLoader() const {
    if (deviceFound() != 0) {
        return std::nullopt;
    }
    const std::vector<DfuDevice> loaders = deviceWatch_->loaders();
    if (loaders.size() != 1) {
        return std::nullopt;
    }
    return loaders.front();
}

void AppDelegate::updateSendButton() {
    // fileLoaded is read only when there is something to write to.
    const bool target = deviceFound() != 0 || recoveryLoader().has_value();
    const bool enabled = target && fileLoaded() != 0 && flasherProblem_.isEmpty();
    if (QPushButton* button = sendFile()) {
        button->setEnabled(enabled);
    }
}

int AppDelegate::mixersConnected() const {
    const std::shared_ptr<ZelMidi> midi = this->midi();
    if (midi == nullptr) {
        return 0;
    }
    // Two mixers of one model show the same names; one mixer's ports have names of their own.
    const auto most = [](const QStringList& names) {
        std::map<QString, int> counts;
        int highest = 0;
        for (const QString& name : names) {
            if (name.contains(QLatin1StringView(kDeviceMatchKey), Qt::CaseInsensitive)) {
                highest = std::max(highest, ++counts[name]);
            }
        }
        return highest;
    };
    QStringList sources;
    for (const auto& source : midi->sources()) {
        sources << source->name();
    }
    QStringList destinations;
    for (const auto& destination : midi->destinations()) {
        destinations << destination->name();
    }
    return std::max(most(sources), most(destinations));
}

std::vector<std::shared_ptr<ZelMidiDestination>> AppDelegate::mixerDestinations() const {
    std::vector<std::shared_ptr<ZelMidiDestination>> found;
    if (const std::shared_ptr<ZelMidi> midi = this->midi()) {
        for (const auto& destination : midi->destinations()) {
            if (destination->name().contains(QLatin1StringView(kDeviceMatchKey),
                                             Qt::CaseInsensitive)) {
                found.push_back(destination);
            }
        }
    }
    return found;
}

void AppDelegate::updateFilePath(const std::shared_ptr<const QUrl>& url) {
    const QPointer<QLineEdit> field = filePath();
    if (url != nullptr) {
        const QString path =
            url->isLocalFile() ? url->toLocalFile() : url->path(QUrl::FullyDecoded);
        if (field != nullptr) {
            field->setText(path);
        }
        setFileLoaded(1);
    } else {
        if (field != nullptr) {
            field->setText(QStringLiteral("-"));
        }
        setFileLoaded(0);
    }
    updateSendButton();
}

namespace {

// Whether `name` begins with `text`, compared code unit by code unit.
bool beginsWith(const QString& name, const QString& text) {
    if (name.size() < text.size()) {
        return false;
    }
    return QStringView(name).left(text.size()) == QStringView(text);
}

} // namespace

uint8_t AppDelegate::isConnectedToMIDIIn(const QString& text) const {
    const std::shared_ptr<ZelMidi> midi = this->midi();
    if (midi == nullptr) {
        return 0;
    }
    for (const auto& source : midi->sources()) {
        if (beginsWith(source->name(), text)) {
            return 1;
        }
    }
    return 0;
}

uint8_t AppDelegate::isConnectedToMIDIOut(const QString& text) const {
    const std::shared_ptr<ZelMidi> midi = this->midi();
    if (midi == nullptr) {
        return 0;
    }
    for (const auto& destination : midi->destinations()) {
        if (beginsWith(destination->name(), text)) {
            return 1;
        }
    }
    return 0;
}

// ---- Session callbacks ------------------------------------------------------------------------

void AppDelegate::midiSourceAdded(ZelMidi& /*midi*/, const std::shared_ptr<ZelMidiSource>& source) {
    if (source != nullptr) {
        inputSources_.join(source);
    }
    checkMirtMidiDevice();
}

void AppDelegate::midiSourceRemoved(ZelMidi& /*midi*/,
                                    const std::shared_ptr<ZelMidiSource>& /*source*/) {
    checkMirtMidiDevice();
}

void AppDelegate::midiDestinationAdded(ZelMidi& /*midi*/,
                                       const std::shared_ptr<ZelMidiDestination>& /*destination*/) {
    checkMirtMidiDevice();
}

void AppDelegate::midiDestinationRemoved(
    ZelMidi& /*midi*/, const std::shared_ptr<ZelMidiDestination>& /*destination*/) {
    checkMirtMidiDevice();
}

// ---- MIDI input -------------------------------------------------------------------------------

void AppDelegate::midiSourceMidiReceived(ZelMidiSource& /*source*/, const MIDIPacketList* list) {
    postPacketRecords(*inbox_, this, list);
}

void AppDelegate::postPacketRecords(MainThreadInbox& inbox, AppDelegate* owner,
                                    const MIDIPacketList* list) {
    if (list == nullptr) {
        return;
    }
    const uint32_t count = packetListCount(list);
    MIDIConstPacketPtr packet = packetListFirst(list);
    for (uint32_t i = 0; i < count; ++i, packet = packetNext(packet)) {
        const uint16_t length = packetLength(packet);
        if (length == 0) {
            continue; // no first byte to judge, nothing to pass on
        }
        if (packetData(packet)[0] >= 0xF8) {
            continue; // System Real-Time
        }
        // The record holds the packet's own bytes only (at most its 256 data bytes); the rest
        // stays zero, and nothing past this packet in the list is read.
        const size_t dataBytes = std::min<size_t>(length, sizeof(MIDIPacket::data));
        const auto recordLength = static_cast<uint16_t>(dataBytes);
        QByteArray record(static_cast<qsizetype>(sizeof(MIDIPacket)), '\0');
        char* bytes = record.data();
        std::memcpy(bytes + offsetof(MIDIPacket, timeStamp),
                    packet + offsetof(MIDIPacket, timeStamp), sizeof(MIDITimeStamp));
        std::memcpy(bytes + offsetof(MIDIPacket, length), &recordLength, sizeof recordLength);
        std::memcpy(bytes + offsetof(MIDIPacket, data), packetData(packet), dataBytes);
        inbox.post([owner, record = std::move(record)] { owner->midiParser(record); });
    }
}

void AppDelegate::midiParser(const QByteArray& record) {
    if (record.size() != static_cast<qsizetype>(sizeof(MIDIPacket))) {
        return;
    }
    MIDIPacket packet;
    std::memcpy(&packet, record.constData(), sizeof packet);
    if (packet.data[0] >= 0xF0) {
        midiSysExReceived(&packet);
    }
}

void AppDelegate::midiSysExReceived(const MIDIPacket* /*record*/) {}

// ---- SysEx sending ----------------------------------------------------------------------------

void AppDelegate::sendMidiSysEx(const uint8_t* payload, uint8_t length) {
    if (length > kMaxSysExPayload) {
        systemLog(QStringLiteral("SysEx not sent: a payload of %1 bytes does not fit the frame "
                                 "(at most %2 bytes)")
                      .arg(length)
                      .arg(kMaxSysExPayload));
        return;
    }
    if (length > 0 && payload == nullptr) {
        return;
    }
    uint8_t buffer[kSysExFrameSize];
    buffer[0] = 0xF0;
    if (length > 0) {
        std::memcpy(buffer + 1, payload, length);
    }
    buffer[length + 1] = 0xF7;
    const size_t frameLength = size_t{length} + 2;
    const QByteArray frame(reinterpret_cast<const char*>(buffer),
                           static_cast<qsizetype>(frameLength));

    reapFinishedSends();
    auto done = std::make_shared<std::atomic<bool>>(false);
    // Chosen here, where the lists live: only the mixer is told to restart, no other synth.
    std::thread thread([this, frame, done, midi = midi(), targets = mixerDestinations()] {
        sendMidiDataInBackground(frame, midi, targets);
        done->store(true, std::memory_order_release);
    });
    sendThreads_.push_back({std::move(thread), std::move(done)});

    QString text;
    for (size_t i = 0; i < frameLength; ++i) {
        text += QStringLiteral(" %1").arg(buffer[i], 2, 16, QLatin1Char('0'));
    }
    systemLog(QStringLiteral("Sending SysEx: [%1]").arg(text));
}

void AppDelegate::sendMidiDataInBackground(
    const QByteArray& frame, const std::shared_ptr<ZelMidi>& midi,
    const std::vector<std::shared_ptr<ZelMidiDestination>>& targets) {
    // This thread's own reference: the session the destinations belong to stays valid for the
    // whole send.
    if (midi == nullptr) {
        return;
    }
    for (const auto& destination : targets) {
        destination->sendBytes(reinterpret_cast<const uint8_t*>(frame.constData()),
                               static_cast<uint32_t>(frame.size()));
    }
}

void AppDelegate::reapFinishedSends() {
    std::erase_if(sendThreads_, [](SendThread& send) {
        if (!send.done->load(std::memory_order_acquire)) {
            return false;
        }
        send.thread.join();
        return true;
    });
}

void AppDelegate::waitForSends() {
    for (SendThread& send : sendThreads_) {
        send.thread.join();
    }
    sendThreads_.clear();
}

// ---- Firmware file selection ------------------------------------------------------------------

void AppDelegate::locateFile(QObject* /*sender*/) {
    if (fileDialog_ != nullptr) {
        fileDialog_->raise();
        return;
    }
    auto* dialog = new DfuFileDialog(window());
    // Qt's own dialog: it honours every setting below and is window-modal on all desktops.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile); // one existing file, no directory
    dialog->setOption(QFileDialog::ReadOnly, true); // no "New Folder", no renaming or deleting
    dialog->setLabelText(QFileDialog::Accept, tr("Choose"));
    dialog->setWindowTitle(tr(kLocateFileMessage));
    addMessageOnTop(*dialog, tr(kLocateFileMessage));
    dialog->setNameFilter(tr("Mirt firmware (*.%1)").arg(QLatin1StringView(kFirmwareSuffix)));
    dialog->setWindowModality(Qt::WindowModal);
    fileDialog_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog](int response) {
        locateFileCompleted(response, dialog->selectedUrls());
        fileDialog_ = nullptr;
        dialog->deleteLater();
    });
    dialog->open();
}

void AppDelegate::locateFileCompleted(int response, const QList<QUrl>& urls) {
    if (response != QDialog::Accepted) {
        return;
    }
    if (fileDialog_ != nullptr) {
        fileDialog_->hide();
    }
    if (urls.isEmpty()) {
        return;
    }
    setFirmwareURL(std::make_shared<const QUrl>(urls.first()));
    updateFilePath(firmwareURL());
    // A flasher that failed before may have been reinstalled meanwhile.
    if (!flasherProblem_.isEmpty()) {
        checkFlasher();
    }
    showFileSummary();
}

void AppDelegate::showFileSummary() {
    const std::shared_ptr<const QUrl> url = firmwareURL();
    const QPointer<QMainWindow> main = window();
    if (url == nullptr || !url->isLocalFile() || main == nullptr) {
        return;
    }
    const DfuFileCheck::Result file = DfuFileCheck::checkFile(url->toLocalFile());
    fileSummary_ = file.ok ? file.summary : tr("Not usable: %1").arg(file.problem);
    main->statusBar()->showMessage(flasherProblem_.isEmpty() ? fileSummary_ : flasherProblem_);
}

bool AppDelegate::validateMenuItem(QAction* item) const {
    if (item == nullptr ||
        item->property("action").toString() != QLatin1StringView(kSendFileActionName)) {
        return true;
    }
    const std::shared_ptr<const QUrl> url = firmwareURL();
    return url != nullptr && url->isLocalFile() && fileLoaded() != 0 &&
           (deviceFound() != 0 || recoveryLoader().has_value()) && flasherProblem_.isEmpty();
}
