// The real controller and the real main window on a simulated MIDI service.
#pragma once

#include "AppDelegate.h"
#include "EventLoopWait.h"
#include "MainWindow.h"
#include "SimulatedMidiService.h"
#include "SystemLog.h"

#include <QByteArray>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// What reached the main-thread handlers of incoming MIDI. Outlives the controller, so a test
// can also see that nothing arrives after it is gone.
struct ReceivedMidi {
    std::vector<QByteArray> parsed;         // records handed to midiParser, in order
    std::vector<MIDIPacket> systemMessages; // records handed to midiSysExReceived, in order
};

// The controller with its two input handlers observed (and still run).
class ObservedAppDelegate : public AppDelegate {
public:
    ObservedAppDelegate(std::shared_ptr<MidiService> service, MainWindow& window,
                        std::shared_ptr<ReceivedMidi> received)
        : AppDelegate(std::move(service), window), received_(std::move(received)) {}

    void midiParser(const QByteArray& record) override {
        received_->parsed.push_back(record);
        AppDelegate::midiParser(record);
    }
    void midiSysExReceived(const MIDIPacket* record) override {
        MIDIPacket copy;
        std::memcpy(&copy, record, sizeof copy);
        received_->systemMessages.push_back(copy);
        AppDelegate::midiSysExReceived(record);
    }

private:
    std::shared_ptr<ReceivedMidi> received_;
};

class AppTest : public ::testing::Test {
protected:
    void TearDown() override {
        shutDown();
        window.reset();
        // Whatever the session's teardown queued back to the main thread runs now.
        processPendingEvents();
    }

    // Creates the controller and runs start-up with the window shown, as the entry point does.
    void launch() {
        app = std::make_unique<ObservedAppDelegate>(service, *window, received);
        window->show();
        app->applicationDidFinishLaunching();
    }
    void shutDown() {
        if (app) {
            app->applicationWillTerminate();
            app.reset();
        }
    }

    QString status() const { return window->deviceFoundText()->text(); }
    bool sendButtonEnabled() const { return window->sendFile()->isEnabled(); }

    // Waits until the session lists (or no longer lists) an endpoint of that name; the
    // controller's callback for it has run by then.
    bool waitForListed(const QString& name, bool listed = true) {
        return waitUntil([&] { return app->listAllInterfaces().contains(name) == listed; });
    }

    std::shared_ptr<SimulatedMidiService> service = std::make_shared<SimulatedMidiService>();
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();
    std::shared_ptr<ReceivedMidi> received = std::make_shared<ReceivedMidi>();
    std::unique_ptr<ObservedAppDelegate> app;
};

inline constexpr const char* kConnected = "Mirt VQ320 device connected";
inline constexpr const char* kNotFound = "Mirt VQ320 device NOT found";
