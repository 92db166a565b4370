// Incoming MIDI (receive thread -> main thread) and SysEx sending (main thread -> send thread).
#include "AppTestFixture.h"

#include <QRegularExpression>
#include <atomic>
#include <cstdio>

namespace {

class ReceiveTest : public AppTest {
protected:
    // Launches, then plugs the mixer in so that the controller is its receiver.
    void SetUp() override {
        launch();
        source = service->addSource(QStringLiteral("Mirt VQ320 MIDI 1"));
        ASSERT_TRUE(waitUntil([&] { return app->deviceFound() != 0; }));
    }

    // Delivers one list and returns how many records it queued for the main thread (counted
    // before the main thread runs any of them), then runs them.
    size_t deliver(const std::vector<std::vector<uint8_t>>& packets, MIDITimeStamp time = 0) {
        const size_t before = app->inbox()->pendingCount();
        service->deliverAndWait(source, SimulatedMidiService::makePacketList(packets, time));
        const size_t queued = app->inbox()->pendingCount() - before;
        processPendingEvents();
        return queued;
    }

    static uint16_t recordLength(const QByteArray& record) {
        uint16_t n;
        std::memcpy(&n, record.constData() + offsetof(MIDIPacket, length), sizeof n);
        return n;
    }
    static MIDITimeStamp recordTime(const QByteArray& record) {
        MIDITimeStamp t;
        std::memcpy(&t, record.constData(), sizeof t);
        return t;
    }
    static uint8_t recordByte(const QByteArray& record, size_t i) {
        return static_cast<uint8_t>(record[static_cast<qsizetype>(offsetof(MIDIPacket, data) + i)]);
    }

    MIDIEndpointRef source = 0;
};

TEST_F(ReceiveTest, RealTimeBytesAreDroppedOnTheReceiveThread) {
    for (const uint8_t status : std::vector<uint8_t>{0xF8, 0xF9, 0xFA, 0xFD, 0xFE, 0xFF}) {
        SCOPED_TRACE(int(status));
        EXPECT_EQ(deliver({{status}}), 0u);
    }
    EXPECT_TRUE(received->parsed.empty());
}

TEST_F(ReceiveTest, SystemMessagesReachTheSysExHandlerAndChannelMessagesStopAtTheParser) {
    EXPECT_EQ(deliver({{0xF0, 0x60, 0x01, 0xF7}}), 1u);
    ASSERT_EQ(received->parsed.size(), 1u);
    ASSERT_EQ(received->systemMessages.size(), 1u);
    EXPECT_EQ(received->systemMessages[0].length, 4);
    EXPECT_EQ(received->systemMessages[0].data[1], 0x60);

    EXPECT_EQ(deliver({{0x90, 0x3C, 0x64}}), 1u);
    EXPECT_EQ(received->parsed.size(), 2u);
    EXPECT_EQ(received->systemMessages.size(), 1u);

    // System Common (F1..F7) counts as a system message; a running-status data byte does not.
    EXPECT_EQ(deliver({{0xF7}}), 1u);
    EXPECT_EQ(deliver({{0x3C, 0x00}}), 1u);
    EXPECT_EQ(received->parsed.size(), 4u);
    EXPECT_EQ(received->systemMessages.size(), 2u);
}

TEST_F(ReceiveTest, EachPacketOfAListIsJudgedByItsOwnFirstByte) {
    const MIDITimeStamp time = 0x1122334455667788ULL;
    EXPECT_EQ(deliver({{0x90, 0x3C, 0x64}, {0xF8}, {0xF0, 0x01, 0x02, 0x03, 0xF7}}, time), 2u);
    ASSERT_EQ(received->parsed.size(), 2u);
    EXPECT_EQ(recordByte(received->parsed[0], 0), 0x90);
    EXPECT_EQ(recordLength(received->parsed[0]), 3);
    EXPECT_EQ(recordByte(received->parsed[1], 0), 0xF0);
    EXPECT_EQ(recordLength(received->parsed[1]), 5);
    ASSERT_EQ(received->systemMessages.size(), 1u);
    EXPECT_EQ(received->systemMessages[0].data[4], 0xF7);

    // A real-time packet first, of another length, does not hide the packets after it.
    EXPECT_EQ(deliver({{0xFE}, {0x80, 0x3C, 0x00, 0x3E}, {0xF2, 0x00}}), 2u);
    EXPECT_EQ(received->systemMessages.size(), 2u);
}

TEST_F(ReceiveTest, ARecordHoldsThePacketsOwnBytesOnly) {
    const MIDITimeStamp time = 0x1122334455667788ULL;
    // The next packet's header follows the first one directly; none of it may leak in.
    ASSERT_EQ(deliver({{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}}, time), 2u);
    const QByteArray& record = received->parsed[0];
    ASSERT_EQ(record.size(), 268);
    EXPECT_EQ(recordTime(record), time);
    EXPECT_EQ(recordLength(record), 3);
    EXPECT_EQ(recordByte(record, 2), 0x64);
    for (size_t i = 3; i < 256; ++i) {
        ASSERT_EQ(recordByte(record, i), 0) << i;
    }
}

TEST_F(ReceiveTest, EmptyListsAndEmptyPacketsQueueNothing) {
    EXPECT_EQ(deliver({}), 0u);
    // A packet of length 0 has no first byte; the walk goes on with the next packet.
    EXPECT_EQ(deliver({{}, {0x90, 0x3C, 0x64}}), 1u);
    EXPECT_EQ(deliver({{0x90, 0x3C, 0x64}, {}}), 1u);
    EXPECT_EQ(deliver({{}}), 0u);
    EXPECT_EQ(received->parsed.size(), 2u);
}

TEST_F(ReceiveTest, APacketLongerThanARecordIsCutToTheRecord) {
    std::vector<uint8_t> longSysEx(300, 0x11);
    longSysEx.front() = 0xF0;
    longSysEx.back() = 0xF7;
    ASSERT_EQ(deliver({longSysEx}), 1u);
    ASSERT_EQ(received->systemMessages.size(), 1u);
    EXPECT_EQ(received->systemMessages[0].length, 256);
    EXPECT_EQ(received->systemMessages[0].data[255], 0x11);
}

TEST_F(ReceiveTest, RecordsReachTheMainThreadInOrder) {
    for (uint8_t i = 0; i < 50; ++i) {
        service->deliver(source, SimulatedMidiService::makePacketList({{0x90, i, 0x40}}));
    }
    service->waitForDeliveries();
    ASSERT_TRUE(waitUntil([&] { return received->parsed.size() == 50; }));
    for (uint8_t i = 0; i < 50; ++i) {
        EXPECT_EQ(recordByte(received->parsed[i], 1), i);
    }
}

TEST_F(ReceiveTest, SourcesPresentAtLaunchDoNotDeliverToTheController) {
    shutDown();
    const MIDIEndpointRef early = service->addSource(QStringLiteral("Early Keyboard"));
    processPendingEvents();
    launch();
    service->deliverAndWait(early, SimulatedMidiService::makePacketList({{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(app->inbox()->pendingCount(), 0u);
}

TEST_F(ReceiveTest, NothingArrivesOnceTheControllerIsGone) {
    for (uint8_t i = 0; i < 100; ++i) {
        service->deliver(source, SimulatedMidiService::makePacketList({{0xF0, i, 0xF7}}));
    }
    app.reset(); // while deliveries may be under way on the receive thread
    service->waitForDeliveries();
    const size_t seen = received->parsed.size();
    processPendingEvents();
    EXPECT_EQ(received->parsed.size(), seen);
}

// ---- SysEx sending ---------------------------------------------------------------------------

class SendTest : public AppTest {
protected:
    void SetUp() override {
        mixer = service->addDestination(QStringLiteral("Mirt VQ320 MIDI 1"));
        service->addDestination(QStringLiteral("Other Synth"));
        launch();
    }

    // The data of each packet sent, one entry per send() call.
    std::vector<std::vector<uint8_t>> sentPackets() const {
        std::vector<std::vector<uint8_t>> result;
        for (const auto& s : service->sent()) {
            const auto* list = reinterpret_cast<const MIDIPacketList*>(s.list.data());
            EXPECT_EQ(packetListCount(list), 1u);
            MIDIConstPacketPtr p = packetListFirst(list);
            EXPECT_EQ(packetTimeStamp(p), 0u);
            result.emplace_back(packetData(p), packetData(p) + packetLength(p));
        }
        return result;
    }

    static QString expectedLine(const std::vector<uint8_t>& frame) {
        std::string text;
        for (uint8_t b : frame) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", b);
            text += hex;
        }
        return QStringLiteral("Sending SysEx: [%1]").arg(QString::fromStdString(text));
    }

    QStringList sysExLines(const SystemLogCapture& log) const {
        return log.lines().filter(QRegularExpression(QStringLiteral("SysEx")));
    }

    MIDIEndpointRef mixer = 0;
};

// Only the mixer's destinations (names holding "MIRT") are sent to: other synths hear nothing.
TEST_F(SendTest, FramesAreSentToTheMixerOnlyAndLogged) {
    std::vector<uint8_t> largest(254);
    for (size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<uint8_t>(i); // bytes of 0x80 and above go out unchanged too
    }
    for (const std::vector<uint8_t>& payload :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0x60, 0x07, 0x10, 0x4D}, largest}) {
        SCOPED_TRACE(payload.size());
        service->clearCalls();
        const size_t sendsBefore = service->sent().size();
        SystemLogCapture log;
        app->sendMidiSysEx(payload.data(), static_cast<uint8_t>(payload.size()));
        app->waitForSends();

        std::vector<uint8_t> frame{0xF0};
        frame.insert(frame.end(), payload.begin(), payload.end());
        frame.push_back(0xF7);
        const auto packets = sentPackets();
        ASSERT_EQ(packets.size(), sendsBefore + 1);
        EXPECT_EQ(packets[sendsBefore], frame);
        EXPECT_EQ(service->sent().back().endpoint, mixer);
        EXPECT_EQ(sysExLines(log), QStringList{expectedLine(frame)});
    }
}

TEST_F(SendTest, LogLineHasTheDocumentedForm) {
    SystemLogCapture log;
    const uint8_t payload[] = {0x01, 0x02};
    app->sendMidiSysEx(payload, 2);
    app->waitForSends();
    EXPECT_EQ(sysExLines(log), QStringList{QStringLiteral("Sending SysEx: [ f0 01 02 f7]")});
    const uint8_t none = 0;
    app->sendMidiSysEx(&none, 0);
    app->waitForSends();
    EXPECT_EQ(sysExLines(log).last(), QStringLiteral("Sending SysEx: [ f0 f7]"));
}

TEST_F(SendTest, A255BytePayloadIsRefusedWithALogLine) {
    const std::vector<uint8_t> payload(255, 0x01);
    SystemLogCapture log;
    app->sendMidiSysEx(payload.data(), 255);
    app->waitForSends();
    EXPECT_TRUE(service->sent().empty());
    const QStringList lines = sysExLines(log);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_FALSE(lines[0].startsWith(QStringLiteral("Sending SysEx")));
    EXPECT_TRUE(lines[0].contains(QStringLiteral("255")));
}

TEST_F(SendTest, WithoutASessionNothingIsSentButTheLineIsWritten) {
    app->disableMIDI();
    SystemLogCapture log;
    const uint8_t payload[] = {0x60, 0x07, 0x10, 0x4D};
    app->sendMidiSysEx(payload, 4);
    app->waitForSends();
    EXPECT_TRUE(service->sent().empty());
    EXPECT_EQ(sysExLines(log).size(), 1);
}

TEST_F(SendTest, SendsRunOffTheMainThreadAndDoNotWait) {
    // Two sends in quick succession: both arrive, in whatever order.
    const uint8_t a[] = {0x0A};
    const uint8_t b[] = {0x0B};
    app->sendMidiSysEx(a, 1);
    app->sendMidiSysEx(b, 1);
    app->waitForSends();
    const auto packets = sentPackets();
    ASSERT_EQ(packets.size(), 2u);
    int seenA = 0;
    int seenB = 0;
    for (const auto& p : packets) {
        seenA += p == std::vector<uint8_t>{0xF0, 0x0A, 0xF7} ? 1 : 0;
        seenB += p == std::vector<uint8_t>{0xF0, 0x0B, 0xF7} ? 1 : 0;
    }
    EXPECT_EQ(seenA, 1);
    EXPECT_EQ(seenB, 1);
}

TEST_F(SendTest, DroppingTheSessionOrTheControllerDuringASendIsSafe) {
    const uint8_t payload[] = {0x60, 0x07, 0x10, 0x4D};
    for (int i = 0; i < 20; ++i) {
        app->sendMidiSysEx(payload, 4);
    }
    app->disableMIDI(); // sends under way keep their own reference to the session
    for (int i = 0; i < 20; ++i) {
        app->sendMidiSysEx(payload, 4);
    }
    app.reset(); // waits for every send thread
    processPendingEvents();
    // Whatever was sent went out whole.
    for (const auto& p : sentPackets()) {
        EXPECT_EQ(p, (std::vector<uint8_t>{0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7}));
    }
    EXPECT_EQ(service->callsNamed(QStringLiteral("clientDispose")).size(), 1);
}

} // namespace
