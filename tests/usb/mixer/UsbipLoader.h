// The loader on the USB bus, through USB/IP's virtual host controller (vhci_hcd): the kernel
// sends this program every transfer of the device as a USB/IP command over a socket and waits
// for its answer, so the whole device, its descriptors and each control transfer with its
// data stage are in user space. Attached as a full-speed device; unplugs (detaches) when the
// device resets after the leave request or when a fault makes it vanish.
#pragma once

#include "DfuseDevice.h"
#include "LoaderEndpoint0.h"

#include <functional>
#include <optional>
#include <string>

class UsbipLoader {
public:
    struct Faults {
        std::optional<int> vanishAfterBlocks; // unplug after this many data blocks
        bool resetOnLeave = false;            // reset before answering the leave's status
        bool trace = false;                   // report each control request
        uint16_t vendor = 0x0483;             // idVendor (another vendor's loader)
    };
    enum class Ending { reset, vanished, stopped, failed };

    // `vhci`: the virtual host controller's sysfs directory.
    UsbipLoader(DfuseDevice& device, std::string vhci, std::string layoutName, Faults faults,
                std::function<void(const std::string&)> log);

    // Plugs in and serves until the device resets or vanishes, `stopFd` becomes readable or
    // closes (stopped), or the connection fails.
    Ending run(int stopFd);

private:
    int attach();
    void detach();
    // One USB/IP command; false when the connection failed.
    bool serveCommand(int fd);

    DfuseDevice& device_;
    LoaderEndpoint0 endpoint0_;
    std::string vhci_;
    Faults faults_;
    std::function<void(const std::string&)> log_;
    int port_ = -1;
    bool downloadReported_ = false;
};
