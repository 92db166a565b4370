// Which messages an update ends with, from the run's result code and the flasher's output.
#include "UpdateOutcome.h"

#include <gtest/gtest.h>

namespace {

using Kind = UpdateOutcome::Kind;

Kind classify(const QString& output, int32_t err = 0) {
    return UpdateOutcome::classify(err, output);
}

const QString kSuccessRun = QStringLiteral("Download done.\nDone parsing DfuSe file\n"
                                           "Submitting leave request...\n");

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

TEST(UpdateOutcome, TheResultCodeIsTestedFirst) {
    EXPECT_EQ(kTimeoutCode, 0x746D4F74);
    // The codes beat any text, the timeout code beats the other codes.
    EXPECT_EQ(classify(kSuccessRun, kTimeoutCode), Kind::Timeout);
    EXPECT_EQ(classify(kSuccessRun, -1), Kind::TransferFailed);
    EXPECT_EQ(classify(kSuccessRun, 74), Kind::TransferFailed);
    EXPECT_EQ(classify(kSuccessRun, kTimeoutCode + 1), Kind::TransferFailed);
    EXPECT_EQ(classify(kSuccessRun, 0), Kind::Success);
}

TEST(UpdateOutcome, ThePhrasesAreTestedInOrderIgnoringCase) {
    const QString noDevice = QStringLiteral("dfu-util: No DFU capable USB device available\n");
    const QString linuxLoader = QStringLiteral(
        "./dfu-util: error while loading shared libraries: libusb-1.0.so.0: cannot open shared "
        "object file: No such file or directory\n");
    const QString otherLoader = QStringLiteral("  Reason: image not found\n");

    // Success beats "not found" (the no-device line came before the download).
    EXPECT_EQ(classify(noDevice + "Download done.\n"), Kind::Success);
    EXPECT_EQ(classify(noDevice + kSuccessRun), Kind::Success);
    // "not found" beats the library message, which beats the generic one.
    EXPECT_EQ(classify(noDevice + otherLoader), Kind::DeviceNotFound);
    EXPECT_EQ(classify(noDevice.toUpper()), Kind::DeviceNotFound);
    EXPECT_EQ(classify(otherLoader), Kind::LibraryMissing);
    EXPECT_EQ(classify(otherLoader.toUpper()), Kind::LibraryMissing);
    EXPECT_EQ(classify(linuxLoader), Kind::LibraryMissing);
    EXPECT_EQ(classify(QStringLiteral("dfu-util: Could not open file x.dfu for reading\n")),
              Kind::TransferNotCompleted);
    EXPECT_EQ(classify(QString()), Kind::TransferNotCompleted);
    EXPECT_EQ(classify(QStringLiteral("DOWNLOAD DONE.\n")), Kind::Success);
    EXPECT_EQ(classify(QStringLiteral("download done.")), Kind::Success);
    // The phrase needs its full stop.
    EXPECT_EQ(classify(QStringLiteral("Download done")), Kind::TransferNotCompleted);
}

// dfu-util prints "Download done." once per element of a DfuSe image.
TEST(UpdateOutcome, AFailureAfterAWrittenElementIsNoSuccess) {
    const QString firstElement =
        QStringLiteral("Parsing element 1, address = 0x08000000, size = 16384\n"
                       "Download\t[=========================] 100%        16384 bytes\n"
                       "Download done.\n"
                       "Parsing element 2, address = 0x08004000, size = 4096\n"
                       "Download\t[=============            ]  52%         2048 bytes\n");
    EXPECT_EQ(classify(firstElement + "dfu-util: Error during download get_status\n"),
              Kind::TransferNotCompleted);
    EXPECT_EQ(classify(firstElement + "dfu-util: No DFU capable USB device available\n"),
              Kind::DeviceNotFound);
    EXPECT_EQ(classify(firstElement + " failed!\n"), Kind::TransferNotCompleted);
    // Once the leave request is out, the device resets and the status read fails: a success.
    EXPECT_EQ(classify(firstElement + "Download done.\nDone parsing DfuSe file\n"
                                      "Submitting leave request...\n"
                                      "dfu-util: Error during download get_status\n"),
              Kind::Success);
}

TEST(UpdateOutcome, APlainImageSucceedsWhenNoErrorFollowsItsDownload) {
    const QString done = QStringLiteral("Download\t[=====] 100%\r\nDownload done.\n");
    EXPECT_EQ(classify(done + "DFU state(7) = dfuMANIFEST, status(0) = No error condition is "
                              "present\nDFU state(2) = dfuIDLE, status(0) = No error condition "
                              "is present\nDone!\n"),
              Kind::Success);
    EXPECT_EQ(classify(done + "dfu-util: unable to read DFU status after completion\n"),
              Kind::TransferNotCompleted);
    EXPECT_EQ(classify(done + "Error sending completion packet\n"), Kind::TransferNotCompleted);
    EXPECT_EQ(classify(done + "status(0) = No error condition is present, USB error\n"),
              Kind::TransferNotCompleted);
    // An error line before the last "Download done." does not count against it.
    EXPECT_EQ(classify("dfu-util: Error during download get_status\n" + done), Kind::Success);
}

TEST(UpdateOutcome, ReplacementCharactersDoNotHideThePhrases) {
    const QString undecodable = QString::fromUtf8("Device \xff\xfe Flash\nDownload done.\n\xc3");
    ASSERT_TRUE(undecodable.contains(QChar::ReplacementCharacter));
    EXPECT_EQ(classify(undecodable), Kind::Success);
}

} // namespace
