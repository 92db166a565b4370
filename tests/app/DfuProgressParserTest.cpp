// dfu-util's progress read from its own lines: phases, elements, weighted percentages.
#include "DfuProgressParser.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Phase = DfuProgress::Phase;

struct Step {
    std::string bytes; // fed as one slice
    Phase phase;
    int element;
    float fraction;
    bool measured;
};

struct ProgressCase {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << c.name;
}

class Progress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(Progress, FollowsTheFlashersLines) {
    DfuProgressParser parser;
    int i = 0;
    for (const Step& step : GetParam().steps) {
        parser.feed(step.bytes);
        const DfuProgress& p = parser.progress();
        EXPECT_EQ(p.phase, step.phase) << "step " << i;
        EXPECT_EQ(p.element, step.element) << "step " << i;
        EXPECT_NEAR(p.fraction, step.fraction, 1e-4) << "step " << i;
        EXPECT_EQ(p.measured, step.measured) << "step " << i;
        ++i;
    }
}

// 16384 + 4096 bytes: the first element is 0.8 of the image, the second 0.2; an element's erase
// is a fifth of its share, its download the rest.
INSTANTIATE_TEST_SUITE_P(
    DfuUtil011, Progress,
    ::testing::Values(
        ProgressCase{
            "DfuSeTwoElements",
            {{"dfu-util 0.11\nOpening DFU capable USB device...\n", Phase::None, 0, 0, false},
             {"Image for alternate setting 0, (2 elements, total size = 20480)\n"
              "Parsing element 1, address = 0x08000000, size = 16384\n",
              Phase::None, 1, 0, false},
             {"Erase   \t[============             ]  50%         8192 bytes\r", Phase::Erase, 1,
              0.8f * 0.2f * 0.5f, true},
             {"Erase   \t[=========================] 100%        16384 bytes\nErase    done.\n",
              Phase::Erase, 1, 0.8f * 0.2f, true},
             {"Download\t[======                   ]  25%         4096 bytes\r", Phase::Download, 1,
              0.8f * (0.2f + 0.8f * 0.25f), true},
             {"Download\t[=========================] 100%        16384 bytes\nDownload done.\n"
              "Parsing element 2, address = 0x08004000, size = 4096\n",
              Phase::None, 2, 0.8f, true},
             {"Erase   \t[=========================] 100%         4096 bytes\n", Phase::Erase, 2,
              0.8f + 0.2f * 0.2f, true},
             {"Download\t[=========================] 100%         4096 bytes\nDownload done.\n"
              "Submitting leave request...\n",
              Phase::Download, 2, 1.0f, true}}},
        ProgressCase{"PlainImage",
                     {{"Copying data from PC to DFU device\n", Phase::None, 0, 0, false},
                      {"Download\t[=======                  ]  28%         1152 bytes\r",
                       Phase::Download, 0, 0.28f, true},
                      {"Download\t[=========================] 100%         4096 bytes\n"
                       "Download done.\nDone!\n",
                       Phase::Download, 0, 1.0f, true}}},
        ProgressCase{"BarSplitAcrossSlices",
                     {{"Download\t[==   ", Phase::None, 0, 0, false},
                      {"       ]  7", Phase::None, 0, 0, false},
                      {"3%   100 bytes\r", Phase::Download, 0, 0.73f, true}}},
        ProgressCase{
            "NoiseIsNoProgress",
            {{"Downloading 100% of nothing\nErase done.\nDownload done.\n"
              "Parsing element x, size = 5\n",
              Phase::None, 0, 0, false},
             {std::string(100000, 'D') + "ownload\t[===] 50%\n", Phase::None, 0, 0, false}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
