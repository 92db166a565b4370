// Writes real firmware images for tests: DfuSe files (prefix, targets, elements) and plain
// images, each closed by the DFU suffix with its CRC, as dfu-util reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dfutest {

struct DfuseElement {
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

struct DfuseTarget {
    uint8_t alternateSetting = 0;
    std::string name; // empty: the target is unnamed
    std::vector<DfuseElement> elements;
};

// The mixer's loader: an STM32 ROM loader (0483:df11), any device release.
struct DfuSuffix {
    uint16_t device = 0xFFFF;
    uint16_t product = 0xDF11;
    uint16_t vendor = 0x0483;
};

std::vector<uint8_t> makeDfuseFile(const std::vector<DfuseTarget>& targets, DfuSuffix suffix = {});
std::vector<uint8_t> makePlainDfuFile(const std::vector<uint8_t>& image, DfuSuffix suffix = {});

// The suffix CRC: CRC-32 without the final inversion, over everything but its own four bytes.
uint32_t dfuCrc(const uint8_t* data, size_t size);

// Throws std::runtime_error when the file cannot be written whole.
void writeBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Deterministic filler for element data, so a flashed dump can be compared byte for byte.
std::vector<uint8_t> patternBytes(size_t size, uint32_t seed);

} // namespace dfutest
