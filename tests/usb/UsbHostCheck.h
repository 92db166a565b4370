// What the emulated USB mixer needs of the machine (the test VM has it all): the reason a test
// skips, or null.
#pragma once

#include <filesystem>
#include <unistd.h>

// `loader`: the DFU loader too, which is a USB/IP device on vhci_hcd.
inline const char* usbSkipReason(bool loader) {
    if (geteuid() != 0) {
        return "needs root to make USB devices";
    }
    if (!std::filesystem::exists("/dev/snd/seq")) {
        return "needs the kernel MIDI sequencer (/dev/snd/seq)";
    }
    if (!std::filesystem::exists("/sys/kernel/config/usb_gadget") ||
        !std::filesystem::exists("/sys/class/udc/dummy_udc.0")) {
        return "needs configfs and dummy_hcd";
    }
    if (loader && !std::filesystem::exists("/sys/devices/platform/vhci_hcd.0")) {
        return "needs vhci_hcd";
    }
    return nullptr;
}
