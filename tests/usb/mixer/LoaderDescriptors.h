// What the loader tells the host about itself: an STM32-style DfuSe loader, 0483:df11, one DFU
// interface (FE/01/02) with the DfuSe functional descriptor (version 0x011a, transfer size
// 2048, can download, can upload, will detach) and the flash layout as the interface's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace loader {

constexpr uint16_t kVendor = 0x0483;
constexpr uint16_t kProduct = 0xdf11;

// `vendor`: the idVendor (another vendor's loader answers the same way).
std::vector<uint8_t> deviceDescriptor(uint16_t vendor = kVendor);
std::vector<uint8_t> configurationDescriptor();
// String descriptor `index` (0: the language list), or nothing for an unknown index.
std::vector<uint8_t> stringDescriptor(uint8_t index, const std::string& interfaceName);

} // namespace loader
