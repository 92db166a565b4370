// The outcome of an update: which messages the user sees, chosen from the flasher run's result
// code and from the verdict on its output. Pure, so every rule can be tested alone.
#pragma once

#include "FlasherOutputScanner.h"

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
        Success,              // the flasher's verdict (FlasherOutputScanner::finish)
        PermissionDenied,     // the loader is there, this user may not open it
        TooManyDevices,       // another device in DFU mode beside the loader
        DeviceNotFound,       // no device in DFU mode
        FileRefused,          // the flasher refused the file, or left part of it out
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
    static constexpr const char* kPermissionDeniedMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "The MIRT VQ320 was found in its update mode, but this user may not write to it. "
        "Install a udev rule for the USB device 0483:df11 (Debian's dfu-util package ships one "
        "for the desktop user; the updater's source has 49-mirt-vq320-dfu.rules), then unplug "
        "and replug the USB cable and try again.");
    static constexpr const char* kTooManyDevicesMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "Another device in USB update mode (DFU) is connected besides the MIRT VQ320, so nothing "
        "was written. Disconnect the other device, turn the VQ320 off and on again, and repeat "
        "the procedure.");
    static constexpr const char* kFileRefusedMessage = QT_TRANSLATE_NOOP(
        "UpdateOutcome",
        "The flasher refused the firmware file: it does not fit the MIRT VQ320, and the firmware "
        "on the mixer may be incomplete. Turn the VQ320 off and on again, then repeat the "
        "procedure with the firmware file made for the VQ320.");
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

    // The result code first, then the verdict of a run that started.
    static Kind classify(int32_t taskReturnErr, FlasherVerdict verdict);
    // The messages shown in turn with the same alert, in the user's language: two after a
    // success, one otherwise.
    static QStringList messages(Kind kind);
    static bool isSuccess(Kind kind) { return kind == Kind::Success; }
};
