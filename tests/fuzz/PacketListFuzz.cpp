// The packet-list helpers on a buffer of any size and content: every add that fits lands, every
// add that does not leaves the list as it was, and walking the list gives back what was added.
#include "FuzzCheck.h"
#include "MidiService.h"
#include "OnePacketList.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Added {
    MIDITimeStamp time;
    std::vector<uint8_t> data;
};

void checkOnePacketList(const uint8_t* data, size_t size) {
    const auto n = static_cast<uint32_t>(size < 65535 ? size : 65535);
    bool delivered = false;
    zelmidi_detail::withOnePacketList(data, n, [&](const MIDIPacketList* list) {
        delivered = true;
        FUZZ_CHECK(packetListCount(list) == 1);
        const MIDIConstPacketPtr p = packetListFirst(list);
        FUZZ_CHECK(packetTimeStamp(p) == 0);
        FUZZ_CHECK(packetLength(p) == n);
        FUZZ_CHECK(n == 0 || std::memcmp(packetData(p), data, n) == 0);
    });
    FUZZ_CHECK(delivered);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkOnePacketList(data, size);

    FuzzInput in(data, size);
    const size_t bufferSize = in.u16() % 2048;
    // Exactly bufferSize bytes, filled with input, so any write or read outside is seen.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize == 0 ? 1 : bufferSize]);
    size_t filled = 0;
    const uint8_t* fill = in.take(bufferSize, &filled);
    std::memcpy(buffer.get(), fill, filled);

    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.get());
    MIDIPacketPtr current = packetListInit(list, bufferSize);
    if (bufferSize < kPacketListHeaderSize) {
        FUZZ_CHECK(current == nullptr);
        return 0;
    }
    FUZZ_CHECK(current != nullptr && packetListCount(list) == 0);

    std::vector<Added> added;
    size_t used = kPacketListHeaderSize;
    while (!in.empty()) {
        const MIDITimeStamp time = in.byte();
        // Mostly small packets, now and then one at or past the 16-bit limit.
        const uint8_t sizeByte = in.byte();
        size_t n = sizeByte & 0x7f;
        if (sizeByte == 0xff) {
            n = kMaxPacketDataSize + (in.byte() & 1);
        }
        size_t taken = 0;
        const uint8_t* bytes = in.take(n, &taken);
        std::vector<uint8_t> packet(bytes, bytes + taken);
        packet.resize(n, 0x5a);

        const bool fits = n <= kMaxPacketDataSize && used + kPacketHeaderSize + n <= bufferSize;
        MIDIPacketPtr next =
            packetListAdd(list, bufferSize, current, time, packet.size(), packet.data());
        FUZZ_CHECK((next != nullptr) == fits);
        FUZZ_CHECK(packetListCount(list) == added.size() + (fits ? 1 : 0));
        if (fits) {
            added.push_back({time, std::move(packet)});
            used += kPacketHeaderSize + n;
            current = next;
        }
    }

    MIDIConstPacketPtr p = packetListFirst(static_cast<const MIDIPacketList*>(list));
    for (const Added& a : added) {
        FUZZ_CHECK(packetTimeStamp(p) == a.time);
        FUZZ_CHECK(packetLength(p) == a.data.size());
        FUZZ_CHECK(a.data.empty() || std::memcmp(packetData(p), a.data.data(), a.data.size()) == 0);
        p = packetNext(p);
    }
    FUZZ_CHECK(packetListByteSize(list) == used);
    return 0;
}
