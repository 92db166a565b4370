// The loader on the USB bus, through gadgetfs: this program is the whole device. It writes the
// descriptors (device 0483:df11, one DFU interface with the DfuSe functional descriptor and the
// flash layout as its name), answers endpoint 0's requests with a DfuseDevice, and unplugs
// when the device resets after the leave request, or when a fault makes it vanish.
#pragma once

#include "DfuseDevice.h"

#include <functional>
#include <optional>
#include <string>

class GadgetfsLoader {
public:
    struct Faults {
        std::optional<int> vanishAfterBlocks; // unplug after this many data blocks
        bool resetOnLeave = false;            // reset before answering the leave's status
    };
    enum class Ending { reset, vanished, stopped, failed };

    // `controllerFile` is the device controller's file on gadgetfs (/dev/gadget/dummy_udc).
    GadgetfsLoader(DfuseDevice& device, std::string controllerFile, std::string layoutName,
                   Faults faults, std::function<void(const std::string&)> log);

    // Plugs in and serves until the device resets or vanishes, `stopFd` becomes readable or
    // closes (stopped), or gadgetfs fails.
    Ending run(int stopFd);

private:
    bool plugIn(int fd);
    // One SETUP event; false when endpoint 0 failed.
    bool serve(int fd, const SetupRequest& request);
    bool serveStandard(int fd, const SetupRequest& request);
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;

    DfuseDevice& device_;
    std::string controllerFile_;
    std::string layoutName_;
    Faults faults_;
    std::function<void(const std::string&)> log_;
};
