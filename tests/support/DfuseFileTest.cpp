// The test images are checked by dfu-util's own suffix tool, so a test that flashes or rejects
// them starts from a file the real flasher would accept.
#include "DfuseFile.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace dfutest;

namespace {

int dfuSuffixCheck(const std::vector<uint8_t>& bytes) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("image.dfu").toStdString();
    writeBinaryFile(path, bytes);
    QProcess tool;
    tool.start("dfu-suffix", {"-c", QString::fromStdString(path)});
    if (!tool.waitForFinished(10000))
        return -1;
    return tool.exitCode();
}

std::vector<uint8_t> twoElementImage() {
    return makeDfuseFile(
        {{0,
          "Internal Flash",
          {{0x08000000, patternBytes(1000, 1)}, {0x08020000, patternBytes(70000, 2)}}}});
}

} // namespace

TEST(DfuseFile, LayoutMatchesTheDfuseFormat) {
    const std::vector<uint8_t> file = twoElementImage();
    const size_t expected = 11 + 274 + (8 + 1000) + (8 + 70000) + 16;
    ASSERT_EQ(file.size(), expected);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 5), "DfuSe");
    const uint32_t imageSize = file[6] | file[7] << 8 | file[8] << 16 | uint32_t(file[9]) << 24;
    EXPECT_EQ(imageSize, file.size() - 16);
    EXPECT_EQ(file[10], 1); // targets
    EXPECT_EQ(std::string(file.begin() + 11, file.begin() + 17), "Target");
}

TEST(DfuseFile, DfuUtilAcceptsTheSuffixAndRejectsACorruptedImage) {
    if (QStandardPaths::findExecutable("dfu-suffix").isEmpty())
        GTEST_SKIP() << "dfu-suffix (package dfu-util) is not installed";
    std::vector<uint8_t> dfuse = twoElementImage();
    EXPECT_EQ(dfuSuffixCheck(dfuse), 0);
    EXPECT_EQ(dfuSuffixCheck(makePlainDfuFile(patternBytes(100, 3))), 0);
    dfuse[500] ^= 0x01;
    EXPECT_NE(dfuSuffixCheck(dfuse), 0);
}
