// Whether a USB device with a given vendor and product ID is on the bus. The update asks it
// about the mixer's loader while it waits after the replug; tests inject their own.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class UsbDevicePresence {
public:
    virtual ~UsbDevicePresence() = default;
    // Cheap enough to be called from the main thread's event loop a few times a second.
    virtual bool isPresent(uint16_t vendor, uint16_t product) = 0;

    // Reads <root>/*/idVendor and idProduct, as the kernel lists USB devices in sysfs.
    static std::shared_ptr<UsbDevicePresence>
    sysfs(QString root = QStringLiteral("/sys/bus/usb/devices"));
};
