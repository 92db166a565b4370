#include "DeviceWatch.h"

#include <QSocketNotifier>
#include <algorithm>

namespace {

bool sameList(const std::vector<DfuDevice>& a, const std::vector<DfuDevice>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [](const DfuDevice& x, const DfuDevice& y) {
            return x.sameDevice(y) && x.vendor == y.vendor && x.product == y.product &&
                   x.productName == y.productName && x.memoryLayout == y.memoryLayout;
        });
}

} // namespace

DeviceWatch::DeviceWatch(std::unique_ptr<UsbDeviceSource> source, QObject* parent)
    : QObject(parent), source_(std::move(source)) {
    poll_.setInterval(std::chrono::seconds(1));
    connect(&poll_, &QTimer::timeout, this, &DeviceWatch::refresh);
    attach();
}

DeviceWatch::~DeviceWatch() = default;

void DeviceWatch::setSource(std::unique_ptr<UsbDeviceSource> source) {
    notifier_.reset();
    source_ = std::move(source);
    attach();
}

void DeviceWatch::attach() {
    const int fd = source_->changeDescriptor();
    if (fd >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            source_->takeChanges();
            refresh();
        });
    }
    setPolling(polling_);
    refresh();
}

std::vector<DfuDevice> DeviceWatch::loaders() const {
    std::vector<DfuDevice> found;
    std::copy_if(devices_.begin(), devices_.end(), std::back_inserter(found),
                 [](const DfuDevice& device) { return device.isLoader(); });
    return found;
}

void DeviceWatch::refresh() {
    std::vector<DfuDevice> now = source_->dfuDevices();
    if (sameList(now, devices_)) {
        return;
    }
    devices_ = std::move(now);
    emit changed();
}

void DeviceWatch::setPollPeriod(std::chrono::milliseconds period) {
    poll_.setInterval(period);
}

void DeviceWatch::setPolling(bool on) {
    polling_ = on;
    if (on && !toldOfChanges()) {
        poll_.start();
    } else {
        poll_.stop();
    }
}
