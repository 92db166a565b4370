// dfu-util's progress read from its own lines: the written bytes of the whole checked image.
#include "DfuProgressParser.h"

#include "Transcripts.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Phase = DfuProgress::Phase;

// The tests' image: 70000, 5000 and 6161 bytes.
constexpr uint64_t kImageBytes = 81161;

struct Step {
    std::string bytes; // fed as one slice
    Phase phase;
    int element;
    float fraction;
};

struct ProgressCase {
    const char* name;
    int elements;
    uint64_t imageBytes;
    std::vector<Step> steps;
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << c.name;
}

class Progress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(Progress, FollowsTheFlashersLines) {
    DfuProgressParser parser(GetParam().elements, GetParam().imageBytes);
    int i = 0;
    for (const Step& step : GetParam().steps) {
        parser.feed(step.bytes);
        const DfuProgress& p = parser.progress();
        EXPECT_EQ(p.phase, step.phase) << "step " << i;
        EXPECT_EQ(p.element, step.element) << "step " << i;
        EXPECT_NEAR(p.fraction, step.fraction, 1e-6) << "step " << i;
        ++i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    DfuUtil011, Progress,
    ::testing::Values(
        // A bar line that says less than the one before does not take the bar back.
        ProgressCase{"NeverBackwards",
                     1,
                     4096,
                     {{"Parsing element 1, address = 0x08000000, size = 4096\n"
                       "Download\t[==========               ]  50%         2048 bytes\r",
                       Phase::Download, 1, 0.5f},
                      {"Download\t[                         ]   0%            0 bytes\r",
                       Phase::Download, 1, 0.5f}}},
        ProgressCase{"BarSplitAcrossSlices",
                     1,
                     4096,
                     {{"Parsing element 1, address = 0x08000000, size = 4096\nDownload\t[==   ",
                       Phase::None, 1, 0},
                      {"       ]  7", Phase::None, 1, 0},
                      {"5%   3072 bytes\r", Phase::Download, 1, 0.75f}}},
        ProgressCase{"NoiseIsNoProgress",
                     1,
                     4096,
                     {{"Downloading 100% of nothing\nErase done.\nDownload done. \n"
                       "Parsing element x, size = 5\n",
                       Phase::None, 0, 0},
                      {std::string(100000, 'D') + "ownload\t[===] 50%\n", Phase::None, 0, 0}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct RecordedCase {
    const char* transcript;
    int elements;
    uint64_t imageBytes;
    float last; // the share written when dfu-util ended
    int lastElement;
};

void PrintTo(const RecordedCase& c, std::ostream* os) {
    *os << c.transcript;
}

class RecordedProgress : public ::testing::TestWithParam<RecordedCase> {};

// Fed in small slices as the pipe may deliver them: the bar only moves forward, reaches the whole
// at a good write and stops at the written share of a failed one.
TEST_P(RecordedProgress, OnlyMovesForwardToTheWrittenShare) {
    const RecordedCase& c = GetParam();
    const std::string output = transcript(c.transcript).output;
    DfuProgressParser parser(c.elements, c.imageBytes);
    float shown = 0.0f;
    for (std::size_t at = 0; at < output.size(); at += 7) {
        parser.feed(std::string_view(output).substr(at, 7));
        ASSERT_GE(parser.progress().fraction, shown) << "at byte " << at;
        shown = parser.progress().fraction;
    }
    EXPECT_TRUE(parser.progress().measured);
    EXPECT_FLOAT_EQ(parser.progress().fraction, c.last);
    EXPECT_EQ(parser.progress().element, c.lastElement);
    EXPECT_EQ(parser.progress().elements, c.elements);
}

INSTANTIATE_TEST_SUITE_P(
    DfuUtil011, RecordedProgress,
    ::testing::Values(RecordedCase{"good-write", 3, kImageBytes, 1.0f, 3},
                      RecordedCase{"two-targets-written", 3, kImageBytes, 1.0f, 3},
                      RecordedCase{"reset-on-leave", 3, kImageBytes, 1.0f, 3},
                      // Five blocks of 2048 bytes were written before the sixth failed.
                      RecordedCase{"failed-block", 3, kImageBytes, 10240.0f / kImageBytes, 1},
                      RecordedCase{"phrases-failed", 1, 4096, 0.0f, 1}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.transcript;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

} // namespace
