#include "DfuFileCheck.h"

#include "DfuseMemoryLayout.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <zlib.h>

namespace {

constexpr std::size_t kSuffixLength = 16;
constexpr std::size_t kPrefixLength = 11;        // "DfuSe", version, image size, targets
constexpr std::size_t kTargetPrefixLength = 274; // "Target", alt, named, name, size, elements
constexpr std::size_t kTargetNameLength = 255;
constexpr std::size_t kElementHeaderLength = 8; // address, size
constexpr uint16_t kDfuseVersion = 0x011A;      // "1.1a", the only one dfu-util writes
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

QString hex(uint64_t value, int width) {
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0'));
}

DfuFileCheck::Result failed(QString problem) {
    DfuFileCheck::Result result;
    result.problem = std::move(problem);
    return result;
}

// A named target's name, which dfu-util prints on a line of its own ("Target name: ..."): it
// may not start lines of its own there. nullopt when it holds a line break.
std::optional<QString> targetName(const uint8_t* name) {
    const std::size_t length = strnlen(reinterpret_cast<const char*>(name), kTargetNameLength);
    if (std::any_of(name, name + length, [](uint8_t c) { return c == '\n' || c == '\r'; })) {
        return std::nullopt;
    }
    return QString::fromLatin1(reinterpret_cast<const char*>(name), static_cast<qsizetype>(length))
        .trimmed();
}

// The elements of one target, which takes `targetSize` bytes of `body` from `at` on.
QString readElements(std::span<const uint8_t> body, std::size_t& at, std::size_t targetSize,
                     uint32_t count, int targetNumber, DfuseImage::Target& target) {
    const std::size_t end = at + targetSize;
    for (uint32_t e = 0; e < count; ++e) {
        const int elementNumber = static_cast<int>(e) + 1;
        if (end - at < kElementHeaderLength) {
            return DfuFileCheck::tr("Element %1 of target %2 lies outside its target.")
                .arg(elementNumber)
                .arg(targetNumber);
        }
        const DfuseImage::Element element{le32(&body[at]), le32(&body[at + 4])};
        at += kElementHeaderLength;
        if (element.size > end - at) {
            return DfuFileCheck::tr(
                       "Element %1 of target %2 claims %3 bytes; its target has only %4 left.")
                .arg(elementNumber)
                .arg(targetNumber)
                .arg(element.size)
                .arg(end - at);
        }
        if (element.size == 0) {
            return DfuFileCheck::tr("Element %1 of target %2 is empty.")
                .arg(elementNumber)
                .arg(targetNumber);
        }
        if (uint64_t{element.address} + element.size > kAddressSpace) {
            return DfuFileCheck::tr("Element %1 of target %2 runs past the end of the address "
                                    "space.")
                .arg(elementNumber)
                .arg(targetNumber);
        }
        at += element.size;
        target.elements.push_back(element);
    }
    if (at != end) {
        return DfuFileCheck::tr("Target %1's elements do not fill its %2 bytes.")
            .arg(targetNumber)
            .arg(targetSize);
    }
    return {};
}

// Two elements that share memory: the loader cannot program cells it has already written.
QString overlapProblem(const DfuseImage& image) {
    std::vector<DfuseImage::Element> elements;
    for (const DfuseImage::Target& target : image.targets) {
        elements.insert(elements.end(), target.elements.begin(), target.elements.end());
    }
    std::sort(elements.begin(), elements.end(),
              [](const auto& a, const auto& b) { return a.address < b.address; });
    for (std::size_t i = 1; i < elements.size(); ++i) {
        const DfuseImage::Element& before = elements[i - 1];
        if (uint64_t{before.address} + before.size > elements[i].address) {
            return DfuFileCheck::tr("The elements at 0x%1 and 0x%2 overlap; the mixer's memory "
                                    "cannot be written twice in one update.")
                .arg(hex(before.address, 8), hex(elements[i].address, 8));
        }
    }
    return {};
}

// The DfuSe prefix, its targets and their elements, within `body` (the file without its suffix).
// The prefix's image size is not read: dfu-util ignores it, and dfuse-pack counts the suffix in it
// where other tools do not.
DfuFileCheck::Result checkDfuse(std::span<const uint8_t> body) {
    if (body.size() < 5 || std::memcmp(body.data(), "DfuSe", 5) != 0) {
        return failed(DfuFileCheck::tr("The file holds raw data without the DfuSe header that "
                                       "the mixer's loader needs."));
    }
    if (body.size() < kPrefixLength) {
        return failed(DfuFileCheck::tr("The file's DfuSe header is cut short."));
    }
    const uint8_t version = body[5];
    const uint8_t targets = body[10];
    if (version != 0x01) {
        return failed(
            DfuFileCheck::tr("The file's DfuSe header has an unknown format revision (%1).")
                .arg(version));
    }
    if (targets == 0) {
        return failed(DfuFileCheck::tr("The DfuSe image has no target."));
    }
    DfuFileCheck::Result result;
    std::size_t at = kPrefixLength;
    for (int t = 1; t <= targets; ++t) {
        if (body.size() - at < kTargetPrefixLength || std::memcmp(&body[at], "Target", 6) != 0) {
            return failed(
                DfuFileCheck::tr("Target %1 of the DfuSe image is missing or damaged.").arg(t));
        }
        const uint8_t* prefix = &body[at];
        const uint8_t alternateSetting = prefix[6];
        const bool named = le32(prefix + 7) != 0;
        const uint32_t targetSize = le32(prefix + 266);
        const uint32_t elements = le32(prefix + 270);
        at += kTargetPrefixLength;
        // dfu-util, told "-a 0", skips other targets and still reports success.
        if (alternateSetting != 0) {
            return failed(DfuFileCheck::tr("Target %1 of the image is for alternate setting %2, "
                                           "which the updater does not write: that part of the "
                                           "firmware would be left out.")
                              .arg(t)
                              .arg(alternateSetting));
        }
        DfuseImage::Target target;
        if (named) {
            const std::optional<QString> name = targetName(prefix + 11);
            if (!name) {
                return failed(DfuFileCheck::tr("The name of target %1 holds a line break.").arg(t));
            }
            target.name = *name;
        }
        if (targetSize > body.size() - at) {
            return failed(
                DfuFileCheck::tr("Target %1 claims %L2 bytes; the file has only %L3 left.")
                    .arg(t)
                    .arg(targetSize)
                    .arg(body.size() - at));
        }
        if (QString problem = readElements(body, at, targetSize, elements, t, target);
            !problem.isEmpty()) {
            return failed(std::move(problem));
        }
        result.image.targets.push_back(std::move(target));
    }
    if (at != body.size()) {
        // dfu-util would leave them unwritten ("bytes leftover").
        return failed(DfuFileCheck::tr("The DfuSe image has %n byte(s) after its last target.",
                                       nullptr, static_cast<int>(body.size() - at)));
    }
    if (result.image.elementCount() == 0) {
        return failed(DfuFileCheck::tr("The DfuSe image holds no data."));
    }
    if (QString problem = overlapProblem(result.image); !problem.isEmpty()) {
        return failed(std::move(problem));
    }
    result.ok = true;
    return result;
}

QString versionText(uint16_t bcd) {
    return QStringLiteral("%1.%2").arg(bcd >> 8, 0, 16).arg(bcd & 0xFF, 2, 16, QLatin1Char('0'));
}

} // namespace

DfuFileCheck::Result DfuFileCheck::checkFile(const QString& path, QByteArray* bytesRead) {
    // dfu-util prints the path when it cannot open the file: it may not forge lines there.
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r'))) {
        return failed(DfuFileCheck::tr("The file's name or folder holds a line break; rename it "
                                       "and choose it again."));
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        return failed(DfuFileCheck::tr("The file no longer exists."));
    }
    if (!info.isFile()) {
        return failed(DfuFileCheck::tr("This is not a regular file."));
    }
    const auto tooLarge = [](qint64 size) {
        return failed(DfuFileCheck::tr("The file is too large to be firmware for the mixer (%L1 "
                                       "bytes; at most %L2).")
                          .arg(size)
                          .arg(kMaxFileSize));
    };
    if (info.size() > kMaxFileSize) {
        return tooLarge(info.size());
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return failed(DfuFileCheck::tr("The file cannot be read: %1").arg(file.errorString()));
    }
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        return failed(DfuFileCheck::tr("The file cannot be read: %1").arg(file.errorString()));
    }
    if (bytes.size() > kMaxFileSize) {
        return tooLarge(bytes.size()); // it grew since it was looked at
    }
    if (bytesRead != nullptr) {
        *bytesRead = bytes;
    }
    return checkBytes({reinterpret_cast<const uint8_t*>(bytes.constData()),
                       static_cast<std::size_t>(bytes.size())});
}

DfuFileCheck::Result DfuFileCheck::checkBytes(std::span<const uint8_t> bytes) {
    if (bytes.size() < kSuffixLength) {
        return failed(DfuFileCheck::tr("The file is too short to be firmware for the mixer (%n "
                                       "byte(s)).",
                                       nullptr, static_cast<int>(bytes.size())));
    }
    const uint8_t* suffix = bytes.data() + bytes.size() - kSuffixLength;
    if (suffix[8] != 'U' || suffix[9] != 'F' || suffix[10] != 'D') {
        return failed(DfuFileCheck::tr(
            "The file has no DFU signature at its end: it is not firmware for the mixer."));
    }
    const uint8_t length = suffix[11];
    if (length < kSuffixLength || length > bytes.size()) {
        return failed(
            DfuFileCheck::tr("The DFU signature at the end of the file gives an impossible "
                             "length (%1).")
                .arg(length));
    }
    const uint32_t stored = le32(suffix + 12);
    const uint32_t computed =
        static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size() - 4))) ^
        0xFFFFFFFFu;
    if (stored != computed) {
        return failed(DfuFileCheck::tr("The file is damaged: its checksum (%1) does not match its "
                                       "contents (%2).")
                          .arg(hex(stored, 8), hex(computed, 8)));
    }
    const uint16_t product = le16(suffix + 2);
    const uint16_t vendor = le16(suffix + 4);
    if ((vendor != kVendor && vendor != kAny) || (product != kProduct && product != kAny)) {
        return failed(DfuFileCheck::tr(
                          "The file is made for the USB device %1:%2, not for the mixer's loader "
                          "0483:df11.")
                          .arg(hex(vendor, 4), hex(product, 4)));
    }
    if (const uint16_t version = le16(suffix + 6); version != kDfuseVersion) {
        return failed(DfuFileCheck::tr("The file is a plain DFU file (version %1); the mixer's "
                                       "loader takes only DfuSe files (version 1.1a).")
                          .arg(versionText(version)));
    }

    Result result = checkDfuse(bytes.first(bytes.size() - length));
    if (!result.ok) {
        return result;
    }
    const QString name = result.image.targets.front().name;
    const QLocale locale;
    result.summary =
        DfuFileCheck::tr("DfuSe image, target \"%1\", %Ln element(s), %2 bytes", nullptr,
                         static_cast<int>(result.image.elementCount()))
            .arg(name.isEmpty() ? DfuFileCheck::tr("unnamed") : name,
                 locale.toString(static_cast<qulonglong>(result.image.elementBytes())));
    if (result.image.targets.size() > 1) {
        result.summary += DfuFileCheck::tr(" in %L1 targets").arg(result.image.targets.size());
    }
    return result;
}

QString DfuFileCheck::fitProblem(const DfuseImage& image, QStringView memoryDescription) {
    const std::optional<DfuseMemoryLayout> layout = DfuseMemoryLayout::parse(memoryDescription);
    if (!layout) {
        return DfuFileCheck::tr("The device does not describe its memory in a form the updater "
                                "can read (\"%1\"), so the firmware file cannot be checked "
                                "against it.")
            .arg(memoryDescription);
    }
    for (const DfuseImage::Target& target : image.targets) {
        for (const DfuseImage::Element& element : target.elements) {
            if (!layout->isWritable(element.address, uint64_t{element.address} + element.size)) {
                return DfuFileCheck::tr("The firmware file does not fit this device: the element "
                                        "at 0x%1 (%n byte(s)) lies outside the memory its update "
                                        "mode can write.",
                                        nullptr,
                                        static_cast<int>(std::min<uint32_t>(element.size, INT_MAX)))
                    .arg(hex(element.address, 8));
            }
        }
    }
    return {};
}
