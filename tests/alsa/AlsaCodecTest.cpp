// Bytes to sequencer events and back, and the packet lists built on the receive side.
#include "alsa/AlsaCodec.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

using alsa::EventDecoder;
using alsa::EventEncoder;
using alsa::PacketListBuilder;
using Bytes = std::vector<uint8_t>;

namespace {

struct Captured {
    int type;
    Bytes sysEx;           // SYSEX payload
    snd_seq_event_t event; // the event as encoded (ext pointer not valid later)
};

std::vector<Captured> encode(EventEncoder& encoder, const Bytes& bytes) {
    std::vector<Captured> out;
    const int r = encoder.encode(bytes.data(), bytes.size(), [&](snd_seq_event_t& ev) {
        Captured c{ev.type, {}, ev};
        if (ev.type == SND_SEQ_EVENT_SYSEX) {
            EXPECT_TRUE(snd_seq_ev_is_variable(&ev));
            const auto* p = static_cast<const uint8_t*>(ev.data.ext.ptr);
            c.sysEx.assign(p, p + ev.data.ext.len);
        }
        out.push_back(c);
        return 0;
    });
    EXPECT_EQ(r, 0);
    return out;
}

Bytes decodeAll(const std::vector<Captured>& events) {
    EventDecoder decoder;
    Bytes out;
    for (Captured c : events) {
        if (c.type == SND_SEQ_EVENT_SYSEX) {
            c.event.data.ext.ptr = c.sysEx.data();
            c.event.data.ext.len = static_cast<unsigned>(c.sysEx.size());
        }
        const auto bytes = decoder.decode(c.event);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

} // namespace

TEST(AlsaCodec, ChannelMessagesBecomeOneEventEachAndDecodeWithTheirStatus) {
    EventEncoder encoder;
    // The second note on uses running status; the decoder writes its status again.
    const auto events =
        encode(encoder, {0x90, 0x3c, 0x40, 0x3e, 0x41, 0xb1, 0x07, 0x64, 0xc2, 0x05});
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(events[1].type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(events[1].event.data.note.note, 0x3e);
    EXPECT_EQ(events[2].type, SND_SEQ_EVENT_CONTROLLER);
    EXPECT_EQ(events[3].type, SND_SEQ_EVENT_PGMCHANGE);
    EXPECT_EQ(decodeAll(events),
              (Bytes{0x90, 0x3c, 0x40, 0x90, 0x3e, 0x41, 0xb1, 0x07, 0x64, 0xc2, 0x05}));
}

TEST(AlsaCodec, TheEnterDfuSysExIsOneEventWithTheBytesAsTheyAre) {
    EventEncoder encoder;
    const Bytes sysEx{0xf0, 0x60, 0x07, 0x10, 0x4d, 0xf7};
    const auto events = encode(encoder, sysEx);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sysEx, sysEx);
    EXPECT_EQ(decodeAll(events), sysEx);
}

TEST(AlsaCodec, RealTimeBytesInsideASysExSplitItAndKeepTheirPlace) {
    EventEncoder encoder;
    const Bytes wire{0xf0, 0x7e, 0x01, 0xf8, 0x02, 0x03, 0xfe, 0x04, 0xf7};
    const auto events = encode(encoder, wire);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].sysEx, (Bytes{0xf0, 0x7e, 0x01}));
    EXPECT_EQ(events[1].type, SND_SEQ_EVENT_CLOCK);
    EXPECT_EQ(events[2].sysEx, (Bytes{0x02, 0x03}));
    EXPECT_EQ(events[3].type, SND_SEQ_EVENT_SENSING);
    EXPECT_EQ(events[4].sysEx, (Bytes{0x04, 0xf7}));
    EXPECT_EQ(decodeAll(events), wire);
}

TEST(AlsaCodec, LongSysExGoesOutInChunksThatJoinBackToTheMessage) {
    EventEncoder encoder(256);
    Bytes sysEx(65535);
    std::iota(sysEx.begin() + 1, sysEx.end() - 1, uint8_t{0});
    for (auto& b : sysEx) {
        b &= 0x7f;
    }
    sysEx.front() = 0xf0;
    sysEx.back() = 0xf7;
    const auto events = encode(encoder, sysEx);
    ASSERT_EQ(events.size(), (65535u + 255u) / 256u);
    for (const auto& e : events) {
        EXPECT_EQ(e.type, SND_SEQ_EVENT_SYSEX);
        EXPECT_LE(e.sysEx.size(), 256u);
    }
    EXPECT_EQ(decodeAll(events), sysEx);
}

TEST(AlsaCodec, ASysExMaySpanPacketsAndAStatusByteEndsAnUnfinishedOne) {
    EventEncoder encoder;
    auto first = encode(encoder, {0xf0, 0x01, 0x02});
    auto second = encode(encoder, {0x03, 0xf7, 0x80, 0x3c, 0x00});
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].sysEx, (Bytes{0x03, 0xf7}));
    EXPECT_EQ(second[1].type, SND_SEQ_EVENT_NOTEOFF);

    const auto cut = encode(encoder, {0xf0, 0x01, 0x90, 0x3c, 0x40});
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].sysEx, (Bytes{0xf0, 0x01}));
    EXPECT_EQ(cut[1].type, SND_SEQ_EVENT_NOTEON);
}

TEST(AlsaCodec, BytesThatCarryNoMessageAreDropped) {
    EventEncoder encoder;
    EXPECT_TRUE(encode(encoder, {0x3c, 0x40, 0xf7}).empty()) << "data without status, stray end";
    EventDecoder decoder;
    snd_seq_event_t ev{};
    ev.type = SND_SEQ_EVENT_PORT_SUBSCRIBED;
    EXPECT_TRUE(decoder.decode(ev).empty());
}

TEST(AlsaCodec, ASinkFailureStopsTheEncoding) {
    EventEncoder encoder;
    const Bytes bytes{0x90, 0x3c, 0x40, 0x90, 0x3e, 0x40};
    int calls = 0;
    EXPECT_EQ(encoder.encode(bytes.data(), bytes.size(),
                             [&](snd_seq_event_t&) {
                                 ++calls;
                                 return -EAGAIN;
                             }),
              -EAGAIN);
    EXPECT_EQ(calls, 1);
}

namespace {
struct Delivered {
    std::vector<std::vector<Bytes>> lists;
    std::vector<std::vector<MIDITimeStamp>> times;
    void operator()(const MIDIPacketList* list) {
        lists.emplace_back();
        times.emplace_back();
        MIDIConstPacketPtr p = packetListFirst(list);
        for (uint32_t i = 0; i < packetListCount(list); ++i, p = packetNext(p)) {
            lists.back().emplace_back(packetData(p), packetData(p) + packetLength(p));
            times.back().push_back(packetTimeStamp(p));
        }
    }
};
} // namespace

TEST(AlsaPacketListBuilder, EachAddIsItsOwnPacketUntilTheListIsFlushed) {
    Delivered got;
    PacketListBuilder builder([&](const MIDIPacketList* l) { got(l); });
    const Bytes a{0xf0, 0x01}, b{0x02, 0xf7};
    builder.add(5, a.data(), a.size());
    builder.add(6, b.data(), b.size());
    EXPECT_TRUE(got.lists.empty());
    builder.flush();
    builder.flush(); // nothing more to hand on
    ASSERT_EQ(got.lists.size(), 1u);
    EXPECT_EQ(got.lists[0], (std::vector<Bytes>{a, b}));
    EXPECT_EQ(got.times[0], (std::vector<MIDITimeStamp>{5, 6}));
    EXPECT_TRUE(builder.empty());
}

TEST(AlsaPacketListBuilder, LongDataIsSplitAndAFullListIsHandedOnFirst) {
    Delivered got;
    PacketListBuilder builder([&](const MIDIPacketList* l) { got(l); }, 0);
    const Bytes big(70000, 0x11);
    builder.add(1, big.data(), big.size());
    builder.flush();
    ASSERT_EQ(got.lists.size(), 2u) << "the minimum capacity holds one largest packet";
    EXPECT_EQ(got.lists[0].at(0).size(), 65535u);
    EXPECT_EQ(got.lists[1].at(0).size(), 70000u - 65535u);
}
