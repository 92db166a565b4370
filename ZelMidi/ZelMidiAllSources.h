// Merges the input of every source of one session into one stream: attaches itself as a receiver
// to every source the session lists or announces later, and hands each packet list, with the
// source it came from, to its own delegate.
#pragma once

#include "AtomicShared.h"
#include "ZelMidi.h"
#include "ZelMidiConnection.h"
#include "ZelMidiJoinedSources.h"

#include <memory>

class ZelMidiAllSources final : public ZelMidiDelegate, public ZelMidiSourceDelegate {
public:
    ZelMidiAllSources() = default;
    // Detaches from the session without waiting: a delivery already under way may still reach
    // the delegate with its one packet list, never this object.
    ~ZelMidiAllSources() override;

    std::shared_ptr<ZelMidi> midi() const { return midi_; }
    // Detaches from the session held now (clearing its delegate, whatever it is, and leaving
    // every source it joined), then attaches to `midi` as its delegate and a receiver of every
    // source it lists. Setting the same session again re-attaches. On the session's thread.
    void setMidi(std::shared_ptr<ZelMidi> midi);

    // Read on the receive thread for every packet list, so it may be replaced while input flows.
    std::shared_ptr<ZelMidiSourceDelegate> delegate() const { return relay_->delegate.load(); }
    void setDelegate(std::shared_ptr<ZelMidiSourceDelegate> delegate) {
        relay_->delegate.store(std::move(delegate));
    }

    // ZelMidiDelegate: a new source is attached; nothing else is of interest, and a source that
    // goes away is not detached.
    void midiSourceAdded(ZelMidi& midi, const std::shared_ptr<ZelMidiSource>& source) override;
    void midiSourceRemoved(ZelMidi& midi, const std::shared_ptr<ZelMidiSource>& source) override;
    void midiDestinationAdded(ZelMidi& midi,
                              const std::shared_ptr<ZelMidiDestination>& destination) override;
    void midiDestinationRemoved(ZelMidi& midi,
                                const std::shared_ptr<ZelMidiDestination>& destination) override;

    // ZelMidiSourceDelegate: forwards, uncopied, on the calling (receive) thread.
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) override;

private:
    // What the sources hold: it may outlive the listener for a delivery under way, so it keeps
    // the delegate itself rather than a way back to the listener.
    struct Relay final : ZelMidiSourceDelegate {
        void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) override {
            if (const auto target = delegate.load()) {
                target->midiSourceMidiReceived(source, list);
            }
        }
        AtomicShared<ZelMidiSourceDelegate> delegate;
    };

    // Declared so that the sources are left before the session is released.
    std::shared_ptr<ZelMidi> midi_;
    const std::shared_ptr<Relay> relay_ = std::make_shared<Relay>();
    ZelMidiJoinedSources joined_{relay_};
};
