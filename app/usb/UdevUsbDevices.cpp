// Where udev runs: the list is still read from sysfs, but only when udev's monitor announces a USB
// device or interface, which it does once its rules (and with them this user's access) are
// applied. Interfaces count too: a device's DFU interface appears once its configuration is set,
// after the device itself. Without udev nobody applies rules, and the kernel's own events say the
// same at once; a container may not receive them, so then the list is polled as well.
#include "UsbDeviceSource.h"

#include <libudev.h>
#include <unistd.h>

namespace {

class UdevUsbDevices final : public UsbDeviceSource {
public:
    UdevUsbDevices(std::unique_ptr<UsbDeviceSource> listing, udev* context, udev_monitor* monitor,
                   bool fromUdev)
        : listing_(std::move(listing)), udev_(context), monitor_(monitor), fromUdev_(fromUdev) {}
    ~UdevUsbDevices() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    UdevUsbDevices(const UdevUsbDevices&) = delete;
    UdevUsbDevices& operator=(const UdevUsbDevices&) = delete;

    std::vector<DfuDevice> dfuDevices() override { return listing_->dfuDevices(); }
    bool writable(const DfuDevice& device) override { return listing_->writable(device); }
    int changeDescriptor() override { return udev_monitor_get_fd(monitor_); }
    bool tellsEveryChange() override { return fromUdev_; }
    void takeChanges() override {
        // The socket does not block: the loop ends when nothing is left.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
        }
    }

private:
    std::unique_ptr<UsbDeviceSource> listing_;
    udev* udev_;
    udev_monitor* monitor_;
    bool fromUdev_;
};

// udev's monitor for USB devices where udev runs (its own monitor would stay silent elsewhere),
// else the kernel's; null when neither can be opened.
std::unique_ptr<UsbDeviceSource> udevMonitored(std::unique_ptr<UsbDeviceSource> listing) {
    const bool fromUdev = ::access("/run/udev/control", F_OK) == 0;
    udev* context = udev_new();
    if (context == nullptr) {
        return nullptr;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, fromUdev ? "udev" : "kernel");
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevUsbDevices>(std::move(listing), context, monitor, fromUdev);
}

} // namespace

std::unique_ptr<UsbDeviceSource> UsbDeviceSource::platformDefault() {
    if (auto monitored = udevMonitored(sysfs())) {
        return monitored;
    }
    return sysfs();
}
