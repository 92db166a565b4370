// Statuses at the seam: libasound reports failures as negative errno values.
#pragma once

#include "MidiService.h"

namespace alsa {

// 0 or a positive count is success (noErr); a negative errno becomes a nonzero MIDI status:
// ENOENT, ENODEV, ENXIO -> kMIDIObjectNotFound; EPERM, EACCES, EBUSY -> kMIDINotPermitted;
// EAGAIN, ENOSPC, ENOMEM, ENOBUFS, EPIPE -> kMIDIMessageSendErr; anything else (EINVAL included)
// -> kMIDIUnknownError.
OSStatus statusFromAlsa(int result);

// Why no client could be made: EACCES or EPERM (this user may not use the sequencer) ->
// kMIDINotPermitted; anything else (no /dev/snd/seq, no memory, no thread) -> kMIDIServerStartErr.
OSStatus clientCreateStatus(int result);

} // namespace alsa
