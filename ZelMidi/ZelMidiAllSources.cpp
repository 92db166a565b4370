#include "ZelMidiAllSources.h"

ZelMidiAllSources::~ZelMidiAllSources() {
    setMidi(nullptr);
    relay_->delegate.store(nullptr); // a delivery under way that has not reached it drops its list
}

void ZelMidiAllSources::setMidi(std::shared_ptr<ZelMidi> midi) {
    if (midi_ != nullptr) {
        midi_->setDelegate(nullptr);
    }
    joined_.leaveAll();
    // The old session may end here; its teardown announces nothing to us any more.
    midi_ = std::move(midi);
    if (midi_ != nullptr) {
        midi_->setDelegate(this);
        for (const auto& source : midi_->sources()) {
            joined_.join(source);
        }
    }
}

void ZelMidiAllSources::midiSourceAdded(ZelMidi& /*midi*/,
                                        const std::shared_ptr<ZelMidiSource>& source) {
    joined_.join(source);
}

void ZelMidiAllSources::midiSourceRemoved(ZelMidi& /*midi*/,
                                          const std::shared_ptr<ZelMidiSource>& /*source*/) {}

void ZelMidiAllSources::midiDestinationAdded(
    ZelMidi& /*midi*/, const std::shared_ptr<ZelMidiDestination>& /*destination*/) {}

void ZelMidiAllSources::midiDestinationRemoved(
    ZelMidi& /*midi*/, const std::shared_ptr<ZelMidiDestination>& /*destination*/) {}

void ZelMidiAllSources::midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) {
    relay_->midiSourceMidiReceived(source, list);
}
