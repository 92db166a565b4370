// The streaming verdict on a flasher's output: a table of dfu-util 0.11's recorded outputs and
// variations with their exit, and a randomized comparison with a plain line-by-line reference in
// many slicings.
#include "FlasherOutputScanner.h"

#include "FlasherOutputReference.h"
#include "Transcripts.h"

#include <algorithm>
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

// Pieces of dfu-util 0.11's output, as in the recorded transcripts.
const std::string kBanner = "dfu-util 0.11\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte "
                            "and OpenMoko Inc.\n";
const std::string kElement = "Parsing element 1, address = 0x08000000, size = 4096\n"
                             "\rDownload\t[=========================] 100%         4096 bytes\n"
                             "Download done.\n";
const std::string kLeave = "Done parsing DfuSe file\nSubmitting leave request...\n"
                           "Transitioning to dfuMANIFEST state\n";
const std::string kNoDevice = "dfu-util: No DFU capable USB device available\n";

struct VerdictCase {
    const char* name;
    std::string output;
    FlasherExit exit;
    int elements; // of the checked image
    FlasherVerdict verdict;
};

void PrintTo(const VerdictCase& c, std::ostream* os) {
    *os << c.name;
}

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

FlasherVerdict scanWhole(const std::string& output, FlasherExit exit, int elements) {
    FlasherOutputScanner scanner(elements);
    scanner.feed(output);
    return scanner.finish(exit);
}

TEST_P(Verdicts, WholeBytewiseAndReferenceAgree) {
    const VerdictCase& c = GetParam();
    EXPECT_EQ(scanWhole(c.output, c.exit, c.elements), c.verdict);
    FlasherOutputScanner bytewise(c.elements);
    for (char ch : c.output) {
        bytewise.feed(std::string_view(&ch, 1));
    }
    EXPECT_EQ(bytewise.finish(c.exit), c.verdict);
    EXPECT_EQ(referenceVerdict(c.output, c.exit, c.elements), c.verdict);
}

VerdictCase recorded(const char* name, int elements, FlasherVerdict verdict) {
    Transcript t = transcript(name);
    return {name, std::move(t.output), t.exit, elements, verdict};
}

// dfu-util's real output (transcripts/), then variations of it.
INSTANTIATE_TEST_SUITE_P(
    DfuUtil011, Verdicts,
    ::testing::Values(
        recorded("good-write", 3, V::Success), recorded("two-targets-written", 3, V::Success),
        // Status 74 after the leave request: the device reset; the firmware is in.
        recorded("reset-on-leave", 3, V::Success),
        // dfu-util skipped the alternate-setting-1 target and still exited 0.
        recorded("two-targets", 1, V::FileRefused),
        // The phrases are in the "Target name:" line only; the first block failed.
        recorded("phrases-failed", 1, V::TransferNotCompleted),
        recorded("failed-block", 3, V::TransferNotCompleted),
        recorded("overlap", 2, V::TransferNotCompleted),
        recorded("two-loaders", 3, V::TooManyDevices), recorded("plain-file", 1, V::FileRefused),
        recorded("raw-file", 1, V::FileRefused), recorded("outside-flash", 1, V::FileRefused),
        recorded("no-permission", 3, V::PermissionDenied),
        recorded("no-device", 3, V::DeviceNotFound),
        // The count must be the checked image's: fewer or more elements were written.
        VerdictCase{"FewerElementsThanChecked", transcript("good-write").output, exited(0), 4,
                    V::TransferNotCompleted},
        VerdictCase{"MoreElementsThanChecked", transcript("good-write").output, exited(0), 2,
                    V::TransferNotCompleted},
        VerdictCase{"NoImageChecked", kBanner + kElement + kLeave, exited(0), 0,
                    V::TransferNotCompleted},
        VerdictCase{"KilledAfterTheLeaveRequest", kBanner + kElement + kLeave, killedBy(9), 1,
                    V::TransferNotCompleted},
        VerdictCase{"NoLeaveRequest", kBanner + kElement, exited(0), 1, V::TransferNotCompleted},
        VerdictCase{"Capitals", "DOWNLOAD DONE.\nSUBMITTING LEAVE REQUEST...\n", exited(0), 1,
                    V::Success},
        VerdictCase{"NoDeviceThenWritten", kNoDevice + kElement + kLeave, exited(0), 1, V::Success},
        // Only whole lines count: not with blanks around, not inside another line.
        VerdictCase{"PhraseWithBlanksIsNoLine",
                    " Download done.\nDownload done. \nSubmitting leave request...\n", exited(0), 1,
                    V::TransferNotCompleted},
        VerdictCase{"PhraseAcrossALineBreakIsNoPhrase", "Download\rdone.\n", exited(0), 1,
                    V::TransferNotCompleted},
        VerdictCase{"LeaveInsideALine", kElement + "Target name: Submitting leave request...\n",
                    exited(0), 1, V::TransferNotCompleted},
        VerdictCase{"LinuxLoaderMissingLibrary",
                    "/usr/lib/vq320-updater/dfu-util: error while loading shared libraries: "
                    "libusb-1.0.so.0: cannot open shared object file: No such file or directory\n",
                    exited(127), 1, V::LibraryMissing},
        VerdictCase{"OtherLoaderMissingLibrary",
                    "dyld: Library not loaded: libusb-1.0.0.dylib\n  Reason: image not found\n",
                    killedBy(6), 1, V::LibraryMissing},
        // Once dfu-util runs, its libraries are loaded: the words are the file's.
        VerdictCase{"LibraryWordsAfterTheBanner",
                    kBanner + "Target name: image not found\nDFU state(10) = dfuERROR\n",
                    exited(74), 1, V::TransferNotCompleted},
        VerdictCase{"InvalidUtf8AroundThePhrase",
                    "Device \xff\xfe Flash\nDownload done.\nSubmitting leave request...\n\xc3",
                    exited(0), 1, V::Success},
        VerdictCase{"Nothing", "", exited(3), 1, V::TransferNotCompleted}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// Texts built from the pieces the rules look at, cut anywhere, fed in random slices: the
// streaming scanner must always agree with the reference.
TEST(FlasherOutputScanner, AgreesWithTheReferenceOnRandomOutputs) {
    const std::vector<std::string> pieces = {"Download done.",
                                             "download DONE.",
                                             "Download done",
                                             "Submitting leave request...",
                                             "Submitting leave request",
                                             "dfu-util: No DFU capable USB device available",
                                             "dfu-util: More than one DFU capable USB device found",
                                             "dfu-util: Cannot open DFU device ",
                                             "(LIBUSB_ERROR_ACCESS)",
                                             "dfu-util: Only DfuSe file version 1.1a is supported",
                                             "dfu-util: No valid DfuSe signature",
                                             " is not writeable",
                                             "dfu-util: No alternate setting ",
                                             " (skipping elements)",
                                             "image not found",
                                             "error while loading shared libraries",
                                             "dfu-util:",
                                             "dfu-util",
                                             "Target name: ",
                                             " ",
                                             "\n",
                                             "\r",
                                             "x",
                                             "\xff",
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
        const int elements = std::uniform_int_distribution<int>(0, 2)(random);
        FlasherOutputScanner scanner(elements);
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 7)(random);
            scanner.feed(std::string_view(text).substr(at, n));
            at += n;
        }
        ASSERT_EQ(scanner.finish(exit), referenceVerdict(text, exit, elements))
            << "round " << round << ": \"" << text << "\"";
    }
}

// The shape an outside probe found slow: one long line of the flasher's prefix, repeated.
TEST(FlasherOutputScanner, OneLongLineOfPrefixes) {
    std::string line;
    while (line.size() < 900 * 1024) {
        line += "dfu-util:";
    }
    EXPECT_EQ(scanWhole("Download done.\n" + line + "\n", exited(0), 1), V::TransferNotCompleted);
    EXPECT_EQ(scanWhole(line + "\nDownload done.\nSubmitting leave request...\n", exited(0), 1),
              V::Success);
}

} // namespace
