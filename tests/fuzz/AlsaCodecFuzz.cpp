// The ALSA codec both ways. Bytes to events: the same bytes encoded in one call or split in two
// decode to the same byte stream, SysEx chunks stay within their limit and point into the input,
// and the packet-list builder hands on exactly what it was given. Events to bytes: an event of
// any type and content decodes without reading outside it.
#include "FuzzCheck.h"
#include "alsa/AlsaCodec.h"

#include <cstring>
#include <vector>

namespace {

// Encodes `parts` in turn and returns the decoded bytes of every event.
std::vector<uint8_t> roundTrip(const std::vector<std::pair<const uint8_t*, size_t>>& parts,
                               size_t chunk) {
    alsa::EventEncoder encoder(chunk);
    alsa::EventDecoder decoder;
    FUZZ_CHECK(encoder.valid());
    std::vector<uint8_t> out;
    for (const auto& part : parts) {
        const uint8_t* const bytes = part.first;
        const size_t size = part.second;
        const int r = encoder.encode(bytes, size, [&](snd_seq_event_t& ev) {
            if (ev.type == SND_SEQ_EVENT_SYSEX) {
                const auto* p = static_cast<const uint8_t*>(ev.data.ext.ptr);
                FUZZ_CHECK(ev.data.ext.len >= 1 && ev.data.ext.len <= chunk);
                FUZZ_CHECK(p >= bytes && p + ev.data.ext.len <= bytes + size);
            }
            const auto decoded = decoder.decode(ev);
            out.insert(out.end(), decoded.begin(), decoded.end());
            return 0;
        });
        FUZZ_CHECK(r == 0);
    }
    return out;
}

void checkBuilder(const std::vector<uint8_t>& bytes, size_t capacity) {
    std::vector<uint8_t> delivered;
    size_t packets = 0;
    alsa::PacketListBuilder builder(
        [&](const MIDIPacketList* list) {
            MIDIConstPacketPtr p = packetListFirst(list);
            for (uint32_t i = 0; i < packetListCount(list); ++i, p = packetNext(p)) {
                FUZZ_CHECK(packetTimeStamp(p) == 7);
                delivered.insert(delivered.end(), packetData(p), packetData(p) + packetLength(p));
                ++packets;
            }
        },
        capacity);
    // One add per 100 bytes, so lists fill up and are handed on mid-way.
    size_t adds = 0;
    for (size_t at = 0; at < bytes.size(); at += 100, ++adds) {
        builder.add(7, bytes.data() + at, std::min<size_t>(100, bytes.size() - at));
    }
    builder.flush();
    FUZZ_CHECK(builder.empty());
    FUZZ_CHECK(delivered == bytes);
    FUZZ_CHECK(packets == adds);
}

void decodeArbitraryEvent(FuzzInput& in) {
    snd_seq_event_t ev{};
    ev.type = in.byte();
    ev.flags = in.byte();
    size_t taken = 0;
    const uint8_t* raw = in.take(sizeof ev.data, &taken);
    std::memcpy(&ev.data, raw, taken);
    if (ev.type == SND_SEQ_EVENT_SYSEX) {
        // A SysEx event points at its bytes: let it point at the rest of the input.
        size_t length = 0;
        const uint8_t* bytes = in.take(in.remaining(), &length);
        ev.data.ext.len = static_cast<unsigned int>(length);
        ev.data.ext.ptr = length > 0 ? const_cast<uint8_t*>(bytes) : nullptr;
    }
    alsa::EventDecoder decoder;
    const auto decoded = decoder.decode(ev);
    if (ev.type != SND_SEQ_EVENT_SYSEX) {
        FUZZ_CHECK(decoded.size() <= 32);
    }
    volatile uint8_t sink = 0;
    for (const uint8_t b : decoded) {
        sink = static_cast<uint8_t>(sink ^ b); // every byte of the answer is readable
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const size_t chunk = 1 + in.byte() % 64;
    const size_t split = in.byte();
    const size_t capacity = in.u16();
    size_t n = 0;
    const uint8_t* bytes = in.take(in.remaining(), &n);

    // Each part in its own allocation, so a read across the split is seen.
    const size_t at = n == 0 ? 0 : split % (n + 1);
    const std::vector<uint8_t> whole(bytes, bytes + n);
    const std::vector<uint8_t> head(bytes, bytes + at);
    const std::vector<uint8_t> tail(bytes + at, bytes + n);
    const auto once = roundTrip({{whole.data(), whole.size()}}, chunk);
    const auto twice = roundTrip({{head.data(), head.size()}, {tail.data(), tail.size()}}, chunk);
    FUZZ_CHECK(once == twice);

    checkBuilder(once, capacity);

    FuzzInput events(data, size);
    decodeArbitraryEvent(events);
    return 0;
}
