// The controller's receive path on arbitrary packet lists: every packet that carries something
// other than System Real-Time reaches the main thread as one record of its own bytes (at most
// 256), and nothing else does.
#include "AppDelegate.h"
#include "FuzzCheck.h"
#include "MainWindow.h"
#include "SimulatedMidiService.h"

#include <QApplication>
#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class RecordingAppDelegate : public AppDelegate {
public:
    using AppDelegate::AppDelegate;
    void midiParser(const QByteArray& record) override {
        records.push_back(record);
        AppDelegate::midiParser(record);
    }
    std::vector<QByteArray> records;
};

struct Controller {
    std::shared_ptr<SimulatedMidiService> service = std::make_shared<SimulatedMidiService>();
    MainWindow window;
    RecordingAppDelegate app{service, window};
    std::shared_ptr<ZelMidi> midi = ZelMidi::create(service);
    std::shared_ptr<ZelMidiSource> source =
        std::make_shared<ZelMidiSource>(midi.get(), service->addSource(QStringLiteral("MIRT")));
};

Controller& controller() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)application;
    static Controller* c = new Controller; // lives to the end of the process
    return *c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Controller& c = controller();
    FuzzInput in(data, size);

    // A well-formed list (the platform's side of the contract) of packets of any content.
    std::vector<uint8_t> buffer(64 * 1024);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketPtr packet = packetListInit(list, buffer.size());
    std::vector<std::vector<uint8_t>> expected;
    while (!in.empty()) {
        const MIDITimeStamp time = in.u16();
        const size_t want = in.u16() % 600;
        size_t n = 0;
        const uint8_t* bytes = in.take(want, &n);
        MIDIPacketPtr next = packetListAdd(list, buffer.size(), packet, time, n, bytes);
        if (next == nullptr) {
            break;
        }
        packet = next;
        if (n > 0 && bytes[0] < 0xF8) {
            expected.emplace_back(bytes, bytes + std::min<size_t>(n, 256));
        }
    }
    // The list is handed over in a buffer of exactly its own size.
    const std::vector<uint8_t> exact(buffer.begin(), buffer.begin() + packetListByteSize(list));

    c.app.records.clear();
    c.app.midiSourceMidiReceived(*c.source, reinterpret_cast<const MIDIPacketList*>(exact.data()));
    c.app.inbox()->drain();

    FUZZ_CHECK(c.app.records.size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const QByteArray& record = c.app.records[i];
        FUZZ_CHECK(record.size() == static_cast<qsizetype>(sizeof(MIDIPacket)));
        uint16_t length = 0;
        std::memcpy(&length, record.constData() + offsetof(MIDIPacket, length), sizeof length);
        FUZZ_CHECK(length == expected[i].size());
        FUZZ_CHECK(std::memcmp(record.constData() + offsetof(MIDIPacket, data), expected[i].data(),
                               length) == 0);
    }
    return 0;
}
