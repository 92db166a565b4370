// Flow control. The kernel clears a software receiver's whole input FIFO when an event does not
// fit in it, so a sender that outruns a receiver loses data that was already delivered; asking
// the kernel for the receiver's free cells first avoids that. A hardware port takes events at
// once into a small byte buffer and drops what does not fit, silently; the pacer keeps a long
// SysEx below the rate at which such a port drains.
#pragma once

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

namespace alsa {

// The cells an event with `extLength` bytes of variable data takes in a receiver's pool.
size_t cellsForEvent(size_t extLength);

// The bytes of variable data that fit in an event of `cells` cells (0 when none fit).
size_t extBytesForCells(size_t cells);

// The input pool of a software client: its size and its free cells.
struct ReceiverPool {
    int size = 0;
    int free = 0;
};

// Asks the kernel for the input pool of `client`; false when it has none to ask about (a kernel
// client, which takes events at once) or the query failed. `seqFd` is the sequencer descriptor.
bool receiverPool(int seqFd, int client, ReceiverPool* out);
// Its free cells only, or -1 as above.
int receiverFreeCells(int seqFd, int client);

// The most cells one event to another program may take: libasound reads at most 14000 bytes
// (500 cells) at a time unless a program asks for more, and an event it cannot read stays
// stuck in its queue.
inline constexpr size_t kMostCellsPerEvent = 500;

// The largest SysEx chunk (bytes per event) towards a software receiver with `pool`, for a
// message of at most `messageBytes`: the whole message in one event when that fits in the room
// free now; otherwise chunks of half its pool, so that one is read while the next goes in.
// Never more than the pool or kMostCellsPerEvent can hold; at least 1.
size_t sysExChunkFor(const ReceiverPool& pool, size_t messageBytes);

// The free cells known to be in each receiver during one send. Only the receiver frees cells,
// so what was free when the kernel was last asked, less what this send has written since, is
// there still; the kernel is asked again only when an event needs more than that.
class RoomBudget {
public:
    // Takes `cells` from what is known of `receiver`; false (nothing taken) when less is known.
    bool take(int receiver, size_t cells);
    // What the kernel just said is free in `receiver`.
    void set(int receiver, size_t freeCells);

private:
    std::vector<std::pair<int, size_t>> known_; // a send has one receiver, or a few
};

// A leaky bucket: bytes drain at `bytesPerSecond`, and at most `burstBytes` may be waiting.
class OutputPacer {
public:
    using Clock = std::chrono::steady_clock;

    OutputPacer(double bytesPerSecond, size_t burstBytes);

    // Records `bytes` that go out at `now` and says how long to wait before they may.
    Clock::duration reserve(size_t bytes, Clock::time_point now);

private:
    double bytesPerSecond_;
    double burstBytes_;
    double level_ = 0;
    Clock::time_point last_{};
};

} // namespace alsa
