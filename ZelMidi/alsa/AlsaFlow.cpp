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

size_t reservedCells(const ReceiverPool& pool) {
    return kClosingCells + static_cast<size_t>(std::max(pool.size, 0)) / 16;
}

namespace {
// Another program that writes beside a part may fill the room the part was sized from, up to the
// level it keeps the pool at itself: a quarter leaves no overrun beside one that keeps the pool
// up to three quarters full, checking the room as it writes.
size_t largestPart(const ReceiverPool& pool) {
    return std::min(static_cast<size_t>(std::max(pool.size, 0)) / 4, kMostCellsPerEvent);
}
} // namespace

size_t partFloorCells(const ReceiverPool& pool) {
    constexpr size_t kFloor = 16; // 420 bytes
    return std::max<size_t>(std::min(kFloor, largestPart(pool)), 2);
}

size_t partCells(const ReceiverPool& pool) {
    const size_t free = static_cast<size_t>(std::max(pool.free, 0));
    const size_t reserve = reservedCells(pool);
    const size_t room = free > reserve ? free - reserve : 0;
    return std::max(std::min(room, largestPart(pool)), partFloorCells(pool));
}

const uint8_t* sysExEnd(const uint8_t* begin, const uint8_t* end) {
    for (const uint8_t* p = begin + 1; p < end; ++p) {
        if (*p == 0xf7) {
            return p + 1;
        }
        if (*p >= 0x80 && *p < 0xf8) {
            return nullptr; // another status byte ends it unfinished
        }
    }
    return nullptr;
}

size_t sysExCells(const uint8_t* begin, const uint8_t* end, size_t chunkBytes) {
    chunkBytes = std::max<size_t>(chunkBytes, 1);
    size_t cells = 0;
    const auto run = [&](size_t bytes) {
        cells += bytes / chunkBytes * cellsForEvent(chunkBytes);
        if (bytes % chunkBytes != 0) {
            cells += cellsForEvent(bytes % chunkBytes);
        }
    };
    const uint8_t* from = begin;
    for (const uint8_t* p = begin; p < end; ++p) {
        if (*p >= 0xf8) {
            run(static_cast<size_t>(p - from));
            cells += cellsForEvent(0);
            from = p + 1;
        }
    }
    run(static_cast<size_t>(end - from));
    return cells;
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
