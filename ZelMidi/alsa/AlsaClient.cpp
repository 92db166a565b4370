#include "alsa/AlsaClient.h"

#include "MainThreadInbox.h"
#include "alsa/AlsaCodec.h"
#include "alsa/AlsaFlow.h"

#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace alsa {

namespace {
// Large enough for the largest event the kernel can hold (2000 cells of 28 bytes).
constexpr size_t kInputBufferBytes = 128 * 1024;
constexpr size_t kInputPoolCells = 2000;

// The kernel does not deliver what the receive thread would only drop: every subscription made
// anywhere (our own included, while a source is being connected) would wake it for nothing.
void ignoreUnusedAnnouncements(snd_seq_t* seq) {
    snd_seq_client_info_t* info = nullptr;
    snd_seq_client_info_alloca(&info);
    if (snd_seq_get_client_info(seq, info) < 0) {
        return;
    }
    for (int type = 0; type < 256; ++type) {
        switch (type) {
        case SND_SEQ_EVENT_CLIENT_START:
        case SND_SEQ_EVENT_CLIENT_CHANGE:
        case SND_SEQ_EVENT_PORT_SUBSCRIBED:
        case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
            break;
        default:
            snd_seq_client_info_event_filter_add(info, type);
        }
    }
    snd_seq_set_client_info(seq, info); // without it everything comes, as before
}

} // namespace

void SequencerCloser::operator()(snd_seq_t* seq) const {
    if (drains != nullptr && drains->load()) {
        // Unsubscribing from a hardware port drains its output, for up to 10 s.
        try {
            std::thread([seq] { snd_seq_close(seq); }).detach();
            return;
        } catch (const std::system_error&) {
            // No thread to spare: close here, waiting for the drain.
        }
    }
    snd_seq_close(seq);
}

int Client::open(const std::string& sequencer, const QString& name, MidiService* clock,
                 const ClientShared* shared, AnnouncementHandler onAnnouncements,
                 std::shared_ptr<Client>* out) {
    out->reset();
    snd_seq_t* seq = nullptr;
    int r = snd_seq_open(&seq, sequencer.c_str(), SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (r < 0) {
        return r;
    }
    std::shared_ptr<Client> c(new Client());
    c->seq_.reset(seq);
    c->id_ = snd_seq_client_id(seq);
    c->name_ = name;
    c->clock_ = clock;
    c->shared_ = shared;
    c->onAnnouncements_ = std::move(onAnnouncements);
    c->home_ = QThread::currentThread();
    if (c->id_ < 0) {
        return c->id_;
    }
    if ((r = snd_seq_set_client_name(seq, name.toUtf8().constData())) < 0) {
        return r;
    }
    // Room for a whole large SysEx from a software sender (failures only make it smaller).
    snd_seq_set_input_buffer_size(seq, kInputBufferBytes);
    snd_seq_set_client_pool_input(seq, kInputPoolCells);
    ignoreUnusedAnnouncements(seq);

    c->announcePort_ = snd_seq_create_simple_port(
        seq, "Announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
        SND_SEQ_PORT_TYPE_APPLICATION);
    if (c->announcePort_ < 0) {
        return c->announcePort_;
    }
    if ((r = snd_seq_connect_from(seq, c->announcePort_, SND_SEQ_CLIENT_SYSTEM,
                                  SND_SEQ_PORT_SYSTEM_ANNOUNCE)) < 0) {
        return r;
    }
    c->wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!c->wakeFd_.valid()) {
        return -errno;
    }
    try {
        c->inbox_ = MainThreadInbox::create();
    } catch (const std::runtime_error&) {
        return -EMFILE;
    }
    const int n = snd_seq_poll_descriptors_count(seq, POLLIN);
    c->pollFds_.resize(static_cast<size_t>(std::max(n, 0)) + 1);
    const int got =
        snd_seq_poll_descriptors(seq, c->pollFds_.data(), static_cast<unsigned>(n), POLLIN);
    c->pollFds_.resize(static_cast<size_t>(std::max(got, 0)));
    c->pollFds_.push_back(pollfd{c->wakeFd_.get(), POLLIN, 0});

    try {
        c->receiver_ = JoinedThread(std::thread([self = c] { self->receiveLoop(); }));
    } catch (const std::system_error& e) {
        return e.code().value() > 0 ? -e.code().value() : -EAGAIN; // reported, never fatal
    }
    c->receiverId_.store(c->receiver_.id());
    *out = std::move(c);
    return 0;
}

Client::~Client() = default;

// ---- Own ports ------------------------------------------------------------------------------

int Client::createPort(const QString& name, PortRole role, MIDIReadProc readProc, void* refCon) {
    unsigned caps = 0;
    unsigned type = SND_SEQ_PORT_TYPE_APPLICATION;
    switch (role) {
    case PortRole::Output:
        caps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT;
        break;
    case PortRole::Input:
        caps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT;
        break;
    case PortRole::VirtualSource:
        caps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        type |= SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SOFTWARE;
        break;
    case PortRole::VirtualDestination:
        caps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        type |= SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SOFTWARE;
        break;
    }
    const QByteArray utf8 = name.toUtf8();
    const int port = withSeq([&](snd_seq_t* seq) {
        return snd_seq_create_simple_port(seq, utf8.constData(), caps, type);
    });
    if (port < 0) {
        return port;
    }
    {
        std::lock_guard lock(stateMutex_);
        ports_[port] = OwnPort{name, role, {}};
    }
    if (role == PortRole::Input || role == PortRole::VirtualDestination) {
        std::lock_guard lock(dispatchMutex_);
        readers_[port] = Reader{readProc, refCon, role == PortRole::VirtualDestination};
    }
    return port;
}

bool Client::portInfo(int port, PortRole* role, QString* name) const {
    std::lock_guard lock(stateMutex_);
    const auto it = ports_.find(port);
    if (it == ports_.end()) {
        return false;
    }
    if (role != nullptr) {
        *role = it->second.role;
    }
    if (name != nullptr) {
        *name = it->second.name;
    }
    return true;
}

std::vector<int> Client::ports() const {
    std::lock_guard lock(stateMutex_);
    std::vector<int> result;
    for (const auto& [port, state] : ports_) {
        result.push_back(port);
    }
    return result;
}

int Client::deletePort(int port) {
    PortRole role{};
    bool keep = false;
    {
        std::lock_guard lock(stateMutex_);
        const auto it = ports_.find(port);
        if (it == ports_.end()) {
            return -ENOENT;
        }
        role = it->second.role;
        keep = role == PortRole::Output && hardwareOutput_.load() && !it->second.subscribed.empty();
        ports_.erase(it);
    }
    {
        std::unique_lock lock(dispatchMutex_);
        readers_.erase(port);
        for (auto it = connections_.begin(); it != connections_.end();) {
            it = std::get<0>(it->first) == port ? connections_.erase(it) : std::next(it);
        }
        waitForDispatch(lock);
    }
    if (keep) {
        return 0;
    }
    return withSeq([&](snd_seq_t* seq) { return snd_seq_delete_port(seq, port); });
}

// ---- Sending --------------------------------------------------------------------------------

bool Client::prepareOutput(int fromPort, int client, int port) {
    {
        std::lock_guard lock(stateMutex_);
        if (ports_.find(fromPort) == ports_.end()) {
            return false;
        }
    }
    bool kernel = false;
    // Asked of the kernel every time: a lost exit announcement must not leave a port that came
    // back at the same address without our subscription.
    const int r = withSeq([&](snd_seq_t* seq) {
        snd_seq_client_info_t* info = nullptr;
        snd_seq_client_info_alloca(&info);
        if (snd_seq_get_any_client_info(seq, client, info) == 0) {
            kernel = snd_seq_client_info_get_type(info) == SND_SEQ_KERNEL_CLIENT;
        }
        snd_seq_port_subscribe_t* sub = nullptr;
        snd_seq_port_subscribe_alloca(&sub);
        const snd_seq_addr_t from{static_cast<unsigned char>(id_),
                                  static_cast<unsigned char>(fromPort)};
        const snd_seq_addr_t to{static_cast<unsigned char>(client),
                                static_cast<unsigned char>(port)};
        snd_seq_port_subscribe_set_sender(sub, &from);
        snd_seq_port_subscribe_set_dest(sub, &to);
        if (snd_seq_get_port_subscription(seq, sub) == 0) {
            return 0;
        }
        return snd_seq_connect_to(seq, fromPort, client, port);
    });
    if (r == 0 || r == -EBUSY) {
        if (kernel) {
            hardwareOutput_.store(true);
        }
        std::lock_guard lock(stateMutex_);
        if (const auto it = ports_.find(fromPort); it != ports_.end()) {
            it->second.subscribed.insert({client, port});
        }
    }
    return kernel;
}

void Client::forgetDestination(int client, int port) {
    std::lock_guard lock(stateMutex_);
    for (auto& [number, state] : ports_) {
        if (port < 0) {
            std::erase_if(state.subscribed, [&](const auto& d) { return d.first == client; });
        } else {
            state.subscribed.erase({client, port});
        }
    }
}

std::vector<Client::Subscriber> Client::subscribers(int port) {
    std::vector<Subscriber> found;
    withSeq([&](snd_seq_t* seq) {
        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca(&query);
        const snd_seq_addr_t root{static_cast<unsigned char>(id_),
                                  static_cast<unsigned char>(port)};
        snd_seq_query_subscribe_set_root(query, &root);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
        snd_seq_query_subscribe_set_index(query, 0);
        while (snd_seq_query_port_subscribers(seq, query) >= 0) {
            const snd_seq_addr_t* addr = snd_seq_query_subscribe_get_addr(query);
            found.push_back({addr->client, addr->port, false});
            snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
        }
        snd_seq_client_info_t* info = nullptr;
        snd_seq_client_info_alloca(&info);
        for (Subscriber& s : found) {
            s.hardware = snd_seq_get_any_client_info(seq, s.client, info) == 0 &&
                         snd_seq_client_info_get_type(info) == SND_SEQ_KERNEL_CLIENT;
        }
    });
    if (std::ranges::any_of(found, [](const Subscriber& s) { return s.hardware; })) {
        hardwareOutput_.store(true); // leaving them may drain their output too
    }
    return found;
}

bool Client::receiverPool(int client, ReceiverPool* out) {
    return !pollFds_.empty() && withSeq([&](snd_seq_t*) {
        return alsa::receiverPool(pollFds_.front().fd, client, out);
    });
}

OutputPacer::Clock::duration Client::reserveHardwareOutput(int client, int port, size_t bytes) {
    std::lock_guard lock(stateMutex_);
    auto it = pacers_.find({client, port});
    if (it == pacers_.end()) {
        it = pacers_
                 .emplace(std::pair{client, port},
                          OutputPacer(shared_->hardwareBytesPerSecond, shared_->hardwareBurstBytes))
                 .first;
    }
    return it->second.reserve(bytes, OutputPacer::Clock::now());
}

int Client::writeNow(snd_seq_event_t& event) {
    const int r = withSeq([&](snd_seq_t* seq) { return snd_seq_event_output_direct(seq, &event); });
    return r < 0 ? r : 0;
}

bool Client::pause(std::chrono::nanoseconds wait) {
    std::unique_lock lock(cancelMutex_);
    return !cancelled_.wait_for(lock, wait, [this] { return waitsCancelled_; });
}

void Client::cancelWaits() {
    {
        std::lock_guard lock(cancelMutex_);
        waitsCancelled_ = true;
    }
    cancelled_.notify_all();
}

// ---- Receiving ------------------------------------------------------------------------------

int Client::connectSource(int port, int client, int sourcePort, void* connRefCon) {
    {
        std::lock_guard lock(dispatchMutex_);
        const auto reader = readers_.find(port);
        if (reader == readers_.end() || reader->second.anySender) {
            return -EINVAL;
        }
        // Routed before subscribing, so the first event already finds its context.
        connections_[{port, client, sourcePort}] = connRefCon;
    }
    const int r = withSeq(
        [&](snd_seq_t* seq) { return snd_seq_connect_from(seq, port, client, sourcePort); });
    if (r < 0 && r != -EBUSY) {
        std::unique_lock lock(dispatchMutex_);
        connections_.erase({port, client, sourcePort});
        return r;
    }
    return 0;
}

int Client::disconnectSource(int port, int client, int sourcePort) {
    {
        std::unique_lock lock(dispatchMutex_);
        if (connections_.erase({port, client, sourcePort}) == 0) {
            return -ENOENT;
        }
        waitForDispatch(lock);
    }
    const int r = withSeq(
        [&](snd_seq_t* seq) { return snd_seq_disconnect_from(seq, port, client, sourcePort); });
    // A source that is gone took its subscription with it.
    return r == -ENOENT || r == -ENXIO || r == -EINVAL ? 0 : r;
}

void Client::resubscribeSources() {
    std::vector<ConnectionKey> connected;
    {
        std::lock_guard lock(dispatchMutex_);
        for (const auto& [key, refCon] : connections_) {
            connected.push_back(key);
        }
    }
    withSeq([&](snd_seq_t* seq) {
        for (const auto& [port, client, sourcePort] : connected) {
            snd_seq_connect_from(seq, port, client, sourcePort);
        }
        return 0;
    });
}

void Client::waitForDispatch(std::unique_lock<std::mutex>& lock) {
    if (std::this_thread::get_id() == receiverId_.load()) {
        return; // a read callback that disconnects: it is the delivery in progress
    }
    dispatchIdle_.wait(lock, [this] { return !dispatching_; });
}

void Client::dispatch(const ConnectionKey& target, const MIDIPacketList* list) {
    MIDIReadProc proc = nullptr;
    void* refCon = nullptr;
    void* connRefCon = nullptr;
    {
        std::lock_guard lock(dispatchMutex_);
        const auto reader = readers_.find(std::get<0>(target));
        if (reader == readers_.end() || reader->second.proc == nullptr) {
            return;
        }
        proc = reader->second.proc;
        refCon = reader->second.refCon;
        if (!reader->second.anySender) {
            const auto connection = connections_.find(target);
            if (connection == connections_.end()) {
                return; // not (or no longer) connected
            }
            connRefCon = connection->second;
        }
        dispatching_ = true;
    }
    proc(list, refCon, connRefCon);
    {
        std::lock_guard lock(dispatchMutex_);
        dispatching_ = false;
    }
    dispatchIdle_.notify_all();
}

bool Client::toAnnouncement(const snd_seq_event_t& event, Announcement* out) const {
    if (event.source.client != SND_SEQ_CLIENT_SYSTEM) {
        return false;
    }
    switch (event.type) {
    case SND_SEQ_EVENT_PORT_START:
    case SND_SEQ_EVENT_PORT_EXIT:
    case SND_SEQ_EVENT_PORT_CHANGE:
        *out = {event.type, event.data.addr.client, event.data.addr.port};
        break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
        *out = {event.type, event.data.addr.client, -1};
        break;
    default:
        return false;
    }
    shared_->directoryStale.store(true);
    return !shared_->announcementsIgnored.load();
}

void Client::handOver(std::vector<Announcement> batch) {
    inbox_->post([weak = weak_from_this(), batch = std::move(batch)] {
        const auto self = weak.lock();
        if (self && !self->announcementsStopped_.load() && self->onAnnouncements_) {
            self->onAnnouncements_(*self, batch);
        }
    });
}

void Client::stopAnnouncements() {
    announcementsStopped_.store(true);
    if (QThread::currentThread() == home_) {
        inbox_->close();
    } else {
        inbox_->post([inbox = inbox_] { inbox->close(); });
    }
}

void Client::receiveLoop() {
    EventDecoder decoder;
    ConnectionKey target{-1, -1, -1};
    PacketListBuilder builder(
        [this, &target](const MIDIPacketList* list) { dispatch(target, list); });
    std::vector<pollfd> fds = pollFds_;
    for (;;) {
        for (pollfd& fd : fds) {
            fd.revents = 0;
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds.back().revents != 0) {
            return; // woken to stop
        }
        std::vector<Announcement> batch;
        for (;;) {
            snd_seq_event_t* ev = nullptr;
            const int r = snd_seq_event_input(seq_.get(), &ev);
            if (r == -ENOSPC) {
                // Our input overflowed: announcements are lost, the next count re-reads.
                shared_->directoryStale.store(true);
                batch.push_back({kAnnouncementOverrun, 0, 0});
                continue;
            }
            if (r < 0 || ev == nullptr) {
                break;
            }
            Announcement a;
            if (ev->dest.port == announcePort_) {
                if (toAnnouncement(*ev, &a)) {
                    batch.push_back(a);
                }
            } else if (const auto bytes = decoder.decode(*ev); !bytes.empty()) {
                const ConnectionKey from{ev->dest.port, ev->source.client, ev->source.port};
                if (from != target) {
                    builder.flush();
                    target = from;
                }
                builder.add(clock_->hostTime(), bytes.data(), bytes.size());
            }
            if (snd_seq_event_input_pending(seq_.get(), 0) == 0) {
                break;
            }
        }
        builder.flush();
        if (!batch.empty()) {
            handOver(std::move(batch));
        }
    }
}

void Client::stopReceiving() {
    if (!receiver_.joinable()) {
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
    receiver_.join();
}

} // namespace alsa
