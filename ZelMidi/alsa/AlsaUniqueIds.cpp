#include "alsa/AlsaUniqueIds.h"

namespace alsa {

UniqueIds::UniqueIds(uint32_t seed) : random_(seed) {}

UniqueIds& UniqueIds::shared() {
    static UniqueIds ids{std::random_device{}()};
    return ids;
}

MIDIUniqueID UniqueIds::idFor(MIDIObjectRef object) {
    std::lock_guard lock(mutex_);
    if (auto it = ids_.find(object); it != ids_.end()) {
        return it->second;
    }
    MIDIUniqueID id = 0;
    while (id == 0 || owners_.count(id) != 0) {
        id = static_cast<MIDIUniqueID>(random_());
    }
    ids_[object] = id;
    owners_[id] = object;
    return id;
}

OSStatus UniqueIds::set(MIDIObjectRef object, MIDIUniqueID id) {
    std::lock_guard lock(mutex_);
    if (id == 0) {
        return kMIDIUnknownError;
    }
    if (auto owner = owners_.find(id); owner != owners_.end()) {
        return owner->second == object ? noErr : kMIDIIDNotUnique;
    }
    if (auto it = ids_.find(object); it != ids_.end()) {
        owners_.erase(it->second);
    }
    ids_[object] = id;
    owners_[id] = object;
    return noErr;
}

void UniqueIds::release(MIDIObjectRef object) {
    std::lock_guard lock(mutex_);
    if (auto it = ids_.find(object); it != ids_.end()) {
        owners_.erase(it->second);
        ids_.erase(it);
    }
}

} // namespace alsa
