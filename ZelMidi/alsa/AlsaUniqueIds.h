// Unique IDs of MIDI objects. The sequencer has none, so the backend keeps one per object for the
// life of the process: fresh non-zero values, and no value held by two objects at once.
#pragma once

#include "MidiService.h"

#include <map>
#include <mutex>
#include <random>

namespace alsa {

class UniqueIds {
public:
    explicit UniqueIds(uint32_t seed);

    // The process-wide registry.
    static UniqueIds& shared();

    // The object's ID, given a fresh one on first use.
    MIDIUniqueID idFor(MIDIObjectRef object);
    // noErr, or kMIDIIDNotUnique when another object holds the value (0 is never an ID).
    OSStatus set(MIDIObjectRef object, MIDIUniqueID id);
    // Forgets one object, or every object whose reference passes the filter.
    void release(MIDIObjectRef object);
    template <typename Filter> void releaseIf(Filter filter) {
        std::lock_guard lock(mutex_);
        for (auto it = ids_.begin(); it != ids_.end();) {
            if (filter(it->first)) {
                owners_.erase(it->second);
                it = ids_.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    std::mutex mutex_;
    std::mt19937 random_;
    std::map<MIDIObjectRef, MIDIUniqueID> ids_;
    std::map<MIDIUniqueID, MIDIObjectRef> owners_;
};

} // namespace alsa
