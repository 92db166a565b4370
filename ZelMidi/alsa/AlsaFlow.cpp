#include "alsa/AlsaFlow.h"

#include <algorithm>
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

size_t extBytesForCells(size_t cells) {
    return cells <= 1 ? 0 : (cells - 1) * kEventCellBytes;
}

bool receiverPool(int seqFd, int client, ReceiverPool* out) {
    KernelClientPool pool{};
    pool.client = client;
    if (ioctl(seqFd, _IOWR('S', 0x4b, KernelClientPool), &pool) < 0 || pool.inputPool <= 0) {
        return false;
    }
    *out = ReceiverPool{pool.inputPool, pool.inputFree};
    return true;
}

int receiverFreeCells(int seqFd, int client) {
    ReceiverPool pool;
    return receiverPool(seqFd, client, &pool) ? pool.free : -1;
}

size_t sysExChunkFor(const ReceiverPool& pool, size_t messageBytes) {
    const size_t size = static_cast<size_t>(std::max(pool.size, 0));
    const size_t free = static_cast<size_t>(std::max(pool.free, 0));
    const size_t whole = cellsForEvent(messageBytes);
    if (whole <= std::min(free, kMostCellsPerEvent)) {
        return std::max<size_t>(messageBytes, 1);
    }
    return std::max<size_t>(extBytesForCells(std::min(size / 2, kMostCellsPerEvent)), 1);
}

bool RoomBudget::take(int receiver, size_t cells) {
    for (auto& [client, free] : known_) {
        if (client == receiver) {
            if (free < cells) {
                return false;
            }
            free -= cells;
            return true;
        }
    }
    return false;
}

void RoomBudget::set(int receiver, size_t freeCells) {
    for (auto& [client, free] : known_) {
        if (client == receiver) {
            free = freeCells;
            return;
        }
    }
    known_.emplace_back(receiver, freeCells);
}

OutputPacer::OutputPacer(double bytesPerSecond, size_t burstBytes)
    : bytesPerSecond_(std::max(bytesPerSecond, 1.0)), burstBytes_(static_cast<double>(burstBytes)) {
}

OutputPacer::Clock::duration OutputPacer::reserve(size_t bytes, Clock::time_point now) {
    if (last_ != Clock::time_point{}) {
        const double elapsed = std::max(0.0, std::chrono::duration<double>(now - last_).count());
        const double drained = elapsed * bytesPerSecond_;
        level_ = std::max(0.0, level_ - drained);
    }
    last_ = now;
    level_ += static_cast<double>(bytes);
    const double excess = level_ - burstBytes_;
    if (excess <= 0) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(excess / bytesPerSecond_));
}

} // namespace alsa
