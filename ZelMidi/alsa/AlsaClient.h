// One sequencer client of this process: its handle, its own ports, its receive thread and the
// routing of what that thread reads to the read callbacks.
#pragma once

#include "MidiService.h"
#include "UniqueFd.h"
#include "alsa/AlsaFlow.h"

#include <QString>
#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

class MainThreadInbox;
class QThread;

namespace alsa {

enum class PortRole { Output, Input, VirtualSource, VirtualDestination };

// A change the System:Announce port reported, for the thread that created the client.
struct Announcement {
    int type = 0; // SND_SEQ_EVENT_PORT_START, _PORT_EXIT, _PORT_CHANGE, _CLIENT_EXIT or kOverrun
    int client = 0;
    int port = 0;
};
inline constexpr int kAnnouncementOverrun = -1;

// What the clients of one service share with it.
struct ClientShared {
    // While set, announcements are read and dropped (as when the input overflows).
    std::atomic<bool> announcementsIgnored{false};
    // Set by a receive thread whenever the kernel's port list may have changed.
    mutable std::atomic<bool> directoryStale{true};
    // How fast a hardware port drains, and how much of its buffer a send may fill.
    double hardwareBytesPerSecond = 3125; // a MIDI cable: 31250 baud, 10 bits a byte
    size_t hardwareBurstBytes = 2048;     // half of the kernel's smallest raw MIDI buffer
    // How long a send waits for room in a software receiver before it fails.
    std::chrono::milliseconds roomWait{1000};
};

// Closes a sequencer handle; with hardware output, on a thread of its own, since unsubscribing
// from a hardware port drains its output for up to 10 s.
struct SequencerCloser {
    const std::atomic<bool>* drains = nullptr;
    void operator()(snd_seq_t* seq) const;
};
using SequencerHandle = std::unique_ptr<snd_seq_t, SequencerCloser>;

// A thread that is joined when its owner goes, or let go when the owner goes on that very
// thread (the last reference was dropped there).
class JoinedThread {
public:
    JoinedThread() = default;
    explicit JoinedThread(std::thread thread) : thread_(std::move(thread)) {}
    JoinedThread(JoinedThread&&) = default;
    JoinedThread& operator=(JoinedThread&&) = default;
    ~JoinedThread() { join(); }

    bool joinable() const { return thread_.joinable(); }
    std::thread::id id() const { return thread_.get_id(); }
    void join() {
        if (!thread_.joinable()) {
            return;
        }
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }

private:
    std::thread thread_;
};

class Client : public std::enable_shared_from_this<Client> {
public:
    // Opens the sequencer, names the client, subscribes to System:Announce and starts the receive
    // thread. Returns 0 or a negative errno. `shared` outlives the client. Announcements are handed
    // in batches to `onAnnouncements` on the calling thread, which must run an event loop.
    using AnnouncementHandler = std::function<void(Client&, const std::vector<Announcement>&)>;
    static int open(const std::string& sequencer, const QString& name, MidiService* clock,
                    const ClientShared* shared, AnnouncementHandler onAnnouncements,
                    std::shared_ptr<Client>* out);
    // Closes the handle; on a thread of its own when that may wait for a hardware port to drain.
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    int id() const { return id_; }
    const QString& name() const { return name_; }

    // Runs f(handle) serialised with every other output and query on this client.
    template <typename F> auto withSeq(F&& f) {
        std::lock_guard lock(seqMutex_);
        return f(seq_.get());
    }

    // ---- Own ports ----
    // The new port's number, or a negative errno.
    int createPort(const QString& name, PortRole role, MIDIReadProc readProc, void* refCon);
    bool portInfo(int port, PortRole* role, QString* name) const;
    std::vector<int> ports() const;
    // After it returns no read callback for the port runs. An output port subscribed to hardware
    // stays in the kernel (hidden, unused) until the client closes, so that no drain blocks.
    int deletePort(int port);

    // ---- Sending (the policy is in AlsaSending) ----
    // Subscribes the output port to the destination unless the kernel still has that
    // subscription, so that a hardware port stays open. Returns whether it is a kernel client.
    bool prepareOutput(int fromPort, int client, int port);
    void forgetDestination(int client, int port);
    // The ports subscribed to one of our ports (where a broadcast from it goes).
    struct Subscriber {
        int client = -1;
        int port = -1;
        bool hardware = false; // a kernel client: paced, no pool to ask about
    };
    std::vector<Subscriber> subscribers(int port);
    // The input pool of another program's client now; false for a kernel client.
    bool receiverPool(int client, ReceiverPool* out);
    // How long bytes for the hardware port must wait so that its buffer is never overrun; they
    // count as sent once that time has passed.
    OutputPacer::Clock::duration reserveHardwareOutput(int client, int port, size_t bytes);
    // Writes one event now; 0 or a negative errno.
    int writeNow(snd_seq_event_t& event);
    // How long a send may wait for room, in all.
    std::chrono::milliseconds roomWait() const { return shared_->roomWait; }
    // Waits `wait` unless the client is disposed meanwhile; false once it is.
    bool pause(std::chrono::nanoseconds wait);
    // At disposal: every wait of a send in progress, and of a later one, ends at once.
    void cancelWaits();

    // ---- Receiving ----
    int connectSource(int port, int client, int sourcePort, void* connRefCon);
    // After it returns no read callback for this connection runs. Returns -ENOENT when there was
    // no such connection.
    int disconnectSource(int port, int client, int sourcePort);
    // Subscribes every connected source again (the kernel keeps one it already has): after our
    // input overflowed, a source that left and came back at the same address went unannounced,
    // and its subscription went with the port that left.
    void resubscribeSources();

    // ---- Teardown and announcements ----
    // Wakes and joins the receive thread (detaches when called on it).
    void stopReceiving();
    // Stops the hand-off of announcements (on the creating thread, or queued to it); batches
    // still queued are dropped. After it, no announcement handler starts.
    void stopAnnouncements();
    bool announcementsStopped() const { return announcementsStopped_.load(); }

private:
    struct Reader {
        MIDIReadProc proc = nullptr;
        void* refCon = nullptr;
        bool anySender = false; // a virtual destination: every sender, no connection context
    };
    struct OwnPort {
        QString name;
        PortRole role = PortRole::Output;
        std::set<std::pair<int, int>> subscribed; // output ports: destinations kept open
    };
    using ConnectionKey = std::tuple<int, int, int>; // own port, source client, source port

    Client() = default;
    void receiveLoop();

    void dispatch(const ConnectionKey& target, const MIDIPacketList* list);
    void waitForDispatch(std::unique_lock<std::mutex>& lock);
    bool toAnnouncement(const snd_seq_event_t& event, Announcement* out) const;
    void handOver(std::vector<Announcement> batch);

    // Read by the sequencer's closer, so it outlives the handle.
    std::atomic<bool> hardwareOutput_{false};
    SequencerHandle seq_{nullptr, SequencerCloser{&hardwareOutput_}};
    int id_ = -1;
    QString name_;
    int announcePort_ = -1;
    MidiService* clock_ = nullptr;
    const ClientShared* shared_ = nullptr;
    UniqueFd wakeFd_;
    AnnouncementHandler onAnnouncements_;
    std::shared_ptr<MainThreadInbox> inbox_;
    QThread* home_ = nullptr;
    std::atomic<bool> announcementsStopped_{false};
    std::vector<pollfd> pollFds_;
    std::atomic<std::thread::id> receiverId_{};

    std::mutex seqMutex_; // output and query calls on seq_

    std::mutex cancelMutex_;
    std::condition_variable cancelled_;
    bool waitsCancelled_ = false;

    mutable std::mutex stateMutex_; // ports_
    std::map<int, OwnPort> ports_;
    std::map<std::pair<int, int>, OutputPacer> pacers_; // by hardware destination

    std::mutex dispatchMutex_; // readers_, connections_, dispatching_
    std::condition_variable dispatchIdle_;
    bool dispatching_ = false;
    std::map<int, Reader> readers_;
    std::map<ConnectionKey, void*> connections_;

    // Last: members go in reverse order, so the receive thread is joined (or let go, when the
    // client ends on it) while the handle, its wake-up descriptor and all it reads still exist.
    JoinedThread receiver_;
};

} // namespace alsa
