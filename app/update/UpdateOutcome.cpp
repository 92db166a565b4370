#include "UpdateOutcome.h"

#include <QCoreApplication>

UpdateOutcome::Kind UpdateOutcome::classify(int32_t taskReturnErr, FlasherVerdict verdict) {
    if (taskReturnErr == kTimeoutCode) {
        return Kind::Timeout;
    }
    if (taskReturnErr != 0) {
        return Kind::TransferFailed;
    }
    switch (verdict) {
    case FlasherVerdict::Success:
        return Kind::Success;
    case FlasherVerdict::PermissionDenied:
        return Kind::PermissionDenied;
    case FlasherVerdict::TooManyDevices:
        return Kind::TooManyDevices;
    case FlasherVerdict::DeviceNotFound:
        return Kind::DeviceNotFound;
    case FlasherVerdict::FileRefused:
        return Kind::FileRefused;
    case FlasherVerdict::LibraryMissing:
        return Kind::LibraryMissing;
    case FlasherVerdict::TransferNotCompleted:
        break;
    }
    return Kind::TransferNotCompleted;
}

namespace {

QString translated(const char* message) {
    return QCoreApplication::translate("UpdateOutcome", message);
}

} // namespace

QStringList UpdateOutcome::messages(Kind kind) {
    switch (kind) {
    case Kind::Timeout:
        return {translated(kTimeoutMessage)};
    case Kind::TransferFailed:
        return {translated(kTransferFailedMessage)};
    case Kind::Success:
        return {translated(kSuccessMessage), translated(kSuccessFollowUpMessage)};
    case Kind::PermissionDenied:
        return {translated(kPermissionDeniedMessage)};
    case Kind::TooManyDevices:
        return {translated(kTooManyDevicesMessage)};
    case Kind::DeviceNotFound:
        return {translated(kDeviceNotFoundMessage)};
    case Kind::FileRefused:
        return {translated(kFileRefusedMessage)};
    case Kind::LibraryMissing:
        return {translated(kLibraryMissingMessage)};
    case Kind::TransferNotCompleted:
        break;
    }
    return {translated(kTransferNotCompletedMessage)};
}
