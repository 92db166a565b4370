// Lookups of connections by endpoint name.
#include "SimulatedMidiService.h"
#include "ZelMidi.h"

#include <gtest/gtest.h>

namespace {

SimulatedMidiService::EndpointOptions networkSession() {
    SimulatedMidiService::EndpointOptions options;
    options.entityProperties.insert(
        QString::fromLatin1(kMIDINetworkSessionKey.data(), kMIDINetworkSessionKey.size()),
        QVariantMap{});
    return options;
}

class FindConnectionsTest : public ::testing::Test {
protected:
    // Endpoints are added before the session exists, so its first scan lists them in order.
    void SetUp() override { service = std::make_shared<SimulatedMidiService>(); }
    void start() {
        midi = ZelMidi::create(service);
        ASSERT_EQ(midi->numberOfConnections(), expected);
    }
    MIDIEndpointRef source(const QString& name, SimulatedMidiService::EndpointOptions o = {}) {
        ++expected;
        return service->addSource(name, std::move(o));
    }
    MIDIEndpointRef destination(const QString& name, SimulatedMidiService::EndpointOptions o = {}) {
        ++expected;
        return service->addDestination(name, std::move(o));
    }
    // The pair lookup, with both outs filled beforehand so that a missing reset shows.
    std::pair<MIDIEndpointRef, MIDIEndpointRef> pair(const QStringList* avoid) {
        auto outSource = std::make_shared<ZelMidiSource>(midi.get(), 0);
        auto outDestination = std::make_shared<ZelMidiDestination>(midi.get(), 0);
        midi->findMatchingSourceAndDestination(&outSource, &outDestination, avoid);
        EXPECT_EQ(outSource == nullptr, outDestination == nullptr);
        if (outSource == nullptr || outDestination == nullptr) {
            return {0, 0};
        }
        EXPECT_EQ(outSource->name(), outDestination->name());
        return {outSource->endpoint(), outDestination->endpoint()};
    }

    uint64_t expected = 0;
    std::shared_ptr<SimulatedMidiService> service;
    std::shared_ptr<ZelMidi> midi;
};

TEST_F(FindConnectionsTest, NamesMatchExactlyAndTheFirstAddedWins) {
    const auto first = source(QStringLiteral("Mirt VQ320"));
    const auto second = source(QStringLiteral("Mirt VQ320"));
    const auto out = destination(QStringLiteral("Mirt VQ320"));
    const auto outAgain = destination(QStringLiteral("Mirt VQ320"));
    destination(QStringLiteral("Other"));
    start();

    ASSERT_NE(midi->findSourceCalled(QStringLiteral("Mirt VQ320")), nullptr);
    EXPECT_EQ(midi->findSourceCalled(QStringLiteral("Mirt VQ320"))->endpoint(), first);
    EXPECT_EQ(midi->findDestinationCalled(QStringLiteral("Mirt VQ320"))->endpoint(), out);
    EXPECT_NE(second, first);
    EXPECT_NE(outAgain, out);
    for (const QString& near :
         {QStringLiteral("mirt vq320"), QStringLiteral("MIRT VQ320"), QStringLiteral("Mirt VQ320 "),
          QStringLiteral(" Mirt VQ320"), QStringLiteral("Mirt"), QString(), QStringLiteral("")}) {
        EXPECT_EQ(midi->findSourceCalled(near), nullptr) << near.toStdString();
        EXPECT_EQ(midi->findDestinationCalled(near), nullptr) << near.toStdString();
    }
    // Sources and destinations are separate: a destination's name finds no source.
    EXPECT_EQ(midi->findSourceCalled(QStringLiteral("Other")), nullptr);
}

TEST_F(FindConnectionsTest, AMissingNameMatchesNothingButAnEmptyOneMatchesItself) {
    const auto empty = source(QStringLiteral(""));
    start();
    EXPECT_EQ(midi->findSourceCalled(QString()), nullptr);
    ASSERT_NE(midi->findSourceCalled(QStringLiteral("")), nullptr);
    EXPECT_EQ(midi->findSourceCalled(QStringLiteral(""))->endpoint(), empty);
}

TEST_F(FindConnectionsTest, WithoutAPairBothOutsAreCleared) {
    start();
    EXPECT_EQ(pair(nullptr), std::make_pair(0u, 0u));

    // Names that differ, even in case only, never pair.
    SimulatedMidiService::EndpointOptions silent;
    silent.notify = false;
    service->addSource(QStringLiteral("Synth"), silent);
    service->addDestination(QStringLiteral("synth"), silent);
    service->addDestination(QStringLiteral("Synth 2"), silent);
    midi->scanExistingDevices();
    ASSERT_EQ(midi->numberOfConnections(), 3u);
    EXPECT_EQ(pair(nullptr), std::make_pair(0u, 0u));
}

TEST_F(FindConnectionsTest, TheFirstEligibleSourceInSourceOrderWins) {
    source(QStringLiteral("Lonely"));
    const auto a = source(QStringLiteral("A"));
    source(QStringLiteral("B"));
    destination(QStringLiteral("B"));
    const auto aOut = destination(QStringLiteral("A"));
    start();

    EXPECT_EQ(pair(nullptr), std::make_pair(a, aOut));
    std::shared_ptr<ZelMidiSource> s;
    std::shared_ptr<ZelMidiDestination> d;
    midi->findMatchingSourceAndDestination(&s, &d);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::make_pair(s->endpoint(), d->endpoint()), std::make_pair(a, aOut));
}

TEST_F(FindConnectionsTest, NetworkSessionsAndAvoidedNamesAreSkipped) {
    source(QStringLiteral("Network"), networkSession());
    destination(QStringLiteral("Network"));
    source(QStringLiteral("Avoided"));
    destination(QStringLiteral("Avoided"));
    const auto kept = source(QStringLiteral("Kept"));
    // Only the source's flag counts: a network-session destination still pairs.
    const auto keptOut = destination(QStringLiteral("Kept"), networkSession());
    start();
    ASSERT_TRUE(midi->findSourceCalled(QStringLiteral("Network"))->isNetworkSession());

    const QStringList avoid{QStringLiteral("Avoided")};
    EXPECT_EQ(pair(&avoid), std::make_pair(kept, keptOut));

    // Avoided names match exactly too.
    const QStringList wrongCase{QStringLiteral("avoided")};
    const auto p = pair(&wrongCase);
    EXPECT_EQ(midi->findSourceCalled(QStringLiteral("Avoided"))->endpoint(), p.first);

    const QStringList all{QStringLiteral("Avoided"), QStringLiteral("Kept")};
    EXPECT_EQ(pair(&all), std::make_pair(0u, 0u));
    // The lookups by name do not skip network sessions.
    EXPECT_NE(midi->findSourceCalled(QStringLiteral("Network")), nullptr);
}

} // namespace
