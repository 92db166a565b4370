// Sending and listing on the real kernel sequencer (run in the VM): nothing already delivered is
// lost when a receiver stalls, a long SysEx arrives whole or the send fails, each thread lists
// from its own snapshot, a destination that came back is subscribed again, and an idle session
// does not re-read the kernel's port list. Also: a user who may not use the sequencer is told so.
#include "AlsaTestClient.h"
#include "alsa/AlsaFlow.h"
#include "alsa/AlsaMidiService.h"
#include "alsa/AlsaRefs.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

#define REQUIRE_SEQUENCER()                                                                        \
    if (!std::filesystem::exists("/dev/snd/seq"))                                                  \
    GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing); these tests run in the "    \
                    "test VM (tools/vm)"

void ignoreNotice(const MIDINotification*, void*) {}

std::vector<uint8_t> packetList(const Bytes& bytes) {
    std::vector<uint8_t> buffer(bytes.size() + 64);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    packetListAdd(list, buffer.size(), packetListInit(list, buffer.size()), 0, bytes.size(),
                  bytes.data());
    return buffer;
}

const MIDIPacketList* asList(const std::vector<uint8_t>& buffer) {
    return reinterpret_cast<const MIDIPacketList*>(buffer.data());
}

Bytes longSysEx(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        b[i] = static_cast<uint8_t>((i * 13) & 0x7f);
    }
    b.front() = 0xf0;
    b.back() = 0xf7;
    return b;
}

// A session client of the service with an output port.
struct Sender {
    AlsaMidiService& service;
    MIDIClientRef client = 0;
    MIDIPortRef output = 0;
    explicit Sender(AlsaMidiService& s) : service(s) {
        EXPECT_EQ(service.clientCreate("ZelMidi MIDI Client", ignoreNotice, nullptr, &client),
                  noErr);
        EXPECT_EQ(service.outputPortCreate(client, "ZelMidi Output Port", &output), noErr);
    }
    ~Sender() { service.clientDispose(client); }
};

// Another program that never reads its input, with a small input pool.
struct StalledReceiver {
    snd_seq_t* seq = nullptr;
    int port = -1;
    StalledReceiver() {
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
            seq = nullptr;
            return;
        }
        snd_seq_set_client_pool_input(seq, 64);
        port = snd_seq_create_simple_port(seq, "Stalled In",
                                          SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    }
    ~StalledReceiver() {
        if (seq != nullptr) {
            snd_seq_close(seq);
        }
    }
    // Reads what is queued: the number of notes, or -ENOSPC when the kernel dropped the queue.
    // SysEx bytes go to `sysEx`.
    int drain() {
        int events = 0;
        for (;;) {
            snd_seq_event_t* ev = nullptr;
            const int r = snd_seq_event_input(seq, &ev);
            if (r == -ENOSPC) {
                return -ENOSPC;
            }
            if (r < 0) {
                return events;
            }
            events += ev->type == SND_SEQ_EVENT_NOTEON ? 1 : 0;
            if (ev->type == SND_SEQ_EVENT_SYSEX) {
                const auto* p = static_cast<const uint8_t*>(ev->data.ext.ptr);
                sysEx.insert(sysEx.end(), p, p + ev->data.ext.len);
            }
        }
    }
    Bytes sysEx;
};

// The SysEx bytes of what a receiver collected, without the notes (90 3c 64) between them.
Bytes withoutNotes(const Bytes& collected) {
    Bytes sysEx;
    for (size_t i = 0; i < collected.size(); ++i) {
        if ((collected[i] & 0xf0) == 0x90) {
            i += 2;
        } else {
            sysEx.push_back(collected[i]);
        }
    }
    return sysEx;
}

} // namespace

TEST(AlsaFlow, AStalledReceiverKeepsWhatItWasGivenAndTheSendFailsWithoutWriting) {
    REQUIRE_SEQUENCER();
    StalledReceiver stalled;
    ASSERT_GE(stalled.port, 0);
    AlsaMidiService service;
    service.setRoomWait(std::chrono::milliseconds(30));
    Sender sender(service);
    const MIDIEndpointRef destination =
        alsa::makeRef(alsa::RefKind::Destination, snd_seq_client_id(stalled.seq), stalled.port);
    const auto note = packetList({0x90, 0x3c, 0x40});
    int delivered = 0;
    OSStatus status = noErr;
    while (delivered < 1000 &&
           (status = service.send(sender.output, destination, asList(note))) == noErr) {
        ++delivered;
    }
    EXPECT_EQ(status, kMIDIMessageSendErr) << "the send says that it could not deliver";
    EXPECT_GT(delivered, 10);
    EXPECT_EQ(stalled.drain(), delivered) << "every event that was accepted is still there";
}

TEST(AlsaFlow, ALongSysExPublishedAtTheVirtualSourceReachesASubscriberWhole) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    Sender sender(service);
    MIDIEndpointRef source = 0;
    ASSERT_EQ(service.sourceCreate(sender.client, "Portwatch Source", &source), noErr);
    TestSequencerClient receiver("Subscriber");
    const int in = receiver.createCollectingPort("Subscriber In");
    ASSERT_GE(in, 0);
    const auto parts = alsa::splitRef(source);
    ASSERT_EQ(receiver.subscribeTo(in, parts.client, parts.port), 0);
    const Bytes sysEx = longSysEx(65535);
    const auto list = packetList(sysEx);
    EXPECT_EQ(service.received(source, asList(list)), noErr);
    EXPECT_TRUE(receiver.waitCollected(sysEx.size(), 10000));
    EXPECT_EQ(receiver.collected().size(), sysEx.size());
    EXPECT_EQ(receiver.collected(), sysEx);
}

// A send checks a receiver's room once and then writes while what it knows to be free lasts:
// it must never count on more than is there, whatever the receiver's pool and the message. When
// another program's stream keeps the pool 60 % full, a SysEx longer than the pool goes in parts
// sized from the room left beside it.
struct RoomCase {
    int pool;
    size_t size;
    bool busy = false;
};

class SysExToASoftwareReceiver : public ::testing::TestWithParam<RoomCase> {};

TEST_P(SysExToASoftwareReceiver, ArrivesWholeWhateverItsPool) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    service.setRoomWait(std::chrono::seconds(5));
    Sender sender(service);
    const RoomCase room = GetParam();
    TestSequencerClient receiver("Small Pool", room.pool);
    const int in = receiver.createCollectingPort("Small Pool In");
    ASSERT_GE(in, 0);
    TestSequencerClient stream("Stream");
    const int out = stream.createSourcePort("Stream Out");
    std::atomic<bool> stop{!room.busy};
    receiver.setReadPause(std::chrono::milliseconds(room.busy ? 1 : 0));
    std::thread notes([&] {
        while (!stop.load()) {
            if (stream.freeCellsOf(receiver.id()) > room.pool * 2 / 5) {
                stream.sendNote(out, receiver.id(), in, 0x3c);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
    });
    const Bytes sysEx = longSysEx(room.size);
    const auto list = packetList(sysEx);
    const MIDIEndpointRef destination =
        alsa::makeRef(alsa::RefKind::Destination, receiver.id(), in);
    // The second finds the pool as the first left it (beside the stream, one: see below).
    const int rounds = room.busy ? 1 : 2;
    for (int round = 0; round < rounds; ++round) {
        EXPECT_EQ(service.send(sender.output, destination, asList(list)), noErr);
    }
    stop = true;
    notes.join();
    Bytes twice = sysEx;
    twice.insert(twice.end(), sysEx.begin(), sysEx.end());
    twice.resize(sysEx.size() * rounds);
    for (int i = 0; i < 1000 && withoutNotes(receiver.collected()).size() < twice.size(); ++i) {
        usleep(10000);
    }
    EXPECT_EQ(withoutNotes(receiver.collected()), twice);
}

INSTANTIATE_TEST_SUITE_P(PoolsAndSizes, SysExToASoftwareReceiver,
                         ::testing::Values(RoomCase{64, 1000}, RoomCase{64, 65535},
                                           RoomCase{200, 4096}, RoomCase{200, 12288},
                                           RoomCase{500, 12288}, RoomCase{2000, 65535},
                                           // A stream that tops the pool up in a tight loop may
                                           // take all the room above its level between the
                                           // send's look at the room and its write.
                                           RoomCase{100, 4096, true}),
                         [](const auto& row) {
                             return "Pool" + std::to_string(row.param.pool) + "Bytes" +
                                    std::to_string(row.param.size) +
                                    (row.param.busy ? "BesideAStream" : "");
                         });

// A receiver that stops reading takes the first parts of a SysEx longer than its pool. The send
// then stops, at its deadline or at once when the client is disposed (the session's teardown),
// and the receiver gets an F7 after those parts, so that its next message parses.
TEST(AlsaFlow, ASysExStoppedAfterItsFirstPartsIsClosed) {
    REQUIRE_SEQUENCER();
    StalledReceiver stalled;
    ASSERT_GE(stalled.port, 0);
    AlsaMidiService service;
    Sender sender(service);
    const int receiver = snd_seq_client_id(stalled.seq);
    const auto send = [&](const Bytes& bytes) {
        return service.send(sender.output,
                            alsa::makeRef(alsa::RefKind::Destination, receiver, stalled.port),
                            asList(packetList(bytes)));
    };
    const Bytes sysEx = longSysEx(4096);
    for (const bool disposed : {false, true}) {
        SCOPED_TRACE(disposed ? "disposed" : "deadline");
        stalled.sysEx.clear();
        service.setRoomWait(disposed ? std::chrono::minutes(1) : std::chrono::milliseconds(30));
        auto sent = std::async(std::launch::async, send, sysEx);
        if (disposed) {
            pollfd fd{};
            snd_seq_poll_descriptors(stalled.seq, &fd, 1, POLLIN);
            for (int i = 0; i < 1000 && alsa::receiverFreeCells(fd.fd, receiver) > 32; ++i) {
                usleep(1000); // until its first parts are in
            }
            EXPECT_EQ(service.clientDispose(sender.client), noErr);
        }
        EXPECT_EQ(sent.get(), kMIDIMessagePartlyDeliveredErr);
        ASSERT_GE(stalled.drain(), 0) << "nothing was dropped";
        ASSERT_GT(stalled.sysEx.size(), 2u);
        EXPECT_EQ(stalled.sysEx.back(), 0xf7);
        EXPECT_TRUE(std::equal(stalled.sysEx.begin(), stalled.sysEx.end() - 1, sysEx.begin()));
        if (!disposed) {
            stalled.sysEx.clear();
            const Bytes next{0xf0, 0x7e, 0x01, 0xf7};
            EXPECT_EQ(send(next), noErr);
            ASSERT_GE(stalled.drain(), 0);
            EXPECT_EQ(stalled.sysEx, next);
        }
    }
}

// Sends to one port from two threads (two clients) are serialised: no part of one SysEx comes
// between the parts of the other.
TEST(AlsaFlow, TwoThreadsSendingLongSysExToOnePortDeliverTwoWholeMessages) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    Sender first(service);
    Sender second(service);
    TestSequencerClient receiver("Shared", 200);
    const int in = receiver.createCollectingPort("Shared In");
    ASSERT_GE(in, 0);
    const MIDIEndpointRef destination =
        alsa::makeRef(alsa::RefKind::Destination, receiver.id(), in);
    Bytes a = longSysEx(12288);
    Bytes b = a;
    std::fill(b.begin() + 1, b.end() - 1, 0x55);
    std::latch go(2);
    const auto sendFrom = [&](const Sender& s, const Bytes& bytes) {
        return std::async(std::launch::async, [&, list = packetList(bytes)] {
            go.arrive_and_wait();
            return service.send(s.output, destination, asList(list));
        });
    };
    auto one = sendFrom(first, a);
    auto two = sendFrom(second, b);
    EXPECT_EQ(one.get(), noErr);
    EXPECT_EQ(two.get(), noErr);
    ASSERT_TRUE(receiver.waitCollected(a.size() + b.size(), 10000));
    Bytes ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    Bytes ba = b;
    ba.insert(ba.end(), a.begin(), a.end());
    const Bytes got = receiver.collected();
    EXPECT_TRUE(got == ab || got == ba) << "the parts of the two messages interleaved";
}

TEST(AlsaFlow, ALongSysExToAHardwarePortIsPacedSoItArrivesWhole) {
    REQUIRE_SEQUENCER();
    const auto devices = findVirtualRawMidi();
    if (devices.empty()) {
        GTEST_SKIP() << "no snd-virmidi rawmidi device (/dev/snd/midiC*D*)";
    }
    const auto& device = devices.back();
    // The device's buffer stands in for the port's: 16 KiB lets the reader pause for a while
    // (sanitizer builds in the VM do) but is far from holding an unpaced 64 KiB.
    snd_rawmidi_t* in = nullptr;
    const std::string hw =
        "hw:" + std::to_string(device.card) + "," + std::to_string(device.device);
    ASSERT_EQ(snd_rawmidi_open(&in, nullptr, hw.c_str(), SND_RAWMIDI_NONBLOCK), 0) << hw;
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca(&params);
    snd_rawmidi_params_current(in, params);
    snd_rawmidi_params_set_buffer_size(in, params, 16 * 1024);
    ASSERT_EQ(snd_rawmidi_params(in, params), 0);
    const Bytes sysEx = longSysEx(65535);
    auto read = std::async(std::launch::async, [&] {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        uint8_t buf[4096];
        while (out.size() < sysEx.size() && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = snd_rawmidi_read(in, buf, sizeof buf);
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
            } else {
                usleep(2000);
            }
        }
        return out;
    });
    AlsaMidiService service;
    service.setHardwarePacing(32 * 1024, 2048);
    Sender sender(service);
    MIDIEndpointRef destination = 0;
    for (ItemCount i = 0, n = service.getNumberOfDestinations(); i < n; ++i) {
        QString name;
        service.objectGetStringProperty(service.getDestination(i), kMIDIPropertyDisplayName, &name);
        if (name.contains(QStringLiteral("%1-%2").arg(device.card).arg(device.device))) {
            destination = service.getDestination(i);
        }
    }
    ASSERT_NE(destination, 0u) << "the virmidi port is listed";
    const auto list = packetList(sysEx);
    EXPECT_EQ(service.send(sender.output, destination, asList(list)), noErr);
    const Bytes got = read.get();
    snd_rawmidi_close(in);
    EXPECT_EQ(got.size(), sysEx.size());
    const auto mismatch = std::mismatch(got.begin(), got.end(), sysEx.begin());
    EXPECT_EQ(mismatch.first, got.end())
        << "first difference at byte " << (mismatch.first - got.begin());
}

TEST(AlsaFlow, EachThreadFetchesFromTheSnapshotOfItsOwnCount) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    Sender sender(service);
    TestSequencerClient other("Lister");
    const int portA = other.createDuplexPort("Lister A");
    ASSERT_GE(portA, 0);
    std::promise<void> counted;
    std::promise<void> changed;
    auto worker = std::async(std::launch::async, [&] {
        const ItemCount n = service.getNumberOfDestinations();
        std::vector<MIDIEndpointRef> first;
        for (ItemCount i = 0; i < n; ++i) {
            first.push_back(service.getDestination(i));
        }
        counted.set_value();
        changed.get_future().wait();
        std::vector<MIDIEndpointRef> again;
        for (ItemCount i = 0; i <= n; ++i) {
            again.push_back(service.getDestination(i));
        }
        first.push_back(0); // one past its own count there is nothing
        return std::pair{first, again};
    });
    counted.get_future().wait();
    ASSERT_GE(other.createDuplexPort("Lister B"), 0);
    ASSERT_EQ(other.deletePort(portA), 0); // the first port leaves: the list shifts
    service.getNumberOfDestinations();     // another thread counts the changed list
    changed.set_value();
    const auto [seen, again] = worker.get();
    EXPECT_EQ(again, seen);
}

TEST(AlsaFlow, ADestinationThatCameBackUnannouncedIsSubscribedAgain) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    service.setAnnouncementsIgnored(true); // its exit is never heard
    Sender sender(service);
    TestSequencerClient other("Comeback");
    const int port = other.createDuplexPort("Comeback In");
    ASSERT_GE(port, 0);
    const MIDIEndpointRef destination = alsa::makeRef(alsa::RefKind::Destination, other.id(), port);
    const auto note = packetList({0x90, 0x3c, 0x40});
    ASSERT_EQ(service.send(sender.output, destination, asList(note)), noErr);
    ASSERT_EQ(other.deletePort(port), 0);
    ASSERT_EQ(other.createDuplexPort("Comeback In"), port); // the same address
    ASSERT_EQ(service.send(sender.output, destination, asList(note)), noErr);

    snd_seq_t* seq = nullptr;
    ASSERT_EQ(snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
    snd_seq_port_subscribe_t* sub = nullptr;
    snd_seq_port_subscribe_alloca(&sub);
    const auto from = alsa::splitRef(sender.output);
    const snd_seq_addr_t sender_{static_cast<unsigned char>(from.client),
                                 static_cast<unsigned char>(from.port)};
    const snd_seq_addr_t dest{static_cast<unsigned char>(other.id()),
                              static_cast<unsigned char>(port)};
    snd_seq_port_subscribe_set_sender(sub, &sender_);
    snd_seq_port_subscribe_set_dest(sub, &dest);
    EXPECT_EQ(snd_seq_get_port_subscription(seq, sub), 0) << "the new port is subscribed";
    snd_seq_close(seq);
}

TEST(AlsaFlow, IdleCountsAnswerWithoutReadingTheKernelAgain) {
    REQUIRE_SEQUENCER();
    AlsaMidiService service;
    Sender sender(service);
    service.getNumberOfSources(); // the first count reads
    usleep(100 * 1000);           // the announcements of our own ports come in
    service.getNumberOfSources();
    const uint64_t reads = service.directoryReads();
    const uint64_t generation = service.endpointListGeneration();
    for (int i = 0; i < 20; ++i) {
        service.getNumberOfSources();
        service.getNumberOfDestinations();
    }
    EXPECT_EQ(service.directoryReads(), reads) << "nothing changed, nothing was read";
    EXPECT_EQ(service.endpointListGeneration(), generation) << "so a rescan may skip its walk";

    TestSequencerClient other("Newcomer");
    ASSERT_GE(other.createDuplexPort("Newcomer Port"), 0);
    const MIDIEndpointRef added = alsa::makeRef(alsa::RefKind::Source, other.id(), 0);
    bool found = false;
    for (int attempt = 0; attempt < 500 && !found; ++attempt) {
        for (ItemCount i = 0, n = service.getNumberOfSources(); i < n; ++i) {
            found = found || service.getSource(i) == added;
        }
        if (!found) {
            usleep(2000);
        }
    }
    EXPECT_TRUE(found) << "an announcement makes the next count read again";
    EXPECT_NE(service.endpointListGeneration(), generation) << "and tells the rescan to walk";
}

TEST(AlsaFlow, AUserWhoMayNotUseTheSequencerGetsNotPermitted) {
    REQUIRE_SEQUENCER();
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to become a user without access to /dev/snd/seq";
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(2);
        }
        AlsaMidiService service;
        MIDIClientRef client = 0;
        const OSStatus s =
            service.clientCreate("ZelMidi MIDI Client", ignoreNotice, nullptr, &client);
        _exit(s == kMIDINotPermitted ? 0 : s == kMIDIServerStartErr ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: reported as no MIDI system; 2: could not drop root";
}
