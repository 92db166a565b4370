#include "alsa/AlsaEndpointDirectory.h"

#include "alsa/AlsaClient.h"
#include "alsa/AlsaClientRegistry.h"
#include "alsa/AlsaPortQuery.h"
#include "alsa/AlsaRefs.h"

namespace alsa {

EndpointDirectory::EndpointDirectory(const ClientRegistry& clients, std::atomic<bool>& stale)
    : clients_(clients), stale_(stale) {}

PortSnapshot EndpointDirectory::readKernelDirectory() {
    // Taken before the query: a read that started earlier but ends later is older and does not
    // replace what a newer one published.
    const uint64_t ticket = nextTicket_.fetch_add(1) + 1;
    const auto client = clients_.any();
    PortSnapshot found;
    std::vector<MIDIEndpointRef> sources;
    std::vector<MIDIEndpointRef> destinations;
    if (client) {
        for (auto& [key, port] : queryAllPorts(*client)) {
            const int c = keyClient(key);
            const int p = keyPort(key);
            if (clients_.isOwn(c)) {
                continue;
            }
            if (port.source) {
                sources.push_back(makeRef(RefKind::Source, c, p));
            }
            if (port.destination) {
                destinations.push_back(makeRef(RefKind::Destination, c, p));
            }
            found[key] = std::move(port);
        }
    }
    reads_.fetch_add(1);
    std::lock_guard lock(mutex_);
    if (ticket < publishedTicket_) {
        return found;
    }
    publishedTicket_ = ticket;
    known_ = found;
    if (sources != directory_.sources || destinations != directory_.destinations) {
        ++generation_;
        directory_ = Lists{std::move(sources), std::move(destinations)};
    }
    lastRead_ = std::chrono::steady_clock::now();
    return found;
}

// Idle, the counts answer from the last full read: the kernel is read again only when a
// receive thread saw the port list change (or lost announcements), and once a slow period.
void EndpointDirectory::readIfDue() {
    bool due = stale_.exchange(false);
    {
        std::lock_guard lock(mutex_);
        due = due || std::chrono::steady_clock::now() - lastRead_ >= kDirectoryReadPeriod;
    }
    if (due) {
        readKernelDirectory();
    }
}

void EndpointDirectory::refreshEndpoints() {
    readIfDue();
    std::lock_guard lock(mutex_);
    snapshots_[std::this_thread::get_id()] = directory_;
}

uint64_t EndpointDirectory::generation() {
    readIfDue();
    std::lock_guard lock(mutex_);
    return generation_;
}

PortSnapshot EndpointDirectory::readNow() {
    // Taken before the read: a change announced while it runs marks the list stale again.
    stale_.store(false);
    return readKernelDirectory();
}

const EndpointDirectory::Lists& EndpointDirectory::callerSnapshot() const {
    static const Lists kNone;
    const auto it = snapshots_.find(std::this_thread::get_id());
    return it == snapshots_.end() ? kNone : it->second;
}

// Each thread fetches from the snapshot its own last count took, whatever others count meanwhile.
ItemCount EndpointDirectory::numberOfSources() {
    refreshEndpoints();
    std::lock_guard lock(mutex_);
    return callerSnapshot().sources.size();
}

MIDIEndpointRef EndpointDirectory::source(ItemCount index) const {
    std::lock_guard lock(mutex_);
    const auto& sources = callerSnapshot().sources;
    return index < sources.size() ? sources[index] : 0;
}

ItemCount EndpointDirectory::numberOfDestinations() {
    refreshEndpoints();
    std::lock_guard lock(mutex_);
    return callerSnapshot().destinations.size();
}

MIDIEndpointRef EndpointDirectory::destination(ItemCount index) const {
    std::lock_guard lock(mutex_);
    const auto& destinations = callerSnapshot().destinations;
    return index < destinations.size() ? destinations[index] : 0;
}

bool EndpointDirectory::findPort(int client, int port, KnownPort* out) {
    {
        std::lock_guard lock(mutex_);
        if (const auto it = known_.find(addressKey(client, port)); it != known_.end()) {
            *out = it->second;
            return true;
        }
    }
    return lookUpPort(client, port, out);
}

// Asks the kernel about one port and remembers the answer; false when it is not there.
bool EndpointDirectory::lookUpPort(int owner, int port, KnownPort* out) {
    const auto client = clients_.any();
    KnownPort k;
    if (!client || !queryPort(*client, owner, port, &k)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    known_[addressKey(owner, port)] = k;
    *out = k;
    return true;
}

} // namespace alsa
