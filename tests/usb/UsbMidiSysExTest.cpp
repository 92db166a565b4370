// The largest SysEx through the kernel's USB audio driver (run in the test VM): sent by the ALSA
// backend to the emulated mixer's USB-MIDI port, it must reach the device side byte for byte,
// paced so that the driver's output buffer is never overrun.
#include "EventLoopWait.h"
#include "MixerProcess.h"
#include "UsbHostCheck.h"
#include "alsa/AlsaMidiService.h"

#include <QStringList>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Emulation is slow, the more so on a busy machine: generous deadlines that end as soon as
// their condition holds.
constexpr auto kDeadline = 60s;

void ignoreNotice(const MIDINotification*, void*) {}

// The mixer's USB-MIDI port as the host lists it; 0 while it is not there.
MIDIEndpointRef mixerPort(AlsaMidiService& service) {
    for (ItemCount i = 0, n = service.getNumberOfDestinations(); i < n; ++i) {
        QString name;
        const MIDIEndpointRef d = service.getDestination(i);
        if (service.objectGetStringProperty(d, kMIDIPropertyName, &name) == noErr &&
            name == QStringLiteral("MIRT VQ320 MIDI 1")) {
            return d;
        }
    }
    return 0;
}

// F0, 65533 data bytes that run through every 7-bit value, F7: not the restart message.
std::vector<uint8_t> largestSysEx() {
    std::vector<uint8_t> bytes(65535);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 128) & 0x7f);
    }
    bytes.front() = 0xf0;
    bytes.back() = 0xf7;
    return bytes;
}

// The bytes of a "RECEIVED f0 .. f7" line.
std::vector<uint8_t> receivedBytes(const QString& line) {
    std::vector<uint8_t> bytes;
    const QStringList words = line.split(' ', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < words.size(); ++i) {
        bytes.push_back(static_cast<uint8_t>(words[i].toUInt(nullptr, 16)));
    }
    return bytes;
}

} // namespace

TEST(UsbMidiSysEx, TheLargestSysExReachesTheMixerThroughTheUsbAudioDriverWhole) {
    if (const char* reason = usbSkipReason(false)) {
        GTEST_SKIP() << reason << "; runs in the test VM";
    }
    MixerProcess mixer;
    ASSERT_TRUE(mixer.start(QStringLiteral(VQ_EMULATED_MIXER), {}, "MIDI plugged in", kDeadline))
        << mixer.output().toStdString();

    AlsaMidiService service;
    // Well below what the emulated bus carries, so the driver's 4 KiB output buffer never
    // fills; a cable's 3125 bytes a second would take 21 s.
    service.setHardwarePacing(32 * 1024, 2048);
    MIDIClientRef client = 0;
    MIDIPortRef output = 0;
    ASSERT_EQ(service.clientCreate("ZelMidi MIDI Client", ignoreNotice, nullptr, &client), noErr);
    ASSERT_EQ(service.outputPortCreate(client, "ZelMidi Output Port", &output), noErr);
    MIDIEndpointRef port = 0;
    ASSERT_TRUE(waitUntil([&] { return (port = mixerPort(service)) != 0; }, kDeadline))
        << "the host never listed the mixer's port";

    const std::vector<uint8_t> sysEx = largestSysEx();
    std::vector<uint8_t> buffer(sysEx.size() + 64);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    packetListAdd(list, buffer.size(), packetListInit(list, buffer.size()), 0, sysEx.size(),
                  sysEx.data());
    EXPECT_EQ(service.send(output, port, list), noErr);

    ASSERT_TRUE(waitUntil([&] { return !mixer.lines("RECEIVED").isEmpty(); }, kDeadline))
        << "the mixer read no complete SysEx";
    const QStringList received = mixer.lines("RECEIVED");
    EXPECT_EQ(received.size(), 1);
    const std::vector<uint8_t> got = receivedBytes(received.front());
    EXPECT_EQ(got.size(), sysEx.size());
    const auto mismatch = std::mismatch(got.begin(), got.end(), sysEx.begin(), sysEx.end());
    EXPECT_EQ(mismatch.first, got.end())
        << "first difference at byte " << (mismatch.first - got.begin());
    EXPECT_TRUE(mixer.lines("RESTARTING").isEmpty());
    service.clientDispose(client);
    mixer.stop();
}
