#include "FanOutMarks.h"

#include <linux/membarrier.h>
#include <mutex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zelmidi_detail {

constinit thread_local FanOutMarks::Record* FanOutMarks::current_ = nullptr;

namespace {

bool registerBarrier() {
    const long supported = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    return supported >= 0 && (supported & MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0 &&
           syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

} // namespace

const bool FanOutMarks::barrier_ = registerBarrier();

// Records are never freed: a writer may look at one while its thread ends.
struct FanOutMarks::Registry {
    std::mutex mutex;
    std::vector<Record*> records;
};

FanOutMarks::Registry& FanOutMarks::registry() {
    static auto* r = new Registry; // outlives every thread's last fan-out
    return *r;
}

FanOutMarks::Record& FanOutMarks::adopt() {
    Registry& reg = registry();
    Record* record = nullptr;
    {
        std::lock_guard lock(reg.mutex);
        for (Record* r : reg.records) {
            if (!r->inUse.load(std::memory_order_relaxed)) {
                record = r;
                break;
            }
        }
        if (record == nullptr) {
            record = new Record;
            reg.records.push_back(record);
        }
        record->inUse.store(true, std::memory_order_relaxed);
    }
    // Hands the record back when this thread ends.
    struct Release {
        ~Release() {
            std::lock_guard lock(registry().mutex);
            current_->inUse.store(false, std::memory_order_relaxed);
            current_ = nullptr;
        }
    };
    thread_local Release release;
    current_ = record;
    return *record;
}

void FanOutMarks::waitForOtherThreads(const void* source) {
    if (barrier_) {
        syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
    }
    std::vector<Record*> others;
    {
        std::lock_guard lock(registry().mutex);
        for (Record* r : registry().records) {
            if (r != current_ && r->inUse.load(std::memory_order_relaxed)) {
                others.push_back(r);
            }
        }
    }
    for (Record* r : others) {
        for (Mark& m : r->marks) {
            if (m.source.load(std::memory_order_seq_cst) != source) {
                continue;
            }
            // A fan-out that began after the barrier walks the new list, so waiting for the one
            // seen here to end is enough even under steady input.
            const uint32_t seen = m.entries.load(std::memory_order_acquire);
            while (m.source.load(std::memory_order_acquire) == source &&
                   m.entries.load(std::memory_order_acquire) == seen) {
                std::this_thread::yield();
            }
        }
    }
}

} // namespace zelmidi_detail
