// The packet-list helpers: the classic unpadded layout, and no read or write past the buffer.
#include "MidiService.h"

#include <array>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

TEST(PacketList, PacketsFollowEachOtherWithoutPadding) {
    alignas(MIDIPacketList) std::array<uint8_t, 64> buffer{};
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketPtr p = packetListInit(list, buffer.size());
    ASSERT_EQ(p, buffer.data() + 4);

    const auto three = bytes(3, 0x90);
    const auto two = bytes(2, 0xC0);
    MIDIPacketPtr first = packetListAdd(list, buffer.size(), p, 7, three.size(), three.data());
    MIDIPacketPtr second = packetListAdd(list, buffer.size(), first, 9, two.size(), two.data());
    ASSERT_EQ(first, buffer.data() + 4);
    // 4 (count) + 8 (time) + 2 (length) + 3 bytes: the second packet starts at an odd offset.
    ASSERT_EQ(second, buffer.data() + 17);

    EXPECT_EQ(packetListCount(list), 2u);
    EXPECT_EQ(packetTimeStamp(first), 7u);
    EXPECT_EQ(packetLength(first), 3u);
    EXPECT_EQ(packetData(first)[2], 0x92);
    EXPECT_EQ(packetNext(first), second);
    EXPECT_EQ(packetTimeStamp(second), 9u);
    EXPECT_EQ(packetData(second)[1], 0xC1);
    EXPECT_EQ(packetListByteSize(list), 17u + 10u + 2u);

    setPacketTimeStamp(second, 0x1122334455667788u);
    EXPECT_EQ(packetTimeStamp(second), 0x1122334455667788u);
    EXPECT_EQ(packetLength(second), 2u) << "writing the time must not touch the length";
}

TEST(PacketList, RefusesWhatDoesNotFitAndLeavesTheListAlone) {
    // Guard bytes after the buffer the helpers are told about catch any overrun.
    alignas(MIDIPacketList) std::array<uint8_t, 40> storage;
    storage.fill(0xAA);
    constexpr size_t kGiven = 32;
    auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());

    EXPECT_EQ(packetListInit(list, 3), nullptr) << "no room for the count";
    MIDIPacketPtr p = packetListInit(list, kGiven);
    ASSERT_NE(p, nullptr);

    const auto eighteen = bytes(18);
    const auto nineteen = bytes(19);
    // 4 + 10 + 18 = 32 fits exactly; 19 bytes would need 33.
    EXPECT_EQ(packetListAdd(list, kGiven, p, 0, nineteen.size(), nineteen.data()), nullptr);
    EXPECT_EQ(packetListCount(list), 0u);
    MIDIPacketPtr full = packetListAdd(list, kGiven, p, 0, eighteen.size(), eighteen.data());
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(packetListAdd(list, kGiven, full, 0, 0, nullptr), nullptr) << "no room for a header";
    EXPECT_EQ(packetListCount(list), 1u);

    for (size_t i = kGiven; i < storage.size(); ++i) {
        EXPECT_EQ(storage[i], 0xAA) << "byte " << i << " past the buffer was written";
    }
}

TEST(PacketList, RefusesBadArguments) {
    alignas(MIDIPacketList) std::array<uint8_t, 64> buffer{};
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketPtr p = packetListInit(list, buffer.size());
    const uint8_t one = 1;
    EXPECT_EQ(packetListAdd(list, buffer.size(), nullptr, 0, 1, &one), nullptr);
    EXPECT_EQ(packetListAdd(list, buffer.size(), p, 0, 1, nullptr), nullptr);
    EXPECT_EQ(packetListAdd(list, buffer.size(), p, 0, 65536, &one), nullptr);
    EXPECT_EQ(packetListAdd(list, buffer.size(), buffer.data() + 65, 0, 1, &one), nullptr)
        << "a position outside the buffer";
    EXPECT_EQ(packetListCount(list), 0u);
}

TEST(PacketList, HoldsTheLargestPacket) {
    std::vector<uint32_t> storage((65535 + 14 + 3) / 4);
    auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());
    const size_t size = storage.size() * 4;
    const auto data = bytes(65535);
    MIDIPacketPtr p =
        packetListAdd(list, size, packetListInit(list, size), 0, data.size(), data.data());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(packetLength(p), 65535u);
    EXPECT_EQ(packetData(p)[65534], data[65534]);
}

} // namespace
