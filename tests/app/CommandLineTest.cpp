// The command line's firmware argument: which file the window opens with, and what is refused.
#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    QStringList arguments; // after the program's name
    bool run;
    int exitCode;
    QString firmwarePath;
};

class CommandLineTest : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, ReadsTheFirmwareFileOrRefuses) {
    const Case& c = GetParam();
    const CommandLine line = CommandLine::parse(
        QStringList{QStringLiteral("vq320-updater")} + c.arguments, QStringLiteral("/home/user"));
    EXPECT_EQ(line.run, c.run);
    EXPECT_EQ(line.exitCode, c.exitCode);
    EXPECT_EQ(line.firmwarePath, c.firmwarePath);
    if (c.exitCode == CommandLine::kUsageError) {
        EXPECT_FALSE(line.error.isEmpty());
        EXPECT_TRUE(line.output.isEmpty());
    } else {
        EXPECT_TRUE(line.error.isEmpty()) << line.error.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(
        Case{"none", {}, true, 0, {}},
        Case{"absolute", {"/data/fw/VQ320 v2.dfu"}, true, 0, "/data/fw/VQ320 v2.dfu"},
        Case{"relative", {"fw/../VQ320.dfu"}, true, 0, "/home/user/VQ320.dfu"},
        Case{"dashNameAfterEndOfOptions", {"--", "-new.dfu"}, true, 0, "/home/user/-new.dfu"},
        // Qt's own options stay for QApplication and do not take the file's place.
        Case{"toolkitOptions",
             {"-style", "Fusion", "-reverse", "a.dfu"},
             true,
             0,
             "/home/user/a.dfu"},
        Case{"help", {"--help", "a.dfu"}, false, 0, {}}, Case{"version", {"-v"}, false, 0, {}},
        Case{"unknownOption", {"--frobnicate", "a.dfu"}, false, CommandLine::kUsageError, {}},
        Case{"twoFiles", {"a.dfu", "b.dfu"}, false, CommandLine::kUsageError, {}},
        Case{"missingValue", {"-platform"}, false, CommandLine::kUsageError, {}}),
    [](const auto& argument) { return std::string(argument.param.name); });

} // namespace
