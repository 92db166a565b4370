// The firmware file check at Send, on files made by hand and by Debian's dfuse-pack, good and
// broken, and the check of an image against the memory a loader describes.
#include "DfuFileCheck.h"

#include "DfuseFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
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

// The two-element file with one field changed, its CRC made valid again.
Bytes twoElementsWith(std::size_t at, uint32_t value) {
    Bytes b = twoElements();
    put32(b, at, value);
    return withCrc(b);
}

Bytes withSuffixVersion(Bytes bytes, uint16_t version) {
    bytes[bytes.size() - 10] = static_cast<uint8_t>(version);
    bytes[bytes.size() - 9] = static_cast<uint8_t>(version >> 8);
    return withCrc(bytes);
}

Bytes oneTarget(uint8_t alternateSetting, std::vector<dfutest::DfuseElement> elements,
                std::string name = "Internal Flash") {
    return dfutest::makeDfuseFile({{alternateSetting, std::move(name), std::move(elements)}});
}

// A file made by Debian's dfuse-pack from "address[@alt]" and data pairs; empty without it.
Bytes dfusePack(const std::vector<std::pair<QString, Bytes>>& parts, QStringList options = {}) {
    if (QStandardPaths::findExecutable(QStringLiteral("dfuse-pack")).isEmpty()) {
        return {};
    }
    QTemporaryDir dir;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const QString bin = dir.filePath(QString::number(i) + QStringLiteral(".bin"));
        dfutest::writeBinaryFile(bin.toStdString(), parts[i].second);
        options << QStringLiteral("-b") << parts[i].first + QLatin1Char(':') + bin;
    }
    const QString out = dir.filePath(QStringLiteral("packed.dfu"));
    if (QProcess::execute(QStringLiteral("dfuse-pack"), options << out) != 0) {
        return {};
    }
    QFile file(out);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes packedThreeElements() {
    return dfusePack({{QStringLiteral("0x08000000"), dfutest::patternBytes(70000, 1)},
                      {QStringLiteral("0x08020000"), dfutest::patternBytes(5000, 2)},
                      {QStringLiteral("0x08040000"), dfutest::patternBytes(6161, 3)}});
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
    if (bytes.empty()) {
        GTEST_SKIP() << "dfuse-pack (package dfu-util) is not installed";
    }
    const DfuFileCheck::Result result = DfuFileCheck::checkBytes(bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.problem.contains(QLatin1String(GetParam().problemHolds)))
        << result.problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Dfu, BadFiles,
    ::testing::Values(
        BadCase{"TooShort", [] { return Bytes(10, 0); }, "too short"},
        BadCase{"NoSuffix", [] { return dfutest::patternBytes(4096, 3); },
                "no DFU signature at its end"},
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
        BadCase{"TargetSizeTooLarge", [] { return twoElementsWith(kTargetSize, 1u << 30); },
                "claims"},
        BadCase{"ElementSizeTooLarge", [] { return twoElementsWith(kFirstElementSize, 1u << 20); },
                "Element 1 of target 1 claims"},
        BadCase{"FewerElementsThanTheTargetHolds", [] { return twoElementsWith(kElementCount, 1); },
                "do not fill"},
        BadCase{"MoreElementsThanTheTargetHolds", [] { return twoElementsWith(kElementCount, 3); },
                "outside its target"},
        BadCase{"NoTarget", [] { return dfutest::makeDfuseFile({}); }, "no target"},
        // What dfu-util refuses after the mixer has been restarted.
        BadCase{"PlainDfuFile", [] { return dfutest::makePlainDfuFile(Bytes(64, 1)); },
                "plain DFU file (version 1.00)"},
        BadCase{"DfuseBodyOfAnotherVersion",
                [] { return withSuffixVersion(twoElements(), 0x0110); }, "(version 1.10)"},
        BadCase{"RawDataSayingDfuse",
                [] { return withSuffixVersion(dfutest::makePlainDfuFile(Bytes(64, 1)), 0x011A); },
                "without the DfuSe header"},
        BadCase{"UnknownPrefixRevision",
                [] {
                    Bytes b = twoElements();
                    b[5] = 2;
                    return withCrc(b);
                },
                "format revision (2)"},
        BadCase{"OnlyAnAlternateSetting1Target",
                [] {
                    return oneTarget(1, {{0x08000000, Bytes(16, 1)}});
                },
                "Target 1 of the image is for alternate setting 1"},
        BadCase{"EmptyElement",
                [] {
                    return oneTarget(0, {{0x08000000, {}}});
                },
                "Element 1 of target 1 is empty."},
        BadCase{"NoElement", [] { return oneTarget(0, {}); }, "holds no data"},
        BadCase{"TrailingBytes",
                [] {
                    Bytes b = twoElements();
                    b.insert(b.end() - 16, 5, 0);
                    put32(b, kImageSize, static_cast<uint32_t>(b.size() - 16));
                    return withCrc(b);
                },
                "5 byte(s) after its last target"},
        // Loaded from the file by dfu-util as its own lines of output.
        BadCase{"NameWithALineBreak",
                [] {
                    return oneTarget(0, {{0x08000000, Bytes(16, 1)}}, "x\nDownload done.");
                },
                "target 1 holds a line break"},
        // Refused by the loader half-way through the write.
        BadCase{"OverlappingElements",
                [] {
                    return oneTarget(0, {{0x08000000, Bytes(4096, 1)}, {0x08000800, Bytes(16, 2)}});
                },
                "0x08000000 and 0x08000800 overlap"},
        BadCase{"OverlapAcrossTargets",
                [] {
                    return dfutest::makeDfuseFile({{0, "a", {{0x08004000, Bytes(16, 1)}}},
                                                   {0, "b", {{0x08003FF0, Bytes(17, 2)}}}});
                },
                "0x08003ff0 and 0x08004000 overlap"},
        BadCase{"PastTheAddressSpace",
                [] {
                    return oneTarget(0, {{0xFFFFF800, Bytes(4096, 1)}});
                },
                "runs past the end of the address space"},
        BadCase{"PackedWithAnAlternateSetting1Target",
                [] {
                    return dfusePack({{QStringLiteral("0x08000000"), Bytes(4096, 1)},
                                      {QStringLiteral("0x1fff0000@1"), Bytes(16, 2)}});
                },
                "Target 2 of the image is for alternate setting 1"}),
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
    const Bytes bytes = GetParam().make();
    if (bytes.empty()) {
        GTEST_SKIP() << "dfuse-pack (package dfu-util) is not installed";
    }
    const DfuFileCheck::Result result = DfuFileCheck::checkBytes(bytes);
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
                                                    {0, "Option", {{0x1FFF0000, Bytes(16, 1)}}}});
                 },
                 "DfuSe image, target \"unnamed\", 2 element(s), 116 bytes in 2 targets"},
        // dfuse-pack counts the suffix in the image size and names every target "ST...".
        GoodCase{"PackedByDfusePack", packedThreeElements,
                 "DfuSe image, target \"ST...\", 3 element(s), 81161 bytes"},
        // dfu-util ignores the prefix's image size, whatever it says.
        GoodCase{"ImageSizeIgnored", [] { return twoElementsWith(kImageSize, 7); },
                 "DfuSe image, target \"Internal Flash\", 2 element(s), 1536 bytes"},
        GoodCase{"AdjacentElementsAndWildcardIds",
                 [] {
                     return dfutest::makeDfuseFile(
                         {{0, "", {{0x08000000, Bytes(2048, 1)}, {0x08000800, Bytes(2048, 2)}}}},
                         {0xFFFF, 0xFFFF, 0xFFFF});
                 },
                 "DfuSe image, target \"unnamed\", 2 element(s), 4096 bytes"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The verdict and the progress count what the check found: every element, in the file's order.
TEST(DfuFileCheck, TheImageDescribesWhatTheFlasherWrites) {
    const Bytes packed = packedThreeElements();
    if (packed.empty()) {
        GTEST_SKIP() << "dfuse-pack (package dfu-util) is not installed";
    }
    const DfuseImage image = DfuFileCheck::checkBytes(packed).image;
    ASSERT_EQ(image.targets.size(), 1u);
    EXPECT_EQ(image.targets[0].elements,
              (std::vector<DfuseImage::Element>{
                  {0x08000000, 70000}, {0x08020000, 5000}, {0x08040000, 6161}}));
    EXPECT_EQ(image.elementCount(), 3);
    EXPECT_EQ(image.elementBytes(), 81161u);
}

struct FitCase {
    const char* name;
    const char* memory; // alternate setting 0's name, as the loader gives it
    std::vector<DfuseImage::Element> elements;
    const char* problemHolds; // empty: the file fits
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

class Fit : public ::testing::TestWithParam<FitCase> {};

TEST_P(Fit, EveryElementLiesInWritableMemory) {
    const FitCase& c = GetParam();
    const QString problem =
        DfuFileCheck::fitProblem({{{QString(), c.elements}}}, QString::fromLatin1(c.memory));
    if (*c.problemHolds == '\0') {
        EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
    } else {
        EXPECT_TRUE(problem.contains(QLatin1String(c.problemHolds))) << problem.toStdString();
    }
}

constexpr auto kMixer = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";
constexpr auto kNoFit = "does not fit this device";

INSTANTIATE_TEST_SUITE_P(
    Loaders, Fit,
    ::testing::Values(
        FitCase{"ThreeElementsAcrossSectors",
                kMixer,
                {{0x08000000, 70000}, {0x0800F000, 0x2000}, {0x080FF800, 2048}},
                ""},
        FitCase{"OneBytePastTheFlash", kMixer, {{0x080FF800, 2049}}, kNoFit},
        FitCase{"OneByteBeforeTheFlash", kMixer, {{0x07FFFFFF, 2}}, "element at 0x07ffffff"},
        FitCase{"TrailingWordsAreIgnored",
                "@Internal Flash  /0x08000000/04*016Kg  rev B",
                {{0x08000000, 0x10000}},
                ""},
        FitCase{"ReadableAndWritableWithoutMultiplier",
                "@Option Bytes  /0x1FFFF800/01*016 e",
                {{0x1FFFF800, 16}},
                ""},
        FitCase{"ReadOnlyZone",
                "@Flash /0x08000000/02*001Ka/0x08000800/02*001Kg",
                {{0x08000400, 0x800}},
                kNoFit},
        FitCase{"SecondZoneWithMegabytes",
                "@Flash /0x08000000/02*001Ka/0x90000000/01*001Mg",
                {{0x90000000, 0x100000}},
                ""},
        FitCase{"NoMemoryDescription",
                "Internal Flash",
                {{0x08000000, 16}},
                "does not describe its memory"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(DfuFileCheck, TheFileItselfMustBeThereRegularAndReadable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("fw.dfu"));
    dfutest::writeBinaryFile(good.toStdString(), twoElements());
    EXPECT_TRUE(DfuFileCheck::checkFile(good).ok);

    EXPECT_TRUE(DfuFileCheck::checkFile(dir.filePath(QStringLiteral("gone.dfu")))
                    .problem.contains(QStringLiteral("no longer exists")));
    const QString forging = dir.filePath(QStringLiteral("x\nDownload done.\n.dfu"));
    ASSERT_TRUE(QFile::copy(good, forging));
    EXPECT_TRUE(DfuFileCheck::checkFile(forging).problem.contains(QStringLiteral("line break")));
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
