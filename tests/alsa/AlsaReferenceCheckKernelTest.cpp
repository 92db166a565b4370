// The one check of references on the real kernel sequencer (run in the VM): each call that takes
// one of our ports or endpoints accepts what it was handed out and answers anything else with its
// own status, also a reference of the wrong kind to a port that does exist.
#include "AlsaTestClient.h"
#include "alsa/AlsaMidiService.h"
#include "alsa/AlsaRefs.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

using alsa::makeRef;
using alsa::RefKind;
using alsa::splitRef;

namespace {

void ignoreNotice(const MIDINotification*, void*) {}
void ignoreRead(const MIDIPacketList*, void*, void*) {}

// The same port under another kind of reference.
MIDIObjectRef retag(MIDIObjectRef ref, RefKind kind) {
    const auto parts = splitRef(ref);
    return makeRef(kind, parts.client, parts.port);
}

struct Refs {
    MIDIPortRef output = 0;
    MIDIPortRef input = 0;
    MIDIEndpointRef source = 0;      // our virtual source
    MIDIEndpointRef destination = 0; // our virtual destination
    MIDIEndpointRef otherSource = 0; // another program's duplex port
    MIDIEndpointRef otherDestination = 0;
    const MIDIPacketList* note = nullptr;
};

struct RefCase {
    const char* name;
    std::function<OSStatus(AlsaMidiService&, const Refs&)> call;
    OSStatus expected;
};

void PrintTo(const RefCase& c, std::ostream* os) {
    *os << c.name;
}

class AlsaReferenceCheck : public ::testing::TestWithParam<RefCase> {};

TEST_P(AlsaReferenceCheck, AnswersWithTheCallsOwnStatus) {
    if (!std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "no ALSA sequencer here; these tests run in the test VM (tools/vm)";
    }
    TestSequencerClient other("Reference Other");
    const int port = other.createDuplexPort("Reference Other Port");
    ASSERT_GE(port, 0);
    AlsaMidiService service;
    MIDIClientRef client = 0;
    Refs refs;
    ASSERT_EQ(service.clientCreate("ZelMidi MIDI Client", ignoreNotice, nullptr, &client), noErr);
    ASSERT_EQ(service.outputPortCreate(client, "Out", &refs.output), noErr);
    ASSERT_EQ(service.inputPortCreate(client, "In", ignoreRead, nullptr, &refs.input), noErr);
    ASSERT_EQ(service.sourceCreate(client, "Portwatch Source", &refs.source), noErr);
    ASSERT_EQ(service.destinationCreate(client, "Portwatch Destination", ignoreRead, nullptr,
                                        &refs.destination),
              noErr);
    refs.otherSource = makeRef(RefKind::Source, other.id(), port);
    refs.otherDestination = makeRef(RefKind::Destination, other.id(), port);
    alignas(8) uint8_t buffer[64];
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer);
    const uint8_t bytes[] = {0x90, 0x3c, 0x40};
    packetListAdd(list, sizeof buffer, packetListInit(list, sizeof buffer), 0, sizeof bytes, bytes);
    refs.note = list;

    EXPECT_EQ(GetParam().call(service, refs), GetParam().expected);
}

const RefCase kCases[] = {
    {"ConnectAnotherProgramsSource",
     [](auto& s, const Refs& r) { return s.portConnectSource(r.input, r.otherSource, nullptr); },
     noErr},
    {"ConnectFromTheOutputPort",
     [](auto& s, const Refs& r) { return s.portConnectSource(r.output, r.otherSource, nullptr); },
     kMIDIInvalidPort},
    {"ConnectADestination",
     [](auto& s, const Refs& r) {
         return s.portConnectSource(r.input, r.otherDestination, nullptr);
     },
     kMIDIWrongEndpointType},
    {"ConnectAnEntity",
     [](auto& s, const Refs& r) {
         return s.portConnectSource(r.input, retag(r.otherSource, RefKind::Entity), nullptr);
     },
     kMIDIUnknownEndpoint},
    {"DisconnectWhatIsNotConnected",
     [](auto& s, const Refs& r) { return s.portDisconnectSource(r.input, r.otherSource); },
     kMIDINoConnection},
    {"DisconnectThroughAVirtualEndpoint",
     [](auto& s, const Refs& r) {
         return s.portDisconnectSource(retag(r.destination, RefKind::Port), r.otherSource);
     },
     kMIDIInvalidPort},
    {"SendToAnotherProgram",
     [](auto& s, const Refs& r) { return s.send(r.output, r.otherDestination, r.note); }, noErr},
    {"SendFromTheInputPort",
     [](auto& s, const Refs& r) { return s.send(r.input, r.otherDestination, r.note); },
     kMIDIInvalidPort},
    {"SendToASource",
     [](auto& s, const Refs& r) { return s.send(r.output, r.otherSource, r.note); },
     kMIDIWrongEndpointType},
    {"SendNoList",
     [](auto& s, const Refs& r) { return s.send(r.output, r.otherDestination, nullptr); },
     kMIDIUnknownError},
    {"PublishAtTheVirtualSource",
     [](auto& s, const Refs& r) { return s.received(r.source, r.note); }, noErr},
    {"PublishAtTheVirtualDestination",
     [](auto& s, const Refs& r) {
         return s.received(retag(r.destination, RefKind::Source), r.note);
     },
     kMIDIUnknownEndpoint},
    {"DisposeTheOutputPort", [](auto& s, const Refs& r) { return s.portDispose(r.output); }, noErr},
    {"DisposeTheVirtualSourceAsAPort",
     [](auto& s, const Refs& r) { return s.portDispose(retag(r.source, RefKind::Port)); },
     kMIDIInvalidPort},
    {"DisposeTheVirtualDestination",
     [](auto& s, const Refs& r) { return s.endpointDispose(r.destination); }, noErr},
    {"DisposeTheVirtualDestinationAsASource",
     [](auto& s, const Refs& r) {
         return s.endpointDispose(retag(r.destination, RefKind::Source));
     },
     kMIDIUnknownEndpoint},
    {"DisposeTheInputPortAsAnEndpoint",
     [](auto& s, const Refs& r) { return s.endpointDispose(retag(r.input, RefKind::Source)); },
     kMIDIUnknownEndpoint},
    {"DisposeAnotherProgramsEndpoint",
     [](auto& s, const Refs& r) { return s.endpointDispose(r.otherSource); }, kMIDIUnknownEndpoint},
};

INSTANTIATE_TEST_SUITE_P(Calls, AlsaReferenceCheck, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
