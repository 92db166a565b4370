// The endpoints of other programs as the counts and fetches see them: the last read of the
// kernel's port list, one snapshot per calling thread, and the names of the ports it knows.
#pragma once

#include "MidiService.h"
#include "alsa/AlsaKnownPort.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace alsa {

class ClientRegistry;

class EndpointDirectory {
public:
    // How often the counts re-read the kernel's port list when no announcement said it changed.
    static constexpr auto kDirectoryReadPeriod = std::chrono::seconds(10);

    // `stale` is set by the receive threads whenever the kernel's port list may have changed.
    EndpointDirectory(const ClientRegistry& clients, std::atomic<bool>& stale);

    // A count takes a snapshot for the calling thread; its fetches index that snapshot.
    ItemCount numberOfSources();
    MIDIEndpointRef source(ItemCount index) const;
    ItemCount numberOfDestinations();
    MIDIEndpointRef destination(ItemCount index) const;

    // Reads the kernel now, whatever the stale mark says, and returns every port of the other
    // programs (this service's clients and System left out).
    PortSnapshot readNow();
    // The port as last read, else as the kernel describes it now; false when neither knows it.
    bool findPort(int client, int port, KnownPort* out);
    // The port as the kernel describes it now, remembered for its names; false when it is gone.
    bool lookUpPort(int client, int port, KnownPort* out);
    // The full reads of the kernel's port list so far.
    uint64_t reads() const { return reads_.load(); }
    // Reads the kernel when it is due, as a count does; the number changes only when a read
    // lists other endpoints than the one before, so a rescan may skip its walk while it stays.
    uint64_t generation();

private:
    struct Lists {
        std::vector<MIDIEndpointRef> sources;
        std::vector<MIDIEndpointRef> destinations;
    };
    void refreshEndpoints();
    void readIfDue();
    PortSnapshot readKernelDirectory();
    const Lists& callerSnapshot() const; // with mutex_ held

    const ClientRegistry& clients_;
    std::atomic<bool>& stale_;
    std::atomic<uint64_t> reads_{0};
    std::atomic<uint64_t> nextTicket_{0};

    mutable std::mutex mutex_; // guards everything below
    PortSnapshot known_;
    Lists directory_; // the last full read
    uint64_t generation_ = 1;
    uint64_t publishedTicket_ = 0; // of the read the lists come from
    std::chrono::steady_clock::time_point lastRead_{};
    std::map<std::thread::id, Lists> snapshots_; // one per calling thread
};

} // namespace alsa
