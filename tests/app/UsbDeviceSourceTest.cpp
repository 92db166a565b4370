// The USB bus as sysfs shows it, on a sysfs-shaped tree: devices in DFU mode of any vendor (an
// interface FE/01/02) with where they sit and what they say; others, run-time DFU interfaces and
// devices still without a configuration are left out.
#include "UsbDeviceSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// One directory of the tree and its attribute files.
struct Entry {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files;
};

// A configured device with its one interface, of the class given ("fe" for DFU mode).
std::vector<Entry> device(const std::string& port, const std::string& devnum,
                          const std::string& ids, const std::string& klass,
                          const std::string& product = "STM32  BOOTLOADER") {
    return {{port,
             {{"busnum", "1\n"},
              {"devnum", devnum + "\n"},
              {"idVendor", ids.substr(0, 4) + "\n"},
              {"idProduct", ids.substr(5, 4) + "\n"},
              {"product", product + "\n"}}},
            {port + ":1.0",
             {{"bInterfaceClass", klass + "\n"},
              {"bInterfaceSubClass", "01\n"},
              {"bInterfaceProtocol", klass == "fe" ? "02\n" : "00\n"},
              {"interface", "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\n"}}}};
}

struct TreeCase {
    const char* label;
    std::vector<std::vector<Entry>> devices;
    QStringList found; // "port bus.address vendor:product", in order
};

void PrintTo(const TreeCase& c, std::ostream* os) {
    *os << c.label;
}

class SysfsTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(SysfsTrees, ListTheDevicesInDfuMode) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    for (const auto& entries : GetParam().devices) {
        for (const Entry& e : entries) {
            const QString dir = root.filePath(QString::fromStdString(e.name));
            ASSERT_TRUE(QDir().mkpath(dir));
            for (const auto& [file, value] : e.files) {
                QFile f(dir + QLatin1Char('/') + QString::fromStdString(file));
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(value.c_str());
            }
        }
    }
    const auto bus = UsbDeviceSource::sysfs(root.path(), root.filePath(QStringLiteral("dev")));
    QStringList found;
    for (const DfuDevice& d : bus->dfuDevices()) {
        found << QStringLiteral("%1 %2.%3 %4:%5")
                     .arg(d.portPath)
                     .arg(d.bus)
                     .arg(d.address)
                     .arg(d.vendor, 4, 16, QLatin1Char('0'))
                     .arg(d.product, 4, 16, QLatin1Char('0'));
        EXPECT_EQ(d.productName, QStringLiteral("STM32  BOOTLOADER"));
        EXPECT_EQ(d.memoryLayout,
                  QStringLiteral("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"));
        EXPECT_EQ(d.node(QStringLiteral("/dev/bus/usb")),
                  QStringLiteral("/dev/bus/usb/%1/%2")
                      .arg(d.bus, 3, 10, QLatin1Char('0'))
                      .arg(d.address, 3, 10, QLatin1Char('0')));
        EXPECT_FALSE(bus->writable(d)) << "no node";
    }
    EXPECT_EQ(found, GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SysfsTrees,
    ::testing::Values(
        TreeCase{"Empty", {}, {}},
        TreeCase{"LoadersOfAnyVendorAmongOthers",
                 {{{"usb1", {{"busnum", "1\n"}, {"devnum", "1\n"}, {"idVendor", "1d6b\n"}}}},
                  device("1-1", "4", "0483:df11", "fe"),
                  device("1-2.3", "12", "2e3c:DF11", "fe"),
                  device("1-3", "7", "1209:0320", "01", "MIRT VQ320")},
                 {"1-1 1.4 0483:df11", "1-2.3 1.12 2e3c:df11"}},
        // A run-time DFU interface (protocol 01) is a device that can be told to enter DFU
        // mode, not one in it.
        TreeCase{"RunTimeInterfaceOnly",
                 {{{"1-1", {{"busnum", "1\n"}, {"devnum", "3\n"}, {"idVendor", "0483\n"}}},
                   {"1-1:1.0",
                    {{"bInterfaceClass", "fe\n"},
                     {"bInterfaceSubClass", "01\n"},
                     {"bInterfaceProtocol", "01\n"}}}}},
                 {}},
        TreeCase{"NotConfiguredYet",
                 {{{"1-1", {{"busnum", "1\n"}, {"devnum", "3\n"}, {"idVendor", "0483\n"}}}}},
                 {}},
        TreeCase{"Garbage", {{{"1-1", {{"devnum", "zz\n"}}}}}, {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

// A device read once is read again only when its number changes (it was enumerated anew), and
// one without interfaces yet is read again at the next look.
TEST(SysfsBus, ReadsADeviceAgainWhenItComesBack) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const auto write = [&](const char* path, const char* value) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(root.filePath(QLatin1String(path))).absolutePath()));
        QFile f(root.filePath(QLatin1String(path)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(value);
    };
    const auto bus = UsbDeviceSource::sysfs(root.path(), root.path());
    write("1-1/busnum", "1\n");
    write("1-1/devnum", "5\n");
    write("1-1/idVendor", "0483\n");
    write("1-1/idProduct", "df11\n");
    EXPECT_TRUE(bus->dfuDevices().empty()) << "no configuration yet";
    write("1-1:1.0/bInterfaceClass", "fe\n");
    write("1-1:1.0/bInterfaceSubClass", "01\n");
    write("1-1:1.0/bInterfaceProtocol", "02\n");
    ASSERT_EQ(bus->dfuDevices().size(), 1u);
    write("1-1/idProduct", "5740\n"); // unnoticed: the same enumeration
    EXPECT_EQ(bus->dfuDevices().at(0).product, 0xDF11);
    write("1-1/devnum", "6\n"); // back as another device: read again
    write("1-1:1.0/bInterfaceProtocol", "01\n");
    EXPECT_TRUE(bus->dfuDevices().empty());
    // Writable once its node is.
    write("1-1/devnum", "7\n");
    write("1-1:1.0/bInterfaceProtocol", "02\n");
    const auto devices = bus->dfuDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(bus->writable(devices[0]));
    write("001/007", "");
    EXPECT_TRUE(bus->writable(devices[0]));
}

} // namespace
