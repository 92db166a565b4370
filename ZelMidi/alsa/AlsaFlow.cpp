#include "alsa/AlsaFlow.h"

#include <sys/ioctl.h>

namespace alsa {

namespace {
// The kernel's struct snd_seq_client_pool (uapi sound/asequencer.h), mirrored here because that
// header clashes with libasound's.
struct KernelClientPool {
    int client;
    int outputPool;
    int inputPool;
    int outputRoom;
    int outputFree;
    int inputFree;
    char reserved[64];
};
constexpr size_t kEventCellBytes = 28; // sizeof(struct snd_seq_event)
} // namespace

size_t cellsForEvent(size_t extLength) {
    return 1 + (extLength + kEventCellBytes - 1) / kEventCellBytes;
}

int receiverFreeCells(int seqFd, int client) {
    KernelClientPool pool{};
    pool.client = client;
    if (ioctl(seqFd, _IOWR('S', 0x4b, KernelClientPool), &pool) < 0 || pool.inputPool <= 0) {
        return -1;
    }
    return pool.inputFree;
}

} // namespace alsa
