#include "alsa/AlsaStatus.h"

#include <cerrno>

namespace alsa {

OSStatus statusFromAlsa(int result) {
    if (result >= 0) {
        return noErr;
    }
    switch (-result) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return kMIDIObjectNotFound;
    case EPERM:
    case EACCES:
    case EBUSY:
        return kMIDINotPermitted;
    case EAGAIN:
    case ENOSPC:
    case ENOMEM:
    case ENOBUFS:
    case EPIPE:
        return kMIDIMessageSendErr;
    default:
        return kMIDIUnknownError;
    }
}

OSStatus clientCreateStatus(int result) {
    if (result >= 0) {
        return noErr;
    }
    return -result == EACCES || -result == EPERM ? kMIDINotPermitted : kMIDIServerStartErr;
}

} // namespace alsa
