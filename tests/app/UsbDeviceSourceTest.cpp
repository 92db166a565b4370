// The USB bus as sysfs shows it, on a sysfs-shaped tree: devices in DFU mode of any vendor (an
// interface FE/01/02) with where they sit and what they say; others, run-time DFU interfaces and
// devices still without a configuration are left out.
#include "UsbDeviceSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SysfsBus : public ::testing::Test {
protected:
    void write(const QString& path, const QByteArray& value) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(root.filePath(path)).absolutePath()));
        QFile f(root.filePath(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(value + '\n');
    }
    // A configured device and its one interface; protocol 02 in class FE is DFU mode.
    void device(const QString& port, const QByteArray& devnum, const QByteArray& vendor,
                const QByteArray& klass, const QByteArray& protocol) {
        for (const auto& [file, value] : {std::pair{"busnum", QByteArray("1")},
                                          {"devnum", devnum},
                                          {"idVendor", vendor},
                                          {"idProduct", QByteArray("DF11")},
                                          {"product", QByteArray("STM32  BOOTLOADER")}}) {
            write(port + '/' + file, value);
        }
        write(port + ":1.0/bInterfaceClass", klass);
        write(port + ":1.0/bInterfaceSubClass", "01");
        write(port + ":1.0/bInterfaceProtocol", protocol);
        write(port + ":1.0/interface", "@Internal Flash  /0x08000000/04*016Kg");
    }
    QStringList found() {
        QStringList result;
        for (const DfuDevice& d : bus->dfuDevices()) {
            result << QStringLiteral("%1 %2 %3:%4 %5 %6")
                          .arg(d.portPath, d.node(QStringLiteral("/dev")))
                          .arg(d.vendor, 4, 16, QLatin1Char('0'))
                          .arg(d.product, 4, 16, QLatin1Char('0'))
                          .arg(d.productName, d.memoryLayout);
        }
        return result;
    }

    QTemporaryDir root;
    std::unique_ptr<UsbDeviceSource> bus = UsbDeviceSource::sysfs(root.path(), root.path());
};

TEST_F(SysfsBus, ListsTheDevicesInDfuModeOfAnyVendor) {
    write("usb1/devnum", "1"); // a root hub
    device("1-1", "4", "0483", "fe", "02");
    device("1-2.3", "12", "2e3c", "fe", "02");
    device("1-3", "7", "1209", "01", "00"); // MIDI
    device("1-4", "8", "0483", "fe", "01"); // run-time DFU: could enter DFU mode, is not in it
    write("1-5/devnum", "9");               // no configuration yet
    write("1-6/devnum", "zz");
    EXPECT_EQ(found(),
              (QStringList{"1-1 /dev/001/004 0483:df11 STM32  BOOTLOADER @Internal Flash  "
                           "/0x08000000/04*016Kg",
                           "1-2.3 /dev/001/012 2e3c:df11 STM32  BOOTLOADER @Internal Flash  "
                           "/0x08000000/04*016Kg"}));
}

// A device read once is read again only when its number changes (enumerated anew); one without
// interfaces yet is read again at the next look; writable once its node is.
TEST_F(SysfsBus, ReadsADeviceAgainWhenItComesBack) {
    write("1-1/busnum", "1");
    write("1-1/devnum", "5");
    write("1-1/idVendor", "0483");
    EXPECT_TRUE(bus->dfuDevices().empty()) << "no configuration yet";
    device("1-1", "5", "0483", "fe", "02");
    ASSERT_EQ(bus->dfuDevices().size(), 1u);
    write("1-1/idVendor", "2e3c"); // unnoticed: the same enumeration
    EXPECT_EQ(bus->dfuDevices().at(0).vendor, 0x0483);
    device("1-1", "6", "0483", "fe", "01"); // back as another device
    EXPECT_TRUE(bus->dfuDevices().empty());
    device("1-1", "7", "0483", "fe", "02");
    const auto devices = bus->dfuDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(bus->writable(devices[0]));
    write("001/007", "");
    EXPECT_TRUE(bus->writable(devices[0]));
}

} // namespace
