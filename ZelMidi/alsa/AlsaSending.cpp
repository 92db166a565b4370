#include "alsa/AlsaSending.h"

#include "alsa/AlsaClient.h"
#include "alsa/AlsaCodec.h"
#include "alsa/AlsaFlow.h"
#include "alsa/AlsaStatus.h"

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace alsa {

namespace {

constexpr uint8_t kSysExStart = 0xf0;
constexpr uint8_t kSysExEnd = 0xf7;
// How often a send looks again for room in a receiver.
constexpr auto kRoomPollPause = std::chrono::microseconds(100);

// Sends to one destination are serialised in the process, so that the parts of two senders'
// SysEx never interleave at a receiver. A broadcast takes the locks of all its subscribers, in
// address order.
std::vector<std::unique_lock<std::mutex>> lockDestinations(std::vector<int> addresses) {
    static std::mutex registryMutex;
    static auto* registry = new std::map<int, std::unique_ptr<std::mutex>>; // at most 65536
    std::ranges::sort(addresses);
    // Not std::ranges::unique: clang 14 cannot build its result with libstdc++ 12's ranges.
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    std::vector<std::unique_lock<std::mutex>> held;
    for (const int address : addresses) {
        std::mutex* m = nullptr;
        {
            std::lock_guard lock(registryMutex);
            auto& slot = (*registry)[address];
            if (!slot) {
                slot = std::make_unique<std::mutex>();
            }
            m = slot.get();
        }
        held.emplace_back(*m);
    }
    return held;
}

int addressOf(int client, int port) {
    return client << 8 | port;
}

// One send of a packet list: one deadline for all its waits for room, and a SysEx that is either
// written whole or, when it had to go in parts and stops early, closed with an F7.
class Send {
public:
    using Address = std::function<void(snd_seq_event_t&)>;

    Send(Client& client, Address address) : client_(client), address_(std::move(address)) {}

    OSStatus run(const std::vector<Client::Subscriber>& receivers, const MIDIPacketList* list) {
        for (const Client::Subscriber& r : receivers) {
            ReceiverPool pool;
            if (r.hardware) {
                hardware_.emplace_back(r.client, r.port);
            } else if (std::ranges::find(software_, r.client) == software_.end() &&
                       client_.receiverPool(r.client, &pool)) {
                software_.push_back(r.client); // the pool is the client's, whichever port
                fresh_.push_back(pool.free);
                smallestPool_ =
                    software_.size() == 1 ? pool.size : std::min(smallestPool_, pool.size);
            }
        }
        // A hardware port's buffer takes small events only.
        maxChunk_ = hardware_.empty() ? extBytesForCells(kMostCellsPerEvent)
                                      : EventEncoder::kDefaultSysExChunk;
        EventEncoder encoder(maxChunk_);
        if (!encoder.valid()) {
            return kMIDIUnknownError;
        }
        if (!software_.empty()) {
            encoder.setChunkSizer(
                [this](const uint8_t* begin, const uint8_t* runEnd, const uint8_t* end) {
                    return sizePart(begin, runEnd, end);
                });
        }
        deadline_ = Clock::now() + client_.roomWait();
        MIDIConstPacketPtr packet = packetListFirst(list);
        for (uint32_t i = 0, n = packetListCount(list); i < n; ++i, packet = packetNext(packet)) {
            const int r = encoder.encode(packetData(packet), packetLength(packet),
                                         [&](snd_seq_event_t& ev) { return write(ev, encoder); });
            if (r < 0) {
                return fail(r); // the rest would only wait and fail the same way
            }
        }
        return noErr;
    }

private:
    using Clock = std::chrono::steady_clock;

    // Sizes the next SysEx event, waiting for the room it needs: all the message's cells when it
    // goes whole, else at least a part's floor with the reserve behind it.
    long sizePart(const uint8_t* begin, const uint8_t* runEnd, const uint8_t* end) {
        if (*begin == kSysExStart) {
            const uint8_t* last = sysExEnd(begin, end);
            const size_t cells = last != nullptr ? sysExCells(begin, last, maxChunk_) : 0;
            whole_ = last != nullptr && cells <= static_cast<size_t>(smallestPool_);
            if (whole_) {
                if (const long r = waitForRoom(cells); r < 0) {
                    return r;
                }
            }
        }
        const auto run = static_cast<size_t>(runEnd - begin);
        if (whole_) {
            return static_cast<long>(std::min(run, maxChunk_));
        }
        ReceiverPool pool{smallestPool_, 0};
        const long free = waitForRoom(partFloorCells(pool) + reservedCells(pool));
        if (free < 0) {
            return free;
        }
        pool.free = static_cast<int>(std::min<long>(free, INT_MAX));
        return static_cast<long>(std::min({run, extBytesForCells(partCells(pool)), maxChunk_}));
    }

    int write(snd_seq_event_t& ev, const EventEncoder& encoder) {
        address_(ev);
        const size_t ext = snd_seq_ev_is_variable(&ev) ? ev.data.ext.len : 0;
        if (const long r = waitForRoom(cellsForEvent(ext)); r < 0) {
            return static_cast<int>(r);
        }
        if (const int r = pace(ext > 0 ? ext : 3); r < 0) {
            return r;
        }
        // Written once: a failed write already cost the receiver its queue, a retry cannot help.
        std::ranges::fill(fresh_, -1); // the next event asks again
        if (const int r = client_.writeNow(ev); r < 0) {
            return r;
        }
        if (ev.type == SND_SEQ_EVENT_SYSEX) {
            open_ = static_cast<const uint8_t*>(ev.data.ext.ptr)[ext - 1] != kSysExEnd;
        } else {
            open_ = open_ && encoder.inSysEx(); // a real-time byte inside it, or a status ends it
        }
        return 0;
    }

    // The least room free in the software receivers once each has `cells`, or a negative errno
    // at the deadline (a write now would make the kernel drop the receiver's whole queue) or when
    // the client is disposed.
    long waitForRoom(size_t cells) {
        long least = LONG_MAX;
        for (size_t i = 0; i < software_.size(); ++i) {
            if (fresh_[i] >= static_cast<long>(cells)) {
                least = std::min(least, fresh_[i]); // asked since the last event was written
                continue;
            }
            ReceiverPool pool;
            while (client_.receiverPool(software_[i], &pool)) {
                fresh_[i] = pool.free;
                if (pool.free >= static_cast<int>(cells)) {
                    least = std::min<long>(least, pool.free);
                    break;
                }
                if (Clock::now() >= deadline_) {
                    return -EAGAIN;
                }
                if (!client_.pause(kRoomPollPause)) {
                    return -ECANCELED;
                }
            }
        }
        return least;
    }

    // Keeps below the drain rate of every hardware port it goes to.
    int pace(size_t bytes) {
        OutputPacer::Clock::duration wait{};
        for (const auto& [c, p] : hardware_) {
            wait = std::max(wait, client_.reserveHardwareOutput(c, p, bytes));
        }
        if (wait > OutputPacer::Clock::duration::zero() && !client_.pause(wait)) {
            return -ECANCELED;
        }
        return 0;
    }

    OSStatus fail(int r) {
        if (!open_) {
            return r == -ECANCELED ? kMIDIMessageSendErr : statusFromAlsa(r);
        }
        // The receiver holds the start of a SysEx: end it, so that its next message parses. The
        // room was kept behind the last part; the F7 gets a wait of its own all the same.
        static const uint8_t kEnd[] = {kSysExEnd};
        snd_seq_event_t ev{};
        snd_seq_ev_set_sysex(&ev, 1, const_cast<uint8_t*>(kEnd));
        address_(ev);
        deadline_ = Clock::now() + client_.roomWait();
        std::ranges::fill(fresh_, -1);
        if (waitForRoom(kClosingCells) >= 0) {
            pace(1);
            client_.writeNow(ev);
        }
        return kMIDIMessagePartlyDeliveredErr;
    }

    Client& client_;
    const Address address_;
    std::vector<int> software_; // clients whose pool each event waits for
    std::vector<long> fresh_;   // their free cells as asked since the last write, or -1
    int smallestPool_ = 0;
    std::vector<std::pair<int, int>> hardware_; // ports each event is paced for
    size_t maxChunk_ = EventEncoder::kDefaultSysExChunk;
    Clock::time_point deadline_{};
    bool whole_ = false; // the SysEx under way goes whole
    bool open_ = false;  // a receiver holds part of a SysEx whose F7 has not gone yet
};

} // namespace

OSStatus sendToDestination(Client& client, int fromPort, int toClient, int toPort,
                           const MIDIPacketList* list) {
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    const auto locks = lockDestinations({addressOf(toClient, toPort)});
    const bool hardware = client.prepareOutput(fromPort, toClient, toPort);
    Send send(client, [=](snd_seq_event_t& ev) {
        ev.source.port = static_cast<unsigned char>(fromPort);
        ev.dest.client = static_cast<unsigned char>(toClient);
        ev.dest.port = static_cast<unsigned char>(toPort);
        snd_seq_ev_set_direct(&ev);
    });
    return send.run({{toClient, toPort, hardware}}, list);
}

OSStatus publishFromSource(Client& client, int sourcePort, const MIDIPacketList* list) {
    if (list == nullptr) {
        return kMIDIUnknownError;
    }
    const auto subscribers = client.subscribers(sourcePort);
    std::vector<int> addresses;
    for (const auto& s : subscribers) {
        addresses.push_back(addressOf(s.client, s.port));
    }
    const auto locks = lockDestinations(std::move(addresses));
    Send send(client, [=](snd_seq_event_t& ev) {
        ev.source.port = static_cast<unsigned char>(sourcePort);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
    });
    return send.run(subscribers, list);
}

OSStatus flushDestination(Client& client, int toClient, int toPort) {
    // Everything goes out directly, so only events still scheduled in a queue can be dropped.
    const int r = client.withSeq([&](snd_seq_t* seq) {
        snd_seq_remove_events_t* remove = nullptr;
        snd_seq_remove_events_alloca(&remove);
        snd_seq_addr_t addr{static_cast<unsigned char>(toClient),
                            static_cast<unsigned char>(toPort)};
        snd_seq_remove_events_set_condition(remove, SND_SEQ_REMOVE_OUTPUT | SND_SEQ_REMOVE_DEST);
        snd_seq_remove_events_set_dest(remove, &addr);
        return snd_seq_remove_events(seq, remove);
    });
    return statusFromAlsa(r);
}

} // namespace alsa
