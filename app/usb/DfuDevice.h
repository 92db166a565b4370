// A USB device in DFU mode, as found on the bus: where it sits, what it calls itself and what its
// alternate setting 0 says about its memory.
#pragma once

#include <QString>
#include <cstdint>

struct DfuDevice {
    // The mixer's loader (an STM32 in its ROM DFU mode).
    static constexpr uint16_t kLoaderVendor = 0x0483;
    static constexpr uint16_t kLoaderProduct = 0xDF11;

    int bus = 0;          // busnum
    int address = 0;      // devnum: new on every enumeration
    QString portPath;     // bus and ports as dfu-util's -p takes them, e.g. "1-2.3"
    uint16_t vendor = 0;  // idVendor
    uint16_t product = 0; // idProduct
    QString productName;  // the USB product string, e.g. "STM32  BOOTLOADER"
    QString memoryLayout; // alt 0's interface string, e.g. "@Internal Flash  /0x08000000/..."

    bool isLoader() const { return vendor == kLoaderVendor && product == kLoaderProduct; }
    // The same enumeration of the same device (a device that left and came back is another).
    bool sameDevice(const DfuDevice& other) const {
        return bus == other.bus && address == other.address && portPath == other.portPath;
    }
    // Its node under usbfs, which dfu-util opens: /dev/bus/usb/BBB/DDD.
    QString node(const QString& devRoot = QStringLiteral("/dev/bus/usb")) const;
    // For the user and the log: "STM32  BOOTLOADER (0483:df11) at USB port 1-2.3".
    QString describe() const;
};
