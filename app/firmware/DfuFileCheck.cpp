#include "DfuFileCheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <zlib.h>

namespace {

constexpr std::size_t kSuffixLength = 16;
constexpr std::size_t kPrefixLength = 11;        // "DfuSe", version, image size, targets
constexpr std::size_t kTargetPrefixLength = 274; // "Target", alt, named, name, size, elements
constexpr std::size_t kElementHeaderLength = 8;  // address, size

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

DfuFileCheck::Result failed(QString problem) {
    DfuFileCheck::Result result;
    result.problem = std::move(problem);
    return result;
}

// The DfuSe prefix and its targets, within `body` (the file without its suffix).
DfuFileCheck::Result checkDfuse(std::span<const uint8_t> body) {
    DfuFileCheck::Result result;
    result.dfuse = true;
    if (body.size() < kPrefixLength) {
        return failed(DfuFileCheck::tr("The DfuSe prefix is cut short."));
    }
    const uint8_t version = body[5];
    const uint32_t imageSize = le32(&body[6]);
    const uint8_t targets = body[10];
    if (version != 0x01) {
        return failed(
            DfuFileCheck::tr("The DfuSe prefix has an unknown version (%1).").arg(version));
    }
    if (imageSize != body.size()) {
        return failed(
            DfuFileCheck::tr("The DfuSe prefix gives %1 bytes for the image, the file holds %2.")
                .arg(imageSize)
                .arg(body.size()));
    }
    if (targets == 0) {
        return failed(DfuFileCheck::tr("The DfuSe image has no target."));
    }
    std::size_t at = kPrefixLength;
    for (int t = 0; t < targets; ++t) {
        if (body.size() - at < kTargetPrefixLength || std::memcmp(&body[at], "Target", 6) != 0) {
            return failed(
                DfuFileCheck::tr("Target %1 of the DfuSe image is missing or damaged.").arg(t + 1));
        }
        const uint8_t* target = &body[at];
        const bool named = le32(target + 7) != 0;
        const uint32_t targetSize = le32(target + 266);
        const uint32_t elements = le32(target + 270);
        at += kTargetPrefixLength;
        if (targetSize > body.size() - at) {
            return failed(DfuFileCheck::tr("Target %1 claims %2 bytes; the file has only %3 left.")
                              .arg(t + 1)
                              .arg(targetSize)
                              .arg(body.size() - at));
        }
        const std::size_t targetEnd = at + targetSize;
        for (uint32_t e = 0; e < elements; ++e) {
            if (targetEnd - at < kElementHeaderLength) {
                return failed(DfuFileCheck::tr("Element %1 of target %2 lies outside its target.")
                                  .arg(e + 1)
                                  .arg(t + 1));
            }
            const uint32_t elementSize = le32(&body[at + 4]);
            at += kElementHeaderLength;
            if (elementSize > targetEnd - at) {
                return failed(
                    DfuFileCheck::tr("Element %1 of target %2 claims %3 bytes; its target has only "
                                     "%4 left.")
                        .arg(e + 1)
                        .arg(t + 1)
                        .arg(elementSize)
                        .arg(targetEnd - at));
            }
            at += elementSize;
            result.imageBytes += elementSize;
        }
        if (at != targetEnd) {
            return failed(DfuFileCheck::tr("Target %1's elements do not fill its %2 bytes.")
                              .arg(t + 1)
                              .arg(targetSize));
        }
        if (t == 0 && named) {
            const char* name = reinterpret_cast<const char*>(target + 11);
            result.targetName =
                QString::fromLatin1(name, static_cast<qsizetype>(strnlen(name, 255))).trimmed();
        }
        result.targets += 1;
        result.elements += static_cast<int>(elements);
    }
    if (at != body.size()) {
        return failed(DfuFileCheck::tr("The DfuSe image has %1 bytes after its last target.")
                          .arg(body.size() - at));
    }
    if (result.elements == 0) {
        return failed(DfuFileCheck::tr("The DfuSe image holds no data."));
    }
    result.ok = true;
    return result;
}

} // namespace

DfuFileCheck::Result DfuFileCheck::checkFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return failed(DfuFileCheck::tr("The file no longer exists."));
    }
    if (!info.isFile()) {
        return failed(DfuFileCheck::tr("This is not a regular file."));
    }
    if (info.size() > kMaxFileSize) {
        return failed(
            DfuFileCheck::tr("The file is too large to be firmware for the mixer (%1 bytes).")
                .arg(info.size()));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return failed(DfuFileCheck::tr("The file cannot be read: %1").arg(file.errorString()));
    }
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        return failed(DfuFileCheck::tr("The file cannot be read: %1").arg(file.errorString()));
    }
    return checkBytes({reinterpret_cast<const uint8_t*>(bytes.constData()),
                       static_cast<std::size_t>(bytes.size())});
}

DfuFileCheck::Result DfuFileCheck::checkBytes(std::span<const uint8_t> bytes) {
    if (bytes.size() < kSuffixLength) {
        return failed(DfuFileCheck::tr("The file is too short to be a DFU file (%1 bytes).")
                          .arg(bytes.size()));
    }
    const uint8_t* suffix = bytes.data() + bytes.size() - kSuffixLength;
    if (suffix[8] != 'U' || suffix[9] != 'F' || suffix[10] != 'D') {
        return failed(DfuFileCheck::tr("The file has no DFU suffix: it is not a DFU file."));
    }
    const uint8_t length = suffix[11];
    if (length < kSuffixLength || length > bytes.size()) {
        return failed(
            DfuFileCheck::tr("The DFU suffix gives an impossible length (%1).").arg(length));
    }
    const uint32_t stored = le32(suffix + 12);
    const uint32_t computed =
        static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size() - 4))) ^
        0xFFFFFFFFu;
    if (stored != computed) {
        return failed(DfuFileCheck::tr("The file is damaged: its CRC is %1, its contents give %2.")
                          .arg(stored, 8, 16, QLatin1Char('0'))
                          .arg(computed, 8, 16, QLatin1Char('0')));
    }
    const uint16_t product = le16(suffix + 2);
    const uint16_t vendor = le16(suffix + 4);
    if ((vendor != kVendor && vendor != kAny) || (product != kProduct && product != kAny)) {
        return failed(DfuFileCheck::tr(
                          "The file is made for the USB device %1:%2, not for the mixer's loader "
                          "0483:df11.")
                          .arg(vendor, 4, 16, QLatin1Char('0'))
                          .arg(product, 4, 16, QLatin1Char('0')));
    }

    const std::span<const uint8_t> body = bytes.first(bytes.size() - length);
    Result result;
    if (body.size() >= 5 && std::memcmp(body.data(), "DfuSe", 5) == 0) {
        result = checkDfuse(body);
        if (!result.ok) {
            return result;
        }
        result.summary =
            DfuFileCheck::tr("DfuSe image, target \"%1\", %2 element(s), %3 bytes")
                .arg(result.targetName.isEmpty() ? DfuFileCheck::tr("unnamed") : result.targetName)
                .arg(result.elements)
                .arg(result.imageBytes);
        if (result.targets > 1) {
            result.summary += DfuFileCheck::tr(" in %1 targets").arg(result.targets);
        }
    } else {
        if (body.empty()) {
            return failed(DfuFileCheck::tr("The DFU file holds no data."));
        }
        result.ok = true;
        result.imageBytes = body.size();
        result.summary = DfuFileCheck::tr("DFU image, %1 bytes").arg(body.size());
    }
    return result;
}
