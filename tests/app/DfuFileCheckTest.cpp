// The firmware file check at Send, on real DfuSe and plain DFU files and on broken ones.
#include "DfuFileCheck.h"

#include "DfuseFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes twoElements() {
    return dfutest::makeDfuseFile({{0,
                                    "Internal Flash",
                                    {{0x08000000, dfutest::patternBytes(1024, 1)},
                                     {0x08004000, dfutest::patternBytes(512, 2)}}}});
}

// Rewrites the CRC after a change, so that only the change is wrong.
Bytes withCrc(Bytes bytes) {
    const uint32_t crc = dfutest::dfuCrc(bytes.data(), bytes.size() - 4);
    for (int i = 0; i < 4; ++i) {
        bytes[bytes.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    return bytes;
}

void put32(Bytes& bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Offsets in a one-target DfuSe file: prefix 11, target prefix 274, then elements.
constexpr std::size_t kImageSize = 6;
constexpr std::size_t kTargetSize = 11 + 266;
constexpr std::size_t kElementCount = 11 + 270;
constexpr std::size_t kFirstElementSize = 11 + 274 + 4;

struct BadCase {
    const char* name;
    std::function<Bytes()> make;
    const char* problemHolds; // a part of the problem text
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class BadFiles : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFiles, AreRefusedWithTheirProblemNamed) {
    const Bytes bytes = GetParam().make();
    const DfuFileCheck::Result result = DfuFileCheck::checkBytes(bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.problem.contains(QLatin1String(GetParam().problemHolds)))
        << result.problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Dfu, BadFiles,
    ::testing::Values(
        BadCase{"TooShort", [] { return Bytes(10, 0); }, "too short"},
        BadCase{"NoSuffix", [] { return dfutest::patternBytes(4096, 3); }, "no DFU suffix"},
        BadCase{"FlippedByte",
                [] {
                    Bytes b = twoElements();
                    b[400] ^= 0x01;
                    return b;
                },
                "damaged"},
        BadCase{"CutShort",
                [] {
                    Bytes b = twoElements();
                    b.erase(b.begin() + 300, b.begin() + 400);
                    return b;
                },
                "damaged"},
        BadCase{"OtherDevice",
                [] {
                    return dfutest::makePlainDfuFile(Bytes(64, 1), {0xFFFF, 0x0001, 0x1234});
                },
                "1234:0001"},
        BadCase{"OtherProductSameVendor",
                [] {
                    return dfutest::makePlainDfuFile(Bytes(64, 1), {0xFFFF, 0xDF12, 0x0483});
                },
                "0483:df12"},
        BadCase{"SuffixLengthTooSmall",
                [] {
                    Bytes b = twoElements();
                    b[b.size() - 5] = 15;
                    return withCrc(b);
                },
                "impossible length"},
        BadCase{"ImageSizeDisagrees",
                [] {
                    Bytes b = twoElements();
                    put32(b, kImageSize, static_cast<uint32_t>(b.size()));
                    return withCrc(b);
                },
                "gives"},
        BadCase{"TargetSizeTooLarge",
                [] {
                    Bytes b = twoElements();
                    put32(b, kTargetSize, 1u << 30);
                    return withCrc(b);
                },
                "claims"},
        BadCase{"ElementSizeTooLarge",
                [] {
                    Bytes b = twoElements();
                    put32(b, kFirstElementSize, 1u << 20);
                    return withCrc(b);
                },
                "Element 1 of target 1 claims"},
        BadCase{"FewerElementsThanTheTargetHolds",
                [] {
                    Bytes b = twoElements();
                    put32(b, kElementCount, 1);
                    return withCrc(b);
                },
                "do not fill"},
        BadCase{"MoreElementsThanTheTargetHolds",
                [] {
                    Bytes b = twoElements();
                    put32(b, kElementCount, 3);
                    return withCrc(b);
                },
                "outside its target"},
        BadCase{"NoTarget", [] { return dfutest::makeDfuseFile({}); }, "no target"},
        BadCase{"EmptyPlainImage", [] { return dfutest::makePlainDfuFile({}); }, "no data"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct GoodCase {
    const char* name;
    std::function<Bytes()> make;
    const char* summary;
};

void PrintTo(const GoodCase& c, std::ostream* os) {
    *os << c.name;
}

class GoodFiles : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodFiles, AreAcceptedWithASummary) {
    const DfuFileCheck::Result result = DfuFileCheck::checkBytes(GetParam().make());
    EXPECT_TRUE(result.ok) << result.problem.toStdString();
    EXPECT_EQ(result.summary, QLatin1String(GetParam().summary));
}

INSTANTIATE_TEST_SUITE_P(
    Dfu, GoodFiles,
    ::testing::Values(
        GoodCase{"DfuSeTwoElements", twoElements,
                 "DfuSe image, target \"Internal Flash\", 2 element(s), 1536 bytes"},
        GoodCase{"DfuSeTwoTargetsUnnamed",
                 [] {
                     return dfutest::makeDfuseFile({{0, "", {{0x08000000, Bytes(100, 7)}}},
                                                    {1, "Option", {{0x1FFF0000, Bytes(16, 1)}}}});
                 },
                 "DfuSe image, target \"unnamed\", 2 element(s), 116 bytes in 2 targets"},
        GoodCase{"PlainWithExactIds",
                 [] {
                     return dfutest::makePlainDfuFile(Bytes(4096, 9), {0x0200, 0xDF11, 0x0483});
                 },
                 "DFU image, 4096 bytes"},
        GoodCase{"PlainWithWildcards",
                 [] {
                     return dfutest::makePlainDfuFile(Bytes(10, 9), {0xFFFF, 0xFFFF, 0xFFFF});
                 },
                 "DFU image, 10 bytes"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(DfuFileCheck, TheFileItselfMustBeThereRegularAndReadable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("fw.dfu"));
    dfutest::writeBinaryFile(good.toStdString(), twoElements());
    EXPECT_TRUE(DfuFileCheck::checkFile(good).ok);

    EXPECT_TRUE(DfuFileCheck::checkFile(dir.filePath(QStringLiteral("gone.dfu")))
                    .problem.contains(QStringLiteral("no longer exists")));
    QDir(dir.path()).mkdir(QStringLiteral("folder.dfu"));
    EXPECT_TRUE(DfuFileCheck::checkFile(dir.filePath(QStringLiteral("folder.dfu")))
                    .problem.contains(QStringLiteral("not a regular file")));
    if (::geteuid() != 0) { // root reads anything
        QFile::setPermissions(good, QFile::WriteOwner);
        EXPECT_TRUE(
            DfuFileCheck::checkFile(good).problem.contains(QStringLiteral("cannot be read")));
    }
}

} // namespace
