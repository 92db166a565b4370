// What the session tests share: a simulated service, a delegate and observers that write every
// announcement into one event list, so tests can check orders across the two channels.
#pragma once

#include "NotificationCenter.h"
#include "SimulatedMidiService.h"
#include "ZelMidi.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <string>
#include <vector>

inline void processNotices() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class EventRecorder : public ZelMidiDelegate {
public:
    std::vector<std::string> events;
    // Runs inside every delegate call, to look at the session at that moment.
    std::function<void(const std::string& event, const std::shared_ptr<ZelMidiConnection>&)>
        onDelegateCall;

    void observe(const ZelMidi& midi) {
        for (const char* name :
             {ZelMidiSourceAddedNotification, ZelMidiSourceRemovedNotification,
              ZelMidiDestinationAddedNotification, ZelMidiDestinationRemovedNotification}) {
            observers_.emplace_back(name, &midi, [this](const Notification& n) {
                const auto wrapper = std::any_cast<std::shared_ptr<ZelMidiConnection>>(
                    n.userInfo.at(ZelMidiConnectionKey));
                EXPECT_EQ(n.userInfo.size(), 1u);
                events.push_back("note:" + n.name + ":" + wrapper->name().toStdString());
            });
        }
    }

    void midiSourceAdded(ZelMidi&, const std::shared_ptr<ZelMidiSource>& s) override {
        record("sourceAdded", s);
    }
    void midiSourceRemoved(ZelMidi&, const std::shared_ptr<ZelMidiSource>& s) override {
        record("sourceRemoved", s);
    }
    void midiDestinationAdded(ZelMidi&, const std::shared_ptr<ZelMidiDestination>& d) override {
        record("destinationAdded", d);
    }
    void midiDestinationRemoved(ZelMidi&, const std::shared_ptr<ZelMidiDestination>& d) override {
        record("destinationRemoved", d);
    }

private:
    void record(const std::string& what, const std::shared_ptr<ZelMidiConnection>& wrapper) {
        const std::string event = what + ":" + wrapper->name().toStdString();
        events.push_back(event);
        if (onDelegateCall) {
            onDelegateCall(event, wrapper);
        }
    }
    std::vector<ScopedObserver> observers_;
};

// A receiver that counts what it gets and can run a hook in its callback.
class CountingReceiver : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource& source, const MIDIPacketList* list) override {
        ++calls;
        lastSource = &source;
        lastList = list;
        if (hook) {
            hook(list);
        }
    }
    std::atomic<int> calls{0};
    std::atomic<ZelMidiSource*> lastSource{nullptr};
    std::atomic<const MIDIPacketList*> lastList{nullptr};
    std::function<void(const MIDIPacketList*)> hook;
};
