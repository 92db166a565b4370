// Flow control towards software receivers. The kernel clears a client's whole input FIFO when an
// event does not fit in it, so a sender that outruns a receiver loses data that was already
// delivered; asking the kernel for the receiver's free cells first avoids that.
#pragma once

#include <cstddef>

namespace alsa {

// The cells an event with `extLength` bytes of variable data takes in a receiver's pool.
size_t cellsForEvent(size_t extLength);

// The free cells in the input pool of `client`, or -1 when it has none to ask about (a kernel
// client, which takes events at once) or the query failed. `seqFd` is the sequencer descriptor.
int receiverFreeCells(int seqFd, int client);

} // namespace alsa
