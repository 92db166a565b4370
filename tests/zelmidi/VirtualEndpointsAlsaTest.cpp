// The session's virtual endpoints on the real kernel sequencer, as another program sees them:
// it finds "Portwatch Source" and "Portwatch Destination", what it sends to the destination
// reaches the session's receivers, and what the session publishes at the source reaches it.
#include "SeqTestSupport.h"
#include "ZelMidi.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <alsa/asoundlib.h>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace seqtest;

struct Port {
    snd_seq_addr_t addr{};
    std::string clientName;
    unsigned capability = 0;
};

// Every port of every other client whose name is `name`.
std::vector<Port> portsNamed(snd_seq_t* seq, const std::string& name) {
    std::vector<Port> found;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            if (name == snd_seq_port_info_get_name(port)) {
                found.push_back(Port{*snd_seq_port_info_get_addr(port),
                                     snd_seq_client_info_get_name(client),
                                     snd_seq_port_info_get_capability(port)});
            }
        }
    }
    return found;
}

// Waits for the first event of `type` that comes from `from`.
std::optional<snd_seq_event_t> waitForEventFrom(snd_seq_t* seq, snd_seq_event_type_t type,
                                                snd_seq_addr_t from) {
    return waitForEvent(seq, [&](const snd_seq_event_t& ev) {
        return ev.type == type && ev.source.client == from.client && ev.source.port == from.port;
    });
}

// Collects the bytes of every packet list that reaches a source, on the receive thread.
class ByteCollector : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource& /*source*/, const MIDIPacketList* list) override {
        std::lock_guard lock(mutex_);
        MIDIConstPacketPtr p = packetListFirst(list);
        for (uint32_t i = 0, n = packetListCount(list); i < n; ++i) {
            bytes_.insert(bytes_.end(), packetData(p), packetData(p) + packetLength(p));
            p = packetNext(p);
        }
        changed_.notify_all();
    }
    // Waits until at least `count` bytes have arrived; returns what arrived.
    std::vector<uint8_t> waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kWaitLimit, [&] { return bytes_.size() >= count; });
        return bytes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> bytes_;
};

TEST(VirtualEndpointsAlsaTest, AnotherProgramSeesSendsToAndHearsTheVirtualEndpoints) {
    if (access("/dev/snd/seq", F_OK) != 0) {
        GTEST_SKIP() << "no kernel sequencer (/dev/snd/seq); tools/vm/run-alsa-tests.sh runs "
                        "this test in the test VM";
    }
    // The virtual destination saves its unique ID; keep that away from the user's settings.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settingsDir;
    ASSERT_TRUE(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    const Seq other = openSeq("Other Program");
    ASSERT_TRUE(other);
    const int otherPort =
        snd_seq_create_simple_port(other.get(), "Other Port",
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(otherPort, 0);

    const std::shared_ptr<ZelMidi> midi = ZelMidi::create(MidiService::platformDefault());
    midi->setVirtualSourceEnabled(true);
    midi->setVirtualDestinationEnabled(true);
    ASSERT_TRUE(midi->virtualSourceEnabled());
    ASSERT_TRUE(midi->virtualDestinationEnabled());

    // The other program finds both, readable and writable as their names say.
    const std::vector<Port> sources = portsNamed(other.get(), "Portwatch Source");
    const std::vector<Port> destinations = portsNamed(other.get(), "Portwatch Destination");
    ASSERT_EQ(sources.size(), 1u);
    ASSERT_EQ(destinations.size(), 1u);
    EXPECT_EQ(sources[0].clientName, "ZelMidi MIDI Client");
    EXPECT_EQ(destinations[0].clientName, "ZelMidi MIDI Client");
    const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    EXPECT_EQ(sources[0].capability & readable, readable);
    EXPECT_EQ(destinations[0].capability & writable, writable);

    // It sends a note to the destination: the session's receivers get its bytes.
    auto collector = std::make_shared<ByteCollector>();
    midi->virtualDestinationSource()->addDelegate(collector);
    snd_seq_event_t note;
    snd_seq_ev_clear(&note);
    snd_seq_ev_set_source(&note, static_cast<unsigned char>(otherPort));
    snd_seq_ev_set_dest(&note, destinations[0].addr.client, destinations[0].addr.port);
    snd_seq_ev_set_direct(&note);
    snd_seq_ev_set_noteon(&note, 0, 60, 100);
    ASSERT_GE(snd_seq_event_output_direct(other.get(), &note), 0);
    EXPECT_EQ(collector->waitFor(3), (std::vector<uint8_t>{0x90, 60, 100}));

    // It listens to the source: what the session publishes there reaches it.
    ASSERT_EQ(
        snd_seq_connect_from(other.get(), otherPort, sources[0].addr.client, sources[0].addr.port),
        0);
    const uint8_t change[] = {0xb3, 7, 99};
    midi->virtualSourceDestination()->sendBytes(change, sizeof change);
    const auto heard = waitForEventFrom(other.get(), SND_SEQ_EVENT_CONTROLLER, sources[0].addr);
    ASSERT_TRUE(heard.has_value()) << "nothing arrived from Portwatch Source";
    EXPECT_EQ(heard->data.control.channel, 3);
    EXPECT_EQ(heard->data.control.param, 7u);
    EXPECT_EQ(heard->data.control.value, 99);

    // The session never lists its own endpoints, also not after a rescan of the real ports.
    midi->scanExistingDevices();
    EXPECT_EQ(midi->findSourceCalled(midi->virtualDestinationSource()->name()), nullptr);
    EXPECT_EQ(midi->findDestinationCalled(midi->virtualSourceDestination()->name()), nullptr);
    for (const auto& source : midi->sources()) {
        EXPECT_NE(source->endpoint(), midi->virtualDestinationEndpoint());
        EXPECT_NE(source->endpoint(), midi->virtualSourceEndpoint());
    }

    // Switched off, both are gone for the other program.
    midi->virtualDestinationSource()->removeDelegate(collector.get());
    midi->setVirtualSourceEnabled(false);
    midi->setVirtualDestinationEnabled(false);
    EXPECT_TRUE(portsNamed(other.get(), "Portwatch Source").empty());
    EXPECT_TRUE(portsNamed(other.get(), "Portwatch Destination").empty());
}

} // namespace
