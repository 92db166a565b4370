// Where the updater learns which USB devices are in DFU mode (any vendor: an interface of class
// FE, subclass 01, protocol 02) and whether this user may open one. The kernel's sysfs is read
// for the list; where udev runs, its monitor tells when to read again (its events come once the
// access rules are applied), elsewhere the kernel's own events do, and the watch polls as well.
// Tests inject their own bus.
#pragma once

#include "DfuDevice.h"

#include <QString>
#include <memory>
#include <vector>

class UsbDeviceSource {
public:
    virtual ~UsbDeviceSource() = default;

    // The devices in DFU mode now, in sysfs order. Cheap enough for a poll a few times a second.
    virtual std::vector<DfuDevice> dfuDevices() = 0;
    // Whether this user may open the device's node for writing, as dfu-util must.
    virtual bool writable(const DfuDevice& device) = 0;
    // A descriptor that turns readable when devices came or went (udev's monitor), or -1: then
    // nobody tells, and the list must be polled.
    virtual int changeDescriptor() { return -1; }
    // Consumes what made the descriptor readable.
    virtual void takeChanges() {}
    // Whether the descriptor tells of every change. The kernel's own events may not reach a
    // container, so a source built on them is polled as well.
    virtual bool tellsEveryChange() { return changeDescriptor() >= 0; }

    // Reads <sysRoot>/<bus-port>/{busnum,devnum,idVendor,idProduct,product} and the interfaces
    // <sysRoot>/<bus-port>:<config>.<interface>/{bInterfaceClass,...,interface}; nodes are
    // <devRoot>/BBB/DDD. Polled.
    static std::unique_ptr<UsbDeviceSource>
    sysfs(QString sysRoot = QStringLiteral("/sys/bus/usb/devices"),
          QString devRoot = QStringLiteral("/dev/bus/usb"));
    // sysfs with udev's monitor when udev runs (/run/udev/control exists), with the kernel's
    // events otherwise, sysfs alone when neither can be heard.
    static std::unique_ptr<UsbDeviceSource> platformDefault();
};
