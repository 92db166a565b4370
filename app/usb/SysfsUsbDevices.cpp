// The USB devices as the kernel lists them in sysfs. A poll reads one file per device (devnum);
// a device whose entry and number are unchanged is not read again.
#include "UsbDeviceSource.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <optional>
#include <unistd.h>

namespace {

// The DFU class, subclass and protocol of an interface in DFU mode (not run-time, which is 01).
constexpr int kDfuClass = 0xFE;
constexpr int kDfuSubclass = 0x01;
constexpr int kDfuModeProtocol = 0x02;

QByteArray readAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.read(4096).trimmed();
}

// A hexadecimal (or decimal) number, or -1.
int readNumber(const QString& path, int base) {
    bool ok = false;
    const int value = readAttribute(path).toInt(&ok, base);
    return ok ? value : -1;
}

class SysfsUsbDevices final : public UsbDeviceSource {
public:
    SysfsUsbDevices(QString sysRoot, QString devRoot)
        : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

    std::vector<DfuDevice> dfuDevices() override {
        const QStringList entries =
            QDir(sysRoot_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QHash<QString, Known> seen;
        std::vector<DfuDevice> found;
        for (const QString& entry : entries) {
            // Interfaces (1-2:1.0) are read with their device; root hubs (usb1) are no DFU device.
            if (entry.contains(QLatin1Char(':')) || entry.startsWith(QLatin1String("usb"))) {
                continue;
            }
            const QString dir = sysRoot_ + QLatin1Char('/') + entry;
            const int address = readNumber(dir + QStringLiteral("/devnum"), 10);
            if (address < 0) {
                continue;
            }
            Known known;
            const auto cached = known_.constFind(entry);
            if (cached != known_.cend() && cached->address == address) {
                known = *cached;
            } else {
                known = read(entry, dir, address, entries);
            }
            if (known.device) {
                found.push_back(*known.device);
            }
            // Until its configuration is set a device has no interfaces yet: read it again.
            if (known.configured) {
                seen.insert(entry, known);
            }
        }
        known_ = std::move(seen);
        return found;
    }

    bool writable(const DfuDevice& device) override {
        return ::access(QFile::encodeName(device.node(devRoot_)).constData(), W_OK) == 0;
    }

private:
    struct Known {
        int address = -1;
        bool configured = false;         // its interfaces were there to be read
        std::optional<DfuDevice> device; // set when it is in DFU mode
    };

    Known read(const QString& entry, const QString& dir, int address,
               const QStringList& entries) const {
        Known known{address, false, std::nullopt};
        const QString prefix = entry + QLatin1Char(':');
        std::optional<QString> dfuInterface;
        for (const QString& name : entries) {
            if (!name.startsWith(prefix)) {
                continue;
            }
            known.configured = true;
            const QString interface = sysRoot_ + QLatin1Char('/') + name;
            if (readNumber(interface + QStringLiteral("/bInterfaceClass"), 16) == kDfuClass &&
                readNumber(interface + QStringLiteral("/bInterfaceSubClass"), 16) == kDfuSubclass &&
                readNumber(interface + QStringLiteral("/bInterfaceProtocol"), 16) ==
                    kDfuModeProtocol) {
                dfuInterface = interface;
                break;
            }
        }
        if (!dfuInterface) {
            return known;
        }
        DfuDevice device;
        device.bus = readNumber(dir + QStringLiteral("/busnum"), 10);
        device.address = address;
        device.portPath = entry;
        device.vendor = static_cast<uint16_t>(readNumber(dir + QStringLiteral("/idVendor"), 16));
        device.product = static_cast<uint16_t>(readNumber(dir + QStringLiteral("/idProduct"), 16));
        device.productName = QString::fromUtf8(readAttribute(dir + QStringLiteral("/product")));
        device.memoryLayout =
            QString::fromUtf8(readAttribute(*dfuInterface + QStringLiteral("/interface")));
        known.device = device;
        return known;
    }

    QString sysRoot_;
    QString devRoot_;
    QHash<QString, Known> known_; // by sysfs entry, as last read
};

} // namespace

std::unique_ptr<UsbDeviceSource> UsbDeviceSource::sysfs(QString sysRoot, QString devRoot) {
    return std::make_unique<SysfsUsbDevices>(std::move(sysRoot), std::move(devRoot));
}
