// The outcome of an update: which messages the user sees, chosen from the flasher run's result
// code and from phrases in its output text. A pure function, so every rule can be tested alone.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>

// A four-character code packed into a signed 32-bit integer, first character most significant.
constexpr int32_t fourCharCode(const char (&code)[5]) {
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
                                static_cast<uint32_t>(static_cast<unsigned char>(code[3])));
}

// Stored in taskReturnErr when the update gives up waiting for the flasher.
inline constexpr int32_t kTimeoutCode = fourCharCode("tmOt");
static_assert(kTimeoutCode == 1953320820);

class UpdateOutcome {
public:
    // In the order in which the tests are made; the first that holds decides.
    enum class Kind {
        Timeout,              // taskReturnErr is the timeout code
        TransferFailed,       // any other nonzero taskReturnErr (the flasher did not run)
        Success,              // see isSuccess
        DeviceNotFound,       // no device in DFU mode
        LibraryMissing,       // the flasher could not load a library
        TransferNotCompleted, // anything else
    };

    static constexpr const char* kTimeoutMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "Timeout error: the device does not respond. Please repeat the procedure.");
    static constexpr const char* kTransferFailedMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "Sorry, it was not possible to complete the transfer. Repeat the procedure.");
    static constexpr const char* kSuccessMessage =
        QT_TRANSLATE_NOOP("UpdateOutcome", "Update in progress...");
    static constexpr const char* kSuccessFollowUpMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "Please refer to the instructions on the display of the MIRT VQ320 to complete the update");
    static constexpr const char* kDeviceNotFoundMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "Sorry, MIRT VQ320 not found. Please check the USB connection and try again.");
    static constexpr const char* kLibraryMissingMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "Error: library not found. Please quit the application and run again the installer.");
    static constexpr const char* kTransferNotCompletedMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "ERROR: transfer not completed. Please first turn OFF and then turn ON again the VQ320, "
        "check the USB connection and try again.");

    static Kind classify(int32_t taskReturnErr, QStringView output);
    // The messages shown in turn with the same alert, in the user's language: two after a
    // success, one otherwise.
    static QStringList messages(Kind kind);
    static QStringList messages(int32_t taskReturnErr, QStringView output) {
        return messages(classify(taskReturnErr, output));
    }

    // A successful download, judged conservatively (every search ignores case):
    //   the output holds "Download done." and
    //   either it holds "Submitting leave request" (the flasher got through every element of the
    //   image and asked the device to leave DFU mode; many devices reset then, and whatever
    //   errors follow do not undo the written firmware),
    //   or no error line follows the last "Download done." (an image of one element whose run
    //   ended cleanly).
    // The flasher prints "Download done." once per element, so a run that failed in a later
    // element still holds it: the error lines after it make that run no success. An error line
    // starts with the flasher's "dfu-util:" prefix (its errors and warnings) or holds "fail",
    // "cannot", "could not", "unable", "no dfu capable", "not found", "corrupt" or "error" (but
    // not only in the flasher's all-is-well status text "No error condition is present").
    static bool isSuccess(QStringView output);
};
