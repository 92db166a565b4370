#include "DfuseFile.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <zlib.h>

namespace dfutest {
namespace {

constexpr size_t kTargetNameSize = 255;

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void setLe32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void appendTarget(std::vector<uint8_t>& out, const DfuseTarget& target) {
    static constexpr char kSignature[] = "Target";
    out.insert(out.end(), kSignature, kSignature + 6);
    out.push_back(target.alternateSetting);
    putLe(out, target.name.empty() ? 0 : 1, 4);
    std::vector<uint8_t> name(kTargetNameSize, 0);
    std::copy_n(target.name.begin(), std::min(target.name.size(), kTargetNameSize - 1),
                name.begin());
    out.insert(out.end(), name.begin(), name.end());
    const size_t sizeAt = out.size();
    putLe(out, 0, 4); // target size, set below
    putLe(out, static_cast<uint32_t>(target.elements.size()), 4);
    const size_t elementsStart = out.size();
    for (const DfuseElement& element : target.elements) {
        putLe(out, element.address, 4);
        putLe(out, static_cast<uint32_t>(element.data.size()), 4);
        out.insert(out.end(), element.data.begin(), element.data.end());
    }
    setLe32(out, sizeAt, static_cast<uint32_t>(out.size() - elementsStart));
}

void appendSuffix(std::vector<uint8_t>& out, DfuSuffix suffix, uint16_t bcdDfu) {
    putLe(out, suffix.device, 2);
    putLe(out, suffix.product, 2);
    putLe(out, suffix.vendor, 2);
    putLe(out, bcdDfu, 2);
    out.push_back('U');
    out.push_back('F');
    out.push_back('D');
    out.push_back(16);
    putLe(out, dfuCrc(out.data(), out.size()), 4);
}

} // namespace

uint32_t dfuCrc(const uint8_t* data, size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt chunk = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return static_cast<uint32_t>(crc) ^ 0xFFFFFFFFu;
}

std::vector<uint8_t> makeDfuseFile(const std::vector<DfuseTarget>& targets, DfuSuffix suffix) {
    std::vector<uint8_t> out = {'D', 'f', 'u', 'S', 'e', 0x01};
    putLe(out, 0, 4); // image size, set below
    out.push_back(static_cast<uint8_t>(targets.size()));
    for (const DfuseTarget& target : targets)
        appendTarget(out, target);
    setLe32(out, 6, static_cast<uint32_t>(out.size()));
    appendSuffix(out, suffix, 0x011A);
    return out;
}

std::vector<uint8_t> makePlainDfuFile(const std::vector<uint8_t>& image, DfuSuffix suffix) {
    std::vector<uint8_t> out = image;
    appendSuffix(out, suffix, 0x0100);
    return out;
}

void writeBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> patternBytes(size_t size, uint32_t seed) {
    // xorshift32: cheap, repeatable, and no two elements of a test look alike.
    std::vector<uint8_t> out(size);
    uint32_t x = seed ? seed : 0x9E3779B9u;
    for (uint8_t& byte : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x);
    }
    return out;
}

} // namespace dfutest
