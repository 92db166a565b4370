// The status line tells a missing MIDI system apart from a missing mixer, and the controller
// keeps trying for a client until the system is there.
#include "AppTestFixture.h"

#include <QLabel>

namespace {

using namespace std::chrono_literals;

// Runs the event loop for a while, so that a retry timer that should not fire would.
void runEventsFor(std::chrono::milliseconds period) {
    waitUntil([] { return false; }, period);
}

struct UnavailableCase {
    const char* name;
    OSStatus status;
    const char* shown;
};

void PrintTo(const UnavailableCase& c, std::ostream* os) {
    *os << c.name;
}

class MidiUnavailable : public AppTest, public ::testing::WithParamInterface<UnavailableCase> {};

TEST_P(MidiUnavailable, IsToldWithItsReasonAndRetriedUntilItAppears) {
    const UnavailableCase& c = GetParam();
    service->addSource(QStringLiteral("Mirt VQ320 MIDI 1"));
    service->failCall(QStringLiteral("clientCreate"), c.status);
    SystemLogCapture log;
    const auto logged = [&log](const char* text) {
        return log.lines().filter(QLatin1String(text)).size();
    };
    app = std::make_unique<ObservedAppDelegate>(service, *window, received);
    app->setMidiRetryPeriod(1h); // no retry before the first status is looked at
    window->show();
    app->applicationDidFinishLaunching();
    EXPECT_EQ(status(), QLatin1String(c.shown));
    EXPECT_FALSE(sendButtonEnabled());

    // Still failing: tried again, still told.
    app->setMidiRetryPeriod(1ms);
    EXPECT_TRUE(
        waitUntil([&] { return service->callsNamed(QStringLiteral("clientCreate")).size() >= 3; }));
    EXPECT_EQ(status(), QLatin1String(c.shown));
    // The log tells each state once: the session's start-up lines are not repeated per try.
    EXPECT_EQ(logged("Error (Create MIDI client)"), 1);
    EXPECT_EQ(logged("MIDINetworkSession not available on Mac OS X"), 1);

    // Another failure is another state: told once, with the session's own line.
    const OSStatus other = c.status == -50 ? kMIDIServerStartErr : -50;
    service->failCall(QStringLiteral("clientCreate"), other);
    EXPECT_TRUE(waitUntil([&] { return status() != QLatin1String(c.shown); }));
    runEventsFor(20ms);
    EXPECT_EQ(logged("The MIDI system is still not available"), 1);
    EXPECT_EQ(logged("Error (Create MIDI client)"), 2);

    // The system appears: the next try has a client, sees the mixer, and the tries stop.
    service->failCall(QStringLiteral("clientCreate"), 0);
    EXPECT_TRUE(waitUntil([&] { return status() == kConnected; }));
    const auto tries = service->callsNamed(QStringLiteral("clientCreate")).size();
    processPendingEvents();
    runEventsFor(20ms);
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientCreate")).size(), tries);
    EXPECT_EQ(logged("The MIDI system is available now"), 1);
    EXPECT_EQ(logged("Error (Create MIDI client)"), 2);
    EXPECT_EQ(logged("MIDINetworkSession not available on Mac OS X"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, MidiUnavailable,
    ::testing::Values(
        UnavailableCase{"NoSequencer", kMIDIServerStartErr,
                        "MIDI system not available (no ALSA sequencer: /dev/snd/seq is missing "
                        "or refused a client)"},
        UnavailableCase{"NotPermitted", -10844,
                        "MIDI system not available (this user may not open /dev/snd/seq)"},
        UnavailableCase{"OtherError", -50, "MIDI system not available (error -50)"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(AppTest, WithAClientNothingIsRetried) {
    launch();
    app->setMidiRetryPeriod(1ms);
    runEventsFor(20ms);
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientCreate")).size(), 1);
    EXPECT_EQ(status(), kNotFound);
}

} // namespace
