// The streaming verdict on a flasher's output: a table of dfu-util 0.11 outputs with their exit,
// and a randomized comparison with a plain line-by-line reference in many slicings.
#include "FlasherOutputScanner.h"

#include "FlasherOutputReference.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using V = FlasherVerdict;

constexpr FlasherExit exited(int code) {
    return {false, code};
}
constexpr FlasherExit killedBy(int signal) {
    return {true, signal};
}

// The opening every dfu-util 0.11 run prints before it looks at the bus.
const std::string kBanner = "dfu-util 0.11\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte "
                            "and OpenMoko Inc.\nThis program is Free Software and has "
                            "ABSOLUTELY NO WARRANTY\n\n";
const std::string kFirstElement =
    "Opening DFU capable USB device...\nDevice ID 0483:df11\nDevice DFU version 011a\n"
    "Claiming USB DFU Interface...\nSetting Alternate Interface #0 ...\n"
    "Determining device status...\n"
    "DFU state(2) = dfuIDLE, status(0) = No error condition is present\n"
    "DfuSe interface name: \"Internal Flash  \"\nFile contains 1 DFU images\n"
    "Parsing DFU image 1\nImage for alternate setting 0, (2 elements, total size = 20480)\n"
    "Parsing element 1, address = 0x08000000, size = 16384\n"
    "Erase   \t[=====                    ]  20%         3276 bytes\r"
    "Erase   \t[=========================] 100%        16384 bytes\nErase    done.\n"
    "Download\t[=============            ]  52%         8192 bytes\r"
    "Download\t[=========================] 100%        16384 bytes\nDownload done.\n";
const std::string kSecondElement =
    "Parsing element 2, address = 0x08004000, size = 4096\n"
    "Erase   \t[=========================] 100%         4096 bytes\nErase    done.\n"
    "Download\t[=========================] 100%         4096 bytes\nDownload done.\n"
    "Done parsing DfuSe file\n";
const std::string kLeave = "Submitting leave request...\n";
const std::string kStatusAfterLeave = "dfu-util: Error during download get_status\n";
const std::string kNoDevice = "dfu-util: No DFU capable USB device available\n";
const std::string kAccess = "dfu-util: Cannot open DFU device 0483:df11 found on devnum 7 "
                            "(LIBUSB_ERROR_ACCESS)\n";
const std::string kPlainDone = "Download\t[=========================] 100%         4096 bytes\n"
                               "Download done.\nstate(7) = dfuMANIFEST, status(0) = No error "
                               "condition is present\nstate(2) = dfuIDLE, status(0) = No error "
                               "condition is present\nDone!\n";

struct VerdictCase {
    const char* name;
    std::string output;
    FlasherExit exit;
    FlasherVerdict verdict;
};

void PrintTo(const VerdictCase& c, std::ostream* os) {
    *os << c.name;
}

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

FlasherVerdict scanWhole(const std::string& output, FlasherExit exit) {
    FlasherOutputScanner scanner;
    scanner.feed(output);
    return scanner.finish(exit);
}

TEST_P(Verdicts, WholeBytewiseAndReferenceAgree) {
    const VerdictCase& c = GetParam();
    EXPECT_EQ(scanWhole(c.output, c.exit), c.verdict);
    FlasherOutputScanner bytewise;
    for (char ch : c.output) {
        bytewise.feed(std::string_view(&ch, 1));
    }
    EXPECT_EQ(bytewise.finish(c.exit), c.verdict);
    EXPECT_EQ(referenceVerdict(c.output, c.exit), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    DfuUtil011, Verdicts,
    ::testing::Values(
        VerdictCase{"DfuSeWrittenDeviceResetsOnLeave",
                    kBanner + kFirstElement + kSecondElement + kLeave + kStatusAfterLeave,
                    exited(74), V::Success},
        VerdictCase{"DfuSeWrittenCleanExit", kBanner + kFirstElement + kSecondElement + kLeave,
                    exited(0), V::Success},
        // Killed after the first element: "Download done." is there, the image is not written.
        VerdictCase{"KilledAfterTheFirstElement", kBanner + kFirstElement, killedBy(9),
                    V::TransferNotCompleted},
        VerdictCase{"TerminatedAfterTheFirstElement", kBanner + kFirstElement, killedBy(15),
                    V::TransferNotCompleted},
        VerdictCase{"KilledEvenAfterTheLeaveRequest",
                    kBanner + kFirstElement + kSecondElement + kLeave, killedBy(9),
                    V::TransferNotCompleted},
        VerdictCase{"FailedInTheSecondElement",
                    kBanner + kFirstElement +
                        "Parsing element 2, address = 0x08004000, size = 4096\n" +
                        kStatusAfterLeave,
                    exited(74), V::TransferNotCompleted},
        VerdictCase{"NonZeroExitWithoutLeaveRequest", kBanner + kFirstElement, exited(1),
                    V::TransferNotCompleted},
        VerdictCase{"PlainImageWritten", kBanner + kPlainDone, exited(0), V::Success},
        VerdictCase{"PlainImageThenUnableToReadStatus",
                    kBanner + kPlainDone + "dfu-util: unable to read DFU status after completion\n",
                    exited(0), V::TransferNotCompleted},
        VerdictCase{"ErrorBeforeTheLastDownloadDoesNotCount",
                    kBanner + kStatusAfterLeave + kPlainDone, exited(0), V::Success},
        VerdictCase{"NoDevice",
                    kBanner + "dfu-util: Warning: Invalid DFU suffix signature\n" + kNoDevice,
                    exited(74), V::DeviceNotFound},
        // dfu-util 0.11 skips a device it cannot open and then finds none.
        VerdictCase{"NoPermission", kBanner + kAccess + kNoDevice, exited(74), V::PermissionDenied},
        VerdictCase{"LinuxLoaderMissingLibrary",
                    "./dfu-util: error while loading shared libraries: libusb-1.0.so.0: cannot "
                    "open shared object file: No such file or directory\n",
                    exited(127), V::LibraryMissing},
        VerdictCase{"OtherLoaderMissingLibrary",
                    "dyld: Library not loaded: libusb-1.0.0.dylib\n  Reason: image not found\n",
                    killedBy(6), V::LibraryMissing},
        VerdictCase{"CannotOpenTheFile",
                    kBanner + "dfu-util: Could not open file fw.dfu for reading: Permission "
                              "denied\n",
                    exited(66), V::TransferNotCompleted},
        VerdictCase{"Capitals", "DOWNLOAD DONE.\n", exited(0), V::Success},
        VerdictCase{"NoDeviceThenWritten", kNoDevice + kPlainDone, exited(0), V::Success},
        VerdictCase{"PhraseNeedsItsFullStop", "Download done\n", exited(0),
                    V::TransferNotCompleted},
        VerdictCase{"PhraseAcrossALineBreakIsNoPhrase", "Download\rdone.\n", exited(0),
                    V::TransferNotCompleted},
        VerdictCase{"UsbErrorBesideAllIsWell",
                    kPlainDone + "status(0) = No error condition is present, USB error\n",
                    exited(0), V::TransferNotCompleted},
        VerdictCase{"InvalidUtf8AroundThePhrase",
                    "Device \xff\xfe Flash\nDownload done.\nSubmitting leave request...\n\xc3",
                    exited(0), V::Success},
        VerdictCase{"Nothing", "", exited(3), V::TransferNotCompleted}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Texts built from the pieces the rules look at, cut anywhere, fed in random slices: the
// streaming scanner must always agree with the reference.
TEST(FlasherOutputScanner, AgreesWithTheReferenceOnRandomOutputs) {
    const std::vector<std::string> pieces = {"Download done.",
                                             "download DONE.",
                                             "Download done",
                                             "Submitting leave request",
                                             "No DFU capable USB device available",
                                             "image not found",
                                             "error while loading shared libraries",
                                             "LIBUSB_ERROR_ACCESS",
                                             "error",
                                             "ERROR",
                                             "No error condition is present",
                                             "no error condition is presen",
                                             "fail",
                                             "cannot",
                                             "could not",
                                             "unable",
                                             "not found",
                                             "corrupt",
                                             "dfu-util:",
                                             "dfu-util",
                                             " ",
                                             "\t",
                                             "\n",
                                             "\r",
                                             "\r\n",
                                             "x",
                                             "%",
                                             "\xff",
                                             "err",
                                             "or",
                                             "Download\t[=====] 52%"};
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = std::uniform_int_distribution<int>(0, 24)(random);
        for (int i = 0; i < count; ++i) {
            text +=
                pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
        }
        const FlasherExit exit{std::bernoulli_distribution(0.2)(random),
                               std::uniform_int_distribution<int>(0, 2)(random) * 37};
        FlasherOutputScanner scanner;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 7)(random);
            scanner.feed(std::string_view(text).substr(at, n));
            at += n;
        }
        ASSERT_EQ(scanner.finish(exit), referenceVerdict(text, exit))
            << "round " << round << ": \"" << text << "\"";
    }
}

// The shape an outside probe found slow: one long line of the flasher's prefix, repeated.
TEST(FlasherOutputScanner, OneLongLineOfPrefixes) {
    std::string line;
    while (line.size() < 900 * 1024) {
        line += "dfu-util:";
    }
    EXPECT_EQ(scanWhole("Download done.\n" + line + "\n", exited(0)), V::TransferNotCompleted);
    EXPECT_EQ(scanWhole(line + "\nDownload done.\n", exited(0)), V::Success);
}

} // namespace
