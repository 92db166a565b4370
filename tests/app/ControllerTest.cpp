// Start-up, shutdown, device detection, the Send button and the path display, on the real
// controller and window with a simulated MIDI service.
#include "AppTestFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

using ControllerTest = AppTest;

TEST_F(ControllerTest, LaunchWithTheMixerShowsItConnectedAndKeepsSendDisabled) {
    service->addSource(QStringLiteral("Mirt VQ320 MIDI 1"));
    service->addDestination(QStringLiteral("Mirt VQ320 MIDI 1"));
    SystemLogCapture log;
    launch();

    EXPECT_EQ(status(), kConnected);
    EXPECT_EQ(app->deviceFound(), 1);
    EXPECT_EQ(app->fileLoaded(), 0);
    EXPECT_EQ(window->filePath()->text(), QStringLiteral("-"));
    EXPECT_FALSE(sendButtonEnabled());
    ASSERT_NE(app->midi(), nullptr);
    EXPECT_EQ(app->midi()->delegate(), app.get());
    EXPECT_EQ(log.lines().count(QStringLiteral("MIDINetworkSession not available on Mac OS X")), 1);
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientCreate")).size(), 1);
}

TEST_F(ControllerTest, MixerPluggedInAndOutLaterChangesTheStatusOnItsOwn) {
    service->addSource(QStringLiteral("Some Keyboard"));
    launch();
    EXPECT_EQ(status(), kNotFound);
    EXPECT_EQ(app->deviceFound(), 0);

    const MIDIEndpointRef source = service->addSource(QStringLiteral("Mirt VQ320 MIDI 1"));
    EXPECT_TRUE(waitUntil([&] { return status() == kConnected; }));
    EXPECT_EQ(app->deviceFound(), 1);

    service->removeEndpoint(source);
    EXPECT_TRUE(waitUntil([&] { return status() == kNotFound; }));
    EXPECT_EQ(app->deviceFound(), 0);

    // A destination alone is enough, also when it arrives later.
    const MIDIEndpointRef destination = service->addDestination(QStringLiteral("MIRT VQ320"));
    EXPECT_TRUE(waitUntil([&] { return status() == kConnected; }));
    service->removeEndpoint(destination);
    EXPECT_TRUE(waitUntil([&] { return status() == kNotFound; }));
}

TEST_F(ControllerTest, MixerAppearingWithoutANoticeIsFoundByTheRescan) {
    launch();
    app->midi()->rescanTimer()->start(10); // the one-second rescan, sped up
    SimulatedMidiService::EndpointOptions quiet;
    quiet.notify = false;
    service->addSource(QStringLiteral("Mirt VQ320"), quiet);
    EXPECT_TRUE(waitUntil([&] { return status() == kConnected; }));
}

TEST_F(ControllerTest, DeviceMatchingIgnoresCaseAndPositionButNotBlanks) {
    launch();
    struct Case {
        const char* name;
        bool isSource;
        uint8_t found;
    };
    const Case cases[] = {
        {"mirt vq320", true, 1},         // lower case
        {"XXMIRTYY Interface", true, 1}, // inside a longer word
        {"Mirt VQ320 Out", false, 1},    // a destination only
        {"MIR T VQ320", true, 0},        // letters split by a blank
        {"MIR", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromUtf8(c.name);
        const MIDIEndpointRef endpoint =
            c.isSource ? service->addSource(name) : service->addDestination(name);
        ASSERT_TRUE(waitForListed(name));
        EXPECT_EQ(app->deviceFound(), c.found);
        EXPECT_EQ(status(), c.found != 0 ? kConnected : kNotFound);
        service->removeEndpoint(endpoint);
        ASSERT_TRUE(waitForListed(name, false));
        EXPECT_EQ(app->deviceFound(), 0);
    }
}

TEST_F(ControllerTest, ListAllInterfacesGivesSourcesThenDestinations) {
    service->addDestination(QStringLiteral("D1"));
    service->addSource(QStringLiteral("S1"));
    service->addSource(QStringLiteral("S2"));
    launch();
    EXPECT_EQ(app->listAllInterfaces(),
              (QStringList{QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("D1")}));
}

TEST_F(ControllerTest, SendButtonFollowsBothFlags) {
    launch();
    struct Row {
        uint8_t deviceFound;
        uint8_t fileLoaded;
        bool enabled;
    };
    const Row rows[] = {{0, 0, false}, {0, 1, false}, {1, 0, false}, {1, 1, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.deviceFound) << int(row.fileLoaded));
        // Start from the opposite state: every call sets the button.
        window->sendFile()->setEnabled(!row.enabled);
        app->setDeviceFound(row.deviceFound);
        app->setFileLoaded(row.fileLoaded);
        app->updateSendButton();
        EXPECT_EQ(sendButtonEnabled(), row.enabled);
    }
    // Any nonzero value reads as true.
    app->setDeviceFound(2);
    app->setFileLoaded(7);
    app->updateSendButton();
    EXPECT_TRUE(sendButtonEnabled());
}

TEST_F(ControllerTest, UnpluggingDisablesSendAtTheNextCallback) {
    const MIDIEndpointRef source = service->addSource(QStringLiteral("Mirt VQ320"));
    launch();
    app->updateFilePath(std::make_shared<const QUrl>(QUrl::fromLocalFile("/tmp/fw.dfu")));
    EXPECT_TRUE(sendButtonEnabled());
    service->removeEndpoint(source);
    EXPECT_TRUE(waitUntil([&] { return !sendButtonEnabled(); }));
    EXPECT_EQ(status(), kNotFound);
}

TEST_F(ControllerTest, AfterDisableMidiNothingIsFound) {
    service->addSource(QStringLiteral("Mirt VQ320"));
    service->addDestination(QStringLiteral("Mirt VQ320"));
    launch();
    app->updateFilePath(std::make_shared<const QUrl>(QUrl::fromLocalFile("/tmp/fw.dfu")));
    ASSERT_TRUE(sendButtonEnabled());

    app->disableMIDI();
    EXPECT_EQ(app->midi(), nullptr);
    EXPECT_TRUE(app->listAllInterfaces().isEmpty());
    EXPECT_EQ(app->deviceFound(), 0);
    EXPECT_EQ(app->checkMirtMidiDevice(), 0);
    EXPECT_EQ(status(), kNotFound);
    EXPECT_FALSE(sendButtonEnabled());
    EXPECT_EQ(app->isConnectedToMIDIIn(QString()), 0);
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientDispose")).size(), 1);

    // And a reset brings the session back.
    app->resetMIDI();
    EXPECT_EQ(status(), kConnected);
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientCreate")).size(), 2);
}

TEST_F(ControllerTest, ShutdownDropsTheSession) {
    service->addSource(QStringLiteral("Mirt VQ320"));
    launch();
    service->clearCalls();
    app->applicationWillTerminate();
    EXPECT_EQ(app->midi(), nullptr);
    EXPECT_EQ(status(), kNotFound);
    EXPECT_EQ(service->callsNamed(QStringLiteral("portDispose")).size(), 2);
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientDispose")).size(), 1);
}

TEST_F(ControllerTest, IsConnectedToMidiInTestsTheStartOfSourceNamesLiterally) {
    const MIDIEndpointRef source = service->addSource(QStringLiteral("Mirt VQ320 MIDI 1"));
    service->addDestination(QStringLiteral("Only Out"));
    launch();
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("Mirt")), 1);
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("Mirt VQ320 MIDI 1")), 1);
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("mirt")), 0);               // case counts
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("VQ320")), 0);              // not a prefix
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("Mirt VQ320 MIDI 1 ")), 0); // longer
    EXPECT_EQ(app->isConnectedToMIDIIn(QString()), 1);                            // a source exists
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("Only")), 0); // destinations don't count
    EXPECT_EQ(app->isConnectedToMIDIOut(QStringLiteral("Only")), 1);
    EXPECT_EQ(app->isConnectedToMIDIOut(QStringLiteral("Mirt")), 0);
    EXPECT_EQ(app->isConnectedToMIDIOut(QString()), 1);

    // Without any source the empty text matches nothing.
    service->removeEndpoint(source);
    ASSERT_TRUE(waitForListed(QStringLiteral("Mirt VQ320 MIDI 1"), false));
    EXPECT_EQ(app->isConnectedToMIDIIn(QString()), 0);
}

TEST_F(ControllerTest, IsConnectedComparesUtf16CodeUnitsWithoutNormalising) {
    // "é" as one code point in the name, as e + combining accent in the text.
    service->addSource(QStringLiteral("Caf\u00e9 Synth"));
    service->addSource(QString::fromUtf8("\xF0\x9F\x8E\xB9 Keys")); // a character outside the BMP
    launch();
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("Caf\u00e9")), 1);
    EXPECT_EQ(app->isConnectedToMIDIIn(QStringLiteral("Cafe\u0301")), 0);
    const QString keys = QString::fromUtf8("\xF0\x9F\x8E\xB9");
    ASSERT_EQ(keys.size(), 2);
    EXPECT_EQ(app->isConnectedToMIDIIn(keys), 1);
    EXPECT_EQ(app->isConnectedToMIDIIn(keys.left(1)), 1); // half a surrogate pair is a prefix
}

TEST_F(ControllerTest, UpdateFilePathShowsTheDecodedPathOrADash) {
    launch();
    app->updateFilePath(
        std::make_shared<const QUrl>(QUrl(QStringLiteral("file:///tmp/my%20fw/v%C3%A8.dfu"))));
    EXPECT_EQ(window->filePath()->text(), QStringLiteral("/tmp/my fw/v\u00e8.dfu"));
    EXPECT_EQ(app->fileLoaded(), 1);
    // A literal percent sign in a path stays as it is.
    app->updateFilePath(std::make_shared<const QUrl>(QUrl::fromLocalFile("/tmp/100%25.dfu")));
    EXPECT_EQ(window->filePath()->text(), QStringLiteral("/tmp/100%25.dfu"));

    app->updateFilePath(nullptr);
    EXPECT_EQ(window->filePath()->text(), QStringLiteral("-"));
    EXPECT_EQ(app->fileLoaded(), 0);
}

TEST_F(ControllerTest, WorksWithoutItsWidgets) {
    service->addSource(QStringLiteral("Mirt VQ320"));
    launch();
    window.reset(); // the window goes first; the weak references read as absent
    EXPECT_EQ(app->deviceFoundText(), nullptr);
    EXPECT_EQ(app->sendFile(), nullptr);
    EXPECT_EQ(app->checkMirtMidiDevice(), 1);
    app->updateFilePath(nullptr);
    EXPECT_EQ(app->fileLoaded(), 0);
}

} // namespace
