#include "UsbDevicePresence.h"

#include <QDir>
#include <QFile>

namespace {

class SysfsUsbDevicePresence : public UsbDevicePresence {
public:
    explicit SysfsUsbDevicePresence(QString root) : root_(std::move(root)) {}

    bool isPresent(uint16_t vendor, uint16_t product) override {
        const QDir root(root_);
        for (const QString& entry : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString dir = root_ + QLatin1Char('/') + entry;
            if (readId(dir + QStringLiteral("/idVendor")) == vendor &&
                readId(dir + QStringLiteral("/idProduct")) == product) {
                return true;
            }
        }
        return false;
    }

private:
    // A four-digit hexadecimal ID, or -1 (interfaces have no such file).
    static int readId(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return -1;
        }
        bool ok = false;
        const int value = file.read(16).trimmed().toInt(&ok, 16);
        return ok ? value : -1;
    }

    QString root_;
};

} // namespace

std::shared_ptr<UsbDevicePresence> UsbDevicePresence::sysfs(QString root) {
    return std::make_shared<SysfsUsbDevicePresence>(std::move(root));
}
