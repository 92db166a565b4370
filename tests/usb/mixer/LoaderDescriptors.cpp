#include "LoaderDescriptors.h"

#include "DfuseDevice.h"

namespace loader {
namespace {

constexpr uint8_t kManufacturerString = 1;
constexpr uint8_t kProductString = 2;
constexpr uint8_t kSerialString = 3;
constexpr uint8_t kInterfaceString = 4;

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

} // namespace

std::vector<uint8_t> deviceDescriptor(uint16_t vendor) {
    std::vector<uint8_t> d{18, 0x01};
    put16(d, 0x0200);                 // USB 2.0
    d.insert(d.end(), {0, 0, 0, 64}); // class per interface; 64-byte endpoint 0
    put16(d, vendor);
    put16(d, kProduct);
    put16(d, 0x2200); // device release
    d.insert(d.end(), {kManufacturerString, kProductString, kSerialString, 1});
    return d;
}

std::vector<uint8_t> configurationDescriptor() {
    constexpr uint16_t total = 9 + 9 + 9;
    std::vector<uint8_t> c{9, 0x02};
    put16(c, total);
    c.insert(c.end(), {1, 1, 0, 0xC0, 50}); // one interface, value 1, self-powered, 100 mA
    // Interface 0, alternate 0, no endpoints but 0: DFU class, DFU mode.
    c.insert(c.end(), {9, 0x04, 0, 0, 0, 0xFE, 0x01, 0x02, kInterfaceString});
    // The DFU functional descriptor.
    c.insert(c.end(), {9, 0x21, 0x0B});
    put16(c, 255);                        // detach time-out, ms
    put16(c, DfuseDevice::kTransferSize); // transfer size
    put16(c, 0x011a);                     // DfuSe
    return c;
}

std::vector<uint8_t> stringDescriptor(uint8_t index, const std::string& interfaceName) {
    if (index == 0) {
        return {4, 0x03, 0x09, 0x04}; // English (United States)
    }
    std::string text;
    switch (index) {
    case kManufacturerString:
        text = "STMicroelectronics";
        break;
    case kProductString:
        text = "STM32  BOOTLOADER";
        break;
    case kSerialString:
        text = "VQ320EMULATED";
        break;
    case kInterfaceString:
        text = interfaceName;
        break;
    default:
        return {};
    }
    std::vector<uint8_t> out{static_cast<uint8_t>(2 + 2 * text.size()), 0x03};
    for (char c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

} // namespace loader
