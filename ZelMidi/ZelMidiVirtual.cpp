// The session's own virtual endpoints: "Portwatch Source", which the session publishes into, and
// "Portwatch Destination", which other programs send to. The destination keeps its unique ID
// from run to run, so other programs find it again under the same identity.
#include "SystemLog.h"
#include "ZelMidi.h"

#include <QSettings>

namespace {

const char* const kVirtualSourceName = "Portwatch Source";
const char* const kVirtualDestinationName = "Portwatch Destination";

// 0 means that no ID is saved. The value is kept sign-extended, so a negative ID survives.
MIDIUniqueID savedVirtualDestinationID() {
    const QSettings settings;
    return static_cast<MIDIUniqueID>(
        settings.value(QLatin1String(ZelMidiSavedVirtualDestinationIDKey), 0).toLongLong());
}

void saveVirtualDestinationID(MIDIUniqueID id) {
    QSettings settings;
    settings.setValue(QLatin1String(ZelMidiSavedVirtualDestinationIDKey),
                      static_cast<qlonglong>(id));
    settings.sync();
}

} // namespace

void ZelMidi::setVirtualSourceEnabled(bool enabled) {
    if (enabled == virtualSourceEnabled()) {
        return;
    }
    if (enabled) {
        const OSStatus status = service_->sourceCreate(
            client_, QString::fromLatin1(kVirtualSourceName), &virtualSourceEndpoint_);
        if (status != noErr) {
            logStatusError(status, "Create MIDI virtual source");
            return;
        }
        std::shared_ptr<ZelMidiDestination> wrapper =
            std::make_shared<ZelMidiVirtualSourceDestination>(this, virtualSourceEndpoint_);
        virtualSourceDestination_.store(wrapper);
        if (delegate_ != nullptr) {
            delegate_->midiDestinationAdded(*this, wrapper);
        }
        announce(ZelMidiDestinationAddedNotification, wrapper);
        return;
    }
    const std::shared_ptr<ZelMidiDestination> wrapper = virtualSourceDestination_.load();
    if (delegate_ != nullptr) {
        delegate_->midiDestinationRemoved(*this, wrapper);
    }
    announce(ZelMidiDestinationRemovedNotification, wrapper);
    virtualSourceDestination_.store(nullptr);
    if (!clientDisposed_) {
        logStatusError(service_->endpointDispose(virtualSourceEndpoint_),
                       "Dispose MIDI virtual source");
    }
    virtualSourceEndpoint_ = 0;
}

void ZelMidi::setVirtualDestinationEnabled(bool enabled) {
    if (enabled == virtualDestinationEnabled()) {
        return;
    }
    if (enabled) {
        const OSStatus status = service_->destinationCreate(
            client_, QString::fromLatin1(kVirtualDestinationName),
            ZELMIDIVirtualDestinationReadProc, this, &virtualDestinationEndpoint_);
        if (status != noErr) {
            logStatusError(status, "Create MIDI virtual destination");
            return;
        }

        // Restore the saved ID; only when there is none, or when another object has taken it,
        // record the one the platform assigned.
        bool recordID = true;
        if (const MIDIUniqueID saved = savedVirtualDestinationID(); saved != 0) {
            recordID = service_->objectSetIntegerProperty(virtualDestinationEndpoint_,
                                                          kMIDIPropertyUniqueID,
                                                          saved) == kMIDIIDNotUnique;
        }
        if (recordID) {
            MIDIUniqueID current = 0;
            const OSStatus idStatus = service_->objectGetIntegerProperty(
                virtualDestinationEndpoint_, kMIDIPropertyUniqueID, &current);
            if (idStatus != noErr) {
                logStatusError(idStatus, "Get MIDI virtual destination ID");
            } else {
                saveVirtualDestinationID(current);
            }
        }

        auto wrapper = std::make_shared<ZelMidiSource>(this, virtualDestinationEndpoint_);
        virtualDestinationSource_.store(wrapper);
        if (delegate_ != nullptr) {
            delegate_->midiSourceAdded(*this, wrapper);
        }
        announce(ZelMidiSourceAddedNotification, wrapper);
        return;
    }
    // The local reference keeps the wrapper alive until the platform has stopped calling back;
    // a read callback already running holds its own.
    const std::shared_ptr<ZelMidiSource> wrapper = virtualDestinationSource_.load();
    if (delegate_ != nullptr) {
        delegate_->midiSourceRemoved(*this, wrapper);
    }
    announce(ZelMidiSourceRemovedNotification, wrapper);
    virtualDestinationSource_.store(nullptr);
    // The disposed reference stays, so a late removal notice for it is still recognised.
    if (!clientDisposed_) {
        logStatusError(service_->endpointDispose(virtualDestinationEndpoint_),
                       "Dispose MIDI virtual destination");
    }
}

void ZELMIDIVirtualDestinationReadProc(const MIDIPacketList* list, void* readProcRefCon,
                                       void* /*srcConnRefCon*/) {
    const auto* midi = static_cast<const ZelMidi*>(readProcRefCon);
    if (midi == nullptr) {
        return;
    }
    // Taken through the slot, so switching off on the main thread cannot free it under us.
    if (const std::shared_ptr<ZelMidiSource> source = midi->virtualDestinationSource_.load()) {
        source->midiRead(list);
    }
}
