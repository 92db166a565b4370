// The fault sweep: one scripted session (start, plug, receive, send, virtual endpoints, a rescan
// that loses sight of a source, unplug, teardown) run once per MidiService call that can fail,
// with the k-th call of that operation failing, for every k the script reaches. Each run must
// write the operation's error line, must not crash (nor leak, under ASan), and, once the fault
// is lifted, the same session must still plug, receive and send where the fault allows it.
#include "SimulatedMidiService.h"
#include "SystemLog.h"
#include "ZelMidi.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace {

constexpr OSStatus kInjected = kMIDIUnknownError;

// The simulated service with the k-th call of one operation made to fail. Calls are counted only
// while the script runs, so the check afterwards is made with the fault lifted.
class FaultySimulatedMidiService : public SimulatedMidiService {
public:
    void arm(const QString& operation, int k) {
        std::lock_guard lock(mutex_);
        operation_ = operation;
        k_ = k;
    }
    void setCounting(bool counting) {
        std::lock_guard lock(mutex_);
        counting_ = counting;
    }
    int callsOf(const QString& operation) const {
        std::lock_guard lock(mutex_);
        const auto it = calls_.find(operation);
        return it == calls_.end() ? 0 : it->second;
    }
    bool fired() const {
        std::lock_guard lock(mutex_);
        return fired_;
    }

#define VQ_FAULTY(name, params, args)                                                              \
    OSStatus name params override {                                                                \
        maybeFail(QStringLiteral(#name));                                                          \
        return SimulatedMidiService::name args;                                                    \
    }
    VQ_FAULTY(clientCreate, (const QString& n, MIDINotifyProc p, void* r, MIDIClientRef* o),
              (n, p, r, o))
    VQ_FAULTY(clientDispose, (MIDIClientRef c), (c))
    VQ_FAULTY(outputPortCreate, (MIDIClientRef c, const QString& n, MIDIPortRef* o), (c, n, o))
    VQ_FAULTY(inputPortCreate,
              (MIDIClientRef c, const QString& n, MIDIReadProc p, void* r, MIDIPortRef* o),
              (c, n, p, r, o))
    VQ_FAULTY(portDispose, (MIDIPortRef p), (p))
    VQ_FAULTY(portConnectSource, (MIDIPortRef p, MIDIEndpointRef s, void* r), (p, s, r))
    VQ_FAULTY(portDisconnectSource, (MIDIPortRef p, MIDIEndpointRef s), (p, s))
    VQ_FAULTY(send, (MIDIPortRef p, MIDIEndpointRef to, const MIDIPacketList* l), (p, to, l))
    VQ_FAULTY(received, (MIDIEndpointRef s, const MIDIPacketList* l), (s, l))
    VQ_FAULTY(flushOutput, (MIDIEndpointRef to), (to))
    VQ_FAULTY(objectGetStringProperty, (MIDIObjectRef o, MIDIPropertyKey k, QString* v), (o, k, v))
    VQ_FAULTY(objectGetIntegerProperty, (MIDIObjectRef o, MIDIPropertyKey k, int32_t* v), (o, k, v))
    VQ_FAULTY(objectSetIntegerProperty, (MIDIObjectRef o, MIDIPropertyKey k, int32_t v), (o, k, v))
    VQ_FAULTY(objectGetProperties, (MIDIObjectRef o, QVariantMap* v, bool deep), (o, v, deep))
    VQ_FAULTY(endpointGetEntity, (MIDIEndpointRef e, MIDIEntityRef* o), (e, o))
    VQ_FAULTY(sourceCreate, (MIDIClientRef c, const QString& n, MIDIEndpointRef* o), (c, n, o))
    VQ_FAULTY(destinationCreate,
              (MIDIClientRef c, const QString& n, MIDIReadProc p, void* r, MIDIEndpointRef* o),
              (c, n, p, r, o))
    VQ_FAULTY(endpointDispose, (MIDIEndpointRef e), (e))
#undef VQ_FAULTY

private:
    void maybeFail(const QString& operation) {
        std::lock_guard lock(mutex_);
        if (!counting_) {
            return;
        }
        if (++calls_[operation] == k_ && operation == operation_) {
            fired_ = true;
            failNextCall(operation, kInjected);
        }
    }

    mutable std::mutex mutex_;
    QString operation_;
    int k_ = 0;
    bool counting_ = false;
    bool fired_ = false;
    std::map<QString, int> calls_;
};

class Receiver : public ZelMidiSourceDelegate {
public:
    void midiSourceMidiReceived(ZelMidiSource&, const MIDIPacketList*) override { ++calls; }
    std::atomic<int> calls{0};
};

void processNotices() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

const std::vector<uint8_t> kNote = SimulatedMidiService::makePacketList({{0x90, 0x40, 0x7F}});
const uint8_t kSysEx[] = {0xF0, 0x60, 0x07, 0x10, 0x4D, 0xF7};

struct Outcome {
    bool receivedAfterwards = false;
    bool sentAfterwards = false;
};

// The scripted session. The receivers outlive the session, as in the application.
Outcome runScript(const std::shared_ptr<FaultySimulatedMidiService>& sim) {
    // The saved ID of the virtual destination decides which ID calls are made: start without one.
    QSettings().remove(QLatin1String(ZelMidiSavedVirtualDestinationIDKey));
    auto onB = std::make_shared<Receiver>(), onKeys = std::make_shared<Receiver>(),
         onVirtual = std::make_shared<Receiver>(), onProbe = std::make_shared<Receiver>();
    sim->addSource(QStringLiteral("MIRT A"));
    sim->addDestination(QStringLiteral("MIRT A"));
    const MIDIEndpointRef keys = sim->addSource(QStringLiteral("Keys"));
    processNotices();

    sim->setCounting(true);
    // Start.
    std::shared_ptr<ZelMidi> midi = ZelMidi::create(sim);
    // Plug.
    const MIDIEndpointRef b = sim->addSource(QStringLiteral("MIRT B"));
    const MIDIEndpointRef bOut = sim->addDestination(QStringLiteral("MIRT B"));
    processNotices();
    // Receive.
    if (const auto source = midi->getSource(b)) {
        source->addDelegate(onB);
    }
    sim->deliverAndWait(b, kNote);
    // Send: the broadcast, one destination, a flush.
    midi->sendBytes(kSysEx, sizeof kSysEx);
    if (const auto destination = midi->getDestination(bOut)) {
        destination->sendBytes(kSysEx, sizeof kSysEx);
        destination->flushOutput();
    }
    // Virtual endpoints: publish at the source, receive at the destination; the destination
    // twice, so its ID is first recorded and then restored.
    midi->setVirtualSourceEnabled(true);
    processNotices();
    if (const auto own = midi->virtualSourceDestination()) {
        own->sendBytes(kSysEx, sizeof kSysEx);
    }
    for (int round = 0; round < 2; ++round) {
        midi->setVirtualDestinationEnabled(true);
        processNotices();
        if (const auto own = midi->virtualDestinationSource()) {
            own->addDelegate(onVirtual);
            sim->deliverAndWait(midi->virtualDestinationEndpoint(), kNote);
        }
        midi->setVirtualDestinationEnabled(false);
        processNotices();
    }
    midi->setVirtualSourceEnabled(false);
    processNotices();
    // A rescan that does not see "Keys" (a hole in the platform's list) while the platform still
    // routes it, then one that sees it again.
    if (const auto source = midi->getSource(keys)) {
        source->addDelegate(onKeys);
    }
    for (ItemCount i = 0; i < sim->getNumberOfSources(); ++i) {
        if (sim->getSource(i) == keys) {
            sim->setSourceAt(i, 0);
        }
    }
    midi->scanExistingDevices();
    sim->clearEnumerationOverrides();
    sim->deliverAndWait(keys, kNote);
    midi->scanExistingDevices();
    // Unplug.
    sim->removeEndpoint(b);
    sim->removeEndpoint(bOut);
    processNotices();

    // The fault is lifted: does the session still take a new device in, and talk to it?
    sim->setCounting(false);
    Outcome outcome;
    const MIDIEndpointRef p = sim->addSource(QStringLiteral("MIRT P"));
    const MIDIEndpointRef pOut = sim->addDestination(QStringLiteral("MIRT P"));
    processNotices();
    if (const auto source = midi->getSource(p)) {
        source->addDelegate(onProbe);
    }
    sim->deliverAndWait(p, kNote);
    outcome.receivedAfterwards = onProbe->calls.load() == 1;
    const size_t sentBefore = sim->sent().size();
    midi->sendBytes(kSysEx, sizeof kSysEx);
    for (size_t i = sentBefore; i < sim->sent().size(); ++i) {
        outcome.sentAfterwards = outcome.sentAfterwards || sim->sent()[i].endpoint == pOut;
    }

    // Teardown, counted again; afterwards nothing may reach what the session has let go.
    sim->setCounting(true);
    midi.reset();
    processNotices();
    sim->setCounting(false);
    sim->deliverAndWait(keys, kNote);
    sim->deliverAndWait(p, kNote);
    return outcome;
}

struct Operation {
    const char* name;
    // The start of the line the failure must write; nullptr where a failure is silent by design
    // (reads whose fallback is documented: "Unknown name", no entity, not a network session).
    const char* logLine;
    // Whether the session can still plug, receive and send once the fault is lifted.
    bool recovers;
};

void PrintTo(const Operation& operation, std::ostream* out) {
    *out << operation.name;
}

const Operation kOperations[] = {
    {"clientCreate", "Error (Create MIDI client): -10845:", false},
    {"outputPortCreate", "Error (Create output MIDI port): -10845:", false},
    {"inputPortCreate", "Error (Create input MIDI port): -10845:", false},
    {"portConnectSource", "Error (Connecting to MIDI source): -10845:", true},
    // The first failed disconnect is the rescan's, of a source the platform still routes.
    {"portDisconnectSource", "Error (Disconnecting from MIDI source): -10845:", true},
    {"send", "Error (Sending MIDI): -10845:", true},
    {"received", "Error (Sending MIDI): -10845:", true},
    {"flushOutput", nullptr, true},
    {"objectGetStringProperty", nullptr, true},
    {"objectGetIntegerProperty", "Error (Get MIDI virtual destination ID): -10845:", true},
    {"objectSetIntegerProperty", nullptr, true},
    {"objectGetProperties", nullptr, true},
    {"endpointGetEntity", nullptr, true},
    {"sourceCreate", "Error (Create MIDI virtual source): -10845:", true},
    {"destinationCreate", "Error (Create MIDI virtual destination): -10845:", true},
    {"endpointDispose", "Error (Dispose MIDI virtual ", true},
    {"portDispose", "Error (Dispose MIDI port): -10845:", true},
    {"clientDispose", "Error (Dispose MIDI client): -10845:", true},
};

QStringList errorLines(const SystemLogCapture& log) {
    QStringList errors;
    for (const QString& line : log.lines()) {
        if (line.startsWith(QLatin1String("Error ("))) {
            errors << line;
        }
    }
    return errors;
}

class FaultSweep : public ::testing::TestWithParam<Operation> {
protected:
    // The saved virtual destination ID lives in settings of this test's own, so sweeps that
    // ctest runs side by side do not rewrite each other's.
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    }
    QTemporaryDir settingsDir;
};

TEST_P(FaultSweep, EveryCallOfTheOperationFailingInTurn) {
    const Operation& op = GetParam();
    const QString name = QString::fromLatin1(op.name);

    // The run without a fault: how often the script makes the call, and the error lines it
    // writes anyway (an unplugged source's connection is already gone when it is disconnected).
    int reached = 0;
    QStringList cleanErrors;
    {
        auto clean = std::make_shared<FaultySimulatedMidiService>();
        SystemLogCapture log;
        const Outcome outcome = runScript(clean);
        reached = clean->callsOf(name);
        cleanErrors = errorLines(log);
        ASSERT_TRUE(outcome.receivedAfterwards && outcome.sentAfterwards) << "without a fault";
    }
    ASSERT_GT(reached, 0) << "the script never calls " << op.name;

    for (int k = 1; k <= reached; ++k) {
        SCOPED_TRACE(std::string(op.name) + " call " + std::to_string(k) + " of " +
                     std::to_string(reached) + " fails");
        auto sim = std::make_shared<FaultySimulatedMidiService>();
        sim->arm(name, k);
        SystemLogCapture log;
        const Outcome outcome = runScript(sim);
        ASSERT_TRUE(sim->fired());
        const QStringList errors = errorLines(log);
        if (op.logLine != nullptr) {
            // Exactly one more line of the operation than without the fault.
            const auto count = [&](const QStringList& lines) {
                return lines.filter(QLatin1String(op.logLine)).size();
            };
            EXPECT_EQ(count(errors), count(cleanErrors) + 1)
                << errors.join(QLatin1Char('\n')).toStdString();
        } else {
            EXPECT_EQ(errors, cleanErrors) << "a silent failure writes no error line";
        }
        if (op.recovers) {
            EXPECT_TRUE(outcome.receivedAfterwards) << "receives again";
            EXPECT_TRUE(outcome.sentAfterwards) << "sends again";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep, ::testing::ValuesIn(kOperations),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
