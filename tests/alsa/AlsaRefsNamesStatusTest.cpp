// Reference encoding, display-name composition and status mapping of the ALSA backend.
#include "alsa/AlsaNames.h"
#include "alsa/AlsaRefs.h"
#include "alsa/AlsaStatus.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <set>

using namespace alsa;

TEST(AlsaRefs, SplitGivesBackKindClientAndPortForEveryAddress) {
    std::set<MIDIObjectRef> seen;
    for (const RefKind kind :
         {RefKind::Client, RefKind::Port, RefKind::Source, RefKind::Destination, RefKind::Entity}) {
        for (const int client : {0, 1, 14, 128, 191, 255}) {
            for (const int port : {0, 1, 127, 254, 255}) {
                const MIDIObjectRef ref = makeRef(kind, client, port);
                ASSERT_NE(ref, 0u);
                const RefParts parts = splitRef(ref);
                EXPECT_EQ(parts.kind, kind);
                EXPECT_EQ(parts.client, client);
                EXPECT_EQ(parts.port, port);
                EXPECT_TRUE(seen.insert(ref).second) << "two objects share " << ref;
            }
        }
    }
}

TEST(AlsaRefs, APortThatIsBothDirectionsGivesTwoReferences) {
    EXPECT_NE(makeRef(RefKind::Source, 20, 0), makeRef(RefKind::Destination, 20, 0));
    EXPECT_NE(makeRef(RefKind::Source, 20, 0), makeRef(RefKind::Entity, 20, 0));
}

TEST(AlsaRefs, OutOfRangeAndForeignValuesAreNoObject) {
    EXPECT_EQ(makeRef(RefKind::None, 1, 1), 0u);
    EXPECT_EQ(makeRef(RefKind::Source, 256, 0), 0u);
    EXPECT_EQ(makeRef(RefKind::Source, 0, 256), 0u);
    EXPECT_EQ(makeRef(RefKind::Source, -1, 0), 0u);
    EXPECT_EQ(splitRef(0).kind, RefKind::None);
    EXPECT_EQ(splitRef(0x06000000u).kind, RefKind::None); // unknown kind
    EXPECT_EQ(splitRef(makeRef(RefKind::Source, 1, 1) | 0x00010000u).kind, RefKind::None);
}

TEST(AlsaNames, PortNamesThatStartWithTheDeviceNameAreUsedAsTheyAre) {
    EXPECT_EQ(composeDisplayName("Mirt VQ320", "Mirt VQ320 MIDI 1"), "Mirt VQ320 MIDI 1");
    EXPECT_EQ(composeDisplayName("Midi Through", "Midi Through Port-0"), "Midi Through Port-0");
    EXPECT_EQ(composeDisplayName("VQ320", "vq320 MIDI 1"), "vq320 MIDI 1");
    EXPECT_EQ(composeDisplayName("Keyboard", "Keyboard"), "Keyboard");
}

TEST(AlsaNames, OtherPortNamesFollowTheDeviceNameWithoutTheSharedWords) {
    EXPECT_EQ(composeDisplayName("Virtual Raw MIDI 0-0", "VirMIDI 0-0"),
              "Virtual Raw MIDI 0-0 VirMIDI 0-0");
    EXPECT_EQ(composeDisplayName("Mirt VQ320", "Mirt Port 1"), "Mirt VQ320 Port 1");
    EXPECT_EQ(composeDisplayName("Mirt VQ320", "Mirt"), "Mirt VQ320");
    // Only whole words count as shared.
    EXPECT_EQ(composeDisplayName("Mirt", "MirtPort"), "Mirt MirtPort");
}

TEST(AlsaNames, EmptyPartsAndExtraSpaces) {
    EXPECT_EQ(composeDisplayName("", "Port 1"), "Port 1");
    EXPECT_EQ(composeDisplayName("Device", ""), "Device");
    EXPECT_EQ(composeDisplayName("", ""), "");
    EXPECT_EQ(composeDisplayName("  Mirt   VQ320 ", "Mirt  VQ320   MIDI 1 "),
              "Mirt  VQ320   MIDI 1");
}

TEST(AlsaStatus, SuccessAndCountsAreNoErr) {
    EXPECT_EQ(statusFromAlsa(0), noErr);
    EXPECT_EQ(statusFromAlsa(28), noErr);
}

TEST(AlsaStatus, ErrnoValuesBecomeMidiStatuses) {
    EXPECT_EQ(statusFromAlsa(-ENOENT), kMIDIObjectNotFound);
    EXPECT_EQ(statusFromAlsa(-ENXIO), kMIDIObjectNotFound);
    EXPECT_EQ(statusFromAlsa(-ENODEV), kMIDIObjectNotFound);
    EXPECT_EQ(statusFromAlsa(-EPERM), kMIDINotPermitted);
    EXPECT_EQ(statusFromAlsa(-EACCES), kMIDINotPermitted);
    EXPECT_EQ(statusFromAlsa(-EBUSY), kMIDINotPermitted);
    EXPECT_EQ(statusFromAlsa(-EAGAIN), kMIDIMessageSendErr);
    EXPECT_EQ(statusFromAlsa(-ENOSPC), kMIDIMessageSendErr);
    EXPECT_EQ(statusFromAlsa(-ENOMEM), kMIDIMessageSendErr);
    EXPECT_EQ(statusFromAlsa(-EINVAL), kMIDIUnknownError);
    for (int e = 1; e < 200; ++e) {
        EXPECT_NE(statusFromAlsa(-e), noErr) << "errno " << e;
    }
}

struct ClientCreateCase {
    int result;
    OSStatus status;
};

class AlsaClientCreateStatus : public ::testing::TestWithParam<ClientCreateCase> {};

TEST_P(AlsaClientCreateStatus, PermissionIsToldApartFromAMissingSequencer) {
    EXPECT_EQ(clientCreateStatus(GetParam().result), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Errno, AlsaClientCreateStatus,
                         ::testing::Values(ClientCreateCase{0, noErr},
                                           ClientCreateCase{-EACCES, kMIDINotPermitted},
                                           ClientCreateCase{-EPERM, kMIDINotPermitted},
                                           ClientCreateCase{-ENOENT, kMIDIServerStartErr},
                                           ClientCreateCase{-ENODEV, kMIDIServerStartErr},
                                           ClientCreateCase{-EBUSY, kMIDIServerStartErr},
                                           ClientCreateCase{-EAGAIN, kMIDIServerStartErr},
                                           ClientCreateCase{-ENOMEM, kMIDIServerStartErr}));
