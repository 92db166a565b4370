// Which messages an update ends with, from the run's result code and the flasher's verdict.
#include "UpdateOutcome.h"

#include <gtest/gtest.h>

namespace {

using Kind = UpdateOutcome::Kind;

TEST(UpdateOutcome, TheSixMessagesAreExact) {
    EXPECT_EQ(UpdateOutcome::messages(Kind::Timeout),
              QStringList{"Timeout error: the device does not respond. Please repeat the "
                          "procedure."});
    EXPECT_EQ(UpdateOutcome::messages(Kind::TransferFailed),
              QStringList{"Sorry, it was not possible to complete the transfer. Repeat the "
                          "procedure."});
    EXPECT_EQ(UpdateOutcome::messages(Kind::Success),
              (QStringList{"Update in progress...",
                           "Please refer to the instructions on the display of the MIRT VQ320 "
                           "to complete the update"}));
    EXPECT_EQ(UpdateOutcome::messages(Kind::DeviceNotFound),
              QStringList{"Sorry, MIRT VQ320 not found. Please check the USB connection and "
                          "try again."});
    EXPECT_EQ(UpdateOutcome::messages(Kind::LibraryMissing),
              QStringList{"Error: library not found. Please quit the application and run "
                          "again the installer."});
    EXPECT_EQ(UpdateOutcome::messages(Kind::TransferNotCompleted),
              QStringList{"ERROR: transfer not completed. Please first turn OFF and then turn "
                          "ON again the VQ320, check the USB connection and try again."});
}

struct CodeCase {
    int32_t err;
    FlasherVerdict verdict;
    Kind kind;
};

class ResultCodeFirst : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ResultCodeFirst, ThenTheFlashersVerdict) {
    EXPECT_EQ(UpdateOutcome::classify(GetParam().err, GetParam().verdict), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ResultCodeFirst,
    ::testing::Values(CodeCase{kTimeoutCode, FlasherVerdict::Success, Kind::Timeout},
                      CodeCase{-1, FlasherVerdict::Success, Kind::TransferFailed},
                      CodeCase{74, FlasherVerdict::Success, Kind::TransferFailed},
                      CodeCase{kTimeoutCode + 1, FlasherVerdict::Success, Kind::TransferFailed},
                      CodeCase{0, FlasherVerdict::Success, Kind::Success},
                      CodeCase{0, FlasherVerdict::PermissionDenied, Kind::PermissionDenied},
                      CodeCase{0, FlasherVerdict::TooManyDevices, Kind::TooManyDevices},
                      CodeCase{0, FlasherVerdict::DeviceNotFound, Kind::DeviceNotFound},
                      CodeCase{0, FlasherVerdict::FileRefused, Kind::FileRefused},
                      CodeCase{0, FlasherVerdict::LibraryMissing, Kind::LibraryMissing},
                      CodeCase{0, FlasherVerdict::TransferNotCompleted,
                               Kind::TransferNotCompleted}));

// The failures the cable cannot mend say what does, and give no cable advice.
TEST(UpdateOutcome, FailuresOfTheirOwnSayWhatToDo) {
    EXPECT_EQ(kTimeoutCode, 0x746D4F74);
    const std::vector<std::pair<Kind, std::vector<const char*>>> cases = {
        {Kind::PermissionDenied, {"found", "may not write", "0483:df11", "dfu-util", "replug"}},
        {Kind::TooManyDevices, {"Another device in USB update mode", "Disconnect the other"}},
        {Kind::FileRefused, {"refused the firmware file", "may be incomplete", "made for"}}};
    for (const auto& [kind, parts] : cases) {
        const QStringList texts = UpdateOutcome::messages(kind);
        ASSERT_EQ(texts.size(), 1);
        for (const char* part : parts) {
            EXPECT_TRUE(texts.first().contains(QLatin1String(part))) << part;
        }
        if (kind != Kind::PermissionDenied) {
            EXPECT_FALSE(texts.first().contains(QLatin1String("USB connection")));
        }
    }
}

} // namespace
