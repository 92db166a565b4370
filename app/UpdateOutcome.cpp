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
    case FlasherVerdict::DeviceNotFound:
        return Kind::DeviceNotFound;
    case FlasherVerdict::LibraryMissing:
        return Kind::LibraryMissing;
    case FlasherVerdict::TransferNotCompleted:
        break;
    }
    return Kind::TransferNotCompleted;
}

QStringList UpdateOutcome::messages(Kind kind) {
    switch (kind) {
    case Kind::Timeout:
        return {QString::fromLatin1(kTimeoutMessage)};
    case Kind::TransferFailed:
        return {QString::fromLatin1(kTransferFailedMessage)};
    case Kind::Success:
        return {QString::fromLatin1(kSuccessMessage), QString::fromLatin1(kSuccessFollowUpMessage)};
    case Kind::PermissionDenied:
        return {QCoreApplication::translate("UpdateOutcome", kPermissionDeniedMessage)};
    case Kind::DeviceNotFound:
        return {QString::fromLatin1(kDeviceNotFoundMessage)};
    case Kind::LibraryMissing:
        return {QString::fromLatin1(kLibraryMissingMessage)};
    case Kind::TransferNotCompleted:
        break;
    }
    return {QString::fromLatin1(kTransferNotCompletedMessage)};
}
