// Without a sequencer the service fails cleanly: a status, no client, empty lists, no crash.
#include "alsa/AlsaMidiService.h"

#include <gtest/gtest.h>

namespace {
void notifyNothing(const MIDINotification*, void*) {}
} // namespace

TEST(AlsaNoSequencer, EveryCallFailsWithAStatusAndTheListsStayEmpty) {
    AlsaMidiService service("zelmidi-no-such-sequencer");
    MIDIClientRef client = 123;
    EXPECT_NE(service.clientCreate("ZelMidi MIDI Client", notifyNothing, nullptr, &client), noErr);
    EXPECT_EQ(client, 0u);

    MIDIPortRef port = 5;
    EXPECT_NE(service.outputPortCreate(client, "ZelMidi Output Port", &port), noErr);
    EXPECT_EQ(port, 0u);
    EXPECT_NE(service.inputPortCreate(client, "ZelMidi Input Port", nullptr, nullptr, &port),
              noErr);
    EXPECT_EQ(service.getNumberOfSources(), 0u);
    EXPECT_EQ(service.getNumberOfDestinations(), 0u);
    EXPECT_EQ(service.getSource(0), 0u);
    EXPECT_EQ(service.getDestination(0), 0u);

    uint8_t buffer[64];
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer);
    const uint8_t bytes[] = {0xf0, 0x60, 0x07, 0x10, 0x4d, 0xf7};
    packetListAdd(list, sizeof buffer, packetListInit(list, sizeof buffer), 0, sizeof bytes, bytes);
    EXPECT_NE(service.send(0, 0, list), noErr);
    EXPECT_NE(service.received(0, list), noErr);
    EXPECT_NE(service.portDispose(0), noErr);
    EXPECT_NE(service.clientDispose(0), noErr);
    QString name;
    EXPECT_NE(service.objectGetStringProperty(0, kMIDIPropertyDisplayName, &name), noErr);
    MIDIEndpointRef endpoint = 9;
    EXPECT_NE(service.sourceCreate(0, "Portwatch Source", &endpoint), noErr);
    EXPECT_EQ(endpoint, 0u);
}

TEST(AlsaNoSequencer, ThePlatformDefaultIsTheSequencerBackend) {
    const auto service = MidiService::platformDefault();
    ASSERT_NE(service, nullptr);
    EXPECT_NE(dynamic_cast<AlsaMidiService*>(service.get()), nullptr);
}
