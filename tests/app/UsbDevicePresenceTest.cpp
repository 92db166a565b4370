// The loader watch on a sysfs-shaped tree: devices with their IDs, interfaces without.
#include "UsbDevicePresence.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Entry {
    const char* name;
    const char* vendor;  // nullptr: no idVendor file (an interface, a hub port)
    const char* product; // nullptr: no idProduct file
};

struct TreeCase {
    const char* label;
    std::vector<Entry> entries;
    bool loaderPresent;
};

void PrintTo(const TreeCase& c, std::ostream* os) {
    *os << c.label;
}

class SysfsTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(SysfsTrees, FindTheLoaderByItsIds) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    for (const Entry& e : GetParam().entries) {
        const QString dir = root.filePath(QLatin1String(e.name));
        ASSERT_TRUE(QDir().mkpath(dir));
        for (const auto& [file, value] :
             {std::pair{"idVendor", e.vendor}, {"idProduct", e.product}}) {
            if (value != nullptr) {
                QFile f(dir + QLatin1Char('/') + QLatin1String(file));
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(value);
            }
        }
    }
    const auto devices = UsbDevicePresence::sysfs(root.path());
    EXPECT_EQ(devices->isPresent(0x0483, 0xDF11), GetParam().loaderPresent);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SysfsTrees,
    ::testing::Values(TreeCase{"Empty", {}, false},
                      TreeCase{"LoaderAmongOthers",
                               {{"usb1", "1d6b\n", "0002\n"},
                                {"1-1", "0483\n", "df11\n"},
                                {"1-1:1.0", nullptr, nullptr}},
                               true},
                      TreeCase{"MixerInMidiModeOnly",
                               {{"usb1", "1d6b\n", "0002\n"}, {"1-1", "0483\n", "5740\n"}},
                               false},
                      TreeCase{"SameProductOtherVendor", {{"1-2", "1234\n", "df11\n"}}, false},
                      TreeCase{"UpperCaseHex", {{"2-1", "0483", "DF11"}}, true},
                      TreeCase{"VendorFileOnly", {{"2-1", "0483\n", nullptr}}, false},
                      TreeCase{"Garbage", {{"2-1", "zz\n", "df11\n"}}, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

} // namespace
