// Flow control. The kernel clears a software receiver's whole input FIFO when an event does not
// fit in it, so a sender that outruns a receiver loses data that was already delivered; asking
// the kernel for the receiver's free cells first avoids that. A hardware port takes events at
// once into a small byte buffer and drops what does not fit, silently; the pacer keeps a long
// SysEx below the rate at which such a port drains.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// A SysEx that fits a receiver's pool goes whole: the send waits until all its cells are free,
// then writes it. A longer one goes in parts sized from the room free at the time; each part
// leaves room behind it for the closing F7 that ends the message should the send stop early, and
// a little for other programs writing to the same receiver.
inline constexpr size_t kClosingCells = 2; // an event with the one byte F7

// The cells kept free behind each part of a SysEx sent in parts.
size_t reservedCells(const ReceiverPool& pool);
// The smallest part worth an event (a part waits for this much room and the reserve).
size_t partFloorCells(const ReceiverPool& pool);
// The cells of the next part: the room free now less the reserve, between the floor and a
// quarter of the pool (so that a part never overruns another program's stream that keeps the pool
// up to three quarters full, and one part is read while the next goes in), and at most what a
// reader takes at once.
size_t partCells(const ReceiverPool& pool);

// Where the SysEx starting at `begin` (its F0) ends: just after its F7, or null when the bytes up
// to `end` do not finish it (it goes on in a later packet, or another status byte cuts it short).
const uint8_t* sysExEnd(const uint8_t* begin, const uint8_t* end);
// The cells the SysEx [begin, end) takes as events of at most `chunkBytes` bytes, real-time bytes
// inside it being events of one cell each.
size_t sysExCells(const uint8_t* begin, const uint8_t* end, size_t chunkBytes);

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
