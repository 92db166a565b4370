// The test VM's kernel, straight through libasound: the sequencer announces new ports, and a
// snd-virmidi port hands the bytes sent to it to its rawmidi device, as a USB mixer would.
#include "SeqTestSupport.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace seqtest;

struct RawmidiClose {
    void operator()(snd_rawmidi_t* rawmidi) const { snd_rawmidi_close(rawmidi); }
};
using Rawmidi = std::unique_ptr<snd_rawmidi_t, RawmidiClose>;

bool insideTestVm() {
    std::ifstream cmdline("/proc/cmdline");
    const std::string text{std::istreambuf_iterator<char>(cmdline), {}};
    return text.find("vq320.script=") != std::string::npos;
}

// Waits for an announcement of the given type about the given port; others are skipped.
std::optional<snd_seq_event_t> waitForAnnounce(snd_seq_t* seq, unsigned char type,
                                               snd_seq_addr_t about) {
    return waitForEvent(seq, [&](const snd_seq_event_t& ev) {
        return ev.type == type && ev.data.addr.client == about.client &&
               ev.data.addr.port == about.port;
    });
}

// The card number of the snd-virmidi card, if one is loaded.
std::optional<int> virmidiCard() {
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* ctl = nullptr;
        const std::string name = "hw:" + std::to_string(card);
        if (snd_ctl_open(&ctl, name.c_str(), 0) < 0) {
            continue;
        }
        snd_ctl_card_info_t* info = nullptr;
        snd_ctl_card_info_alloca(&info);
        const bool isVirmidi = snd_ctl_card_info(ctl, info) == 0 &&
                               std::string(snd_ctl_card_info_get_driver(info)) == "VirMIDI";
        snd_ctl_close(ctl);
        if (isVirmidi) {
            return card;
        }
    }
    return std::nullopt;
}

// The sequencer port of a virmidi rawmidi device: the kernel names it "VirMIDI card-device".
std::optional<snd_seq_addr_t> virmidiPort(snd_seq_t* seq, int card, int device) {
    const std::string wanted = "VirMIDI " + std::to_string(card) + "-" + std::to_string(device);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        if (snd_seq_client_info_get_card(client) != card) {
            continue;
        }
        snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            if (wanted == snd_seq_port_info_get_name(port)) {
                return *snd_seq_port_info_get_addr(port);
            }
        }
    }
    return std::nullopt;
}

class KernelSequencer : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/dev/snd/seq", F_OK) != 0) {
            GTEST_SKIP() << "no kernel MIDI sequencer (/dev/snd/seq); these tests run in the test "
                            "VM: ctest -R vm.alsa-tests, or tools/vm/run-in-vm.sh";
        }
    }
};

TEST_F(KernelSequencer, AnnouncesAPortToASubscriberOfSystemAnnounce) {
    Seq listener = openSeq("VQ320 test listener");
    Seq device = openSeq("VQ320 test device");
    ASSERT_TRUE(listener && device);
    const int inPort = snd_seq_create_simple_port(
        listener.get(), "announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(inPort, 0) << snd_strerror(inPort);
    ASSERT_EQ(snd_seq_connect_from(listener.get(), inPort, SND_SEQ_CLIENT_SYSTEM,
                                   SND_SEQ_PORT_SYSTEM_ANNOUNCE),
              0);

    const int port =
        snd_seq_create_simple_port(device.get(), "MIRT VQ320 MIDI 1",
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(port, 0) << snd_strerror(port);
    const snd_seq_addr_t address{static_cast<unsigned char>(snd_seq_client_id(device.get())),
                                 static_cast<unsigned char>(port)};

    ASSERT_TRUE(waitForAnnounce(listener.get(), SND_SEQ_EVENT_PORT_START, address))
        << "no PORT_START for " << int{address.client} << ":" << int{address.port};
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    ASSERT_EQ(snd_seq_get_any_port_info(listener.get(), address.client, address.port, info), 0);
    EXPECT_STREQ(snd_seq_port_info_get_name(info), "MIRT VQ320 MIDI 1");

    ASSERT_EQ(snd_seq_delete_simple_port(device.get(), port), 0);
    EXPECT_TRUE(waitForAnnounce(listener.get(), SND_SEQ_EVENT_PORT_EXIT, address))
        << "no PORT_EXIT after the port was deleted";
}

TEST_F(KernelSequencer, VirmidiPortDeliversSysExToItsRawmidiDevice) {
    const std::optional<int> card = virmidiCard();
    if (!card) {
        ASSERT_FALSE(insideTestVm()) << "the test VM must load snd-virmidi";
        GTEST_SKIP() << "no snd-virmidi card loaded";
    }
    snd_rawmidi_t* rawIn = nullptr;
    const std::string rawName = "hw:" + std::to_string(*card) + ",0";
    const int opened = snd_rawmidi_open(&rawIn, nullptr, rawName.c_str(), SND_RAWMIDI_NONBLOCK);
    ASSERT_EQ(opened, 0) << rawName << ": " << snd_strerror(opened);
    const Rawmidi input(rawIn);
    // The first read starts the input stream; before it the kernel drops what arrives.
    uint8_t none = 0;
    ASSERT_EQ(snd_rawmidi_read(rawIn, &none, 1), -EAGAIN);

    Seq sender = openSeq("VQ320 test sender");
    ASSERT_TRUE(sender);
    const std::optional<snd_seq_addr_t> target = virmidiPort(sender.get(), *card, 0);
    ASSERT_TRUE(target) << "no sequencer port for " << rawName;
    const int port = snd_seq_create_simple_port(sender.get(), "out",
                                                SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(port, 0) << snd_strerror(port);

    // Virmidi ignores events that reach its port without a subscription.
    ASSERT_EQ(snd_seq_connect_to(sender.get(), port, target->client, target->port), 0);

    std::vector<uint8_t> sysEx{0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, static_cast<unsigned char>(port));
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(sysEx.size()), sysEx.data());
    const int sent = snd_seq_event_output_direct(sender.get(), &ev);
    ASSERT_GE(sent, 0) << snd_strerror(sent);

    std::vector<pollfd> fds(static_cast<size_t>(snd_rawmidi_poll_descriptors_count(rawIn)));
    snd_rawmidi_poll_descriptors(rawIn, fds.data(), static_cast<unsigned>(fds.size()));
    std::vector<uint8_t> received;
    const auto deadline = Clock::now() + kWaitLimit;
    while (received.size() < sysEx.size()) {
        uint8_t buffer[64];
        const ssize_t got = snd_rawmidi_read(rawIn, buffer, sizeof buffer);
        if (got > 0) {
            received.insert(received.end(), buffer, buffer + got);
            continue;
        }
        ASSERT_EQ(got, -EAGAIN) << snd_strerror(static_cast<int>(got));
        const int wait = remainingMs(deadline);
        if (wait == 0 || poll(fds.data(), fds.size(), wait) <= 0) {
            break;
        }
    }
    EXPECT_EQ(received, sysEx);
}

} // namespace
