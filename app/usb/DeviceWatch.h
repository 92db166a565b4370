// Keeps the list of USB devices in DFU mode current: read again whenever the source tells of a
// change (udev, the kernel), and once per poll period where it may miss some or tells nothing. The
// window's recovery state and the update's wait for the mixer's loader both read it.
#pragma once

#include "UsbDeviceSource.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

class QSocketNotifier;

class DeviceWatch : public QObject {
    Q_OBJECT
public:
    explicit DeviceWatch(std::unique_ptr<UsbDeviceSource> source, QObject* parent = nullptr);
    ~DeviceWatch() override;

    // Replaces where devices come from (tests inject a bus of their own), and reads it.
    void setSource(std::unique_ptr<UsbDeviceSource> source);

    // The devices in DFU mode as last read, and the mixer-type loaders (0483:df11) among them.
    const std::vector<DfuDevice>& devices() const { return devices_; }
    std::vector<DfuDevice> loaders() const;
    bool writable(const DfuDevice& device) { return source_->writable(device); }

    // Reads the bus now; emits changed() when the list differs from the last.
    void refresh();
    // Whether the source tells of every change; without that the list is only as fresh as the
    // last refresh (a source that tells of some is still read at once when it does).
    bool toldOfChanges() const { return notifier_ != nullptr && source_->tellsEveryChange(); }

    // How often the list is read where nothing tells of changes, and whether that poll runs (an
    // update pauses it while it makes its own looks).
    void setPollPeriod(std::chrono::milliseconds period);
    void setPolling(bool on);

signals:
    void changed();

private:
    void attach();

    std::unique_ptr<UsbDeviceSource> source_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer poll_;
    bool polling_ = true;
    std::vector<DfuDevice> devices_;
};
