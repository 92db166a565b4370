// The backend's unique IDs: fresh, non-zero, never held by two objects.
#include "alsa/AlsaUniqueIds.h"

#include <gtest/gtest.h>
#include <set>

using alsa::UniqueIds;

TEST(AlsaUniqueIds, EachObjectKeepsAFreshNonZeroIdOfItsOwn) {
    UniqueIds ids(1);
    std::set<MIDIUniqueID> seen;
    for (MIDIObjectRef object = 1; object <= 500; ++object) {
        const MIDIUniqueID id = ids.idFor(object);
        EXPECT_NE(id, 0);
        EXPECT_TRUE(seen.insert(id).second);
        EXPECT_EQ(ids.idFor(object), id) << "an object's ID does not change";
    }
}

TEST(AlsaUniqueIds, SettingAnIdAnotherObjectHoldsFails) {
    UniqueIds ids(2);
    const MIDIUniqueID taken = ids.idFor(10);
    const MIDIUniqueID mine = ids.idFor(11);
    EXPECT_EQ(ids.set(11, taken), kMIDIIDNotUnique);
    EXPECT_EQ(ids.idFor(11), mine) << "a refused value changes nothing";
    EXPECT_EQ(ids.set(11, mine), noErr) << "an object may be given the ID it has";
}

TEST(AlsaUniqueIds, AFreeIdIsTakenAndTheOldOneFreed) {
    UniqueIds ids(3);
    const MIDIUniqueID old = ids.idFor(20);
    EXPECT_EQ(ids.set(20, -123456), noErr) << "negative IDs are IDs";
    EXPECT_EQ(ids.idFor(20), -123456);
    EXPECT_EQ(ids.set(21, old), noErr) << "the value given up is free again";
    EXPECT_EQ(ids.set(21, 0), kMIDIUnknownError);
}

TEST(AlsaUniqueIds, ReleasedObjectsFreeTheirIds) {
    UniqueIds ids(4);
    ids.set(30, 77);
    ids.set(31, 78);
    ids.set(40, 79);
    ids.release(30);
    EXPECT_EQ(ids.set(50, 77), noErr);
    ids.releaseIf([](MIDIObjectRef r) { return r >= 31 && r < 50; });
    EXPECT_EQ(ids.set(51, 78), noErr);
    EXPECT_EQ(ids.set(52, 79), noErr);
    EXPECT_EQ(ids.set(53, 77), kMIDIIDNotUnique) << "object 50 still holds it";
}
