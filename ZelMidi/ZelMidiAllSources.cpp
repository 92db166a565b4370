#include "ZelMidiAllSources.h"

ZelMidiAllSources::~ZelMidiAllSources() {
    setMidi(nullptr);
}

void ZelMidiAllSources::setMidi(std::shared_ptr<ZelMidi> midi) {
    if (midi_ != nullptr) {
        midi_->setDelegate(nullptr);
        for (const auto& source : midi_->sources()) {
            source->removeDelegate(this);
        }
        if (const auto own = midi_->virtualDestinationSource()) {
            own->removeDelegate(this); // attached when it was announced
        }
    }
    // The old session may end here; its teardown announces nothing to us any more.
    midi_ = std::move(midi);
    if (midi_ != nullptr) {
        midi_->setDelegate(this);
        for (const auto& source : midi_->sources()) {
            source->addDelegate(this);
        }
    }
}

void ZelMidiAllSources::midiSourceAdded(ZelMidi& /*midi*/,
                                        const std::shared_ptr<ZelMidiSource>& source) {
    source->addDelegate(this);
}

void ZelMidiAllSources::midiSourceRemoved(ZelMidi& /*midi*/,
                                          const std::shared_ptr<ZelMidiSource>& /*source*/) {}

void ZelMidiAllSources::midiDestinationAdded(
    ZelMidi& /*midi*/, const std::shared_ptr<ZelMidiDestination>& /*destination*/) {}

void ZelMidiAllSources::midiDestinationRemoved(
    ZelMidi& /*midi*/, const std::shared_ptr<ZelMidiDestination>& /*destination*/) {}

void ZelMidiAllSources::midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) {
    if (const auto delegate = delegate_.load()) {
        delegate->midiSourceMidiReceived(source, list);
    }
}
