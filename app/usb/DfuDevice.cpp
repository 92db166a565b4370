#include "DfuDevice.h"

#include <QCoreApplication>

QString DfuDevice::node(const QString& devRoot) const {
    return QStringLiteral("%1/%2/%3")
        .arg(devRoot)
        .arg(bus, 3, 10, QLatin1Char('0'))
        .arg(address, 3, 10, QLatin1Char('0'));
}

QString DfuDevice::describe() const {
    const QString ids = QStringLiteral("%1:%2")
                            .arg(vendor, 4, 16, QLatin1Char('0'))
                            .arg(product, 4, 16, QLatin1Char('0'));
    const QString name = productName.trimmed().isEmpty()
                             ? QCoreApplication::translate("DfuDevice", "USB device")
                             : productName.trimmed();
    return QCoreApplication::translate("DfuDevice", "%1 (%2) at USB port %3")
        .arg(name, ids, portPath);
}
