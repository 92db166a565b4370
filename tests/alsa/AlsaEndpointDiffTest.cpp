// Which notices one batch of announcements gives: two snapshots of the kernel's ports and the
// exits the batch announced, without a kernel.
#include "alsa/AlsaEndpointDiff.h"

#include "alsa/AlsaRefs.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace alsa;

namespace {

// A port as "client:port" and the directions it has: "s" source, "d" destination, "" neither.
struct Port {
    int client;
    int port;
    std::string directions;
};

PortSnapshot snapshot(const std::vector<Port>& ports) {
    PortSnapshot s;
    for (const Port& p : ports) {
        KnownPort k;
        k.portName = QString::fromStdString("port " + std::to_string(p.port));
        k.source = p.directions.find('s') != std::string::npos;
        k.destination = p.directions.find('d') != std::string::npos;
        s[addressKey(p.client, p.port)] = k;
    }
    return s;
}

// "+S 130:0" for a source added, "-D 130:0" for a destination removed.
std::vector<std::string> render(const std::vector<EndpointChange>& changes) {
    std::vector<std::string> out;
    for (const EndpointChange& c : changes) {
        const RefParts parts = splitRef(c.endpoint);
        const bool source = parts.kind == RefKind::Source;
        EXPECT_EQ(c.type, source ? kMIDIObjectType_Source : kMIDIObjectType_Destination);
        out.push_back(std::string(c.id == kMIDIMsgObjectAdded ? "+" : "-") +
                      (source ? "S " : "D ") + std::to_string(parts.client) + ":" +
                      std::to_string(parts.port));
    }
    return out;
}

struct DiffCase {
    const char* name;
    std::vector<Port> before;
    std::vector<Port> after;
    std::vector<Port> portExits; // directions unused
    std::vector<int> clientExits;
    std::vector<std::string> expected;
};

class EndpointDiff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(EndpointDiff, GivesRemovalsThenAdditionsInAddressOrder) {
    const DiffCase& c = GetParam();
    AnnouncedExits exits;
    for (const Port& p : c.portExits) {
        exits.ports.insert(addressKey(p.client, p.port));
    }
    exits.clients.insert(c.clientExits.begin(), c.clientExits.end());
    EXPECT_EQ(render(diffEndpoints(snapshot(c.before), snapshot(c.after), exits)), c.expected);
}

const DiffCase kCases[] = {
    {"NothingChanged", {{130, 0, "sd"}}, {{130, 0, "sd"}}, {}, {}, {}},
    {"DuplexPortAdded", {}, {{130, 0, "sd"}}, {}, {}, {"+S 130:0", "+D 130:0"}},
    {"PortRemovedWithItsExit", {{130, 0, "sd"}}, {}, {{130, 0, ""}}, {}, {"-S 130:0", "-D 130:0"}},
    {"PortGoneWithoutAnExitHeard", {{130, 0, "s"}}, {}, {}, {}, {"-S 130:0"}},
    {"CapabilityFlip", {{130, 0, "s"}}, {{130, 0, "d"}}, {}, {}, {"-S 130:0", "+D 130:0"}},
    {"HiddenPortIsNoEndpoint", {}, {{130, 1, ""}}, {}, {}, {}},
    {"LeftAndCameBackInOneBatch",
     {{130, 0, "sd"}},
     {{130, 0, "sd"}},
     {{130, 0, ""}},
     {},
     {"-S 130:0", "-D 130:0", "+S 130:0", "+D 130:0"}},
    {"ClientExitRemovesEachOfItsPortsOnly",
     {{20, 0, "sd"}, {130, 0, "s"}, {130, 2, "d"}},
     {{20, 0, "sd"}},
     {},
     {130},
     {"-S 130:0", "-D 130:2"}},
    {"ClientExitAndAPortOfTheNewClientAtTheSameNumber",
     {{130, 0, "s"}},
     {{130, 0, "s"}},
     {},
     {130},
     {"-S 130:0", "+S 130:0"}},
    {"UnknownPortThatExitsIsRemovedBothWays", {}, {}, {{131, 4, ""}}, {}, {"-S 131:4", "-D 131:4"}},
    {"RemovalsComeFirstWhateverTheAddresses",
     {{140, 0, "s"}},
     {{20, 0, "d"}},
     {},
     {},
     {"-S 140:0", "+D 20:0"}},
};

INSTANTIATE_TEST_SUITE_P(Batches, EndpointDiff, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
